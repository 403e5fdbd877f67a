// System benchmarks of the console on the namespace LAN, with one simulator process playing
// every element (scripts/testnet-up.sh NAME N --shared-host, orbilane-element-sim --elements).
// Runs inside the console's namespace; scripts/run-benchmarks.sh sets it all up:
//
//   ip netns exec NAME-c nms_system_bench --network NAME --simulator PATH [--runs 3] [--seconds 10]
//
// Prints one table per measurement, each figure the median of the runs.
#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QProcess>
#include <QTimer>

#include <QFile>

#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include "console/DiscoveryCommand.h"
#include "console/EditorPanel.h"
#include "console/ElementListPanel.h"
#include "database/ElementRecords.h"
#include "discovery/DiscoverySession.h"
#include "link/LinkEndpoint.h"
#include "micro/BenchDatabase.h"
#include "services/NeighbourTable.h"
#include "session/FeedbackProcessor.h"
#include "support/ConsoleFixture.h"
#include "support/TestNetwork.h"
#include "system/ProcessUsage.h"
#include "system/ServiceBench.h"
#include "system/WatchBench.h"

namespace nms::bench {

namespace {

void out(const QString& text)
{
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

// Lets the event loop run for `ms` without any busy waiting.
void runEventLoopFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The simulator playing `count` elements on ev1..evN of the shared element host.
class Simulator {
public:
    Simulator(QString network, QString program) : network_(std::move(network)), program_(std::move(program)) { }
    ~Simulator() { stop(); }

    bool start(int count)
    {
        stop();
        // Started straight into the element host's namespace (no `ip netns exec` in between,
        // which would keep the simulator running after its own end), so the PID is the simulator's.
        const QByteArray nsPath = QFile::encodeName(QStringLiteral("/run/netns/%1-m").arg(network_));
        process_.setChildProcessModifier([nsPath] {
            const int fd = ::open(nsPath.constData(), O_RDONLY | O_CLOEXEC);
            if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0)
                ::_exit(127);
        });
        process_.setProgram(program_);
        process_.setArguments({QStringLiteral("--elements"), QString::number(count), QStringLiteral("--interface"),
                               QStringLiteral("ev"), QStringLiteral("--name"), QStringLiteral("SIM")});
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start();
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 20000 && process_.state() != QProcess::NotRunning) {
            if (process_.canReadLine() && process_.readLine().startsWith("READY"))
                return true;
            process_.waitForReadyRead(500);
        }
        out(QStringLiteral("simulator for %1 elements did not start").arg(count));
        return false;
    }

    void stop()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.terminate();
        if (!process_.waitForFinished(3000)) {
            process_.kill();
            process_.waitForFinished(3000);
        }
    }

private:
    QString network_, program_;
    QProcess process_;
};

// The console as started on the LAN: product ports, the machine's networks, the kernel's
// neighbour table, the product's periods.
test::ConsoleOptions lanOptions(NeighbourTable* table)
{
    test::ConsoleOptions o;
    o.productPorts = true;
    o.neighbours = table;
    o.timing = Timing();
    return o;
}

std::unique_ptr<test::TestNetwork> g_network;

// Both sides forget each other, as on a first discovery: every element asks for the console's
// MAC before it answers, and the console learns the element's from that request.
void flushNeighbours()
{
    QProcess::execute(QStringLiteral("ip"), {QStringLiteral("neigh"), QStringLiteral("flush"), QStringLiteral("all")});
    QProcess::execute(QStringLiteral("ip"),
                      {QStringLiteral("-n"), g_network->name() + QStringLiteral("-m"), QStringLiteral("neigh"),
                       QStringLiteral("flush"), QStringLiteral("all")});
}

