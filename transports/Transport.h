#pragma once
// One way a message leaves the machine: e-mail, a webhook, a command, an SNMP trap. Each type is
// a file of its own behind this interface; what is sent when, to whom, and how often it is
// retried is decided above it, so those rules are tested without a network.

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <memory>

#include "transports/NotifyMessage.h"

namespace nms {

struct DeliveryResult {
    enum class Outcome {
        Delivered, // the receiver took it
        Retry, // not now (unreachable, timed out, a temporary refusal): try again later
        Failed, // it will never be taken as it is (refused for good): no retry
    };
    Outcome outcome = Outcome::Retry;
    QString reason; // for the event log and the trace: never a password or an Authorization value
};

class Transport : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~Transport() override = default;

    virtual QString type() const = 0; // "email", "webhook", "exec", "snmp-trap"

    // Starts delivering and returns at once; the caller's thread never waits on the receiver.
    // finished() follows exactly once per call, never from within deliver() itself, also when
    // the receiver hangs (each transport ends a delivery after its own time limit).
    virtual void deliver(const NotifyMessage& message) = 0;

Q_SIGNALS:
    void finished(const QString& messageId, const nms::DeliveryResult& result);
};

// The transport of a settings group [notify.NAME]: its keys (type, url, to, ...) as read from
// the file. Nothing and a reason naming what is wrong when the type is unknown, a field it needs
// is missing or malformed.
std::unique_ptr<Transport> MakeTransport(const QString& name, const QVariantMap& group, QString* error);

} // namespace nms

Q_DECLARE_METATYPE(nms::DeliveryResult)
