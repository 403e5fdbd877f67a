// The rig for many elements and several LANs: one simulator process on a shared element host
// (testnet-up.sh --shared-host, orbilane-element-sim --elements N) where every element answers the
// one broadcast from its own address and MAC; the neighbour states benchmarks start from; a second
// LAN with or without default routes; the kernel's neighbour thresholds raised while it is up.
#include "support/TestNetwork.h"

#include <QDir>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QProcess>
#include <QSet>
#include <QUdpSocket>
#include <QtEndian>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using nms::test::TestNetwork;

namespace {

constexpr int kElements = 3;
const QByteArray kPaging("DIZEZIZI KESTRION PAGING REQUEST");
const QString kState = QStringLiteral("/run/orbilane-testnet");

int run(const QString& program, const QStringList& arguments, QString* output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(60000))
        return -1;
    *output = QString::fromLocal8Bit(process.readAll());
    return process.exitCode();
}

// gc_thresh1..3 as this thread's namespace shows them (only the machine's own shows them).
QList<int> thresholds()
{
    QList<int> values;
    for (int k = 1; k <= 3; ++k) {
        QFile file(QStringLiteral("/proc/sys/net/ipv4/neigh/default/gc_thresh%1").arg(k));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        values.append(file.readAll().trimmed().toInt());
    }
    return values;
}

QStringList networksUp()
{
    return QDir(kState).entryList({QStringLiteral("*.facts")}, QDir::Files);
}

// The lock testnet-up.sh and testnet-down.sh hold while they change the thresholds: held, no other
// test's network comes or goes between a look at the networks up and one at the thresholds.
class StateLock {
public:
    StateLock()
    {
        QDir().mkpath(kState);
        fd_ = ::open(QFile::encodeName(kState + QStringLiteral("/lock")).constData(), O_WRONLY | O_CREAT | O_CLOEXEC,
                     0644);
        if (fd_ >= 0)
            ::flock(fd_, LOCK_EX);
    }
    ~StateLock()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;

private:
    int fd_ = -1;
};

QList<QNetworkDatagram> collect(QUdpSocket& socket, int count, int waitMs = 3000)
{
    QList<QNetworkDatagram> received;
    QDeadlineTimer deadline(waitMs);
    while (received.size() < count && !deadline.hasExpired()) {
        if (!socket.hasPendingDatagrams() && !socket.waitForReadyRead(int(deadline.remainingTime())))
            break;
        while (socket.hasPendingDatagrams())
            received.append(socket.receiveDatagram());
    }
    return received;
}

// The `count` answers expected, then any more that come within a short quiet time: an answer that
// should not be there follows the others within milliseconds, so the window need not be waited out.
QList<QNetworkDatagram> collectNoMore(QUdpSocket& socket, int count)
{
    constexpr int kQuietMs = 300;
    QList<QNetworkDatagram> received = collect(socket, count);
    if (received.size() == count)
        received += collect(socket, 1, kQuietMs);
    return received;
}

QSet<QString> senders(const QList<QNetworkDatagram>& datagrams)
{
    QSet<QString> from;
    for (const QNetworkDatagram& d : datagrams)
        from.insert(d.senderAddress().toString());
    return from;
}

} // namespace

class TstSimulatorMany : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void badLayoutsAreRefused_data();
    void badLayoutsAreRefused();
    void everyElementAnswersWithItsOwnAddressAndMac();
    void unicastReachesOneElement();
    void neighbourStates_data();
    void neighbourStates();
    void twoLans_data();
    void twoLans();
    void oneElementOffTheNetworkAndSilent_data();
    void oneElementOffTheNetworkAndSilent();

private:
    QString consoleTable();

    TestNetwork* net_ = nullptr;
    QUdpSocket* console_ = nullptr;
    QTemporaryDir controlDir_;
    QProcess* sharedSimulator_ = nullptr;
    QList<int> before_;
    bool alone_ = false;
};

