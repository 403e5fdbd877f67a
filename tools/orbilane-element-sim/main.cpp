// orbilane-element-sim: a stand-in for one Network Element, for tests and demonstrations
// on a namespace LAN (see scripts/testnet-up.sh and tools/README.md).

#include "ControlFifo.h"
#include "DatagramLog.h"
#include "ElementControl.h"
#include "ElementSimulator.h"
#include "InterfaceAddress.h"
#include "SignalWatcher.h"
#include "SimOptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

#include <sys/resource.h>

namespace {

int failWith(const QString& message, int code)
{
    std::fprintf(stderr, "orbilane-element-sim: %s\n", qPrintable(message));
    return code;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orbilane-element-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(SIM_VERSION));

    QCommandLineParser parser;
    sim::declareOptions(parser);
    if (!parser.parse(QCoreApplication::arguments()))
        return failWith(parser.errorText() + QStringLiteral(" (see --help)"), 2);
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();

    QString error;
    const std::optional<sim::SimOptions> options = sim::readOptions(parser, &error);
    if (!options)
        return failWith(error, 2);
    sim::DatagramLog log;
    if (!log.open(options->logFile, &error))
        return failWith(error, 1);

    sim::SignalWatcher watcher;
    if (!watcher.install({SIGTERM, SIGINT, SIGUSR1, SIGUSR2}, &error))
        return failWith(error, 1);

    // One element, or with --elements one per interface <interface>1..N, three sockets each.
    const int count = options->elements > 0 ? options->elements : 1;
    if (options->elements > 0) {
        rlimit files {};
        if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
            files.rlim_cur = files.rlim_max;
            ::setrlimit(RLIMIT_NOFILE, &files);
        }
    }
    const QHash<QString, sim::InterfaceAddress> all =
        options->elements > 0 ? sim::readInterfaceAddresses() : QHash<QString, sim::InterfaceAddress>();
    std::vector<std::unique_ptr<sim::ElementSimulator>> elements;
    for (int i = 1; i <= count; ++i) {
        const sim::SimOptions own = options->elements > 0 ? sim::elementOptions(*options, i) : *options;
        std::optional<sim::InterfaceAddress> address;
        if (options->elements == 0)
            address = sim::readInterfaceAddress(own.interfaceName, &error);
        else if (all.contains(own.interfaceName))
            address = all.value(own.interfaceName);
        else
            sim::readInterfaceAddress(own.interfaceName, &error); // only to say why it has none
        if (!address)
            return failWith(error, 1);
        elements.push_back(std::make_unique<sim::ElementSimulator>(own, *address, &log));
        if (!elements.back()->start(&error))
            return failWith(error, 1);
    }

    std::vector<sim::ElementSimulator*> played;
    for (const auto& element : elements)
        played.push_back(element.get());
    sim::ElementControl control(std::move(played));
    // Signals wait in the watcher's pipe until the event loop runs, so none is lost before this.
    QObject::connect(&watcher, &sim::SignalWatcher::received, &app, [&](int signalNumber) {
        if (signalNumber == SIGUSR1)
            control.toggleNetwork();
        else if (signalNumber == SIGUSR2)
            control.toggleSilence();
        else
            QCoreApplication::quit();
    });
    sim::ControlFifo fifo;
    if (!options->controlPath.isEmpty()) {
        if (!fifo.open(options->controlPath, &error))
            return failWith(error, 1);
        QObject::connect(&fifo, &sim::ControlFifo::lineReceived, &control, &sim::ElementControl::execute);
    }

    std::fputs("READY\n", stdout);
    std::fflush(stdout);
    return app.exec();
}
