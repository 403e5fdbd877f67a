#pragma once
// The element link: the one UDP socket udpClient, bound to the console port for the console's
// whole life. Every datagram is addressed when it is written (the socket is never closed and bound
// again for a send, so nothing that reached it is lost); received datagrams are drained at once
// and routed by their length alone, with the address they came from. It knows no selection and no
// database: who is sent to and what an answer means is decided above it.

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

#include "link/Datagrams.h"

class QUdpSocket;

namespace nms {

class LinkEndpoint : public QObject {
    Q_OBJECT
public:
    explicit LinkEndpoint(const LinkPorts& ports, QObject* parent = nullptr);

    const LinkPorts& ports() const { return ports_; }

    // Start-up: binds udpClient to the console port, not shared with any other program. False
    // when the port is taken.
    bool bind();
    bool isBound() const;
    // Shutdown: the socket closes.
    void close();

    // One datagram to an address, out of one interface (index 0: wherever routing sends it).
    // False with the reason when it could not be sent.
    bool sendTo(const QByteArray& datagram, const QHostAddress& address, quint16 port, int interfaceIndex,
                QString* failure);

    // What one received datagram is taken as; works without a socket.
    void Route(const QByteArray& datagram, const QHostAddress& sender = QHostAddress());

    // The receive buffer asked of the kernel, and what it granted (the kernel caps the request at
    // net.core.rmem_max): a discovery's answers arrive in one burst.
    static constexpr int ReceiveBufferWanted = 4 * 1024 * 1024;
    int receiveBufferGranted() const;

Q_SIGNALS:
    // A 1440-byte LevelSamples, handed on unchanged, and the address it came from.
    void levelSamplesArrived(const QByteArray& datagram, const QHostAddress& sender);
    // A 40- or 41-byte ElementFeedback, and the address it came from.
    void feedbackArrived(const QByteArray& datagram, const QHostAddress& sender);

private:
    void udpClient_DataArrival();

    LinkPorts ports_;
    QUdpSocket* udpClient_;
    bool open_ = false; // bound and not closed on purpose
};

} // namespace nms