void TstSimulatorMany::initTestCase()
{
    {
        const StateLock lock;
        before_ = thresholds();
        alone_ = networksUp().isEmpty();
    }
    TestNetwork::Options options;
    options.elements = kElements;
    options.sharedHost = true;
    net_ = new TestNetwork(options, this);
    QVERIFY2(net_->up(), qPrintable(net_->errorString()));
    QCOMPARE(net_->elementCount(), kElements);
    QCOMPARE(net_->elementInterface(2), QStringLiteral("ev2"));
    // What a benchmark started in the console's namespace sees of it.
    const std::unique_ptr<TestNetwork> seen = TestNetwork::attach(net_->name());
    QVERIFY(seen && seen->sharedHost() && seen->elementCount() == kElements);
    QCOMPARE(seen->elementMac(3), net_->elementMac(3));

    // Room for every entry of every network up: E + 128, 2E + 512, 4E + 1024 at least.
    const QList<int> raised = thresholds();
    if (raised.isEmpty()) {
        qWarning("the neighbour thresholds are not visible from here; not checked");
    } else {
        QVERIFY2(raised.at(0) >= kElements + 128 && raised.at(1) >= 2 * kElements + 512
                     && raised.at(2) >= 4 * kElements + 1024,
                 qPrintable(QStringLiteral("%1 %2 %3").arg(raised.at(0)).arg(raised.at(1)).arg(raised.at(2))));
    }

    sharedSimulator_ = net_->startSharedHostSimulator(
        {"--name", "rack", "--role", "decoder", "--control", controlDir_.filePath("control")});
    QVERIFY2(sharedSimulator_, qPrintable(net_->errorString()));
    QVERIFY2(net_->enterConsoleNamespace(), qPrintable(net_->errorString()));
    console_ = new QUdpSocket(this);
    QVERIFY(console_->bind(QHostAddress::AnyIPv4, 2976));
}

void TstSimulatorMany::cleanupTestCase()
{
    delete console_;
    delete net_;
    // The last network down gives the kernel back its own values.
    const StateLock lock;
    if (alone_ && !before_.isEmpty() && networksUp().isEmpty())
        QCOMPARE(thresholds(), before_);
}

QString TstSimulatorMany::consoleTable()
{
    QString table;
    if (run(QStringLiteral("ip"), {"neigh", "show", "dev", "eth0"}, &table) != 0)
        return QStringLiteral("ip neigh failed: ") + table;
    return table;
}

void TstSimulatorMany::badLayoutsAreRefused_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("100 hosts") << QStringList {"100"};
    QTest::newRow("2001 on the shared host") << QStringList {"2001", "--shared-host"};
    QTest::newRow("100 on a second LAN") << QStringList {"1", "--second-lan", "100"};
    QTest::newRow("eth1 without a second LAN") << QStringList {"1", "--default-route-via", "eth1"};
    QTest::newRow("two route choices") << QStringList {"1", "--no-default-route", "--default-route-via", "eth0"};
}

void TstSimulatorMany::badLayoutsAreRefused()
{
    QFETCH(QStringList, arguments);
    const QString name = net_->name() + QStringLiteral("x");
    QString output;
    // Refused before anything is made.
    QCOMPARE(run(TestNetwork::sourceDir() + QStringLiteral("/scripts/testnet-up.sh"), QStringList {name} + arguments,
                 &output),
             2);
    QVERIFY(!QFile::exists(QStringLiteral("/run/netns/%1-br").arg(name)));
}

void TstSimulatorMany::everyElementAnswersWithItsOwnAddressAndMac()
{
    QVERIFY(console_->writeDatagram(kPaging, QHostAddress(QStringLiteral("255.255.255.255")), 1901) == kPaging.size());
    const QList<QNetworkDatagram> answers = collect(*console_, kElements);
    QCOMPARE(answers.size(), kElements);
    QCOMPARE(senders(answers).size(), kElements);
    for (const QNetworkDatagram& answer : answers) {
        const QString sender = answer.senderAddress().toString();
        int i = 1;
        while (i <= kElements && net_->elementIp(i) != sender)
            ++i;
        QVERIFY2(i <= kElements, qPrintable(sender));
        const QByteArray bytes = answer.data();
        QCOMPARE(bytes.size(), 41); // a decoder's answer
        QCOMPARE(answer.senderPort(), 2976);
        // Its own address in the first four bytes, its own name and serial.
        QCOMPARE(QHostAddress(qFromBigEndian<quint32>(bytes.constData())).toString(), sender);
        QCOMPARE(bytes.mid(19, 16), QByteArray("rack " + QByteArray::number(i)).leftJustified(16, ' '));
        QCOMPARE(bytes.mid(36, 4), QByteArray::fromHex("000000") + char(i));
    }
    QCOMPARE(net_->sharedHostDatagrams().size(), 2 * kElements);

    // The console's kernel holds each element under the MAC of its own interface.
    const QString table = consoleTable();
    for (int i = 1; i <= kElements; ++i)
        QVERIFY2(table.contains(net_->elementIp(i) + QStringLiteral(" lladdr ") + net_->elementMac(i)),
                 qPrintable(table));
}

