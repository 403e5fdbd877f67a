#include "link/LinkEndpoint.h"

#include <QNetworkDatagram>
#include <QtEndian>

#include "database/ElementRecords.h"
#include "database/ProfileStore.h"
#include "link/Datagrams.h"
#include "platform/EchoService.h"
#include "platform/MessageBoxes.h"
#include "shell/FrmMain.h"

namespace nms {

namespace {

const QString kNothingSent = QStringLiteral("Nothing was sent.");

} // namespace

LinkEndpoint::LinkEndpoint(FrmMain& window) : QObject(&window), w(window)
{
    // A coarse timer may fire up to 5% early; the operator is promised the full three seconds.
    w.timerRemoteSent->setTimerType(Qt::PreciseTimer);
    connect(w.udpClient, &QUdpSocket::readyRead, this, &LinkEndpoint::udpClient_DataArrival);
    connect(w.timerRemoteSent, &QTimer::timeout, this, &LinkEndpoint::timerRemoteSent_Timer);
}

void LinkEndpoint::setRemote(const QString& host, quint16 port)
{
    remoteHost_ = host;
    remotePort_ = port;
}

bool LinkEndpoint::write(const QByteArray& datagram, const QString& host, quint16 port, QString* failure)
{
    if (w.udpClient->state() != QAbstractSocket::BoundState) {
        // An unbound socket would bind itself to a random port, and the answer would never come back.
        if (failure)
            *failure = QStringLiteral("the element link is not open on UDP port %1").arg(w.environment().localPort);
        return false;
    }
    bool ok = false;
    const quint32 address = Ipv4FromDottedText(host, &ok);
    if (!ok) {
        if (failure)
            *failure = QStringLiteral("'%1' is not a valid IP address").arg(host);
        return false;
    }
    const qint64 written = w.udpClient->writeDatagram(datagram, QHostAddress(qFromBigEndian(address)), port);
    if (written != datagram.size()) {
        if (failure)
            *failure = w.udpClient->errorString();
        return false;
    }
    return true;
}

bool LinkEndpoint::SendToSelected(const QByteArray& datagram, quint16 remotePort, bool startReplyTimer)
{
    const QString shown = w.lblElementMAC->caption();
    if (shown == QStringLiteral("<Unknown>")) {
        reportSendFailure(QStringLiteral("No element is selected."));
        return false;
    }
    const QString key = MacTextToKey(shown);
    const QString ip = key.isEmpty() ? QString() : ReadFromINI(key, QStringLiteral("ip"), w.databasePath(), QString());
    if (ip.isEmpty()) {
        reportSendFailure(QStringLiteral("No address is stored for the element %1.").arg(shown));
        return false;
    }
    bool ok = false;
    const quint32 address = Ipv4FromDottedText(ip, &ok);
    if (!ok || address == 0) {
        reportSendFailure(
            QStringLiteral("The stored address of this element ('%1') is not a valid IP address.").arg(ip));
        return false;
    }
    setRemote(ip, remotePort);
    QString failure;
    if (!write(datagram, ip, remotePort, &failure)) {
        reportSendFailure(
            QStringLiteral("The datagram to %1 port %2 could not be sent: %3.").arg(ip).arg(remotePort).arg(failure));
        return false;
    }
    // Started once the datagram is out: an answer cannot be handled before this returns anyway.
    if (startReplyTimer)
        w.timerRemoteSent->start();
    return true;
}

bool LinkEndpoint::SendToRemote(const QByteArray& datagram, QString* failure)
{
    return write(datagram, remoteHost_, remotePort_, failure);
}

void LinkEndpoint::reportSendFailure(const QString& firstLine)
{
    if (reporting_)
        return;
    reporting_ = true;
    w.messages().error(QStringLiteral("Error!"), firstLine + QChar(u'\r') + kNothingSent);
    reporting_ = false;
}

void LinkEndpoint::udpClient_DataArrival()
{
    while (w.udpClient->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = w.udpClient->receiveDatagram();
        if (!datagram.isValid())
            break;
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
    // Stopped before the box: its nested loop must not see a second expiry.
    w.timerRemoteSent->stop();
    w.messages().error(QStringLiteral("Error!"),
                       QStringLiteral("Waiting for a response from Network Element has timed out!") + QChar(u'\r')
                           + QStringLiteral("Cannot save."));
}

} // namespace nms
