#pragma once
// Every send to the element shown: its stored address, read afresh, is the destination. A
// ConfigWrite starts the reply timer timerRemoteSent, and the configuration sent is kept in the
// state so that the element's answer is checked against exactly what went out.

#include <QByteArray>
#include <QObject>

#include "base/Timing.h"
#include "link/Datagrams.h"

class QTimer;

namespace nms {

class ConsoleState;
class ElementStore;
class LinkEndpoint;
class Notices;

class ElementSender : public QObject {
    Q_OBJECT
public:
    ElementSender(LinkEndpoint& link, ConsoleState& state, const ElementStore& store, Notices& notices,
                  const Timing& timing, QObject* parent = nullptr);

    // The send cycle. A ConfigWrite (startReplyTimer) starts timerRemoteSent once the datagram is
    // out. With no element selected, no or no valid stored address, or a send the network refuses,
    // the operator is told why, nothing is sent, no timer starts and the result is false.
    bool SendToSelected(const QByteArray& datagram, quint16 remotePort, bool startReplyTimer);
    // The editor's configuration as a ConfigWrite to the element shown; kept as the last sent.
    bool Send_Config(const ConfigFields& fields);

    const LinkPorts& ports() const;

    void stopReplyTimer();
    bool replyTimerActive() const;

Q_SIGNALS:
    // timerRemoteSent ran out without an answer (the operator has been told).
    void replyTimedOut();

private:
    void timerRemoteSent_Timer();

    LinkEndpoint& link_;
    ConsoleState& state_;
    const ElementStore& store_;
    Notices& notices_;
    QTimer* timerRemoteSent_;
};

} // namespace nms
