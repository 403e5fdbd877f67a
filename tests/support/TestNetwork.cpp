#include "TestNetwork.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sched.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace nms::test {

namespace {

constexpr int kReadyTimeoutMs = 5000;
// The shared host's simulator opens three sockets per element before it says READY.
constexpr int kReadyMsPerSharedElement = 5;
constexpr int kStopTimeoutMs = 3000;
constexpr int kCommandTimeoutMs = 15000;

int g_networksMade = 0;

// The namespace the process started in. The scripts run there even when the calling thread is
// in a console's namespace, where the kernel's global neighbour thresholds are out of sight.
const int g_homeNamespace = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);

const QString kStateDir = QStringLiteral("/run/orbilane-testnet/");

QString netnsPath(const QString& ns)
{
    return QStringLiteral("/run/netns/") + ns;
}

// Runs a program and waits; -1 when it could not start or did not end in time.
int runProgram(const QString& program, const QStringList& arguments, QString* output, int timeoutMs,
               const QByteArray& input = {})
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(timeoutMs)) {
        if (output)
            *output = process.errorString();
        return -1;
    }
    process.write(input);
    process.closeWriteChannel();
    const bool ended = process.waitForFinished(timeoutMs);
    if (output)
        *output = QString::fromLocal8Bit(process.readAll());
    if (!ended) {
        process.kill();
        process.waitForFinished(kStopTimeoutMs);
        return -1;
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QStringList namespaceNames()
{
    QString listing;
    if (runProgram(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("list")}, &listing, kCommandTimeoutMs)
        != 0)
        return {};
    QStringList names;
    for (const QString& line : listing.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        names.append(line.section(QLatin1Char(' '), 0, 0));
    return names;
}

} // namespace

QList<LoggedDatagram> parseSimulatorLog(const QString& text)
{
    QList<LoggedDatagram> datagrams;
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList fields = line.split(QLatin1Char(' '));
        if (fields.size() < 5)
            continue;
        LoggedDatagram d;
        d.time = QDateTime::fromString(fields.at(0), Qt::ISODateWithMs);
        if (fields.at(1) != QLatin1String("IN") && fields.at(1) != QLatin1String("OUT"))
            continue;
        d.incoming = fields.at(1) == QLatin1String("IN");
        d.localPort = quint16(fields.at(2).toUInt());
        const QString& peer = fields.at(3);
        const qsizetype colon = peer.lastIndexOf(QLatin1Char(':'));
        d.peer = QHostAddress(peer.left(colon));
        d.peerPort = quint16(peer.mid(colon + 1).toUInt());
        d.bytes = QByteArray::fromHex(fields.mid(5).join(QString()).toLatin1());
        if (!d.time.isValid() || d.bytes.size() != fields.at(4).toInt())
            continue;
        datagrams.append(d);
    }
    return datagrams;
}

bool TestNetwork::available(QString* reason)
{
    auto why = [reason](const QString& text) {
        if (reason)
            *reason = text;
        return false;
    };
    if (::geteuid() != 0)
        return why(QStringLiteral("network namespaces need root"));
    if (QStandardPaths::findExecutable(QStringLiteral("ip")).isEmpty())
        return why(QStringLiteral("the ip command (iproute2) is not installed"));
    // Root alone is not enough (a container may refuse namespaces): try one.
    const QString probe = QStringLiteral("t%1probe").arg(QCoreApplication::applicationPid());
    QString output;
    if (runProgram(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("add"), probe}, &output,
                   kCommandTimeoutMs)
        != 0)
        return why(QStringLiteral("ip netns add failed: ") + output.trimmed());
    runProgram(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("del"), probe}, nullptr,
               kCommandTimeoutMs);
    return true;
}

TestNetwork::TestNetwork(int elementCount, QObject* parent) : TestNetwork(Options {elementCount}, parent)
{
}

TestNetwork::TestNetwork(const Options& options, QObject* parent) : QObject(parent), options_(options)
{
    const int serial = g_networksMade++;
    name_ = QStringLiteral("t%1").arg(QCoreApplication::applicationPid());
    if (serial > 0)
        name_ += QStringLiteral("n%1").arg(serial);
}

