#pragma once
// type=snmp-trap: an SNMPv2c trap, or an INFORM (acknowledged, retried) with inform=true, through
// net-snmp's library, one notification per element of the message, as ORBILANE-NMS-MIB defines
// them under the `enterprise` arc. net-snmp runs on worker threads, one call into it at a time,
// with its configuration and persistent files switched off.

#include <QList>
#include <QString>

#include <memory>

#include "transports/NotifierGroup.h"
#include "transports/Transport.h"

class QThread;

namespace nms {

struct SnmpTarget {
    QString peer; // net-snmp's form: "udp:host:162", "udp6:[::1]:162"
    QString community = QStringLiteral("public");
    QString enterprise = QStringLiteral("1.3.6.1.4.1.8072.9999.9999"); // the MIB's own place
    bool inform = false;
    int timeoutMs = 15000; // an INFORM's whole wait: three tries
};

class SnmpTrapTransport : public Transport {
    Q_OBJECT
public:
    // One variable: its OID, net-snmp's type letter (s, x, i, o, t) and its value as text.
    struct Varbind {
        QString oid;
        char type;
        QString value;
        bool operator==(const Varbind&) const = default;
    };
    struct Notification {
        QString oid; // snmpTrapOID.0
        QList<Varbind> varbinds; // after sysUpTime.0 and snmpTrapOID.0
    };

    static std::unique_ptr<SnmpTrapTransport> Create(NotifierGroup& group);
    ~SnmpTrapTransport() override;

    QString type() const override { return QStringLiteral("snmp-trap"); }
    void deliver(const NotifyMessage& message) override;

    // The notifications of a message, one per element; none for an event the MIB does not know.
    static QList<Notification> Notifications(const QString& enterprise, const NotifyMessage& message);
    // "host", "host:port", "[v6]" or "[v6]:port" as net-snmp's peer name; empty when malformed.
    static QString PeerName(const QString& hostPort);

private:
    explicit SnmpTrapTransport(const SnmpTarget& target);
    void startWaiting();

    SnmpTarget target_;
    QList<NotifyMessage> waiting_;
    QList<QThread*> running_;
};

} // namespace nms
