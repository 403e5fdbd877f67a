#pragma once
// Test double for the message boxes: records every box and answers from a script, so tests never
// block on a modal. It can also keep the event loop running for a while before it answers, to
// reproduce "a box is open while a datagram arrives".

#include "platform/MessageBoxes.h"

#include <QList>
#include <QObject>
#include <QQueue>

namespace nms::test {

struct ShownBox {
    MsgIcon icon;
    QString title;
    QString text;
    bool question;
};

class ScriptedMessageBoxes final : public QObject, public MessageBoxes {
    Q_OBJECT
public:
    MsgAnswer show(MsgIcon icon, const QString& title, const QString& text, bool question) override;
    // Answers with the next queued text (a cancel when none is queued); recorded as a question.
    std::optional<QString> askText(const QString& title, const QString& label) override;
    void setNextText(const QString& text) { textAnswers_.enqueue(text); }

    // Queues the answer for the next question (questions without a queued answer get No).
    void setNextAnswer(MsgAnswer answer) { answers_.enqueue(answer); }
    // Each box keeps the event loop running this long before it is answered (0: answer at once).
    void setHoldMs(int ms) { holdMs_ = ms; }

    QList<ShownBox> shown;
    QStringList texts() const;
    int count() const { return shown.size(); }
    int openNow() const { return open_; }
    int maxOpenAtOnce() const { return maxOpen_; }
    void clear() { shown.clear(); }

Q_SIGNALS:
    void boxShown(const QString& text);

private:
    QQueue<MsgAnswer> answers_;
    QQueue<QString> textAnswers_;
    int holdMs_ = 0;
    int open_ = 0;
    int maxOpen_ = 0;
};

} // namespace nms::test
