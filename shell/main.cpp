// The console's start: single instance first, then the window's own start-up.

#include <QApplication>
#include <QDir>
#include <QScreen>

#include "services/EchoService.h"
#include "services/InstanceLock.h"
#include "platform/MessageBoxes.h"
#include "services/NeighbourTable.h"
#include "services/TerminationSignals.h"
#include "shell/FrmMain.h"
#include "shell/SingleInstance.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orbilane-nms"));
    QApplication::setApplicationVersion(nms::VersionText());
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
    environment.databasePath = QDir(QApplication::applicationDirPath()).filePath(QStringLiteral("nms.ini"));
    environment.messages = &messages;
    environment.echo = &echo;
    environment.neighbours = &neighbours;

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
    window.show();
    window.txtElementName->setFocus();
    return app.exec();
}