std::unique_ptr<TestNetwork> TestNetwork::attach(const QString& name, QString* error)
{
    QFile facts(kStateDir + name + QStringLiteral(".facts"));
    std::unique_ptr<TestNetwork> net(new TestNetwork(Options {}));
    --g_networksMade; // it takes no name of this process's own
    net->name_ = name;
    if (!facts.open(QIODevice::ReadOnly | QIODevice::Text) || !net->parseFacts(QString::fromLatin1(facts.readAll()))
        || !QFileInfo::exists(netnsPath(net->console_.ns))) {
        if (error)
            *error = QStringLiteral("no network %1 is up (no usable %2)").arg(name, facts.fileName());
        return nullptr;
    }
    net->ready();
    return net;
}

TestNetwork::~TestNetwork()
{
    stopAllSimulators();
    leaveConsoleNamespace();
    down();
    if (logDir_ && !logDir_->autoRemove())
        std::printf("Simulator logs kept in %s\n", qPrintable(logDir_->path()));
}

QString TestNetwork::sourceDir()
{
    const QString fromEnv = qEnvironmentVariable("NMS_SOURCE_DIR");
    if (!fromEnv.isEmpty())
        return fromEnv;
    // This file lives in <source>/tests/support.
    return QFileInfo(QStringLiteral(__FILE__)).absoluteDir().absoluteFilePath(QStringLiteral("../.."));
}

QString TestNetwork::binaryDir()
{
    const QString fromEnv = qEnvironmentVariable("NMS_BINARY_DIR");
    if (!fromEnv.isEmpty())
        return fromEnv;
    // Test programs are built in <build>/tests.
    return QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral(".."));
}

QString TestNetwork::simulatorPath()
{
    return QDir::cleanPath(binaryDir() + QStringLiteral("/tools/orbilane-element-sim"));
}

bool TestNetwork::runScript(const QString& script, const QStringList& arguments, QString* output, int* code)
{
    const QString path = QDir::cleanPath(sourceDir() + QStringLiteral("/scripts/") + script);
    if (!QFileInfo::exists(path)) {
        *output = QStringLiteral("%1 not found (is NMS_SOURCE_DIR right?)").arg(path);
        return false;
    }
    QProcess process;
    process.setChildProcessModifier([] {
        if (g_homeNamespace >= 0)
            ::setns(g_homeNamespace, CLONE_NEWNET);
    });
    process.start(QStringLiteral("bash"), QStringList {path} + arguments);
    const bool ended = process.waitForFinished(kCommandTimeoutMs * 4);
    *output = QString::fromLocal8Bit(process.readAllStandardOutput());
    const QString errors = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
    if (!ended) {
        process.kill();
        process.waitForFinished(kStopTimeoutMs);
        *output = script + QStringLiteral(" did not finish");
        return false;
    }
    *code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    if (*code != 0 && !errors.isEmpty())
        *output = errors;
    return true;
}

bool TestNetwork::up()
{
    if (up_)
        return true;
    const int most = options_.sharedHost ? 2000 : 99;
    if (options_.elements < 1 || options_.elements > most || options_.secondLanElements < 0
        || options_.secondLanElements > 99
        || (options_.defaultRoute == DefaultRoute::Eth1 && options_.secondLanElements == 0)) {
        error_ = QStringLiteral("a test network has 1 to %1 elements on its first LAN (not %2) and 0 to 99 on a "
                                "second (not %3), which a default route via eth1 needs")
                     .arg(most)
                     .arg(options_.elements)
                     .arg(options_.secondLanElements);
        return false;
    }
    QStringList arguments {name_, QString::number(options_.elements)};
    if (options_.sharedHost)
        arguments << QStringLiteral("--shared-host");
    if (options_.secondLanElements > 0)
        arguments << QStringLiteral("--second-lan") << QString::number(options_.secondLanElements);
    if (options_.defaultRoute == DefaultRoute::None)
        arguments << QStringLiteral("--no-default-route");
    else if (options_.defaultRoute == DefaultRoute::Eth1)
        arguments << QStringLiteral("--default-route-via") << QStringLiteral("eth1");
    removeOrphanedNetworks();
    // A namespace of this name can only be left from an earlier process with the same PID.
    QString output;
    int code = 0;
    runScript(QStringLiteral("testnet-down.sh"), {name_}, &output, &code);

    built_ = true;
    if (!runScript(QStringLiteral("testnet-up.sh"), arguments, &output, &code)) {
        error_ = output;
        return false;
    }
    if (code != 0) {
        error_ = QStringLiteral("testnet-up.sh %1 %2 (exit %3): %4")
                     .arg(arguments.join(QLatin1Char(' ')))
                     .arg(code == 77 ? QStringLiteral("skipped") : QStringLiteral("failed"))
                     .arg(code)
                     .arg(output);
        return false;
    }
    if (!parseFacts(output) || elementCount() != options_.elements + options_.secondLanElements) {
        error_ = QStringLiteral("testnet-up.sh printed no usable facts: ") + output;
        return false;
    }
    ready();
    return true;
}

