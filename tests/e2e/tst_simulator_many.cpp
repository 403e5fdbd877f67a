// Many elements from one simulator process on a shared element host (testnet-up.sh --shared-host,
// orbilane-element-sim --elements N): every element answers the one broadcast from its own
// address, the console's kernel learns a MAC of its own for each, and a unicast reaches only the
// element it is addressed to.
#include "support/TestNetwork.h"

#include <QNetworkDatagram>
#include <QProcess>
#include <QSet>
#include <QUdpSocket>
#include <QtEndian>
#include <QtTest>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

using nms::test::TestNetwork;

namespace {

constexpr int kElements = 3;
const QByteArray kPaging("DIZEZIZI KESTRION PAGING REQUEST");

struct Element {
    QString ns, ip, mac, interface;
};

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

bool enter(const QString& ns)
{
    const int fd = ::open(QFile::encodeName(QStringLiteral("/run/netns/") + ns).constData(), O_RDONLY | O_CLOEXEC);
    const bool entered = fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
    if (fd >= 0)
        ::close(fd);
    return entered;
}

} // namespace

class TstSimulatorMany : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void onlyTheSharedHostTakesMoreThan99();
    void everyElementAnswersWithItsOwnAddressAndMac();
    void unicastReachesOneElement();

private:
    QList<QNetworkDatagram> collect(QUdpSocket& socket, int count);

    QString name_ = QStringLiteral("many%1").arg(QCoreApplication::applicationPid());
    QString scripts_ = TestNetwork::sourceDir() + QStringLiteral("/scripts/");
    QList<Element> elements_;
    QProcess simulator_;
    int home_ = -1;
    QUdpSocket* console_ = nullptr;
};

void TstSimulatorMany::initTestCase()
{
    QString output;
    const int code = run(scripts_ + QStringLiteral("testnet-up.sh"),
                         {name_, QString::number(kElements), QStringLiteral("--shared-host")}, &output);
    QVERIFY2(code == 0, qPrintable(output));
    for (const QString& line : output.split(u'\n', Qt::SkipEmptyParts)) {
        const QStringList f = line.split(u' ');
        if (f.value(0) == QStringLiteral("element") && f.size() == 6)
            elements_.append({f[2], f[3], f[4], f[5]});
    }
    QCOMPARE(elements_.size(), kElements);

    // Straight into the element host, so that the PID is the simulator's own.
    const QByteArray nsPath = QFile::encodeName(QStringLiteral("/run/netns/%1-m").arg(name_));
    simulator_.setChildProcessModifier([nsPath] {
        const int fd = ::open(nsPath.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0)
            ::_exit(127);
    });
    simulator_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    simulator_.start(TestNetwork::simulatorPath(),
                     {QStringLiteral("--elements"), QString::number(kElements), QStringLiteral("--interface"),
                      QStringLiteral("ev"), QStringLiteral("--name"), QStringLiteral("rack"), QStringLiteral("--role"),
                      QStringLiteral("decoder")});
    QTRY_VERIFY_WITH_TIMEOUT(simulator_.canReadLine() || simulator_.state() == QProcess::NotRunning, 10000);
    QCOMPARE(simulator_.readLine().trimmed(), QByteArray("READY"));

    home_ = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    QVERIFY(enter(name_ + QStringLiteral("-c")));
    console_ = new QUdpSocket(this);
    QVERIFY(console_->bind(QHostAddress::AnyIPv4, 2976));
}

void TstSimulatorMany::cleanupTestCase()
{
    delete console_;
    if (simulator_.state() != QProcess::NotRunning) {
        simulator_.terminate();
        if (!simulator_.waitForFinished(3000))
            simulator_.kill();
        simulator_.waitForFinished(3000);
    }
    if (home_ >= 0) {
        ::setns(home_, CLONE_NEWNET);
        ::close(home_);
    }
    QString output;
    run(scripts_ + QStringLiteral("testnet-down.sh"), {name_}, &output);
}

QList<QNetworkDatagram> TstSimulatorMany::collect(QUdpSocket& socket, int count)
{
    QList<QNetworkDatagram> received;
    QDeadlineTimer deadline(3000);
    while (received.size() < count && !deadline.hasExpired()) {
        if (!socket.hasPendingDatagrams() && !socket.waitForReadyRead(int(deadline.remainingTime())))
            break;
        while (socket.hasPendingDatagrams())
            received.append(socket.receiveDatagram());
    }
    return received;
}

void TstSimulatorMany::onlyTheSharedHostTakesMoreThan99()
{
    QString output;
    // Refused before anything is made; the name is not even looked at.
    QCOMPARE(
        run(scripts_ + QStringLiteral("testnet-up.sh"), {name_ + QStringLiteral("x"), QStringLiteral("100")}, &output),
        2);
    QCOMPARE(run(scripts_ + QStringLiteral("testnet-up.sh"),
                 {name_ + QStringLiteral("x"), QStringLiteral("2001"), QStringLiteral("--shared-host")}, &output),
             2);
}

void TstSimulatorMany::everyElementAnswersWithItsOwnAddressAndMac()
{
    QVERIFY(console_->writeDatagram(kPaging, QHostAddress(QStringLiteral("255.255.255.255")), 1901) == kPaging.size());
    const QList<QNetworkDatagram> answers = collect(*console_, kElements);
    QCOMPARE(answers.size(), kElements);
    QSet<QString> from;
    for (const QNetworkDatagram& answer : answers) {
        const QString sender = answer.senderAddress().toString();
        from.insert(sender);
        const int i =
            int(std::find_if(elements_.begin(), elements_.end(), [&](const Element& e) { return e.ip == sender; })
                - elements_.begin());
        QVERIFY2(i < kElements, qPrintable(sender));
        const QByteArray bytes = answer.data();
        QCOMPARE(bytes.size(), 41); // a decoder's answer
        QCOMPARE(answer.senderPort(), 2976);
        // Its own address in the first four bytes, its own name and serial.
        QCOMPARE(QHostAddress(qFromBigEndian<quint32>(bytes.constData())).toString(), sender);
        QCOMPARE(bytes.mid(19, 16), QByteArray("rack " + QByteArray::number(i + 1)).leftJustified(16, ' '));
        QCOMPARE(bytes.mid(36, 4), QByteArray::fromHex("000000") + char(i + 1));
    }
    QCOMPARE(from.size(), kElements);

    // The console's kernel holds each element under the MAC of its own interface.
    QString table;
    QCOMPARE(run(QStringLiteral("ip"),
                 {QStringLiteral("neigh"), QStringLiteral("show"), QStringLiteral("dev"), QStringLiteral("eth0")},
                 &table),
             0);
    for (const Element& e : elements_)
        QVERIFY2(table.contains(e.ip + QStringLiteral(" lladdr ") + e.mac), qPrintable(table));
}

void TstSimulatorMany::unicastReachesOneElement()
{
    const Element& second = elements_.at(1);
    QVERIFY(console_->writeDatagram(QByteArrayLiteral("VOL"), QHostAddress(second.ip), 2977) == 3);
    const QList<QNetworkDatagram> answers = collect(*console_, 2); // waits out the window for a second one
    QCOMPARE(answers.size(), 1);
    QCOMPARE(answers.first().senderAddress().toString(), second.ip);
    QCOMPARE(answers.first().data().size(), 1440);
}

NMS_E2E_MAIN(TstSimulatorMany)
#include "tst_simulator_many.moc"