void TstSimulatorMany::unicastReachesOneElement()
{
    QVERIFY(console_->writeDatagram(QByteArrayLiteral("VOL"), QHostAddress(net_->elementIp(2)), 2977) == 3);
    const QList<QNetworkDatagram> answers = collectNoMore(*console_, 1);
    QCOMPARE(answers.size(), 1);
    QCOMPARE(answers.first().senderAddress().toString(), net_->elementIp(2));
    QCOMPARE(answers.first().data().size(), 1440);
}

void TstSimulatorMany::neighbourStates_data()
{
    QTest::addColumn<bool>("warm");
    QTest::newRow("cold") << false;
    QTest::newRow("warm") << true;
}

void TstSimulatorMany::neighbourStates()
{
    QFETCH(bool, warm);
    QVERIFY2(warm ? net_->makeNeighboursWarm() : net_->makeNeighboursCold(), qPrintable(net_->errorString()));
    QVERIFY(console_->writeDatagram(kPaging, QHostAddress::Broadcast, 1901) == kPaging.size());
    QCOMPARE(collect(*console_, kElements).size(), kElements);

    // Cold: the elements answered without asking for the console's MAC, so its kernel learnt
    // none of theirs. Warm: it knew them all before.
    const QString table = consoleTable();
    for (int i = 1; i <= kElements; ++i) {
        QVERIFY2(table.contains(net_->elementIp(i) + QStringLiteral(" lladdr ") + net_->elementMac(i)) == warm,
                 qPrintable(table));
    }
}

void TstSimulatorMany::twoLans_data()
{
    QTest::addColumn<bool>("sharedHost");
    QTest::addColumn<TestNetwork::DefaultRoute>("route");
    QTest::addColumn<QList<int>>("plainReaches"); // -1: the send itself fails
    QTest::newRow("no default route") << false << TestNetwork::DefaultRoute::None << QList<int> {-1};
    QTest::newRow("shared host, no default route") << true << TestNetwork::DefaultRoute::None << QList<int> {-1};
    QTest::newRow("default route via eth1") << false << TestNetwork::DefaultRoute::Eth1 << QList<int> {3};
}

void TstSimulatorMany::twoLans()
{
    QFETCH(bool, sharedHost);
    QFETCH(TestNetwork::DefaultRoute, route);
    QFETCH(QList<int>, plainReaches);

    TestNetwork::Options options;
    options.elements = 2;
    options.sharedHost = sharedHost;
    options.secondLanElements = 1;
    options.defaultRoute = route;
    TestNetwork net(options);
    QVERIFY2(net.up(), qPrintable(net.errorString()));
    QCOMPARE(net.elementCount(), 3);
    QCOMPARE(net.elementLan(3), 2);
    QCOMPARE(net.elementIp(3), QStringLiteral("10.78.0.11"));
    if (sharedHost)
        QVERIFY2(net.startSharedHostSimulator(), qPrintable(net.errorString()));
    for (int i = sharedHost ? 3 : 1; i <= 3; ++i)
        QVERIFY2(net.startSimulator(i), qPrintable(net.errorString()));

    // No host has a default route, or only the console has one, where it was asked for.
    QStringList hosts {net.consoleNamespace()};
    for (int i = 1; i <= 3; ++i)
        hosts.append(net.elementNamespace(i));
    for (const QString& ns : hosts) {
        QString routes;
        QCOMPARE(net.runIn(ns, {"ip", "-4", "route", "show", "default"}, &routes), 0);
        const bool console = ns == net.consoleNamespace();
        QString expected;
        if (console && route == TestNetwork::DefaultRoute::Eth1)
            expected = QStringLiteral("default dev eth1 scope link");
        else if (!console && route != TestNetwork::DefaultRoute::None && !sharedHost)
            expected = QStringLiteral("default dev eth0 scope link");
        QCOMPARE(routes.trimmed(), expected);
    }

    QVERIFY2(net.enterConsoleNamespace(), qPrintable(net.errorString()));
    {
        // The limited broadcast as routed: nowhere, or out of the default route's interface only.
        // A socket of its own: Qt 6.4 closes a socket whose send failed at its next wait.
        QUdpSocket socket;
        QVERIFY(socket.bind(QHostAddress::AnyIPv4, 2976));
        const qint64 sent = socket.writeDatagram(kPaging, QHostAddress::Broadcast, 1901);
        if (plainReaches == QList<int> {-1}) {
            QCOMPARE(sent, qint64(-1));
        } else {
            QCOMPARE(sent, qint64(kPaging.size()));
            QSet<QString> expected;
            for (int i : plainReaches)
                expected.insert(net.elementIp(i));
            QCOMPARE(senders(collectNoMore(socket, int(expected.size()))), expected);
        }
    }
    // Named interfaces: each LAN hears its own, from the console's address there.
    QUdpSocket socket;
    QVERIFY(socket.bind(QHostAddress::AnyIPv4, 2976));
    for (const TestNetwork::Interface& nic : net.consoleInterfaces()) {
        QNetworkDatagram paging(kPaging, QHostAddress::Broadcast, 1901);
        paging.setInterfaceIndex(uint(QNetworkInterface::interfaceIndexFromName(nic.name)));
        QCOMPARE(socket.writeDatagram(paging), qint64(kPaging.size()));
    }
    QCOMPARE(senders(collect(socket, 3)), QSet<QString>({net.elementIp(1), net.elementIp(2), net.elementIp(3)}));
    QVERIFY(net.leaveConsoleNamespace());
}

