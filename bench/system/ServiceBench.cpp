// The watch service at scale: orbilane-watch as systemd starts it, on a database of 1,000
// elements of the shared host, every encoder's audio watched with the product's periods. Its CPU
// and memory are read from /proc for its own process; its events from its standard output; the
// metrics scraped over HTTP one request at a time, as Prometheus does.

#include "system/ServiceBench.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include "database/ElementRecords.h"
#include "database/ElementStore.h"
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

// utime + stime of another process, in clock ticks.
qint64 CpuTicks(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields.at(11).toLongLong() + fields.at(12).toLongLong() : -1;
}

qint64 RssKib(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

} // namespace

void ServiceTable(test::TestNetwork& network, const QString& simulator, const QString& watchProgram, int count,
                  int seconds)
{
    Out(QStringLiteral("\nThe watch service (orbilane-watch) at %1 elements (shared host), with audio, %2 s")
            .arg(count)
            .arg(seconds));
    QTemporaryDir folder;
    QProcess sim;
    const QByteArray nsPath = QFile::encodeName(QStringLiteral("/run/netns/%1-m").arg(network.name()));
    sim.setChildProcessModifier([nsPath] {
        const int fd = ::open(nsPath.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0)
            ::_exit(127);
    });
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(simulator,
              {QStringLiteral("--elements"), QString::number(count), QStringLiteral("--interface"),
               QStringLiteral("ev"), QStringLiteral("--name"), QStringLiteral("SIM")});
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

    // Every element an encoder, as the console's watch table has it.
    QList<ProfileFile::SectionEntries> sections;
    for (int i = 1; i <= count; ++i)
        sections.append({MacTextToKey(network.elementMac(i).toUpper()),
                         {{QStringLiteral("name"), QStringLiteral("SIM %1").arg(i)},
                          {QStringLiteral("ip"), network.elementIp(i)},
                          {QStringLiteral("role"), QStringLiteral("1")}}});
    const QString database = folder.filePath(QStringLiteral("nms.ini"));
    ElementStore(database).writeMany(sections);
    const QString settings = folder.filePath(QStringLiteral("orbilane-nms.conf"));
    QFile file(settings);
    if (file.open(QIODevice::WriteOnly))
        file.write("[monitor]\nmetrics_listen=127.0.0.1:29760\n");
    file.close();

    QProcess watch;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("NMS_WATCH_LOCK"), folder.filePath(QStringLiteral("watch.lock")));
    watch.setProcessEnvironment(environment);
    watch.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    watch.start(watchProgram, {QStringLiteral("--database"), database, QStringLiteral("--config"), settings});
    if (!watch.waitForStarted()) {
        Out(QStringLiteral("orbilane-watch did not start"));
        return;
    }
    const qint64 pid = watch.processId();
    QByteArray events;
    // Two periods to learn every neighbour and see every element answer.
    RunFor(12000);
    events += watch.readAllStandardOutput();
    const qint64 rssStart = RssKib(pid);
    qint64 rssMax = rssStart;
    const qint64 ticks = CpuTicks(pid);
    QElapsedTimer wall;
    wall.start();
    for (int s = 0; s < seconds; s += 5) {
        RunFor(5000);
        rssMax = qMax(rssMax, RssKib(pid));
    }
    const double cpu =
        100.0 * double(CpuTicks(pid) - ticks) / double(::sysconf(_SC_CLK_TCK)) / (double(wall.elapsed()) / 1000.0);
    const qint64 rssEnd = RssKib(pid);
    const QByteArray measured = watch.readAllStandardOutput();

    // GET /metrics, one request at a time, each timed from the request to the last byte.
    QNetworkAccessManager http;
    std::vector<double> times;
    qint64 size = 0;
    int up = 0;
    for (int i = 0; i < 30; ++i) {
        QElapsedTimer took;
        took.start();
        QNetworkReply* reply = http.get(QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:29760/metrics"))));
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        times.push_back(double(took.nsecsElapsed()) / 1e6);
        const QByteArray body = reply->readAll();
        size = body.size();
        up = 0;
        for (const QByteArray& line : body.split('\n'))
            up += line.startsWith("orbilane_element_up{") && line.endsWith(" 1");
        reply->deleteLater();
    }
    watch.terminate();
    watch.waitForFinished(5000);
    sim.terminate();
    if (!sim.waitForFinished(20000))
        sim.kill();

    Out(QStringLiteral("| elements up | CPU (one core) | resident memory start / max / end | false element-down | "
                       "false silence |"));
    Out(QStringLiteral("|---:|---:|---:|---:|---:|"));
    Out(QStringLiteral("| %1 | %2 % | %3 / %4 / %5 MiB | %6 | %7 |")
            .arg(up)
            .arg(cpu, 0, 'f', 2)
            .arg(rssStart / 1024.0, 0, 'f', 1)
            .arg(rssMax / 1024.0, 0, 'f', 1)
            .arg(rssEnd / 1024.0, 0, 'f', 1)
            .arg((events + measured).count("\"event\":\"element-down\""))
            .arg((events + measured).count("\"event\":\"silence\"")));
    Out(QStringLiteral("| GET /metrics (30 requests) | median %1 ms, slowest %2 ms, %3 bytes |")
            .arg(Median(times), 0, 'f', 1)
            .arg(*std::max_element(times.begin(), times.end()), 0, 'f', 1)
            .arg(size));
}

} // namespace nms::bench
