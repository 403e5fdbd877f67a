#include "support/LoopbackElement.h"

#include <QNetworkDatagram>
#include <QStringList>
#include <QUdpSocket>

namespace nms::test {

quint16 FreeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::AnyIPv4, 0);
    return probe.localPort();
}

LoopbackElement::LoopbackElement(QObject* parent) : QObject(parent)
{
    config_ = open();
    command_ = open();
    paging_ = open();
}

QUdpSocket* LoopbackElement::open()
{
    auto* socket = new QUdpSocket(this);
    socket->bind(QHostAddress::LocalHost, 0);
    connect(socket, &QUdpSocket::readyRead, this, [this, socket] { drain(socket); });
    return socket;
}

void LoopbackElement::drain(QUdpSocket* socket)
{
    bool any = false;
    while (socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket->receiveDatagram();
        received.append({socket->localPort(), quint16(datagram.senderPort()), datagram.data()});
        any = true;
    }
    if (any)
        Q_EMIT datagramReceived();
}

quint16 LoopbackElement::configPort() const
{
    return config_->localPort();
}
quint16 LoopbackElement::commandPort() const
{
    return command_->localPort();
}
quint16 LoopbackElement::pagingPort() const
{
    return paging_->localPort();
}

bool LoopbackElement::sendToConsole(const QByteArray& datagram, quint16 consolePort)
{
    return config_->writeDatagram(datagram, QHostAddress::LocalHost, consolePort) == datagram.size();
}

QList<QByteArray> LoopbackElement::receivedOn(quint16 port) const
{
    QList<QByteArray> result;
    for (const Received& r : received) {
        if (r.toPort == port)
            result.append(r.data);
    }
    return result;
}

QList<QPair<QString, QString>> StoredElement::entries() const
{
    QList<QPair<QString, QString>> list = {
        {QStringLiteral("name"), name},
        {QStringLiteral("ip"), ip},
        {QStringLiteral("mask"), mask},
        {QStringLiteral("gw"), gw},
        {QStringLiteral("remote"), remote},
        {QStringLiteral("input"), QString::number(input)},
        {QStringLiteral("type"), QString::number(type)},
        {QStringLiteral("tx"), QString::number(tx)},
        {QStringLiteral("role"), QString::number(role)},
        {QStringLiteral("sn"), QString::number(sn)},
    };
    if (att >= 0)
        list.append({QStringLiteral("att"), QString::number(att)});
    return list;
}

namespace {

void AppendAddress(QByteArray& out, const QString& text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    for (int k = 0; k < 4; ++k)
        out.append(char(quint8(k < parts.size() ? parts.at(k).toUInt() : 0)));
}

} // namespace

QByteArray FeedbackFields::bytes() const
{
    QByteArray out;
    AppendAddress(out, ip);
    AppendAddress(out, mask);
    AppendAddress(out, gw);
    AppendAddress(out, remote);
    out.append(char(quint8(input)));
    out.append(char(quint8(type)));
    out.append(char(quint8(tx)));
    out.append(name.leftJustified(16, ' ', true));
    out.append(char(quint8(role)));
    out.append(serial.leftJustified(4, '\0', true));
    if (attenuation >= 0)
        out.append(char(quint8(attenuation)));
    return out;
}

} // namespace nms::test
