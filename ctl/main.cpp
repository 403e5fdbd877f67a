// orbilanectl: the console's work from a shell, on the console's core alone (no window, no
// display), and a check for monitoring systems.

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cstdio>

#include "base/ProgramInfo.h"
#include "base/Trace.h"
#include "ctl/Commands.h"
#include "ctl/CtlCommandLine.h"
#include "database/DatabaseLocation.h"

namespace nms {

QString CtlDatabasePath(const CtlArguments& arguments)
{
    // The console's rule, from the folder of the console's program: this one is installed beside it.
    return ChooseDatabasePath(arguments.databasePath, QCoreApplication::applicationDirPath(),
                              QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
}

} // namespace nms

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orbilanectl"));
    QCoreApplication::setApplicationVersion(nms::VersionText());
    const nms::CtlArguments arguments = nms::ParseCtlArguments(QCoreApplication::arguments());
    if (arguments.finished) {
        std::fputs(qPrintable(arguments.output), arguments.toStandardError ? stderr : stdout);
        return arguments.exitCode;
    }
    if (arguments.trace) {
        qputenv("QT_FORCE_STDERR_LOGGING", "1");
        qSetMessagePattern(QStringLiteral("%{time yyyy-MM-dd hh:mm:ss.zzz} %{category}: %{message}"));
        nms::EnableTrace();
    }
    qCDebug(nms::traceStore).noquote() << "database in use:" << nms::CtlDatabasePath(arguments);

    using Run = int (*)(const nms::CtlArguments&);
    const std::pair<const char*, Run> commands[] = {
        {"discover", nms::RunDiscover},
        {"list", nms::RunList},
        {"show", nms::RunShow},
        {"ping", nms::RunPing},
        {"level", nms::RunLevel},
        {"set", nms::RunSet},
        {"attenuate", nms::RunAttenuate},
        {"export", nms::RunExport},
        {"monitor", nms::RunMonitor},
        {"check", nms::RunCheck},
        {"history", nms::RunHistory},
        {"save-config", nms::RunSaveConfig},
        {"apply-config", nms::RunApplyConfig},
        {"ack", nms::RunAck},
        {"maintenance", nms::RunMaintenance},
        {"notify-test", nms::RunNotifyTest},
    };
    for (const auto& [name, run] : commands) {
        if (arguments.command->name == QLatin1String(name))
            return run(arguments);
    }
    return nms::ExitUsage;
}
