// The notifiers under load, with the console's real core and real transports to real receivers on
// loopback (aiosmtpd, http.server, snmptrapd, a script). The monitor watches 1,000 elements through
// a stand-in for the ICMP socket (answers while told to, then nothing), so no namespace LAN and no
// root is needed and every figure is the core's own.
//
//   storm:   all 1,000 stop answering at once. One message per notifier, how long after the first
//            element-down it reached its receiver, the element-down lines in the event log, and
//            the process's CPU over the same period with the notifiers configured and without.
//   backlog: 10,000 messages for a webhook whose port refuses connections, the monitor watching
//            1,000 elements beside them: resident memory, the event loop's longest gap and the
//            CPU while they wait, then the receiver is started and the outbox drained in order.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

#include "database/ElementRecords.h"
#include "database/EventLog.h"
#include "services/EchoSweep.h"
#include "support/CoreFixture.h"
#include "support/Receivers.h"
#include "support/TempDir.h"
#include "system/ProcessUsage.h"

namespace nms::bench {

namespace {

using test::TempDir;

constexpr int kElements = 1000;

void Out(const QString& text)
{
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

// CPU time of the calling thread: the main thread, where the monitor, the core and the
// notifiers' rules run (the transports' workers are elsewhere).
qint64 ThreadCpuMicroseconds()
{
    timespec t {};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

void RunFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Answers every request on the next turn of the event loop while `answering`; then nothing.
class ScriptedSweep final : public EchoSweep {
public:
    bool answering = true;
    bool send(quint32 address) override
    {
        if (answering)
            QTimer::singleShot(0, this, [this, address] { Q_EMIT replied(address, 0.2); });
        return true;
    }
    void close() override { }
};

// The longest gap between the turns of a 10 ms timer: how long the event loop, which the monitor
// shares, was held up.
class GapMeter {
public:
    GapMeter()
    {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { longest_ = qMax(longest_, clock_.restart()); });
    }
    void start()
    {
        longest_ = 0;
        clock_.start();
        timer_.start();
    }
    qint64 longestMs() const { return longest_; }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 longest_ = 0;
};

QString Mac(int i)
{
    return QStringLiteral("02:00:00:01:%1:%2")
        .arg(i / 256, 2, 16, QChar('0'))
        .arg(i % 256, 2, 16, QChar('0'))
        .toUpper();
}

// Loopback addresses only: nothing the core might send to an element leaves the machine.
QString Ip(int i)
{
    return QStringLiteral("127.77.%1.%2").arg(1 + (i - 1) / 250).arg(1 + (i - 1) % 250);
}

// 1,000 encoders in a database made once and copied for each run.
QString MakeDatabase(const QString& folder)
{
    test::CoreOptions options;
    options.databasePath = QDir(folder).filePath(QStringLiteral("template.ini"));
    test::CoreFixture f(options);
    for (int i = 1; i <= kElements; ++i) {
        test::StoredElement element;
        element.ip = Ip(i);
        element.name = QStringLiteral("SITE %1").arg(i, 4, 10, QChar('0')).leftJustified(16);
        element.role = 1;
        f.writeElement(MacTextToKey(Mac(i)), element);
    }
    return options.databasePath;
}

test::CoreOptions WatchOptions(const QString& database, ScriptedSweep* sweep, int presenceMs)
{
    test::CoreOptions options;
    options.databasePath = database;
    options.sweep = sweep;
    MonitorSettings watch;
    watch.presencePeriodMs = presenceMs;
    watch.watchAudio = false;
    options.watch = watch;
    return options;
}

qint64 NewestMtimeMs(const QString& folder, const QStringList& patterns)
{
    qint64 newest = 0;
    for (const QFileInfo& info : QDir(folder).entryInfoList(patterns, QDir::Files))
        newest = qMax(newest, info.lastModified().toMSecsSinceEpoch());
    return newest;
}

int CountLines(const QString& path, const QByteArray& needle)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    int n = 0;
    for (const QByteArray& line : file.readAll().split('\n'))
        n += line.contains(needle);
    return n;
}

// The namespace's count of UDP datagrams dropped for a full receive buffer (/proc/net/snmp).
qint64 UdpReceiveBufferErrors()
{
    QFile file(QStringLiteral("/proc/net/snmp"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (int i = 0; i + 1 < lines.size(); ++i) {
        if (!lines[i].startsWith("Udp: ") || !lines[i + 1].startsWith("Udp: "))
            continue;
        const QList<QByteArray> names = lines[i].simplified().split(' ');
        const QList<QByteArray> values = lines[i + 1].simplified().split(' ');
        const int at = names.indexOf("RcvbufErrors");
        return at > 0 && at < values.size() ? values[at].toLongLong() : -1;
    }
    return -1;
}

struct StormRun {
    double cpuPercent = 0, mainCpuPercent = 0;
    int up = 0, down = 0, logged = 0;
    qint64 spreadMs = 0; // first to last element-down
    int mails = -1, posts = -1, traps = -1, commands = -1;
    qint64 mailMs = -1, postMs = -1, trapMs = -1, commandMs = -1; // from the first element-down
    qint64 rssKib = 0;
    qint64 udpDropped = 0;
};

struct Receivers {
    test::SmtpReceiver smtp;
    test::HttpReceiver http;
    test::TrapReceiver traps;
    TempDir dir;
    QString script, commands;
    bool start()
    {
        if (!smtp.start() || !http.start() || !traps.start())
            return false;
        script = dir.file(QStringLiteral("record.sh"));
        commands = dir.file(QStringLiteral("commands.jsonl"));
        QFile file(script);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        file.write("#!/bin/sh\ncat >> \"$1\"\necho >> \"$1\"\n");
        file.close();
        return file.setPermissions(file.permissions() | QFile::ExeOwner);
    }
    QString settings(int batchMs) const
    {
        const QString batch = batchMs > 0 ? QStringLiteral("batch_ms=%1\n").arg(batchMs) : QString();
        return QStringLiteral("[notify.mail]\ntype=email\nurl=smtp://127.0.0.1:%1\ntls=none\n"
                              "from=nms@studio.example\nto=oncall@studio.example\n%5\n"
                              "[notify.hook]\ntype=webhook\nurl=http://127.0.0.1:%2/alarms\n%5\n"
                              "[notify.trap]\ntype=snmp-trap\nhost=127.0.0.1:%3\n%5\n"
                              "[notify.cmd]\ntype=exec\ncommand=\\\"%4\\\" \\\"%6\\\"\n%5\n")
            .arg(smtp.port())
            .arg(http.port())
            .arg(traps.port())
            .arg(script, batch, commands);
    }
};

StormRun Storm(const QString& database, Receivers* receivers, int batchMs, int presenceMs, int windowMs)
{
    StormRun run;
    TempDir dir;
    QFile::copy(database, dir.database());
    ScriptedSweep sweep;
    test::CoreOptions options = WatchOptions(dir.database(), &sweep, presenceMs);
    if (receivers) {
        options.notifySettingsPath = dir.file(QStringLiteral("orbilane-nms.conf"));
        QFile file(options.notifySettingsPath);
        if (!file.open(QIODevice::WriteOnly))
            return run;
        file.write(receivers->settings(batchMs).toUtf8());
    }
    test::CoreFixture f(options);
    if (!f.start() || (receivers && f->notify.notifiers().size() != 4)) {
        Out(QStringLiteral("core or notifiers did not start: %1").arg(f.notices.texts().join(QStringLiteral(" | "))));
        return run;
    }
    test::WaitFor([&] { return f->monitor.summary().up == kElements; }, 3 * presenceMs + 5000);
    run.up = f->monitor.summary().up;
    RunFor(presenceMs); // steady before the measurement

    qint64 firstDown = 0, lastDown = 0;
    QObject::connect(&f->monitor, &LinkMonitor::event, &f->monitor, [&](const QString& name) {
        if (name != QLatin1String("element-down"))
            return;
        lastDown = QDateTime::currentMSecsSinceEpoch();
        if (!firstDown)
            firstDown = lastDown;
        ++run.down;
    });
    const qint64 udpErrors = UdpReceiveBufferErrors();
    const qint64 cpu = ProcessCpuMicroseconds();
    const qint64 mainCpu = ThreadCpuMicroseconds();
    QElapsedTimer wall;
    wall.start();
    sweep.answering = false;
    RunFor(windowMs);
    const double us = double(wall.nsecsElapsed() / 1000);
    run.cpuPercent = 100.0 * double(ProcessCpuMicroseconds() - cpu) / us;
    run.mainCpuPercent = 100.0 * double(ThreadCpuMicroseconds() - mainCpu) / us;
    run.rssKib = ResidentKib();
    // A trap per element of the message: let the last of them arrive, outside the measurement.
    if (receivers)
        test::WaitFor([&] { return receivers->traps.traps().size() >= kElements; }, 10000);
    run.udpDropped = UdpReceiveBufferErrors() - udpErrors;
    run.spreadMs = lastDown - firstDown;
    run.logged = CountLines(EventLog::PathBeside(dir.database()), "\"element-down\"");
    if (receivers) {
        const auto since = [&](qint64 at) { return at > 0 && firstDown > 0 ? at - firstDown : -1; };
        run.mails = receivers->smtp.messages().size();
        run.mailMs = since(NewestMtimeMs(receivers->smtp.folder(), {QStringLiteral("mail-*.eml")}));
        run.posts = receivers->http.requests().size();
        run.postMs = since(NewestMtimeMs(receivers->http.folder(), {QStringLiteral("request-*.json")}));
        run.traps = receivers->traps.traps().size();
        run.trapMs = since(NewestMtimeMs(receivers->traps.folder(), {QStringLiteral("*.log")}));
        run.commands = CountLines(receivers->commands, "{");
        run.commandMs = since(QFileInfo(receivers->commands).lastModified().toMSecsSinceEpoch());
    }
    return run;
}

void StormTable(int runs, int batchMs, int presenceMs)
{
    Out(QStringLiteral("\n1,000 elements dropping at once (presence period %1 ms, batch_ms %2)")
            .arg(presenceMs)
            .arg(batchMs > 0 ? QString::number(batchMs) : QStringLiteral("default")));
    TempDir folder;
    const QString database = MakeDatabase(folder.path());
    // Long enough for every element-down and every delivery, the same for both kinds of run.
    const int windowMs = presenceMs * 4 + qMax(batchMs, 1000) + 3000;
    Out(QStringLiteral("| run | notifiers | up before | element-down events (spread) | element-down lines logged | "
                       "mail | webhook | trap notifications (UDP dropped) | command | CPU over %1 s (one core): "
                       "process / main thread |")
            .arg(windowMs / 1000.0, 0, 'f', 1));
    Out(QStringLiteral("|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|"));
    std::vector<double> with, without, mainWith, mainWithout;
    const auto got = [](int count, qint64 ms) {
        return count < 0 ? QStringLiteral("-") : QStringLiteral("%1 after %2 ms").arg(count).arg(ms);
    };
    for (int r = 1; r <= runs; ++r) {
        for (const bool configured : {false, true}) {
            std::unique_ptr<Receivers> receivers;
            if (configured) {
                receivers = std::make_unique<Receivers>();
                if (!receivers->start()) {
                    Out(QStringLiteral("receivers did not start: %1 %2 %3")
                            .arg(receivers->smtp.errorString(), receivers->http.errorString(),
                                 receivers->traps.errorString()));
                    return;
                }
            }
            const StormRun s = Storm(database, receivers.get(), batchMs, presenceMs, windowMs);
            (configured ? with : without).push_back(s.cpuPercent);
            (configured ? mainWith : mainWithout).push_back(s.mainCpuPercent);
            Out(QStringLiteral("| %1 | %2 | %3 | %4 (%5 ms) | %6 | %7 | %8 | %9 | %10 | %11 % / %12 % |")
                    .arg(r)
                    .arg(configured ? QStringLiteral("4") : QStringLiteral("none"))
                    .arg(s.up)
                    .arg(s.down)
                    .arg(s.spreadMs)
                    .arg(s.logged)
                    .arg(got(s.mails, s.mailMs), got(s.posts, s.postMs),
                         got(s.traps, s.trapMs) + QStringLiteral(" (%1)").arg(s.udpDropped),
                         got(s.commands, s.commandMs))
                    .arg(s.cpuPercent, 0, 'f', 2)
                    .arg(s.mainCpuPercent, 0, 'f', 2));
        }
    }
    Out(QStringLiteral(
            "| median | | | | | | | | | process: without %1 %, with %2 % (difference %3 % of a core, %7 ms of CPU); "
            "main thread: without %4 %, with %5 % (difference %6 %, %8 ms) |")
            .arg(Median(without), 0, 'f', 2)
            .arg(Median(with), 0, 'f', 2)
            .arg(Median(with) - Median(without), 0, 'f', 2)
            .arg(Median(mainWithout), 0, 'f', 2)
            .arg(Median(mainWith), 0, 'f', 2)
            .arg(Median(mainWith) - Median(mainWithout), 0, 'f', 2)
            .arg((Median(with) - Median(without)) * windowMs / 100.0, 0, 'f', 0)
            .arg((Median(mainWith) - Median(mainWithout)) * windowMs / 100.0, 0, 'f', 0));
}

// Which message of the backlog a webhook body is: "element number/status".
QString BacklogMessage(const QByteArray& requestFile)
{
    const QJsonObject request = QJsonDocument::fromJson(requestFile).object();
    const QJsonObject body = QJsonDocument::fromJson(request.value("body").toString().toUtf8()).object();
    const QString name = body.value("element").toObject().value("name").toString().trimmed();
    return name.section(u' ', 1, 1) + u'/' + body.value("status").toString();
}

void BacklogTable(int messages, int elements, int seconds, int presenceMs)
{
    Out(QStringLiteral("\n%1 messages (alarms and recoveries of %2 elements in turn) waiting for a webhook that "
                       "refuses connections, the monitor watching 1,000 elements beside them")
            .arg(messages)
            .arg(elements));
    TempDir folder;
    const QString database = MakeDatabase(folder.path());
    TempDir dir;
    QFile::copy(database, dir.database());
    ScriptedSweep sweep;
    test::CoreOptions options = WatchOptions(dir.database(), &sweep, presenceMs);
    test::HttpReceiver http;
    const quint16 port = test::FreePort();
    options.notifySettingsPath = dir.file(QStringLiteral("orbilane-nms.conf"));
    {
        QFile file(options.notifySettingsPath);
        if (!file.open(QIODevice::WriteOnly))
            return;
        // One message per alarm: the backlog is made of separate batches.
        // flap_minutes=0: every change of an element is a message of its own.
        file.write(QStringLiteral("[notify.hook]\ntype=webhook\nurl=http://127.0.0.1:%1/alarms\ntimeout_s=2\n"
                                  "flap_minutes=0\n")
                       .arg(port)
                       .toUtf8());
    }
    // Retried every second at most, so that the drain starts within a second of the receiver.
    options.notifyTiming.firstRetryMs = 500;
    options.notifyTiming.longestRetryMs = 1000;
    test::CoreFixture f(options);
    if (!f.start() || f->notify.notifiers().size() != 1) {
        Out(QStringLiteral("core or notifier did not start: %1").arg(f.notices.texts().join(QStringLiteral(" | "))));
        return;
    }
    test::WaitFor([&] { return f->monitor.summary().up == kElements; }, 3 * presenceMs + 5000);
    RunFor(presenceMs);
    GapMeter gaps;

    // The same period before and with the backlog.
    const auto measure = [&](int forSeconds, double* cpuPercent, qint64* gapMs, qint64* rssMaxKib) {
        gaps.start();
        const qint64 cpu = ProcessCpuMicroseconds();
        QElapsedTimer wall;
        wall.start();
        *rssMaxKib = ResidentKib();
        for (int s = 0; s < forSeconds; ++s) {
            RunFor(1000);
            *rssMaxKib = qMax(*rssMaxKib, ResidentKib());
        }
        *cpuPercent = 100.0 * double(ProcessCpuMicroseconds() - cpu) / double(wall.nsecsElapsed() / 1000);
        *gapMs = gaps.longestMs();
    };
    double cpuBefore = 0, cpuWaiting = 0, cpuDrain = 0;
    qint64 gapBefore = 0, gapWaiting = 0, gapFill = 0, gapDrain = 0;
    qint64 rssBefore = 0, rssWaiting = 0, rssDrain = 0;
    measure(seconds, &cpuBefore, &gapBefore, &rssBefore);

    // The backlog: elements the monitor does not watch going down all, then up all, and so on,
    // one batch each, so that at most `elements` alarms are open at a time.
    gaps.start();
    QElapsedTimer filling;
    filling.start();
    QStringList expected;
    for (int j = 0; j < messages; ++j) {
        const int i = j % elements + 1;
        const bool down = (j / elements) % 2 == 0;
        ElementRecord element;
        element.key = QStringLiteral("0200000F%1").arg(i, 4, 16, QChar('0')).toUpper();
        element.name = QStringLiteral("BACKLOG %1").arg(i);
        element.ip = QStringLiteral("127.78.%1.%2").arg(i / 250).arg(1 + i % 250);
        element.role = QStringLiteral("1");
        f->notify.take(down ? QStringLiteral("element-down") : QStringLiteral("element-up"), element);
        f->notify.flush();
        expected.append(
            QStringLiteral("%1/%2").arg(i).arg(down ? QStringLiteral("firing") : QStringLiteral("resolved")));
        if (j % 100 == 0)
            QCoreApplication::processEvents();
    }
    const qint64 fillMs = filling.elapsed();
    QCoreApplication::processEvents();
    gapFill = gaps.longestMs(); // includes the loop above, which holds the event loop by design
    const int waiting = f->notify.outbox().size();
    const qint64 outboxBytes = QFileInfo(f->notify.outbox().path()).size();
    measure(seconds, &cpuWaiting, &gapWaiting, &rssWaiting);
    const NotifierCounters failedWhileDown = f->notify.counters(QStringLiteral("hook"));

    // The receiver answers.
    if (!http.start(port)) {
        Out(QStringLiteral("receiver did not start: %1").arg(http.errorString()));
        return;
    }
    gaps.start();
    const qint64 cpu = ProcessCpuMicroseconds();
    QElapsedTimer drain;
    drain.start();
    rssDrain = ResidentKib();
    const qint64 limitMs = 240000;
    while (f->notify.outbox().size() > 0 && drain.elapsed() < limitMs) {
        RunFor(500);
        rssDrain = qMax(rssDrain, ResidentKib());
    }
    const qint64 drainMs = drain.elapsed();
    cpuDrain = 100.0 * double(ProcessCpuMicroseconds() - cpu) / double(drainMs * 1000);
    gapDrain = gaps.longestMs();
    const int upDuring = f->monitor.summary().up;

    // In order: the request files are numbered as they came.
    QMap<int, QString> byArrival;
    const QDir received(http.folder());
    for (const QString& name : received.entryList({QStringLiteral("request-*.json")}, QDir::Files)) {
        QFile file(received.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            byArrival.insert(name.section(u'-', 1).section(u'.', 0, 0).toInt(), BacklogMessage(file.readAll()));
    }
    int inOrder = 0, at = 0;
    for (const QString& got : std::as_const(byArrival))
        inOrder += at < expected.size() && got == expected.at(at++);

    Out(QStringLiteral("| phase | outbox | CPU (one core) | event loop's longest gap | resident memory (max) |"));
    Out(QStringLiteral("|---|---:|---:|---:|---:|"));
    Out(QStringLiteral("| monitor alone, %1 s | 0 | %2 % | %3 ms | %4 MiB |")
            .arg(seconds)
            .arg(cpuBefore, 0, 'f', 2)
            .arg(gapBefore)
            .arg(rssBefore / 1024.0, 0, 'f', 1));
    Out(QStringLiteral("| %1 messages queued (%2 ms, %3 µs each) | %4 (%5 KiB on disk) | | %6 ms | |")
            .arg(messages)
            .arg(fillMs)
            .arg(fillMs * 1000.0 / messages, 0, 'f', 0)
            .arg(waiting)
            .arg(outboxBytes / 1024)
            .arg(gapFill));
    Out(QStringLiteral("| waiting, %1 s (%2 attempts refused so far) | %3 | %4 % | %5 ms | %6 MiB |")
            .arg(seconds)
            .arg(failedWhileDown.failed)
            .arg(waiting)
            .arg(cpuWaiting, 0, 'f', 2)
            .arg(gapWaiting)
            .arg(rssWaiting / 1024.0, 0, 'f', 1));
    Out(QStringLiteral("| drain after the receiver started: %1 s (%2 messages a second) | %3 left | %4 % | %5 ms | "
                       "%6 MiB |")
            .arg(drainMs / 1000.0, 0, 'f', 1)
            .arg(drainMs > 0 ? byArrival.size() * 1000.0 / drainMs : 0.0, 0, 'f', 0)
            .arg(f->notify.outbox().size())
            .arg(cpuDrain, 0, 'f', 2)
            .arg(gapDrain)
            .arg(rssDrain / 1024.0, 0, 'f', 1));
    Out(QStringLiteral("| received | %1 requests, %2 in the order taken; elements up meanwhile: %3 of %4 | | | |")
            .arg(byArrival.size())
            .arg(inOrder)
            .arg(upDuring)
            .arg(kElements));
}

} // namespace

} // namespace nms::bench

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("runs"), QStringLiteral("Storm runs of each kind. Default 3."), QStringLiteral("N"),
         QStringLiteral("3")},
        {QStringLiteral("batch-ms"), QStringLiteral("The notifiers' batch_ms (0: their default)."),
         QStringLiteral("MS"), QStringLiteral("0")},
        {QStringLiteral("presence-ms"), QStringLiteral("The monitor's presence period. Default 500."),
         QStringLiteral("MS"), QStringLiteral("500")},
        {QStringLiteral("messages"), QStringLiteral("Backlog size. Default 10000."), QStringLiteral("N"),
         QStringLiteral("10000")},
        {QStringLiteral("backlog-elements"),
         QStringLiteral("Elements whose alarms and recoveries make the backlog. Default 1000."), QStringLiteral("N"),
         QStringLiteral("1000")},
        {QStringLiteral("seconds"), QStringLiteral("Length of each backlog measurement. Default 10."),
         QStringLiteral("S"), QStringLiteral("10")},
        {QStringLiteral("only"), QStringLiteral("One table: storm or backlog."), QStringLiteral("TABLE")},
    });
    parser.process(app);
    const QString only = parser.value(QStringLiteral("only"));
    const int presenceMs = qMax(100, parser.value(QStringLiteral("presence-ms")).toInt());
    using namespace nms::bench;
    std::printf("load: %s", qPrintable(QString::fromLatin1([] {
                    QFile f(QStringLiteral("/proc/loadavg"));
                    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("?\n");
                }())));
    if (only.isEmpty() || only == QLatin1String("storm"))
        StormTable(qMax(1, parser.value(QStringLiteral("runs")).toInt()),
                   parser.value(QStringLiteral("batch-ms")).toInt(), presenceMs);
    if (only.isEmpty() || only == QLatin1String("backlog"))
        BacklogTable(qMax(1, parser.value(QStringLiteral("messages")).toInt()),
                     qMax(1, parser.value(QStringLiteral("backlog-elements")).toInt()),
                     qMax(1, parser.value(QStringLiteral("seconds")).toInt()), presenceMs);
    return 0;
}