// The kernel's count of datagrams it dropped for a full receive buffer, in this namespace.
qint64 UdpReceiveBufferErrors()
{
    QFile file(QStringLiteral("/proc/net/snmp"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    QList<QByteArray> header;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (!line.startsWith("Udp:"))
            continue;
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (header.isEmpty()) {
            header = fields;
            continue;
        }
        const qsizetype at = header.indexOf("RcvbufErrors");
        return at > 0 && at < fields.size() ? fields.at(at).toLongLong() : -1;
    }
    return -1;
}

enum class Neighbours { Warm, Cold };

struct DiscoveryRun {
    int recorded = 0, arrived = 0, dropped = 0, kernelDropped = 0, macFailures = 0, lateErrors = 0;
    double pagingToLastWrittenMs = -1;
};

DiscoveryRun discoverOnce(Neighbours neighbours)
{
    DiscoveryRun run;
    if (!(neighbours == Neighbours::Warm ? g_network->makeNeighboursWarm() : g_network->makeNeighboursCold())) {
        out(QStringLiteral("the neighbour tables could not be prepared: %1").arg(g_network->errorString()));
        return run;
    }
    LinuxNeighbourTable table;
    test::ConsoleFixture fx(lanOptions(&table));
    if (!fx.load()) {
        out(QStringLiteral("the console could not bind its port"));
        return run;
    }
    fx->show();
    QElapsedTimer clock;
    clock.start();
    qint64 lastWritten = -1;
    QObject::connect(&fx.core().link, &LinkEndpoint::feedbackArrived, &fx.core().link,
                     [&](const QByteArray&) { ++run.arrived; });
    QObject::connect(&fx.core().discovery, &DiscoverySession::batchWritten, &fx.core().discovery,
                     [&](int) { lastWritten = clock.nsecsElapsed(); });
    fx.boxes.clear();
    fx.boxes.setNextAnswer(MsgAnswer::Yes);
    qint64 paging = -1;
    QObject::connect(fx->discovery, &DiscoveryCommand::pagingStarted, fx->discovery,
                     [&] { paging = clock.nsecsElapsed(); });
    const qint64 kernelBefore = UdpReceiveBufferErrors();
    fx->discovery->mnuDiscover_Click();
    // Lookups still open when the window closed end as ordinary feedback; let them finish.
    runEventLoopFor(500);
    fx.showNotices();
    run.kernelDropped = int(UdpReceiveBufferErrors() - kernelBefore);
    run.recorded = int(fx->elementList->lstHidden().size());
    run.dropped = fx.core().feedback.dropped();
    for (const QString& text : fx.boxes.texts()) {
        if (text.contains(QStringLiteral("'Element MAC'")))
            ++run.macFailures;
        else if (text.contains(QStringLiteral("does not match the selected element")))
            ++run.lateErrors;
    }
    if (paging >= 0 && lastWritten >= paging)
        run.pagingToLastWrittenMs = double(lastWritten - paging) / 1e6;
    return run;
}

void discoveryTable(Simulator& sim, int runs)
{
    out(QStringLiteral("\nDiscovery: elements answering one paging at once (median of %1 runs)").arg(runs));
    {
        LinuxNeighbourTable table;
        test::ConsoleFixture fx(lanOptions(&table));
        if (fx.load()) {
            QFile rmem(QStringLiteral("/proc/sys/net/core/rmem_max"));
            rmem.open(QIODevice::ReadOnly);
            out(QStringLiteral("receive buffer: %1 bytes asked, %2 granted (net.core.rmem_max %3)")
                    .arg(LinkEndpoint::ReceiveBufferWanted)
                    .arg(fx.core().link.receiveBufferGranted())
                    .arg(QString::fromLatin1(rmem.readAll().trimmed())));
        }
    }
    out(QStringLiteral("| elements | neighbour table | answers arrived | recorded in nms.ini | dropped by the kernel "
                       "| dropped by the console | MAC not found | paging -> last section written (window 3000 ms) |"));
    out(QStringLiteral("|---:|---|---:|---:|---:|---:|---:|---:|"));
    for (int count : {250, 500, 1000}) {
        if (!sim.start(count))
            return;
        for (Neighbours neighbours : {Neighbours::Warm, Neighbours::Cold}) {
            std::vector<int> arrived, recorded, kernel, dropped, macs;
            std::vector<double> whole;
            for (int r = 0; r < runs; ++r) {
                const DiscoveryRun run = discoverOnce(neighbours);
                arrived.push_back(run.arrived);
                recorded.push_back(run.recorded);
                kernel.push_back(run.kernelDropped);
                dropped.push_back(run.dropped);
                macs.push_back(run.macFailures);
                whole.push_back(run.pagingToLastWrittenMs);
            }
            out(QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 | %7 | %8 ms |")
                    .arg(count)
                    .arg(neighbours == Neighbours::Warm ? QStringLiteral("warm") : QStringLiteral("cold"))
                    .arg(Median(arrived))
                    .arg(Median(recorded))
                    .arg(Median(kernel))
                    .arg(Median(dropped))
                    .arg(Median(macs))
                    .arg(Median(whole), 0, 'f', 1));
        }
    }
}

// A ConfigWrite to one element (of a database of `count` from a discovery) renaming it; the
// time from its feedback reaching the console to the success message.
void latencyTable(Simulator& sim, int count, int runs)
{
    if (!sim.start(count))
        return;
    flushNeighbours();
    LinuxNeighbourTable table;
    test::ConsoleFixture fx(lanOptions(&table));
    if (!fx.load())
        return;
    fx->show();
    fx.boxes.setNextAnswer(MsgAnswer::Yes);
    fx->discovery->mnuDiscover_Click();
    runEventLoopFor(500);
    fx.showNotices();
    const QStringList keys = fx->elementList->lstHidden();
    out(QStringLiteral("\nFeedback latency: arrival of the element's answer -> \"sucessfuly saved\" message (%1 "
                       "elements answering, %2 in nms.ini)")
            .arg(count)
            .arg(keys.size()));
    const QString key = keys.value(keys.size() / 2);
    if (key.isEmpty() || !fx.select(key)) {
        out(QStringLiteral("no element to configure"));
        return;
    }
    QElapsedTimer clock;
    qint64 sent = 0, arrived = 0, shown = 0;
    QEventLoop loop;
    QObject::connect(&fx.core().link, &LinkEndpoint::feedbackArrived, &loop,
                     [&](const QByteArray&) { arrived = clock.nsecsElapsed(); });
    QObject::connect(&fx.boxes, &test::ScriptedMessageBoxes::boxShown, &loop, [&](const QString& text) {
        if (text.contains(QStringLiteral("sucessfuly"))) {
            shown = clock.nsecsElapsed();
            loop.quit();
        }
    });
    std::vector<double> latency, roundTrip;
    int failed = 0;
    clock.start();
    for (int r = 0; r < runs * 5; ++r) {
        fx->txtElementName->setText(r % 2 ? QStringLiteral("LATENCY A") : QStringLiteral("LATENCY B"));
        shown = 0;
        sent = clock.nsecsElapsed();
        if (!fx->editor->Send_Config()) {
            ++failed;
            continue;
        }
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        loop.exec();
        if (shown == 0) {
            ++failed;
            continue;
        }
        latency.push_back(double(shown - arrived) / 1e6);
        roundTrip.push_back(double(arrived - sent) / 1e6);
    }
    out(QStringLiteral("| answers | arrival -> message (median) | slowest | send -> arrival (network and element, "
                       "median) | failed |"));
    out(QStringLiteral("|---:|---:|---:|---:|---:|"));
    const double slowest = latency.empty() ? 0 : *std::max_element(latency.begin(), latency.end());
    out(QStringLiteral("| %1 | %2 ms | %3 ms | %4 ms | %5 |")
            .arg(latency.size())
            .arg(Median(latency), 0, 'f', 2)
            .arg(slowest, 0, 'f', 2)
            .arg(Median(roundTrip), 0, 'f', 2)
            .arg(failed));
}

// CPU use of the whole console process over `seconds`, idle and while the meter polls.
void cpuTable(Simulator& sim, int runs, int seconds)
{
    out(QStringLiteral("\nConsole CPU use, percent of one core over %1 s (median of %2 runs)").arg(seconds).arg(runs));
    if (!sim.start(1))
        return;
    flushNeighbours();
    LinuxNeighbourTable table;
    test::ConsoleFixture fx(lanOptions(&table));
    if (!fx.load())
        return;
    fx->show();
    fx.boxes.setNextAnswer(MsgAnswer::Yes);
    fx->discovery->mnuDiscover_Click();
    runEventLoopFor(500);
    fx.showNotices();
    // A copy: selecting reloads the list the key would otherwise be read from.
    const QString key = fx->elementList->lstHidden().value(fx->elementList->lstHidden().size() - 1);
    if (key.isEmpty() || !fx.select(key)) {
        out(QStringLiteral("no element to monitor"));
        return;
    }
    int levels = 0;
    QObject::connect(&fx.core().link, &LinkEndpoint::levelSamplesArrived, &fx.core().link,
                     [&](const QByteArray&) { ++levels; });
    auto measure = [&](bool metering) {
        if (metering)
            fx.core().audio.start();
        else
            fx.core().audio.stop();
        runEventLoopFor(500); // settle
        levels = 0;
        QElapsedTimer wall;
        wall.start();
        const qint64 cpu = ProcessCpuMicroseconds();
        runEventLoopFor(seconds * 1000);
        const double percent = 100.0 * double(ProcessCpuMicroseconds() - cpu) / double(wall.nsecsElapsed() / 1000);
        return std::pair<double, double>(percent, levels / (double(wall.elapsed()) / 1000.0));
    };
    std::vector<double> idle, meter, rate;
    for (int r = 0; r < runs; ++r) {
        idle.push_back(measure(false).first);
        const auto [percent, perSecond] = measure(true);
        meter.push_back(percent);
        rate.push_back(perSecond);
    }
    fx.core().audio.stop();
    out(QStringLiteral("| state | CPU | level answers per second |"));
    out(QStringLiteral("|---|---:|---:|"));
    out(QStringLiteral("| idle (element selected, meter off) | %1 % | 0 |").arg(Median(idle), 0, 'f', 2));
    out(QStringLiteral("| level meter polling every 50 ms | %1 % | %2 |")
            .arg(Median(meter), 0, 'f', 2)
            .arg(Median(rate), 0, 'f', 1));
}

// Resident memory: a fresh console at idle, then with 1,000 elements listed. Runs first, before
// anything else has grown the process.
void memoryTable()
{
    out(QStringLiteral("\nConsole resident memory (VmRSS)"));
    LinuxNeighbourTable table;
    test::ConsoleFixture fx(lanOptions(&table));
    WriteBenchDatabase(fx.database(), 1);
    if (!fx.load())
        return;
    fx->show();
    runEventLoopFor(1000);
    const qint64 idle = ResidentKib();
    WriteBenchDatabase(fx.database(), 1000);
    fx->Load_Config();
    runEventLoopFor(1000);
    const qint64 listed = ResidentKib();
    out(QStringLiteral("| state | resident memory |"));
    out(QStringLiteral("|---|---:|"));
    out(QStringLiteral("| idle after start-up (1 element) | %1 MiB |").arg(idle / 1024.0, 0, 'f', 1));
    out(QStringLiteral("| 1,000 elements listed | %1 MiB |").arg(listed / 1024.0, 0, 'f', 1));
}

} // namespace

} // namespace nms::bench

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("network"), QStringLiteral("Name given to testnet-up.sh ... --shared-host."),
         QStringLiteral("NAME")},
        {QStringLiteral("simulator"), QStringLiteral("Path of orbilane-element-sim."), QStringLiteral("PATH")},
        {QStringLiteral("runs"), QStringLiteral("Runs per figure (median). Default 3."), QStringLiteral("N"),
         QStringLiteral("3")},
        {QStringLiteral("seconds"), QStringLiteral("Length of one CPU measurement. Default 10."), QStringLiteral("S"),
         QStringLiteral("10")},
        {QStringLiteral("only"), QStringLiteral("One table: memory, discovery, latency, cpu, watch or service."),
         QStringLiteral("TABLE")},
        {QStringLiteral("watch-seconds"),
         QStringLiteral("Length of one measurement of the monitor at 1,000 elements. Default 300."),
         QStringLiteral("S"), QStringLiteral("300")},
        {QStringLiteral("watch-program"), QStringLiteral("Path of orbilane-watch, for the service table."),
         QStringLiteral("PATH")},
    });
    parser.process(app);
    const QString network = parser.value(QStringLiteral("network"));
    const QString simulator = parser.value(QStringLiteral("simulator"));
    if (network.isEmpty() || simulator.isEmpty()) {
        std::fprintf(stderr, "nms_system_bench: --network and --simulator are needed\n");
        return 2;
    }
    const int runs = qMax(1, parser.value(QStringLiteral("runs")).toInt());
    const int seconds = qMax(1, parser.value(QStringLiteral("seconds")).toInt());
    const QString only = parser.value(QStringLiteral("only"));
    auto wanted = [&](const char* table) { return only.isEmpty() || only == QLatin1String(table); };

    using namespace nms::bench;
    QString error;
    g_network = nms::test::TestNetwork::attach(network, &error);
    if (!g_network) {
        std::fprintf(stderr, "nms_system_bench: network %s: %s\n", qPrintable(network), qPrintable(error));
        return 2;
    }
    Simulator sim(network, simulator);
    if (wanted("memory"))
        memoryTable();
    if (wanted("discovery"))
        discoveryTable(sim, runs);
    if (wanted("latency"))
        latencyTable(sim, 250, runs);
    if (wanted("cpu"))
        cpuTable(sim, runs, seconds);
    sim.stop();
    if (wanted("watch"))
        WatchTable(*g_network, simulator, g_network->elementCount(),
                   qMax(10, parser.value(QStringLiteral("watch-seconds")).toInt()));
    if (wanted("service") && parser.isSet(QStringLiteral("watch-program")))
        ServiceTable(*g_network, simulator, parser.value(QStringLiteral("watch-program")), g_network->elementCount(),
                     qMax(10, parser.value(QStringLiteral("watch-seconds")).toInt()));
    return 0;
}
