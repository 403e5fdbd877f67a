#include "support/ScriptedMessageBoxes.h"

#include <QEventLoop>
#include <QTimer>

namespace nms::test {

MsgAnswer ScriptedMessageBoxes::show(MsgIcon icon, const QString& title, const QString& text, bool question)
{
    shown.append({icon, title.isEmpty() ? ProgramTitle() : title, text, question});
    ++open_;
    maxOpen_ = std::max(maxOpen_, open_);
    Q_EMIT boxShown(text);
    if (holdMs_ > 0) {
        // A real modal box runs a nested loop: timers and socket events keep firing meanwhile.
        QEventLoop loop;
        QTimer::singleShot(holdMs_, &loop, &QEventLoop::quit);
        loop.exec();
    }
    --open_;
    if (!question)
        return MsgAnswer::Ok;
    return answers_.isEmpty() ? MsgAnswer::No : answers_.dequeue();
}

std::optional<QString> ScriptedMessageBoxes::askText(const QString& title, const QString& label)
{
    shown.append({MsgIcon::Question, title, label, true});
    Q_EMIT boxShown(label);
    if (textAnswers_.isEmpty())
        return std::nullopt;
    return textAnswers_.dequeue();
}

QStringList ScriptedMessageBoxes::texts() const
{
    QStringList result;
    for (const auto& box : shown)
        result.append(box.text);
    return result;
}

} // namespace nms::test
