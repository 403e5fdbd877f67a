#pragma once
// Stand-ins for elements on loopback, and the element records and feedbacks tests build. The
// feedback bytes are built here byte by byte, independently of the console's own codec.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

class QUdpSocket;

namespace nms::test {

// A UDP port nothing on this host uses right now.
quint16 FreeUdpPort();

// One simulated element on 127.0.0.1: a socket for each element port (configuration, commands,
// paging), each on a free port of its own. It records every datagram the console sends it and
// answers from its configuration socket.
class LoopbackElement : public QObject {
    Q_OBJECT
public:
    struct Received {
        quint16 toPort;
        quint16 fromPort;
        QByteArray data;
    };

    explicit LoopbackElement(QObject* parent = nullptr);

    quint16 configPort() const;
    quint16 commandPort() const;
    quint16 pagingPort() const;

    // Sends one datagram to the console's port on loopback.
    bool sendToConsole(const QByteArray& datagram, quint16 consolePort);

    QList<Received> received;
    QList<QByteArray> receivedOn(quint16 port) const;

Q_SIGNALS:
    void datagramReceived();

private:
    QUdpSocket* open();
    void drain(QUdpSocket* socket);

    QUdpSocket* config_;
    QUdpSocket* command_;
    QUdpSocket* paging_;
};

// The entries of one stored element, written in the order a discovery writes them.
struct StoredElement {
    QString name = QStringLiteral("STUDIO A        ");
    QString ip = QStringLiteral("127.0.0.1");
    QString mask = QStringLiteral("255.255.255.0");
    QString gw = QStringLiteral("127.0.0.254");
    QString remote = QStringLiteral("10.0.0.2");
    int input = 0, type = 1, tx = 0, role = 1, sn = 42;
    int att = -1; // written only when 0 or more
    QList<QPair<QString, QString>> entries() const;
};

// An ElementFeedback as an element sends it, built here byte by byte (independently of the
// console's own codec). Fields out of range are sent as given, to test the checks.
struct FeedbackFields {
    QString ip = QStringLiteral("192.168.1.10");
    QString mask = QStringLiteral("255.255.255.0");
    QString gw = QStringLiteral("192.168.1.1");
    QString remote = QStringLiteral("10.0.0.1");
    int input = 0, type = 1, tx = 0;
    QByteArray name = QByteArrayLiteral("STUDIO A        "); // 16 bytes
    int role = 1;
    QByteArray serial = QByteArray::fromHex("0000002A"); // 4 bytes: serial 42
    int attenuation = -1; // appended as byte 40 when 0 or more
    QByteArray bytes() const;
};

} // namespace nms::test
