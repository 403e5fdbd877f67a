#include "link/LinkEndpoint.h"

#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QVariant>

#include "base/Trace.h"

namespace nms {

namespace {

QString KindOf(bool sent, const QByteArray& datagram)
{
    if (sent) {
        if (datagram == PagingRequest())
            return QStringLiteral("PagingRequest");
        if (datagram == LevelQuery())
            return QStringLiteral("LevelQuery");
        switch (datagram.size()) {
        case ConfigWriteLength: return QStringLiteral("ConfigWrite");
        case AttenuationCommandLength: return QStringLiteral("AttenuationCommand");
        default: return QStringLiteral("datagram");
        }
    }
    switch (ClassifyDatagram(datagram.size())) {
    case DatagramKind::LevelSamples: return QStringLiteral("LevelSamples");
    case DatagramKind::ShortReply: return QStringLiteral("ShortReply");
    case DatagramKind::Feedback: return QStringLiteral("ElementFeedback");
    case DatagramKind::Dropped: break;
    }
    return QStringLiteral("dropped");
}

// One datagram as a trace line: direction, peer, kind, length and the leading bytes in hex.
QString DatagramTraceLine(bool sent, const QHostAddress& peer, quint16 port, const QByteArray& datagram,
                          int interfaceIndex = 0)
{
    constexpr int leading = 48;
    QString line = QStringLiteral("%1 %2:%3 %4 %5 bytes")
                       .arg(sent ? QStringLiteral("sent to") : QStringLiteral("received from"), peer.toString())
                       .arg(port)
                       .arg(KindOf(sent, datagram))
                       .arg(datagram.size());
    if (interfaceIndex > 0)
        line += QStringLiteral(" on interface %1").arg(interfaceIndex);
    line += QLatin1String(": ") + QString::fromLatin1(datagram.left(leading).toHex(' '));
    if (datagram.size() > leading)
        line += QStringLiteral(" ...");
    return line;
}

} // namespace

LinkEndpoint::LinkEndpoint(const LinkPorts& ports, QObject* parent)
    : QObject(parent), ports_(ports), udpClient_(new QUdpSocket(this))
{
    connect(udpClient_, &QUdpSocket::readyRead, this, &LinkEndpoint::udpClient_DataArrival);
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
    udpClient_->close();
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

void LinkEndpoint::udpClient_DataArrival()
{
    while (udpClient_->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = udpClient_->receiveDatagram();
        if (!datagram.isValid())
            break;
        qCDebug(traceLink).noquote() << DatagramTraceLine(false, datagram.senderAddress(),
                                                          quint16(datagram.senderPort()), datagram.data());
        Route(datagram.data(), datagram.senderAddress());
    }
}

void LinkEndpoint::Route(const QByteArray& datagram, const QHostAddress& sender)
{
    // The length alone decides what a datagram is; the sender goes with it to whoever takes it.
    switch (ClassifyDatagram(datagram.size())) {
    case DatagramKind::LevelSamples: Q_EMIT levelSamplesArrived(datagram, sender); break;
    case DatagramKind::Feedback: Q_EMIT feedbackArrived(datagram, sender); break;
    case DatagramKind::ShortReply:
    case DatagramKind::Dropped: break;
    }
}

} // namespace nms
