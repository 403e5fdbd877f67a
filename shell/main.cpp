// The console's start: the command line, the single-instance test, then the window's own start-up.

#include <QApplication>
#include <QDir>
#include <QScreen>
#include <QStandardPaths>
#include <QSystemTrayIcon>

#include <cstdio>

#include <unistd.h>

#include "base/Trace.h"
#include "database/DatabaseLocation.h"
#include "platform/MessageBoxes.h"
#include "services/EchoService.h"
#include "services/EchoSweep.h"
#include "services/InstanceLock.h"
#include "services/NeighbourTable.h"
#include "services/TerminationSignals.h"
#include "shell/CommandLine.h"
#include "shell/FrmMain.h"
#include "shell/SingleInstance.h"

namespace {

void SetNames()
{
    QCoreApplication::setApplicationName(QStringLiteral("orbilane-nms"));
    QCoreApplication::setApplicationVersion(nms::VersionText());
}

} // namespace

int main(int argc, char* argv[])
{
    // The command line first, with no display needed: --help and --version open no window.
    nms::CommandLine options;
    {
        QCoreApplication parsing(argc, argv);
        SetNames();
        options = nms::ParseCommandLine(parsing.arguments());
    }
    if (options.finished) {
        std::fputs(qPrintable(options.output), options.toStandardError ? stderr : stdout);
        return options.exitCode;
    }
    if (options.trace) {
        // On standard error, where a desktop session's journal keeps it, with the time of each line.
        qputenv("QT_FORCE_STDERR_LOGGING", "1");
        qSetMessagePattern(QStringLiteral("%{time yyyy-MM-dd hh:mm:ss.zzz} %{category}: %{message}"));
        nms::EnableTrace();
    }

    QApplication app(argc, argv);
    SetNames();
    // The id a Wayland compositor and a dock match with the desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.kestrion.orbilane_nms"));
    // The window is a tool window and message boxes may be the only windows for a moment:
    // the program ends only through its own shutdown.
    QApplication::setQuitOnLastWindowClosed(false);

    nms::QtMessageBoxes messages;
    nms::InstanceLock instance;
    if (!nms::CheckSingleInstance(instance, messages))
        return 0;

    nms::LinuxEchoService echo;
    nms::LinuxNeighbourTable neighbours;
    nms::ConsoleEnvironment environment;
    environment.databasePath =
        nms::ChooseDatabasePath(options.databasePath, QApplication::applicationDirPath(),
                                QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
    // The per-user folder is made on first use; the file itself on the first write.
    QDir().mkpath(QFileInfo(environment.databasePath).absolutePath());
    qCDebug(nms::traceStore).noquote() << "database in use:" << environment.databasePath;
    // Test hook: NMS_TEST_TIMING_DIVISOR=N makes every period N times shorter (nms::Timing::Fast),
    // so that end-to-end tests of the program need not wait out its windows. Never set in use.
    if (const int divisor = qEnvironmentVariableIntValue("NMS_TEST_TIMING_DIVISOR"); divisor > 1)
        environment.timing = nms::Timing::Fast(divisor);
    environment.messages = &messages;
    environment.echo = &echo;
    environment.neighbours = &neighbours;
    // Every stored element is watched, from one ICMP socket, as the settings file says.
    nms::LinuxEchoSweep sweep;
    environment.watch = true;
    environment.sweep = &sweep;
    environment.monitorSettingsPath = nms::MonitorSettings::DefaultPath();
    // The notifiers alarm from the same file, whenever the console is open.
    environment.notifySettingsPath = environment.monitorSettingsPath;

    nms::FrmMain window(environment);
    nms::TerminationSignals termination;
    bool terminated = false;
    QObject::connect(&termination, &nms::TerminationSignals::received, &window, [&window, &terminated] {
        terminated = true;
        window.Form_Unload();
        // Ends every running loop, also a message box's nested one during start-up.
        QCoreApplication::exit(0);
    });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &window, [&window] { window.Form_Unload(); });

    const bool loaded = window.Form_Load();
    if (terminated)
        return 0;
    if (!loaded)
        return 1;

    if (QScreen* screen = QGuiApplication::primaryScreen())
        window.move(screen->availableGeometry().center() - window.rect().center());
    // Hidden only where a notification area can bring it back; at a login the panel may not be
    // there yet, and a window shown is never lost.
    if (!options.hidden || !QSystemTrayIcon::isSystemTrayAvailable()) {
        window.show();
        window.txtElementName->setFocus();
    }
    const int status = app.exec();
    // Qt 6.4's Wayland plugin may wait forever for its event thread while the application object
    // goes away. Everything of the console is shut down and written by now (the lock released,
    // the database and the event log closed), so nothing is lost by not waiting.
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        std::fflush(stdout);
        std::fflush(stderr);
        ::_exit(status);
    }
    return status;
}
