// The notifiers from a shell: acknowledging an alarm, an element's maintenance, a test message
// through each notifier. The first two only change alarms.json beside the database (a running
// console picks it up within seconds); none of them needs the console's port.

#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>

#include "base/Duration.h"
#include "ctl/Commands.h"
#include "ctl/CtlOutput.h"
#include "database/EventLog.h"
#include "monitor/MonitorSettings.h"
#include "notify/AlarmStates.h"
#include "notify/NotifyCenter.h"

namespace nms {

namespace {

int Fail(int status, const QString& message)
{
    PrintError(message);
    return status;
}

// What the acknowledgements and maintenance need: the element, the event log, the file.
struct AlarmFiles {
    explicit AlarmFiles(const QString& databasePath)
        : log(EventLog::PathBeside(databasePath), notices), states(AlarmStates::PathBeside(databasePath), log)
    {
    }
    StderrNotices notices;
    EventLog log;
    AlarmStates states;
};

QString LocalTime(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

// The element the command line names in that database; the exit status, told, when none.
int ResolveNamed(const CtlArguments& arguments, const QString& path, ElementRecord* record)
{
    QString message;
    const int status = ResolveElement(path, arguments.arguments.first(), record, &message);
    return status == ExitOk ? ExitOk : Fail(status, message);
}

} // namespace

int RunAck(const CtlArguments& arguments)
{
    const QString path = CtlDatabasePath(arguments);
    ElementRecord record;
    if (const int status = ResolveNamed(arguments, path, &record); status != ExitOk)
        return status;
    AlarmFiles files(path);
    QString error;
    if (!files.states.acknowledge(record, arguments.value(QStringLiteral("comment")), &error))
        return Fail(ExitCannotRun, QStringLiteral("cannot acknowledge: ") + error);
    PrintError(
        QStringLiteral("the alarm of %1 is acknowledged: no reminders until it recovers").arg(ElementLabel(record)));
    return ExitOk;
}

int RunMaintenance(const CtlArguments& arguments)
{
    const bool forSet = arguments.isSet(QStringLiteral("for"));
    const bool end = arguments.isSet(QStringLiteral("end"));
    if (forSet == end)
        return Fail(ExitUsage, QStringLiteral("maintenance: --for DURATION or --end, one of them"));
    qint64 durationMs = 0;
    if (forSet) {
        durationMs = ParseDuration(arguments.value(QStringLiteral("for")));
        if (durationMs <= 0)
            return Fail(ExitUsage,
                        QStringLiteral("maintenance: --for takes a duration such as 30m, 2h or 1d, not '%1'")
                            .arg(arguments.value(QStringLiteral("for"))));
    }
    const QString path = CtlDatabasePath(arguments);
    ElementRecord record;
    if (const int status = ResolveNamed(arguments, path, &record); status != ExitOk)
        return status;
    AlarmFiles files(path);
    const QString comment = arguments.value(QStringLiteral("comment"));
    QString error;
    if (end) {
        if (!files.states.inMaintenance(record.key))
            return Fail(ExitFailed, QStringLiteral("%1 is not in maintenance").arg(ElementLabel(record)));
        if (!files.states.endMaintenance(record, comment, &error))
            return Fail(ExitCannotRun, QStringLiteral("cannot end the maintenance: ") + error);
        PrintError(QStringLiteral("the maintenance of %1 has ended").arg(ElementLabel(record)));
        return ExitOk;
    }
    if (!files.states.startMaintenance(record, durationMs, comment, &error))
        return Fail(ExitCannotRun, QStringLiteral("cannot start the maintenance: ") + error);
    PrintError(QStringLiteral("%1 is in maintenance until %2: its events are logged, nobody is called")
                   .arg(ElementLabel(record), LocalTime(files.states.maintenance().value(record.key).untilMs)));
    return ExitOk;
}

int RunNotifyTest(const CtlArguments& arguments)
{
    const QString path = CtlDatabasePath(arguments);
    // The outcome is logged beside the database, which may not have been made yet.
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QString settings = MonitorSettings::DefaultPath();
    StderrNotices notices;
    EventLog log(EventLog::PathBeside(path), notices);
    NotifyCenter center(path, log, notices, MakeTransport);
    center.loadSettings(settings);
    const QString name = arguments.arguments.value(0);
    if (!name.isEmpty() && !center.notifiers().contains(name)) {
        for (const QString& refused : center.refused()) {
            if (refused.startsWith(QStringLiteral("[notify.%1]").arg(name)))
                return Fail(ExitFailed, refused);
        }
        return Fail(ExitFailed, QStringLiteral("%1 has no group [notify.%2]").arg(settings, name));
    }
    if (center.notifiers().isEmpty())
        return Fail(ExitFailed, QStringLiteral("%1 has no usable notifier ([notify.NAME] group)").arg(settings));
    bool all = name.isEmpty() ? center.refused().isEmpty() : true;
    int waiting = 0;
    QEventLoop loop;
    QObject::connect(&center, &NotifyCenter::tested, &loop, [&](const QString& notifier, const DeliveryResult& result) {
        const bool delivered = result.outcome == DeliveryResult::Outcome::Delivered;
        all = all && delivered;
        PrintOut(delivered ? QStringLiteral("%1: delivered\n").arg(notifier)
                           : QStringLiteral("%1: not delivered: %2\n").arg(notifier, result.reason));
        if (--waiting == 0)
            loop.quit();
    });
    waiting = center.sendTests(name);
    if (waiting > 0)
        loop.exec();
    return all ? ExitOk : ExitFailed;
}

} // namespace nms