void TestNetwork::ready()
{
    logDir_ = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/nms-e2e-XXXXXX"));
    if (!qEnvironmentVariableIsEmpty("NMS_E2E_KEEP_LOGS"))
        logDir_->setAutoRemove(false);
    simulators_ = QList<Simulator>(elementCount() + 1);
    up_ = true;
}

bool TestNetwork::parseFacts(const QString& output)
{
    static const QRegularExpression secondLan(QStringLiteral("-f\\d+$"));
    QMap<int, Host> elements;
    consoleInterfaces_.clear();
    for (const QString& line : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList f = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (f.size() == 4 && f.at(0) == QLatin1String("console")) {
            console_ = Host {f.at(1), f.at(2), f.at(3), QStringLiteral("eth0")};
        } else if (f.size() == 4 && f.at(0) == QLatin1String("console-if")) {
            consoleInterfaces_.append(Interface {f.at(1), f.at(2), f.at(3)});
        } else if ((f.size() == 5 || f.size() == 6) && f.at(0) == QLatin1String("element")) {
            const QString interface = f.size() == 6 ? f.at(5) : QStringLiteral("eth0");
            elements.insert(f.at(1).toInt(),
                            Host {f.at(2), f.at(3), f.at(4), interface, f.at(2).contains(secondLan) ? 2 : 1});
        }
    }
    if (consoleInterfaces_.isEmpty())
        consoleInterfaces_.append(Interface {console_.interface, console_.ip, console_.mac});
    // Numbered 1..n without a gap.
    if (console_.ns.isEmpty() || elements.isEmpty() || elements.firstKey() != 1
        || elements.lastKey() != elements.size())
        return false;
    elements_ = elements.values();
    if (std::any_of(elements_.begin(), elements_.end(),
                    [this](const Host& e) { return e.lan > consoleInterfaces_.size(); }))
        return false;
    options_.sharedHost = elements_.first().interface != QLatin1String("eth0");
    options_.secondLanElements =
        int(std::count_if(elements_.begin(), elements_.end(), [](const Host& h) { return h.lan == 2; }));
    options_.elements = elementCount() - options_.secondLanElements;
    return true;
}

void TestNetwork::down()
{
    if (!built_)
        return;
    QString output;
    int code = 0;
    if (!runScript(QStringLiteral("testnet-down.sh"), {name_}, &output, &code) || code != 0)
        std::fprintf(stderr, "testnet-down.sh %s: %s\n", qPrintable(name_), qPrintable(output));
    built_ = false;
    up_ = false;
}

void TestNetwork::removeOrphanedNetworks()
{
    // Only names this class makes ("t<pid>" or "t<pid>n<k>"), and only when that process is gone.
    static const QRegularExpression ours(QStringLiteral("^(t(\\d+)(?:n\\d+)?)-(?:c|br|m|[ef]\\d+)$"));
    QStringList orphans;
    for (const QString& ns : namespaceNames()) {
        const QRegularExpressionMatch m = ours.match(ns);
        if (!m.hasMatch() || orphans.contains(m.captured(1)))
            continue;
        const pid_t pid = pid_t(m.captured(2).toLongLong());
        if (::kill(pid, 0) != 0 && errno == ESRCH)
            orphans.append(m.captured(1));
    }
    for (const QString& orphan : orphans) {
        QString output;
        int code = 0;
        runScript(QStringLiteral("testnet-down.sh"), {orphan}, &output, &code);
    }
}

QString TestNetwork::elementNamespace(int i) const
{
    return validIndex(i) && up_ ? elements_.at(i - 1).ns : QString();
}

QString TestNetwork::elementIp(int i) const
{
    return validIndex(i) && up_ ? elements_.at(i - 1).ip : QString();
}

QString TestNetwork::elementMac(int i) const
{
    return validIndex(i) && up_ ? elements_.at(i - 1).mac : QString();
}

