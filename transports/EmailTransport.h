#pragma once
// type=email: SMTP through libcurl. smtp://host:587 requires STARTTLS unless tls=none;
// smtps://host:465 is TLS from the start. Certificates are verified unless insecure=true. Each
// delivery runs in a thread of its own (at most two at once), so a server that hangs holds up
// nothing but itself, until timeout_s.

#include <QList>
#include <QStringList>
#include <QUrl>

#include <atomic>
#include <memory>

#include "transports/NotifierGroup.h"
#include "transports/Transport.h"

class QThread;

namespace nms {

struct SmtpSettings {
    QUrl url;
    bool startTls = true; // smtp:// only; smtps:// is TLS anyway
    QString from;
    QStringList to;
    QString user;
    QString password; // never traced, never in a reason
    bool insecure = false;
    int timeoutMs = 30000;
};

class EmailTransport : public Transport {
    Q_OBJECT
public:
    static std::unique_ptr<EmailTransport> Create(NotifierGroup& group);
    ~EmailTransport() override;

    QString type() const override { return QStringLiteral("email"); }
    void deliver(const NotifyMessage& message) override;

private:
    explicit EmailTransport(const SmtpSettings& settings);
    void startWaiting();

    SmtpSettings settings_;
    QList<NotifyMessage> waiting_;
    QList<QThread*> running_;
    // Set when the transport goes: a delivery in flight gives up at libcurl's next progress call.
    std::shared_ptr<std::atomic_bool> abandon_;
};

} // namespace nms
