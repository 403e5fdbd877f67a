#pragma once
// Modal message boxes and questions, behind one small interface so that tests can read what
// the operator would see (icon, title, text with its CR line joins) and answer it.

#include <QString>

#include <optional>

#include "base/Notices.h"

class QWidget;

namespace nms {

enum class MsgIcon { Information, Error, Question, Warning };
enum class MsgAnswer { Ok, Yes, No };

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;

    // Shows one modal box and returns the answer. Texts join their lines with CR (code 13).
    // A question offers Yes and No with No as the default; anything else offers OK.
    virtual MsgAnswer show(MsgIcon icon, const QString& title, const QString& text, bool question) = 0;

    void notice(const QString& title, const QString& text) { show(MsgIcon::Information, title, text, false); }
    void error(const QString& title, const QString& text) { show(MsgIcon::Error, title, text, false); }
    bool ask(const QString& title, const QString& text, MsgIcon icon = MsgIcon::Question)
    {
        return show(icon, title, text, true) == MsgAnswer::Yes;
    }
    // Asks for one line of text (modal); nothing when the operator cancels.
    virtual std::optional<QString> askText(const QString& title, const QString& label) = 0;
};

// The product's boxes: real modal QMessageBox, run in a nested event loop so that timers and
// datagrams keep being handled while the operator reads. Only the notice presenter and the
// operator's own questions open them.
class QtMessageBoxes final : public MessageBoxes {
public:
    explicit QtMessageBoxes(QWidget* parent = nullptr) : parent_(parent) { }
    void setParent(QWidget* parent) { parent_ = parent; }
    MsgAnswer show(MsgIcon icon, const QString& title, const QString& text, bool question) override;
    std::optional<QString> askText(const QString& title, const QString& label) override;

private:
    QWidget* parent_;
};

} // namespace nms
