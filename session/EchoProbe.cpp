#include "session/EchoProbe.h"

#include <QTimer>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "base/AddressText.h"
#include "base/Notices.h"
#include "base/Trace.h"
#include "services/EchoStatus.h"

namespace nms {

EchoProbe::EchoProbe(EchoService* echo, Notices& notices, const Timing& timing, QObject* parent)
    : QObject(parent), echo_(echo), notices_(notices), timing_(timing), tmrRetryPing_(new QTimer(this))
{
    tmrRetryPing_->setInterval(timing_.retryTickMs);
    connect(tmrRetryPing_, &QTimer::timeout, this, &EchoProbe::tmrRetryPing_Timer);
    if (echo_)
        connect(echo_, &EchoService::finished, this, &EchoProbe::showReply);
}

bool EchoProbe::StartSockets()
{
    const int probe = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (probe < 0)
        return false;
    ::close(probe);
    return true;
}

void EchoProbe::StopSockets()
{
    // Nothing is held between probes: each probe's socket is closed by the echo service.
}

bool EchoProbe::countingDown() const
{
    return tmrRetryPing_->isActive();
}

void EchoProbe::show(Look look, const QString& caption)
{
    look_ = look;
    caption_ = caption;
    Q_EMIT displayChanged(look, caption);
}

void EchoProbe::PingElement(const QString& address)
{
    if (!IsDottedQuad(address))
        return;
    // The countdown of the probe superseded ends with it: a time-out of this one counts from 3.
    tmrRetryPing_->stop();
    resetRetryCountdown();
    if (!StartSockets()) {
        notices_.error(QStringLiteral("Ping failed"), QStringLiteral("Windows Sockets not responding correctly."));
        show(Look::Failed, QStringLiteral("Unable to init sockets"));
        return;
    }
    if (!echo_) {
        showReply(EchoReply {});
        return;
    }
    probing_ = true;
    qCDebug(traceProbe).noquote() << "echo request to" << address;
    echo_->send(address, timing_.echoWaitMs);
}

void EchoProbe::markNotProbed()
{
    show(Look::NotProbed, caption_);
}

void EchoProbe::cancel()
{
    if (echo_ && probing_)
        echo_->cancel();
    probing_ = false;
    tmrRetryPing_->stop();
    resetRetryCountdown();
    // A second cancel (the core's own shutdown as the window is destroyed, after its controls)
    // has nothing to redraw.
    if (look_ != Look::NotProbed || caption_ != QStringLiteral("<Unknown>"))
        show(Look::NotProbed, QStringLiteral("<Unknown>"));
}

void EchoProbe::showReply(const EchoReply& reply)
{
    probing_ = false;
    qCDebug(traceProbe) << "echo outcome: status" << reply.status << "round trip" << reply.roundTripMs << "ms";
    if (reply.status == EchoSuccess)
        show(Look::Answered, QString::number(reply.roundTripMs) + QStringLiteral(" ms"));
    else
        show(Look::Failed, EchoStatusText(reply.status));
    StopSockets();
    // Only a time-out retries, and without end while the element stays silent.
    if (reply.status == EchoTimedOut)
        tmrRetryPing_->start();
}

void EchoProbe::tmrRetryPing_Timer()
{
    if (PingRetryCountdown < 1) {
        tmrRetryPing_->stop();
        resetRetryCountdown();
        PingElement(retryAddress_ ? retryAddress_() : QString());
        return;
    }
    --PingRetryCountdown;
    show(look_, QStringLiteral("Retrying in ") + QString::number(PingRetryCountdown) + QStringLiteral(" seconds..."));
}

} // namespace nms
