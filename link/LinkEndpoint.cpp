#include "link/LinkEndpoint.h"

#include <QNetworkDatagram>
#include <QTimer>
#include <QUdpSocket>
#include <QVariant>
#include <QtEndian>

#include "database/Conversions.h"
#include "database/ElementStore.h"
#include "services/Notices.h"
#include "services/Trace.h"
#include "session/ConsoleState.h"

namespace nms {

namespace {

const QChar CR(u'\r');

} // namespace

LinkEndpoint::LinkEndpoint(const LinkPorts& ports, const Timing& timing, const ConsoleState& state,
                           const ElementStore& store, Notices& notices, QObject* parent)
    : QObject(parent),
      ports_(ports),
      state_(state),
      store_(store),
      notices_(notices),
      udpClient_(new QUdpSocket(this)),
      timerRemoteSent_(new QTimer(this))
{
    timerRemoteSent_->setInterval(timing.replyMs);
    timerRemoteSent_->setSingleShot(true);
    // A coarse timer may fire up to 5% early; the operator is promised the full period.
    timerRemoteSent_->setTimerType(Qt::PreciseTimer);
    connect(udpClient_, &QUdpSocket::readyRead, this, &LinkEndpoint::udpClient_DataArrival);
    connect(timerRemoteSent_, &QTimer::timeout, this, &LinkEndpoint::timerRemoteSent_Timer);
    // Qt may close a UDP socket after a send error; the console's port must stay its own, so it
    // is taken again at once (a send from a closed socket would go out from a random port).
    connect(udpClient_, &QUdpSocket::stateChanged, this, [this](QAbstractSocket::SocketState socketState) {
        if (socketState != QAbstractSocket::UnconnectedState || !open_)
            return;
        open_ = false;
        qCDebug(traceLink) << "UDP port" << ports_.console << "was closed; binding it again";
        bind();
    });
}

bool LinkEndpoint::bind()
{
    // No address sharing: another program holding the port must make this bind fail.
    if (!udpClient_->bind(QHostAddress::AnyIPv4, ports_.console, QAbstractSocket::DontShareAddress)) {
        qCDebug(traceLink) << "UDP port" << ports_.console << "could not be bound:" << udpClient_->errorString();
        return false;
    }
    udpClient_->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, ReceiveBufferWanted);
    open_ = true;
    qCDebug(traceLink) << "bound to UDP port" << ports_.console << "with a receive buffer of" << receiveBufferGranted()
                       << "bytes";
    return true;
}

bool LinkEndpoint::isBound() const
{
    return udpClient_->state() == QAbstractSocket::BoundState;
}

int LinkEndpoint::receiveBufferGranted() const
{
    return udpClient_->socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toInt();
}

void LinkEndpoint::close()
{
    open_ = false;
    timerRemoteSent_->stop();
    udpClient_->close();
}

void LinkEndpoint::stopReplyTimer()
{
    timerRemoteSent_->stop();
}

bool LinkEndpoint::replyTimerActive() const
{
    return timerRemoteSent_->isActive();
}

bool LinkEndpoint::sendTo(const QByteArray& datagram, const QHostAddress& address, quint16 port, int interfaceIndex,
                          QString* failure)
{
    if (!isBound()) {
        // An unbound socket would bind itself to a random port, and the answer would never come back.
        *failure = QStringLiteral("the element link is not open on UDP port %1").arg(ports_.console);
        return false;
    }
    QNetworkDatagram out(datagram, address, port);
    if (interfaceIndex > 0)
        out.setInterfaceIndex(uint(interfaceIndex));
    if (udpClient_->writeDatagram(out) != datagram.size()) {
        *failure = udpClient_->errorString();
        qCDebug(traceLink).noquote() << DatagramTraceLine(true, address, port, datagram, interfaceIndex)
                                     << "FAILED:" << *failure;
        return false;
    }
    qCDebug(traceLink).noquote() << DatagramTraceLine(true, address, port, datagram, interfaceIndex);
    return true;
}

bool LinkEndpoint::SendToSelected(const QByteArray& datagram, quint16 remotePort, bool startReplyTimer)
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
    if (!sendTo(datagram, QHostAddress(qFromBigEndian(address)), remotePort, 0, &failure))
        return refuse(
            QStringLiteral("The datagram to %1 port %2 could not be sent: %3.").arg(ip).arg(remotePort).arg(failure));
    // A second ConfigWrite gives its answer the full period again.
    if (startReplyTimer)
        timerRemoteSent_->start();
    return true;
}

void LinkEndpoint::udpClient_DataArrival()
{
    while (udpClient_->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = udpClient_->receiveDatagram();
        if (!datagram.isValid())
            break;
        qCDebug(traceLink).noquote() << DatagramTraceLine(false, datagram.senderAddress(),
                                                          quint16(datagram.senderPort()), datagram.data());
        Route(datagram.data());
    }
}

void LinkEndpoint::Route(const QByteArray& datagram)
{
    // Neither the sender nor a running discovery plays a part: the length alone decides.
    switch (ClassifyDatagram(datagram.size())) {
    case DatagramKind::LevelSamples: Q_EMIT levelSamplesArrived(datagram); break;
    case DatagramKind::Feedback: Q_EMIT feedbackArrived(datagram); break;
    case DatagramKind::ShortReply:
    case DatagramKind::Dropped: break;
    }
}

void LinkEndpoint::timerRemoteSent_Timer()
{
    qCDebug(traceLink) << "no answer to the configuration within" << timerRemoteSent_->interval() << "ms";
    notices_.error(QStringLiteral("Error!"),
                   QStringLiteral("Waiting for a response from Network Element has timed out!") + CR
                       + QStringLiteral("Cannot save."));
}

} // namespace nms
