#pragma once
// type=exec: a command of the site's own (a relay, an SMS gateway, a local mailer) started without
// a shell, the message as one JSON line on its standard input and in ORBILANE_* variables. Exit
// status 0 is delivered; anything else, or still running after timeout_s, is tried again later.

#include <QList>
#include <QStringList>

#include <memory>

#include "transports/NotifierGroup.h"
#include "transports/Transport.h"

class QProcess;

namespace nms {

class ExecTransport : public Transport {
    Q_OBJECT
public:
    static std::unique_ptr<ExecTransport> Create(NotifierGroup& group);
    ~ExecTransport() override;

    QString type() const override { return QStringLiteral("exec"); }
    void deliver(const NotifyMessage& message) override;

    // The variables a command is given beside the JSON line.
    static QList<std::pair<QString, QString>> Environment(const NotifyMessage& message);

private:
    ExecTransport(const QString& program, const QStringList& arguments, int timeoutMs);
    void startWaiting();
    void start(const NotifyMessage& message);
    void end(QProcess* process, const QString& messageId, const DeliveryResult& result);

    QString program_;
    QStringList arguments_;
    int timeoutMs_;
    QList<NotifyMessage> waiting_; // beyond the commands allowed to run at once
    QList<QProcess*> running_;
};

} // namespace nms
