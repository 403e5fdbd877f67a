// The monitor of every element at scale: 1,000 elements on the shared host, watched by the
// console's core with its real ICMP socket. CPU and resident memory over minutes, presence only
// and with every encoder's audio; how long an element that drops takes to be reported down; no
// false alarm while all answer; and the 20 Hz meter of one encoder beside it all.

#include "system/WatchBench.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include "database/ElementRecords.h"
#include "services/EchoSweep.h"
#include "services/NeighbourTable.h"
#include "support/CoreFixture.h"
#include "support/TestNetwork.h"
#include "system/ProcessUsage.h"

namespace nms::bench {

namespace {

void Out(const QString& text)
{
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

void RunFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct WatchRun {
    double cpuPercent = 0;
    qint64 rssStartKib = 0, rssEndKib = 0, rssMaxKib = 0;
    int falseDown = 0, falseSilence = 0;
    int up = 0;
};

} // namespace

void WatchTable(test::TestNetwork& network, const QString& simulator, int count, int seconds)
{
    Out(QStringLiteral("\nWatching %1 elements (shared host), %2 s per measurement").arg(count).arg(seconds));
    QTemporaryDir folder;
    const QString control = folder.filePath(QStringLiteral("control"));
    QProcess sim;
    const QByteArray nsPath = QFile::encodeName(QStringLiteral("/run/netns/%1-m").arg(network.name()));
    sim.setChildProcessModifier([nsPath] {
        const int fd = ::open(nsPath.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0)
            ::_exit(127);
    });
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(simulator, {QStringLiteral("--elements"), QString::number(count), QStringLiteral("--interface"),
                          QStringLiteral("ev"), QStringLiteral("--name"), QStringLiteral("SIM"),
                          QStringLiteral("--control"), control});
    bool ready = false;
    QElapsedTimer waited;
    waited.start();
    while (!ready && waited.elapsed() < 30000 && sim.state() != QProcess::NotRunning) {
        sim.waitForReadyRead(500);
        while (sim.canReadLine())
            ready = ready || sim.readLine().startsWith("READY");
    }
    if (!ready) {
        Out(QStringLiteral("simulator did not start"));
        return;
    }

    auto runWatch = [&](bool audio, int forSeconds, WatchRun* run, const std::function<void(test::CoreFixture&)>& after) {
        LinuxEchoSweep sweep;
        LinuxNeighbourTable neighbours;
        test::CoreOptions options;
        options.timing = Timing(); // the product's periods: the meter at 20 Hz
        options.productPorts = true;
        options.neighbours = &neighbours;
        options.sweep = &sweep;
        MonitorSettings settings;
        settings.watchAudio = audio;
        options.watch = settings;
        test::CoreFixture f(options);
        for (int i = 1; i <= count; ++i) {
            test::StoredElement element;
            element.ip = network.elementIp(i);
            element.name = QStringLiteral("SIM %1").arg(i);
            element.role = 1;
            f.writeElement(MacTextToKey(network.elementMac(i).toUpper()), element);
        }
        if (!f.start()) {
            Out(QStringLiteral("console could not start"));
            return;
        }
        int down = 0, silence = 0;
        QObject::connect(&f->monitor, &LinkMonitor::event, &f->monitor, [&](const QString& name) {
            down += name == QLatin1String("element-down");
            silence += name == QLatin1String("silence");
        });
        // Two periods to learn every neighbour and see every element answer.
        RunFor(12000);
        run->up = f->monitor.summary().up;
        run->rssStartKib = run->rssMaxKib = ResidentKib();
        QElapsedTimer wall;
        wall.start();
        const qint64 cpu = ProcessCpuMicroseconds();
        for (int s = 0; s < forSeconds; s += 10) {
            RunFor(10000);
            run->rssMaxKib = qMax(run->rssMaxKib, ResidentKib());
        }
        run->cpuPercent = 100.0 * double(ProcessCpuMicroseconds() - cpu) / double(wall.nsecsElapsed() / 1000);
        run->rssEndKib = ResidentKib();
        run->falseDown = down;
        run->falseSilence = silence;
        if (after)
            after(f);
    };

    WatchRun presence, withAudio;
    runWatch(false, seconds, &presence, {});
    std::vector<double> downAfter;
    double meterRate = 0;
    int meterZero = 0;
    runWatch(true, seconds, &withAudio, [&](test::CoreFixture& f) {
        // The selected encoder's 20 Hz meter beside every encoder's audio.
        const QString shownKey = MacTextToKey(network.elementMac(count / 2).toUpper());
        if (f.select(shownKey)) {
            int levels = 0;
            QObject::connect(&f->audio, &AudioMonitor::levelChanged, &f->audio, [&](const AudioLevel& level) {
                ++levels;
                meterZero += level.peak == 0;
            });
            f->audio.start();
            RunFor(500);
            levels = 0;
            RunFor(10000);
            f->audio.stop();
            meterRate = levels / 10.0;
        }
        // Elements dropping one at a time: from the command to the element-down event.
        for (int i : {7, 250, 501, 777, 999}) {
            if (i > count)
                continue;
            const int row = f->monitor.indexOf(MacTextToKey(network.elementMac(i).toUpper()));
            QElapsedTimer took;
            bool seen = false;
            QMetaObject::Connection c = QObject::connect(
                &f->monitor, &LinkMonitor::stateChanged, &f->monitor, [&](int index, ElementState, ElementState to) {
                    seen = seen || (index == row && to == ElementState::Down);
                });
            if (!test::TestNetwork::tellSimulator(control, QByteArray("down ") + QByteArray::number(i)))
                break;
            took.start();
            while (!seen && took.elapsed() < 40000)
                RunFor(50);
            QObject::disconnect(c);
            if (seen)
                downAfter.push_back(took.elapsed() / 1000.0);
            test::TestNetwork::tellSimulator(control, QByteArray("up ") + QByteArray::number(i));
        }
    });
    sim.terminate();
    if (!sim.waitForFinished(20000))
        sim.kill();

    Out(QStringLiteral("| watching | elements up | CPU (one core) | resident memory start / max / end | false "
                       "element-down | false silence |"));
    Out(QStringLiteral("|---|---:|---:|---:|---:|---:|"));
    for (const auto& [label, run] : {std::pair<const char*, const WatchRun&> {"presence only", presence},
                                     std::pair<const char*, const WatchRun&> {"presence and audio", withAudio}}) {
        Out(QStringLiteral("| %1 | %2 | %3 % | %4 / %5 / %6 MiB | %7 | %8 |")
                .arg(QLatin1String(label))
                .arg(run.up)
                .arg(run.cpuPercent, 0, 'f', 2)
                .arg(run.rssStartKib / 1024.0, 0, 'f', 1)
                .arg(run.rssMaxKib / 1024.0, 0, 'f', 1)
                .arg(run.rssEndKib / 1024.0, 0, 'f', 1)
                .arg(run.falseDown)
                .arg(run.falseSilence));
    }
    Out(QStringLiteral("| selected encoder's meter beside it | level answers drawn per second: %1 (zero peaks: %2) |")
            .arg(meterRate, 0, 'f', 1)
            .arg(meterZero));
    QStringList times;
    for (double t : downAfter)
        times.append(QString::number(t, 'f', 1));
    Out(QStringLiteral("| an element dropping | reported element-down after (s): %1 (median %2, slowest %3) |")
            .arg(times.join(QStringLiteral(", ")))
            .arg(Median(downAfter), 0, 'f', 1)
            .arg(downAfter.empty() ? 0.0 : *std::max_element(downAfter.begin(), downAfter.end()), 0, 'f', 1));
}

} // namespace nms::bench
