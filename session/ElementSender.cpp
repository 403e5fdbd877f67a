#include "session/ElementSender.h"

#include <QTimer>
#include <QtEndian>

#include "base/AddressText.h"
#include "base/Notices.h"
#include "base/Trace.h"
#include "database/ElementStore.h"
#include "link/LinkEndpoint.h"
#include "session/ConsoleState.h"

namespace nms {

namespace {

const QChar CR(u'\r');

} // namespace

ElementSender::ElementSender(LinkEndpoint& link, ConsoleState& state, const ElementStore& store, Notices& notices,
                             const Timing& timing, QObject* parent)
    : QObject(parent), link_(link), state_(state), store_(store), notices_(notices), timerRemoteSent_(new QTimer(this))
{
    timerRemoteSent_->setInterval(timing.replyMs);
    timerRemoteSent_->setSingleShot(true);
    // A coarse timer may fire up to 5% early; the operator is promised the full period.
    timerRemoteSent_->setTimerType(Qt::PreciseTimer);
    connect(timerRemoteSent_, &QTimer::timeout, this, &ElementSender::timerRemoteSent_Timer);
}

bool ElementSender::SendToSelected(const QByteArray& datagram, quint16 remotePort, bool startReplyTimer)
{
    auto refuse = [this](const QString& firstLine) {
        notices_.error(QStringLiteral("Error!"), firstLine + CR + QStringLiteral("Nothing was sent."));
        return false;
    };
    if (!state_.hasSelection())
        return refuse(QStringLiteral("No element is selected."));
    const QString ip = store_.storedIp(state_.selectedKey());
    if (ip.isEmpty())
        return refuse(QStringLiteral("No address is stored for the element %1.").arg(state_.selectedMacText()));
    bool ok = false;
    const quint32 address = Ipv4FromDottedText(ip, &ok);
    if (!ok || address == 0)
        return refuse(QStringLiteral("The stored address of this element ('%1') is not a valid IP address.").arg(ip));
    QString failure;
    if (!link_.sendTo(datagram, QHostAddress(qFromBigEndian(address)), remotePort, 0, &failure))
        return refuse(
            QStringLiteral("The datagram to %1 port %2 could not be sent: %3.").arg(ip).arg(remotePort).arg(failure));
    // A second ConfigWrite gives its answer the full period again.
    if (startReplyTimer)
        timerRemoteSent_->start();
    return true;
}

bool ElementSender::Send_Config(const ConfigFields& fields)
{
    // Sent to the address stored for the selected element, which is the one it still has: the
    // address in the fields is what it is being asked to take.
    if (!SendToSelected(BuildConfigWrite(fields), link_.ports().config, true))
        return false;
    state_.setLastSent(fields);
    return true;
}

const LinkPorts& ElementSender::ports() const
{
    return link_.ports();
}

void ElementSender::stopReplyTimer()
{
    timerRemoteSent_->stop();
}

bool ElementSender::replyTimerActive() const
{
    return timerRemoteSent_->isActive();
}

void ElementSender::timerRemoteSent_Timer()
{
    qCDebug(traceLink) << "no answer to the configuration within" << timerRemoteSent_->interval() << "ms";
    notices_.error(QStringLiteral("Error!"),
                   QStringLiteral("Waiting for a response from Network Element has timed out!") + CR
                       + QStringLiteral("Cannot save."));
    Q_EMIT replyTimedOut();
}

} // namespace nms
