#include "support/FakeEchoService.h"

#include <QTimer>

namespace nms::test {

FakeEchoService::FakeEchoService(QObject* parent) : EchoService(parent), timer_(new QTimer(this))
{
    qRegisterMetaType<nms::EchoReply>();
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, &FakeEchoService::answer);
}

void FakeEchoService::send(const QString& address, int timeoutMs)
{
    // Like the real service: a newer probe supersedes the one in flight, which never reports,
    // and the answer never comes from inside send().
    addresses.append(address);
    timeouts.append(timeoutMs);
    pending_ = queued_.isEmpty() ? reply_ : queued_.dequeue();
    waiting_ = true;
    timer_->stop();
    if (delayMs_ >= 0)
        timer_->start(delayMs_);
}

void FakeEchoService::cancel()
{
    timer_->stop();
    waiting_ = false;
}

bool FakeEchoService::release()
{
    if (!waiting_)
        return false;
    timer_->stop();
    answer();
    return true;
}

bool FakeEchoService::inFlight() const
{
    return waiting_;
}

void FakeEchoService::answer()
{
    if (!waiting_)
        return;
    waiting_ = false;
    ++answered;
    Q_EMIT finished(pending_);
}

} // namespace nms::test
