#include "transports/ExecTransport.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include <signal.h>
#include <unistd.h>

#include "base/Trace.h"

namespace nms {

namespace {

// A flood of alarms after an outage must not become a flood of processes.
constexpr int kRunningAtOnce = 4;
constexpr int kStderrKept = 200;

} // namespace

std::unique_ptr<ExecTransport> ExecTransport::Create(NotifierGroup& group)
{
    const QString command = group.text(QStringLiteral("command"), true);
    const int timeoutMs = group.millis(QStringLiteral("timeout_s"), 10);
    if (!group.ok())
        return nullptr;
    QStringList arguments = QProcess::splitCommand(command);
    if (arguments.isEmpty()) {
        group.refuse(QStringLiteral("command"), QStringLiteral("no program in '%1'").arg(command));
        return nullptr;
    }
    const QString program = arguments.takeFirst();
    const QString found = program.contains(QLatin1Char('/'))
        ? (QFileInfo(program).isExecutable() && QFileInfo(program).isFile() ? program : QString())
        : QStandardPaths::findExecutable(program);
    if (found.isEmpty()) {
        group.refuse(QStringLiteral("command"), QStringLiteral("'%1' is not an executable file").arg(program));
        return nullptr;
    }
    return std::unique_ptr<ExecTransport>(new ExecTransport(found, arguments, timeoutMs));
}

ExecTransport::ExecTransport(const QString& program, const QStringList& arguments, int timeoutMs)
    : program_(program), arguments_(arguments), timeoutMs_(timeoutMs)
{
}

ExecTransport::~ExecTransport()
{
    // Nothing is left behind: a command still running goes with its process group.
    for (QProcess* process : std::as_const(running_)) {
        process->disconnect(this);
        if (process->processId() > 0)
            ::kill(-pid_t(process->processId()), SIGKILL);
        process->kill(); // in case it left its group
        process->waitForFinished(1000);
        delete process;
    }
}

QList<std::pair<QString, QString>> ExecTransport::Environment(const NotifyMessage& m)
{
    const NotifyElement first = m.elements.value(0);
    return {{QStringLiteral("ORBILANE_EVENT"), m.event},   {QStringLiteral("ORBILANE_STATUS"), m.status},
            {QStringLiteral("ORBILANE_NAME"), first.name}, {QStringLiteral("ORBILANE_MAC"), first.mac},
            {QStringLiteral("ORBILANE_IP"), first.ip},     {QStringLiteral("ORBILANE_ROLE"), first.role},
            {QStringLiteral("ORBILANE_TEXT"), m.text}};
}

void ExecTransport::deliver(const NotifyMessage& message)
{
    waiting_.append(message);
    // Started from the event loop: finished() never comes from within deliver(), even when the
    // program cannot be started at all.
    QTimer::singleShot(0, this, &ExecTransport::startWaiting);
}

void ExecTransport::startWaiting()
{
    while (running_.size() < kRunningAtOnce && !waiting_.isEmpty())
        start(waiting_.takeFirst());
}

void ExecTransport::start(const NotifyMessage& message)
{
    auto* process = new QProcess(this);
    running_.append(process);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto& [key, value] : Environment(message))
        environment.insert(key, value);
    process->setProcessEnvironment(environment);
    process->setStandardOutputFile(QProcess::nullDevice());
    // A group of its own, so that a timeout also ends what a script started.
    process->setChildProcessModifier([] { ::setpgid(0, 0); });
    const QString id = message.id;

    auto* timer = new QTimer(process);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, process, [this, process, id] {
        process->disconnect(this);
        if (process->processId() > 0)
            ::kill(-pid_t(process->processId()), SIGKILL);
        process->kill(); // in case it left its group
        process->waitForFinished(1000);
        end(process, id,
            {DeliveryResult::Outcome::Retry, QStringLiteral("killed after %1 s").arg(timeoutMs_ / 1000.0)});
    });
    connect(process, &QProcess::errorOccurred, this, [this, process, id](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            end(process, id, {DeliveryResult::Outcome::Retry, QStringLiteral("could not start %1").arg(program_)});
    });
    connect(process, &QProcess::finished, this, [this, process, id](int code, QProcess::ExitStatus status) {
        if (status == QProcess::NormalExit && code == 0) {
            end(process, id, {DeliveryResult::Outcome::Delivered, QStringLiteral("exit status 0")});
            return;
        }
        const QString said = QString::fromUtf8(process->readAllStandardError()).simplified().left(kStderrKept);
        QString reason = status == QProcess::NormalExit ? QStringLiteral("exit status %1").arg(code)
                                                        : QStringLiteral("ended by a signal");
        if (!said.isEmpty())
            reason += QStringLiteral(": ") + said;
        end(process, id, {DeliveryResult::Outcome::Retry, reason});
    });

    process->start(program_, arguments_);
    timer->start(timeoutMs_);
    process->write(QJsonDocument(message.toJson()).toJson(QJsonDocument::Compact) + '\n');
    process->closeWriteChannel();
}

void ExecTransport::end(QProcess* process, const QString& messageId, const DeliveryResult& result)
{
    if (!running_.removeOne(process))
        return; // already ended (a timeout, then the process's own end)
    process->disconnect(this);
    process->deleteLater();
    qCDebug(traceNotify).noquote() << "exec" << program_ << "for" << messageId << ":" << result.reason;
    Q_EMIT finished(messageId, result);
    if (!waiting_.isEmpty())
        QTimer::singleShot(0, this, &ExecTransport::startWaiting);
}

} // namespace nms
