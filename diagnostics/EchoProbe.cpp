#include "diagnostics/EchoProbe.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "database/Conversions.h"
#include "diagnostics/EchoStatus.h"
#include "platform/MessageBoxes.h"
#include "shell/FrmMain.h"

namespace nms {

EchoProbe::EchoProbe(FrmMain& window) : QObject(&window), w(window)
{
    connect(w.lblPing, &Label::captionChanged, this, &EchoProbe::lblPing_Change);
    connect(w.tmrRetryPing, &QTimer::timeout, this, &EchoProbe::tmrRetryPing_Timer);
    if (w.environment().echo)
        connect(w.environment().echo, &EchoService::finished, this, &EchoProbe::showReply);
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

void EchoProbe::PingElement(const QString& address)
{
    if (!IsDottedQuad(address))
        return;
    if (!StartSockets()) {
        w.messages().error(QStringLiteral("Ping failed"), QStringLiteral("Windows Sockets not responding correctly."));
        w.shpPing->setFillColor(QColor(255, 0, 0));
        w.lblPing->setCaption(QStringLiteral("Unable to init sockets"));
        return;
    }
    EchoService* echo = w.environment().echo;
    if (!echo) {
        showReply(EchoReply {});
        return;
    }
    probing_ = true;
    echo->send(address, 1000);
}

void EchoProbe::showReply(const EchoReply& reply)
{
    probing_ = false;
    const QString text = EchoStatusText(reply.status);
    if (text != QStringLiteral("Success!")) {
        w.shpPing->setFillColor(QColor(255, 0, 0));
        w.lblPing->setCaption(text);
    } else {
        w.shpPing->setFillColor(QColor(0, 255, 0));
        w.lblPing->setCaption(QString::number(reply.roundTripMs) + QStringLiteral(" ms"));
    }
    StopSockets();
}

void EchoProbe::lblPing_Change(const QString& caption)
{
    // Only a time-out retries; the countdown texts themselves never contain "Timed".
    if (caption.contains(QStringLiteral("Timed"), Qt::CaseSensitive) && !w.tmrRetryPing->isActive())
        w.tmrRetryPing->start();
}

void EchoProbe::tmrRetryPing_Timer()
{
    if (w.PingRetryCountdown < 1) {
        w.tmrRetryPing->stop();
        w.PingRetryCountdown = 3;
        PingElement(w.txtElementIP->text());
        return;
    }
    --w.PingRetryCountdown;
    w.lblPing->setCaption(QStringLiteral("Retrying in ") + QString::number(w.PingRetryCountdown)
                          + QStringLiteral(" seconds..."));
}

} // namespace nms
