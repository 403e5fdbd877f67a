#pragma once
// The element link: the one UDP socket udpClient, bound to the console port for the console's
// whole life, and the reply timer timerRemoteSent. Every datagram is addressed when it is written
// (the socket is never closed and bound again for a send, so nothing that reached it is lost);
// received datagrams are drained at once and routed by their length alone.

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

#include "link/Datagrams.h"
#include "session/Timing.h"

class QTimer;
class QUdpSocket;

namespace nms {

class ConsoleState;
class ElementStore;
class Notices;

class LinkEndpoint : public QObject {
    Q_OBJECT
public:
    LinkEndpoint(const LinkPorts& ports, const Timing& timing, const ConsoleState& state, const ElementStore& store,
                 Notices& notices, QObject* parent = nullptr);

    const LinkPorts& ports() const { return ports_; }

    // Start-up: binds udpClient to the console port, not shared with any other program. False
    // when the port is taken.
    bool bind();
    bool isBound() const;
    // Shutdown: the reply timer stops and the socket closes.
    void close();

    // The send cycle: the stored `ip` of the selected element, read afresh, is the destination.
    // A ConfigWrite (startReplyTimer) starts timerRemoteSent once the datagram is out. With no
    // element selected, no or no valid stored address, or a send the network refuses, the operator
    // is told why, nothing is sent, no timer starts and the result is false.
    bool SendToSelected(const QByteArray& datagram, quint16 remotePort, bool startReplyTimer);
    // One datagram to an address, out of one interface (index 0: wherever routing sends it).
    // False with the reason when it could not be sent.
    bool sendTo(const QByteArray& datagram, const QHostAddress& address, quint16 port, int interfaceIndex,
                QString* failure);

    void stopReplyTimer();
    bool replyTimerActive() const;

    // What one received datagram is taken as; works without a socket.
    void Route(const QByteArray& datagram);

    // The receive buffer asked of the kernel, and what it granted (the kernel caps the request at
    // net.core.rmem_max): a discovery's answers arrive in one burst.
    static constexpr int ReceiveBufferWanted = 4 * 1024 * 1024;
    int receiveBufferGranted() const;

Q_SIGNALS:
    // A 1440-byte LevelSamples, handed on unchanged to the level meter.
    void levelSamplesArrived(const QByteArray& datagram);
    // A 40- or 41-byte ElementFeedback, for feedback processing.
    void feedbackArrived(const QByteArray& datagram);

private:
    void udpClient_DataArrival();
    void timerRemoteSent_Timer();

    LinkPorts ports_;
    const ConsoleState& state_;
    const ElementStore& store_;
    Notices& notices_;
    QUdpSocket* udpClient_;
    QTimer* timerRemoteSent_;
    bool open_ = false; // bound and not closed on purpose
};

} // namespace nms
