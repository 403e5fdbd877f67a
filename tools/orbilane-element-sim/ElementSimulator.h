#pragma once
// One simulated Network Element: three UDP sockets and the state the console can change.

#include "DatagramLog.h"
#include "InterfaceAddress.h"
#include "SimOptions.h"
#include "SimWire.h"

#include <QObject>

#include <optional>

class QNetworkDatagram;
class QUdpSocket;

namespace sim {

class ElementSimulator : public QObject {
    Q_OBJECT
public:
    ElementSimulator(const SimOptions& options, const InterfaceAddress& address, DatagramLog* log,
                     QObject* parent = nullptr);

    // Binds the paging, config and command ports on every IPv4 address (the paging
    // broadcast reaches only a socket bound to the wildcard address).
    bool start(QString* error);
    // An element left off the network comes back as it goes.
    ~ElementSimulator() override;

    // Off the network, the element answers nothing and, in a network namespace of its own, its
    // interface is administratively down; back on it, the interface is up with its address and
    // routes. On loopback or in the machine's own namespace only the answers stop.
    void setOffNetwork(bool off);
    bool offNetwork() const { return m_offNetwork; }
    // Silent, its level answers carry all-zero samples instead of the level it was started with.
    void setSilent(bool silent) { m_silent = silent; }
    bool silent() const { return m_silent; }

private:
    ElementSimulator(const SimOptions& options, const InterfaceAddress& address, bool inNamespace, DatagramLog* log,
                     QObject* parent);
    QUdpSocket* bindPort(quint16 port, QString* error);
    bool bindToInterface(QUdpSocket* socket, quint16 port, QString* error);
    void readPending(QUdpSocket* socket);
    void onPaging(const QNetworkDatagram& datagram);
    void onConfigWrite(const QNetworkDatagram& datagram);
    void onCommand(const QNetworkDatagram& datagram);

    void applyConfig(const ElementConfig& written);
    void moveAddress(quint32 newIp, quint32 newMask);
    QByteArray currentFeedback() const;

    // Answers go out of the config socket (so from port 2976) to the sender's address.
    void answer(const QByteArray& bytes, const QHostAddress& to);
    void sendNow(const QByteArray& bytes, const QHostAddress& to);

    SimOptions m_options;
    ElementConfig m_config;
    quint8 m_attenuation;
    int m_prefixLength;
    bool m_addressFixed; // loopback, --keep-address, or the host's own interface
    bool m_linkOwned; // an interface of a namespace apart from the machine's own, not loopback
    bool m_offNetwork = false;
    bool m_silent = false;
    std::optional<LinkSnapshot> m_linkBeforeDown; // set while the interface is down
    QByteArray m_levelSamples;
    DatagramLog* m_log;
    QUdpSocket* m_pagingSocket = nullptr;
    QUdpSocket* m_configSocket = nullptr;
    QUdpSocket* m_commandSocket = nullptr;
};

} // namespace sim
