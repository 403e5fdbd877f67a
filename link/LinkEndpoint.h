#pragma once
// The element link: the window's one UDP socket udpClient, bound to the local port for the
// window's whole life. Every datagram is aimed at its destination when it is written (the socket
// is never closed and re-bound for a send, so nothing that has reached it is lost); received
// datagrams are routed by their length alone.

#include <QByteArray>
#include <QObject>
#include <QString>

namespace nms {

class FrmMain;

class LinkEndpoint : public QObject {
    Q_OBJECT
public:
    explicit LinkEndpoint(FrmMain& window);

    // The send cycle: reads the stored `ip` of the element whose MAC text lblElementMAC shows,
    // afresh, and sends the datagram there from the local port to remotePort. For a ConfigWrite
    // (startReplyTimer) timerRemoteSent is (re)started once the datagram is out. A stored address that is
    // missing or not valid, or a send the network refuses, shows an error naming the cause, sends
    // nothing, starts no timer and returns false; the program keeps running.
    bool SendToSelected(const QByteArray& datagram, quint16 remotePort, bool startReplyTimer);

    // The socket's destination as the rest of the window sees it (discovery saves, changes and
    // restores it around its broadcast).
    QString remoteHost() const { return remoteHost_; }
    quint16 remotePort() const { return remotePort_; }
    void setRemote(const QString& host, quint16 port);
    // Sends to the current destination (the discovery's broadcast). False when it failed; the
    // reason is then in `failure`.
    bool SendToRemote(const QByteArray& datagram, QString* failure = nullptr);

    // Reads every datagram waiting on the socket and routes each by its length.
    void udpClient_DataArrival();
    void timerRemoteSent_Timer();

    // What one received datagram is taken as (exposed for the routing tests).
    void Route(const QByteArray& datagram);

Q_SIGNALS:
    // A 1440-byte LevelSamples, handed on unchanged to the level meter.
    void levelSamplesArrived(const QByteArray& datagram);
    // A 40- or 41-byte ElementFeedback, for feedback processing.
    void feedbackArrived(const QByteArray& datagram);

private:
    // The error box of a send that did not happen. While one is open, further failing sends (the
    // 50 ms level queries) return false without stacking more boxes.
    void reportSendFailure(const QString& firstLine);
    // Writes from the bound socket; false (with the reason) when the network refused it.
    bool write(const QByteArray& datagram, const QString& host, quint16 port, QString* failure);

    FrmMain& w;
    QString remoteHost_;
    quint16 remotePort_ = 0;
    bool reporting_ = false;
};

} // namespace nms