QString TestNetwork::elementInterface(int i) const
{
    return validIndex(i) && up_ ? elements_.at(i - 1).interface : QString();
}

int TestNetwork::elementLan(int i) const
{
    return validIndex(i) && up_ ? elements_.at(i - 1).lan : 0;
}

bool TestNetwork::makeNeighboursCold()
{
    return setNeighbours(false);
}

bool TestNetwork::makeNeighboursWarm()
{
    return setNeighbours(true);
}

bool TestNetwork::setNeighbours(bool warm)
{
    if (!up_) {
        error_ = QStringLiteral("the network is not up");
        return false;
    }
    // One `ip -batch` per namespace: 1000 single commands would take seconds. Every table is
    // emptied first, so that what an element learnt before cannot stand in for the entry meant
    // to spare it the ARP request.
    QMap<QString, QByteArray> batches;
    QByteArray console = "neigh flush all\n";
    for (const Host& e : std::as_const(elements_)) {
        const Interface& facing = consoleInterfaces_.at(e.lan - 1);
        QByteArray& batch = batches[e.ns];
        if (batch.isEmpty())
            batch = "neigh flush all\n";
        batch += QStringLiteral("neigh replace %1 lladdr %2 dev %3 nud permanent\n")
                     .arg(facing.ip, facing.mac, e.interface)
                     .toLatin1();
        if (warm)
            console += QStringLiteral("neigh replace %1 lladdr %2 dev %3 nud reachable\n")
                           .arg(e.ip, e.mac, facing.name)
                           .toLatin1();
    }
    batches.insert(console_.ns, console);
    for (auto it = batches.cbegin(); it != batches.cend(); ++it) {
        QString output;
        if (runProgram(QStringLiteral("ip"),
                       {QStringLiteral("-n"), it.key(), QStringLiteral("-batch"), QStringLiteral("-")}, &output,
                       kCommandTimeoutMs, it.value())
            != 0) {
            error_ = QStringLiteral("ip -n %1 -batch: %2").arg(it.key(), output.trimmed());
            return false;
        }
    }
    return true;
}

bool TestNetwork::enterConsoleNamespace()
{
    if (!up_) {
        error_ = QStringLiteral("the network is not up");
        return false;
    }
    const int target = ::open(QFile::encodeName(netnsPath(console_.ns)).constData(), O_RDONLY | O_CLOEXEC);
    if (target < 0) {
        error_ = QStringLiteral("cannot open %1: %2").arg(netnsPath(console_.ns), qt_error_string(errno));
        return false;
    }
    if (originalNamespace_ < 0)
        originalNamespace_ = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const bool entered = ::setns(target, CLONE_NEWNET) == 0;
    if (!entered)
        error_ = QStringLiteral("setns into %1: %2").arg(console_.ns, qt_error_string(errno));
    ::close(target);
    return entered;
}

bool TestNetwork::leaveConsoleNamespace()
{
    if (originalNamespace_ < 0)
        return false;
    const bool left = ::setns(originalNamespace_, CLONE_NEWNET) == 0;
    ::close(originalNamespace_);
    originalNamespace_ = -1;
    return left;
}

QProcess* TestNetwork::startSimulator(int i, const QStringList& arguments)
{
    if (!up_ || !validIndex(i)) {
        error_ = QStringLiteral("no element %1 on a running network").arg(i);
        return nullptr;
    }
    if (elements_.at(i - 1).interface != QLatin1String("eth0")) {
        error_ = QStringLiteral("element %1 is on the shared host: startSharedHostSimulator() plays it").arg(i);
        return nullptr;
    }
    return startIn(i, elements_.at(i - 1).ns, arguments, kReadyTimeoutMs);
}

QProcess* TestNetwork::startSharedHostSimulator(const QStringList& arguments)
{
    if (!up_ || !options_.sharedHost) {
        error_ = QStringLiteral("no shared element host on a running network");
        return nullptr;
    }
    return startIn(0, elements_.first().ns,
                   QStringList {QStringLiteral("--elements"), QString::number(options_.elements),
                                QStringLiteral("--interface"), QStringLiteral("ev")}
                       + arguments,
                   qMax(kReadyTimeoutMs, options_.elements * kReadyMsPerSharedElement));
}

