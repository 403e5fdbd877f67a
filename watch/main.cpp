// orbilane-watch: the monitor of every element as a system service, on the core alone (no
// window, no display). Started by systemd (packaging/orbilane-watch.service); runs by hand too.

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

#include "base/ProgramInfo.h"
#include "services/ServiceManager.h"
#include "services/TerminationSignals.h"
#include "services/WatchPresence.h"
#include "watch/WatchService.h"

#include <csignal>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orbilane-watch"));
    QCoreApplication::setApplicationVersion(nms::VersionText());

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Watches every element of the database around the clock: presence, audio, events to the "
                       "journal, metrics for Prometheus. SIGHUP reads the settings and the database again."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption database(QStringLiteral("database"), QStringLiteral("The element database."),
                                      QStringLiteral("PATH"), QStringLiteral("/var/lib/orbilane-nms/nms.ini"));
    const QCommandLineOption config(QStringLiteral("config"), QStringLiteral("The settings ([monitor] group)."),
                                    QStringLiteral("PATH"), QStringLiteral("/etc/orbilane-nms/orbilane-nms.conf"));
    parser.addOptions({database, config});
    if (!parser.parse(QCoreApplication::arguments()) || !parser.positionalArguments().isEmpty()) {
        const QString error =
            parser.errorText().isEmpty() ? QStringLiteral("no arguments are taken") : parser.errorText();
        std::fprintf(stderr, "orbilane-watch: %s\n\n%s", qPrintable(error), qPrintable(parser.helpText()));
        return nms::WatchExitUsage;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();

    nms::SystemdServiceManager manager;
    nms::WatchNotices notices(manager);
    // The console and orbilanectl look for this lock to say that the service holds their port.
    nms::WatchLock lock;
    if (!lock.acquire())
        notices.information(QString(),
                            QStringLiteral("The lock %1 could not be taken (%2); the console will not be "
                                           "able to tell that this watch holds its port.")
                                .arg(lock.path(), lock.errorString()));

    nms::TerminationSignals signals_;
    nms::WatchService service({parser.value(database), parser.value(config)}, manager);
    QObject::connect(&signals_, &nms::TerminationSignals::received, &service, [&service](int number) {
        if (number == SIGHUP) {
            service.reload();
            return;
        }
        service.stop();
        QCoreApplication::exit(nms::WatchExitOk);
    });
    const int started = service.start();
    if (started != nms::WatchExitOk)
        return started;
    return app.exec();
}
