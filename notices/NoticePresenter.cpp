#include "notices/NoticePresenter.h"

#include <QEventLoop>
#include <QTimer>

#include "base/Trace.h"
#include "platform/MessageBoxes.h"

namespace nms {

NoticePresenter::NoticePresenter(MessageBoxes& boxes, QObject* parent) : QObject(parent), boxes_(boxes)
{
}

void NoticePresenter::post(const Notice& notice)
{
    if (shutDown_)
        return;
    if (queue_.size() >= MaxWaiting || queue_.contains(notice)) {
        ++dropped_;
        qCDebug(traceNotices).noquote() << "not shown (too many waiting):"
                                        << QString(notice.text).replace(QLatin1Char('\r'), QLatin1String(" / "));
        return;
    }
    queue_.enqueue(notice);
    scheduleNext();
}

void NoticePresenter::scheduleNext()
{
    if (showing_ || scheduled_ || queue_.isEmpty())
        return;
    scheduled_ = true;
    // Opened from the event loop, never from inside the code that posted it.
    QTimer::singleShot(0, this, [this] {
        scheduled_ = false;
        showNext();
    });
}

void NoticePresenter::showNext()
{
    if (showing_ || shutDown_)
        return;
    if (queue_.isEmpty()) {
        Q_EMIT idle();
        return;
    }
    const Notice notice = queue_.dequeue();
    qCDebug(traceNotices).noquote() << "shown:"
                                    << QString(notice.text).replace(QLatin1Char('\r'), QLatin1String(" / "));
    showing_ = true;
    boxes_.show(notice.icon == NoticeIcon::Error ? MsgIcon::Error : MsgIcon::Information, notice.title, notice.text,
                false);
    showing_ = false;
    if (queue_.isEmpty())
        Q_EMIT idle();
    else
        scheduleNext();
}

bool NoticePresenter::ask(const QString& title, const QString& text, MsgIcon icon)
{
    showing_ = true;
    const bool yes = boxes_.ask(title, text, icon);
    showing_ = false;
    scheduleNext();
    return yes;
}

std::optional<QString> NoticePresenter::askText(const QString& title, const QString& label)
{
    showing_ = true;
    const std::optional<QString> text = boxes_.askText(title, label);
    showing_ = false;
    scheduleNext();
    return text;
}

void NoticePresenter::showAllNow()
{
    if (shutDown_ || (!showing_ && queue_.isEmpty()))
        return;
    QEventLoop loop;
    connect(this, &NoticePresenter::idle, &loop, &QEventLoop::quit);
    scheduleNext();
    loop.exec();
}

void NoticePresenter::shutdown()
{
    shutDown_ = true;
    queue_.clear();
    Q_EMIT idle();
}

} // namespace nms
