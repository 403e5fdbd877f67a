#pragma once
// Shows what the core has to tell the operator, one box at a time. Posting never waits: the box
// is opened from the event loop, and while it is open datagrams, timers and further notices keep
// being handled; notices posted meanwhile wait their turn. Never two boxes at once, also not with
// a question the operator started. The waiting notices are bounded, and one already waiting is
// not queued twice, so a flood costs a few boxes, not thousands.

#include <QObject>
#include <QQueue>

#include <optional>

#include "base/Notices.h"
#include "platform/MessageBoxes.h"

namespace nms {

class MessageBoxes;

class NoticePresenter : public QObject, public Notices {
    Q_OBJECT
public:
    explicit NoticePresenter(MessageBoxes& boxes, QObject* parent = nullptr);

    static constexpr int MaxWaiting = 32;

    void post(const Notice& notice) override;
    // A question the operator started: modal, answered before this returns. Notices posted
    // while it is open wait.
    bool ask(const QString& title, const QString& text, MsgIcon icon = MsgIcon::Question);
    // The same for one line of text; nothing when the operator cancels.
    std::optional<QString> askText(const QString& title, const QString& label);
    // Start-up: returns once every notice posted so far has been shown and dismissed.
    void showAllNow();
    // Shutdown: nothing more is shown.
    void shutdown();

    int waiting() const { return int(queue_.size()); }
    bool showing() const { return showing_; }
    int dropped() const { return dropped_; }

Q_SIGNALS:
    // Nothing is shown and nothing waits.
    void idle();

private:
    void showNext();
    void scheduleNext();

    MessageBoxes& boxes_;
    QQueue<Notice> queue_;
    bool showing_ = false;
    bool scheduled_ = false;
    bool shutDown_ = false;
    int dropped_ = 0;
};

} // namespace nms