void TstSimulatorMany::oneElementOffTheNetworkAndSilent_data()
{
    QTest::addColumn<bool>("bySignal"); // a FIFO line for element 2 alone, or a signal for all three
    QTest::newRow("control FIFO") << false;
    QTest::newRow("SIGUSR1, SIGUSR2") << true;
}

void TstSimulatorMany::oneElementOffTheNetworkAndSilent()
{
    QFETCH(bool, bySignal);
    const QSet<QString> all {net_->elementIp(1), net_->elementIp(2), net_->elementIp(3)};
    const QString two = net_->elementIp(2);
    // The FIFO line for element 2 or the signal for all; then the last element's word.
    auto command = [&](const QByteArray& line, int signalNumber, const QByteArray& state) {
        if (bySignal) {
            ::kill(pid_t(sharedSimulator_->processId()), signalNumber);
        } else if (!TestNetwork::tellSimulator(controlDir_.filePath("control"), line + " 2")) {
            return false;
        }
        return net_->waitForSimulatorLine(0, state + (bySignal ? " 3" : " 2"));
    };
    // Waits a second for the answers that do not come. The shared host has no routes, so it never
    // answers an ICMP echo: its paging answers tell who is on the network.
    auto pagingAnswers = [&] {
        console_->writeDatagram(kPaging, QHostAddress::Broadcast, 1901);
        return senders(collect(*console_, kElements, 1000));
    };
    // The level answers of elements 1 and 2, by sender.
    auto levels = [&] {
        QMap<QString, QByteArray> bySender;
        for (int i : {1, 2})
            console_->writeDatagram(QByteArrayLiteral("VOL"), QHostAddress(net_->elementIp(i)), 2977);
        for (const QNetworkDatagram& answer : collect(*console_, 2))
            bySender.insert(answer.senderAddress().toString(), answer.data());
        return bySender;
    };
    const QByteArray silence(1440, '\0');

    QVERIFY(command("down", SIGUSR1, "DOWN"));
    QCOMPARE(pagingAnswers(), bySignal ? QSet<QString>() : all - QSet<QString> {two});

    QVERIFY(command("up", SIGUSR1, "UP"));
    QCOMPARE(pagingAnswers(), all);

    QVERIFY(command("silent", SIGUSR2, "SILENT"));
    QMap<QString, QByteArray> heard = levels();
    QCOMPARE(heard.value(two), silence);
    QCOMPARE(heard.value(net_->elementIp(1)) == silence, bySignal);
    QVERIFY(command("sound", SIGUSR2, "SOUND"));
    heard = levels();
    QCOMPARE(heard.size(), 2);
    QVERIFY(heard.value(two) != silence && heard.value(net_->elementIp(1)) != silence);
}

NMS_E2E_MAIN(TstSimulatorMany)
#include "tst_simulator_many.moc"