QList<LoggedDatagram> TestNetwork::sharedHostDatagrams() const
{
    QFile file(up_ ? simulators_.at(0).logPath : QString());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return parseSimulatorLog(QString::fromLatin1(file.readAll()));
}

QProcess* TestNetwork::startIn(int slot, const QString& ns, const QStringList& arguments, int readyTimeoutMs)
{
    stopSimulator(slot);
    Simulator& sim = simulators_[slot];
    const QString who = slot == 0 ? QStringLiteral("the shared host") : QStringLiteral("element %1").arg(slot);
    sim.logPath = QDir(logDir_->path()).filePath(QStringLiteral("e%1-%2.log").arg(slot).arg(++runs_));

    auto* process = new QProcess(this);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Should the test die without its destructor (a crash, SIGKILL at a time-out), the
    // simulator goes with it instead of lingering in a namespace nobody removes.
    process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    // `ip netns exec` execs the program itself, so the process id is the simulator's.
    process->start(QStringLiteral("ip"),
                   QStringList {QStringLiteral("netns"), QStringLiteral("exec"), ns, simulatorPath(),
                                QStringLiteral("--log"), sim.logPath}
                       + arguments);
    QByteArray said;
    const QDeadlineTimer deadline(readyTimeoutMs);
    while (!said.contains("READY\n") && process->state() != QProcess::NotRunning
           && process->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
        said += process->readAllStandardOutput();
    said += process->readAllStandardOutput();
    if (!said.contains("READY\n")) {
        process->waitForFinished(100);
        error_ = process->state() == QProcess::NotRunning
            ? QStringLiteral("the simulator of %1 ended before READY (exit code %2)").arg(who).arg(process->exitCode())
            : QStringLiteral("the simulator of %1 said no READY within %2 ms").arg(who).arg(readyTimeoutMs);
        sim.process = process;
        stopSimulator(slot);
        return nullptr;
    }
    sim.process = process;
    return process;
}

QProcess* TestNetwork::simulator(int i) const
{
    return up_ && validIndex(i) ? simulators_.at(i).process : nullptr;
}

bool TestNetwork::stopSimulator(int i)
{
    if (i < 0 || i >= simulators_.size() || !simulators_.at(i).process)
        return false;
    QProcess* process = simulators_[i].process;
    simulators_[i].process = nullptr;
    const bool wasRunning = process->state() != QProcess::NotRunning;
    if (wasRunning) {
        process->terminate();
        if (!process->waitForFinished(kStopTimeoutMs)) {
            process->kill();
            process->waitForFinished(kStopTimeoutMs);
        }
    }
    delete process;
    return wasRunning;
}

void TestNetwork::stopAllSimulators()
{
    for (int i = 0; i < simulators_.size(); ++i)
        stopSimulator(i);
}

bool TestNetwork::waitForSimulatorLine(int i, const QByteArray& line)
{
    QProcess* process = i >= 0 && i < simulators_.size() ? simulators_.at(i).process : nullptr;
    const QDeadlineTimer deadline(kReadyTimeoutMs);
    while (process) {
        while (process->canReadLine()) {
            if (process->readLine().trimmed() == line)
                return true;
        }
        if (deadline.hasExpired() || !process->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
            return false;
    }
    return false;
}

bool TestNetwork::tellSimulator(const QString& fifo, const QByteArray& line)
{
    const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    const QByteArray bytes = line + '\n';
    const bool written = fd >= 0 && ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    if (fd >= 0)
        ::close(fd);
    return written;
}

QString TestNetwork::simulatorLogPath(int i) const
{
    return up_ && validIndex(i) ? simulators_.at(i).logPath : QString();
}

QString TestNetwork::simulatorLog(int i) const
{
    QFile file(simulatorLogPath(i));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromLatin1(file.readAll());
}

QList<LoggedDatagram> TestNetwork::datagrams(int i) const
{
    return parseSimulatorLog(simulatorLog(i));
}

int TestNetwork::runIn(const QString& ns, const QStringList& command, QString* output) const
{
    if (command.isEmpty())
        return -1;
    if (ns.isEmpty())
        return runProgram(command.first(), command.mid(1), output, kCommandTimeoutMs);
    return runProgram(QStringLiteral("ip"), QStringList {QStringLiteral("netns"), QStringLiteral("exec"), ns} + command,
                      output, kCommandTimeoutMs);
}

void prepareE2eEnvironment()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")
        && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

} // namespace nms::test
