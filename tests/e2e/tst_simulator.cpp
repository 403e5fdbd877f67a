// The element simulator on the namespace LAN, seen from a console side of the test's own:
// one UDP socket on port 2976 in the console's namespace, raw bytes only, and the console's ICMP echo.

#include "services/EchoService.h"
#include "support/TestNetwork.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QProcess>
#include <QUdpSocket>
#include <QtTest>

#include <cmath>
#include <csignal>

using nms::test::LoggedDatagram;
using nms::test::TestNetwork;

namespace {

const QByteArray kPaging("DIZEZIZI KESTRION PAGING REQUEST");

struct Reply {
    QHostAddress from;
    quint16 port = 0;
    QByteArray bytes;
};

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(QByteArray(text));
}

QByteArray sampleBytes(qint32 sample)
{
    QByteArray bytes;
    bytes += char(sample >> 16 & 0xFF);
    bytes += char(sample >> 8 & 0xFF);
    bytes += char(sample & 0xFF);
    return bytes;
}

// Exit code of a command run where the test's thread is, with its output.
int run(const QStringList& command, QString* output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(command.first(), command.mid(1));
    if (!process.waitForFinished(10000))
        return -1;
    *output = QString::fromLocal8Bit(process.readAll());
    return process.exitCode();
}

// Loudness of a LevelSamples the way the console's meter measures it: 479 big-endian triples
// (the 480th is never looked at), a negative sample counted as its bitwise complement.
qint32 meterPeak(const QByteArray& samples)
{
    qint32 peak = 0;
    for (int i = 0; i + 3 <= 1437; i += 3) {
        quint8 b[3] = {quint8(samples.at(i)), quint8(samples.at(i + 1)), quint8(samples.at(i + 2))};
        if (b[0] > 127) {
            for (quint8& byte : b)
                byte = quint8(255 - byte);
        }
        peak = qMax(peak, qint32(b[0] << 16 | b[1] << 8 | b[2]));
    }
    return peak;
}

// Whether `ip` answers an ICMP echo from the console's side: one echo of half a second, or more
// of them until one is answered within `retryMs`.
bool echoAnswered(const QString& ip, int retryMs = 0)
{
    const QDeadlineTimer deadline(retryMs);
    do {
        nms::LinuxEchoService echo;
        QSignalSpy finished(&echo, &nms::EchoService::finished);
        echo.send(ip, 500);
        if (finished.wait(2000) && finished.at(0).at(0).value<nms::EchoReply>().status == 0)
            return true;
    } while (!deadline.hasExpired());
    return false;
}

} // namespace

class TstSimulator : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();

    void pagingReachesEveryElement();
    void configWriteMovesTheElement();
    void levelQuery_data();
    void levelQuery();
    void attenuationShowsInLaterFeedback();
    void faultyIdentity();
    void answerFaults();
    void refusedConfiguration();
    void badOptionsAreRefused();
    void offTheNetworkAndSilent_data();
    void offTheNetworkAndSilent();

private:
    void page();
    void send(const QByteArray& bytes, const QString& ip, quint16 port);
    // Waits for the next reply from `ip` and returns it (empty bytes on time-out).
    Reply nextReplyFrom(const QString& ip, int timeoutMs = 3000);
    QList<LoggedDatagram> logged(int element, bool incoming, quint16 localPort) const;
    QString elementAddresses(int element) const;

    TestNetwork* net_ = nullptr;
    QUdpSocket* socket_ = nullptr;
    QList<Reply> replies_;
};

void TstSimulator::initTestCase()
{
    net_ = new TestNetwork(3, this);
    QVERIFY2(net_->up(), qPrintable(net_->errorString()));
    QVERIFY2(net_->enterConsoleNamespace(), qPrintable(net_->errorString()));
    socket_ = new QUdpSocket(this);
    QVERIFY2(socket_->bind(QHostAddress::AnyIPv4, 2976), qPrintable(socket_->errorString()));
    connect(socket_, &QUdpSocket::readyRead, this, [this] {
        while (socket_->hasPendingDatagrams()) {
            const QNetworkDatagram d = socket_->receiveDatagram();
            replies_.append(Reply {d.senderAddress(), quint16(d.senderPort()), d.data()});
        }
    });
}

void TstSimulator::cleanup()
{
    net_->stopAllSimulators();
    replies_.clear();
}

void TstSimulator::cleanupTestCase()
{
    const QString name = net_->name();
    delete socket_;
    socket_ = nullptr;
    delete net_;
    net_ = nullptr;
    QString listing;
    QCOMPARE(run({"ip", "netns", "list"}, &listing), 0);
    QVERIFY2(!listing.contains(name + QLatin1Char('-')), qPrintable(listing));
}

void TstSimulator::page()
{
    QCOMPARE(socket_->writeDatagram(kPaging, QHostAddress::Broadcast, 1901), qint64(kPaging.size()));
}

void TstSimulator::send(const QByteArray& bytes, const QString& ip, quint16 port)
{
    QCOMPARE(socket_->writeDatagram(bytes, QHostAddress(ip), port), qint64(bytes.size()));
}

Reply TstSimulator::nextReplyFrom(const QString& ip, int timeoutMs)
{
    const QHostAddress from(ip);
    auto find = [&] {
        for (int k = 0; k < replies_.size(); ++k) {
            if (replies_.at(k).from == from)
                return k;
        }
        return -1;
    };
    QSignalSpy spy(socket_, &QUdpSocket::readyRead);
    QElapsedTimer clock;
    clock.start();
    while (find() < 0 && clock.elapsed() < timeoutMs)
        spy.wait(int(timeoutMs - clock.elapsed()));
    const int k = find();
    return k < 0 ? Reply {} : replies_.takeAt(k);
}

QList<LoggedDatagram> TstSimulator::logged(int element, bool incoming, quint16 localPort) const
{
    QList<LoggedDatagram> found;
    for (const LoggedDatagram& d : net_->datagrams(element)) {
        if (d.incoming == incoming && d.localPort == localPort)
            found.append(d);
    }
    return found;
}

QString TstSimulator::elementAddresses(int element) const
{
    QString output;
    net_->runIn(net_->elementNamespace(element),
                {QStringLiteral("ip"), QStringLiteral("-4"), QStringLiteral("-o"), QStringLiteral("addr"),
                 QStringLiteral("show"), QStringLiteral("dev"), QStringLiteral("eth0")},
                &output);
    return output;
}

void TstSimulator::pagingReachesEveryElement()
{
    QVERIFY(net_->startSimulator(1,
                                 {"--role", "encoder", "--name", "STUDIO A", "--serial", "42", "--mask",
                                  "255.255.255.0", "--gateway", "10.77.0.254", "--remote", "10.77.0.12", "--input", "1",
                                  "--type", "0", "--tx", "1"}));
    QVERIFY(net_->startSimulator(2,
                                 {"--role", "1", "--name", "tx site north-east", "--serial", "1255", "--type", "1",
                                  "--feedback-length", "41", "--atten", "200"}));
    QVERIFY(net_->startSimulator(3,
                                 {"--role", "decoder", "--name", "RX", "--serial", "255", "--atten", "128", "--remote",
                                  "10.77.0.11", "--mask", "255.255.0.0"}));

    // A near miss first: it must go unanswered, and an answer to it would precede the others.
    QCOMPARE(socket_->writeDatagram(QByteArray("DIZEZIZI KESTRION PAGING REQUESX"), QHostAddress::Broadcast, 1901),
             qint64(32));
    page();
    QTRY_COMPARE(replies_.size(), 3);

    const QMap<QString, QByteArray> expected {
        {"10.77.0.11",
         hex("0a4d000b ffffff00 0a4d00fe 0a4d000c 010001 5354554449 4f2041 2020202020202020 01 0000002a")},
        {"10.77.0.12",
         hex("0a4d000c ffffff00 00000000 00000000 000100 7478207369746520 6e6f7274682d6561 01 000001ff c8")},
        {"10.77.0.13",
         hex("0a4d000d ffff0000 00000000 0a4d000b 000000 5258 2020202020202020202020202020 02 000000ff 80")},
    };
    for (const Reply& reply : replies_) {
        const QString from = reply.from.toString();
        QVERIFY2(expected.contains(from), qPrintable(from));
        QCOMPARE(reply.port, quint16(2976));
        QCOMPARE(reply.bytes.toHex(' '), expected.value(from).toHex(' '));
    }
    QCOMPARE(QSet<QHostAddress>({replies_.at(0).from, replies_.at(1).from, replies_.at(2).from}).size(), 3);

    for (int i = 1; i <= 3; ++i) {
        const QList<LoggedDatagram> in = logged(i, true, 1901);
        QCOMPARE(in.size(), 2);
        QCOMPARE(in.at(1).bytes, kPaging);
        QCOMPARE(in.at(1).peer, QHostAddress(net_->consoleIp()));
        QCOMPARE(in.at(1).peerPort, quint16(2976));
        const QList<LoggedDatagram> out = logged(i, false, 2976);
        QCOMPARE(out.size(), 1);
        QCOMPARE(out.at(0).bytes, expected.value(net_->elementIp(i)));
        QCOMPARE(out.at(0).peer, QHostAddress(net_->consoleIp()));
        QVERIFY(in.at(1).time <= out.at(0).time);
    }
}

void TstSimulator::configWriteMovesTheElement()
{
    QVERIFY(net_->startSimulator(1, {"--role", "encoder", "--serial", "7", "--name", "OLD NAME"}));
    const QByteArray moveAway = hex("0a4d0032 ffffff00 0a4d0001 0a4d000d 010100") + QByteArray("STUDIO B        ");
    QCOMPARE(moveAway.size(), 35);
    send(moveAway, net_->elementIp(1), 2976);

    const Reply moved = nextReplyFrom("10.77.0.50");
    QCOMPARE(moved.port, quint16(2976));
    QCOMPARE(moved.bytes.toHex(' '), (moveAway + hex("01 00000007")).toHex(' '));
    QVERIFY(replies_.isEmpty()); // nothing from the old address

    const QString addresses = elementAddresses(1);
    QVERIFY2(addresses.contains("10.77.0.50/24") && !addresses.contains("10.77.0.11/"), qPrintable(addresses));
    QString routes;
    net_->runIn(net_->elementNamespace(1), {"ip", "-4", "route", "show", "default"}, &routes);
    QVERIFY2(routes.contains("default dev eth0"), qPrintable(routes));

    // One datagram to the new address makes the console's kernel resolve it, as the console does.
    send(QByteArray(1, 'x'), "10.77.0.50", 2977);
    QString neighbours;
    auto resolved = [&] {
        run({"ip", "neigh", "show", "10.77.0.50"}, &neighbours);
        return neighbours.contains("lladdr " + net_->elementMac(1)) && !neighbours.contains("INCOMPLETE")
            && !neighbours.contains("FAILED");
    };
    QTRY_VERIFY2(resolved(), qPrintable(neighbours));

    // The element stays reachable by broadcast at its new home and keeps what it was given.
    page();
    QCOMPARE(nextReplyFrom("10.77.0.50").bytes, moveAway + hex("01 00000007"));

    QByteArray moveBack = moveAway;
    moveBack.replace(0, 4, hex("0a4d000b"));
    send(moveBack, "10.77.0.50", 2976);
    QCOMPARE(nextReplyFrom(net_->elementIp(1)).bytes, moveBack + hex("01 00000007"));
    QVERIFY(elementAddresses(1).contains(net_->elementIp(1) + "/24"));
}

void TstSimulator::levelQuery_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<qint32>("peak");
    QTest::addColumn<QByteArray>("loudestTriple");

    QTest::newRow("half scale") << QStringList {"--level-peak", "4194304"} << 4194304 << hex("400000");
    QTest::newRow("full scale") << QStringList {"--level-peak", "8388607"} << 8388607 << hex("7fffff");
    QTest::newRow("most negative") << QStringList {"--level-peak", "-8388608"} << 8388607 << hex("800000");
    const qint32 sixDb = qint32(std::lround(8388607 * std::pow(10.0, -6.0 / 20)));
    QTest::newRow("-6 dBFS") << QStringList {"--level-dbfs", "-6"} << sixDb << sampleBytes(sixDb);
    QTest::newRow("silence") << QStringList {"--level-silence"} << 0 << QByteArray();
}

void TstSimulator::levelQuery()
{
    QFETCH(QStringList, options);
    QFETCH(qint32, peak);
    QFETCH(QByteArray, loudestTriple);

    QVERIFY(net_->startSimulator(2, options));
    send("VOL", net_->elementIp(2), 2977);
    const Reply reply = nextReplyFrom(net_->elementIp(2));
    QCOMPARE(reply.port, quint16(2976));
    QCOMPARE(reply.bytes.size(), 1440);
    QCOMPARE(meterPeak(reply.bytes), peak);

    if (peak == 0) {
        QCOMPARE(reply.bytes, QByteArray(1440, '\0'));
        return;
    }
    bool found = false;
    int negatives = 0;
    for (int i = 0; i < 1437; i += 3) {
        found = found || reply.bytes.mid(i, 3) == loudestTriple;
        negatives += quint8(reply.bytes.at(i)) > 127 ? 1 : 0;
    }
    QVERIFY2(found, "the loudest sample must stand before the ignored last triple");
    QVERIFY2(negatives > 100, "a sine, not a constant");
}

void TstSimulator::attenuationShowsInLaterFeedback()
{
    QVERIFY(net_->startSimulator(3, {"--role", "decoder", "--atten", "255"}));
    page();
    QCOMPARE(nextReplyFrom(net_->elementIp(3)).bytes.mid(35).toHex(' '), hex("02 00000001 ff").toHex(' '));

    send(hex("8000"), net_->elementIp(3), 2977);
    send(hex("20"), net_->elementIp(3), 2977); // not an attenuation command: ignored
    // Paging and commands come in on different sockets: let the commands land first.
    QTRY_COMPARE(logged(3, true, 2977).size(), 2);
    page();
    const Reply after = nextReplyFrom(net_->elementIp(3));
    QCOMPARE(after.bytes.size(), 41);
    QCOMPARE(quint8(after.bytes.at(40)), quint8(0x80));
    QVERIFY(logged(3, false, 2976).size() == 2); // the command itself is never answered
}

void TstSimulator::faultyIdentity()
{
    QVERIFY(net_->startSimulator(
        1,
        {"--role-byte", "3", "--serial-bytes", "0,0,0,0", "--report-ip", "10.77.0.200", "--report-name", "impostor"}));
    QVERIFY(net_->startSimulator(3, {"--role", "decoder", "--feedback-length", "40", "--serial-bytes", "0,0,1,255"}));
    page();

    const Reply liar = nextReplyFrom(net_->elementIp(1));
    QCOMPARE(liar.bytes.size(), 40);
    QCOMPARE(liar.bytes.left(4), hex("0a4d00c8"));
    QCOMPARE(liar.bytes.mid(19, 16), QByteArray("impostor        "));
    QCOMPARE(liar.bytes.mid(35), hex("03 00000000"));

    const Reply shortDecoder = nextReplyFrom(net_->elementIp(3));
    QCOMPARE(shortDecoder.bytes.size(), 40);
    QCOMPARE(shortDecoder.bytes.mid(35), hex("02 000001ff"));
}

void TstSimulator::answerFaults()
{
    QVERIFY(net_->startSimulator(1, {"--short-reply", "--name", "BEFORE"}));
    QVERIFY(net_->startSimulator(2, {"--no-answer"}));
    QVERIFY(net_->startSimulator(3, {"--delay-ms", "400"}));

    // A short reply is all a ConfigWrite gets, though the change is applied.
    const QByteArray rename = hex("0a4d000b ffffff00 00000000 00000000 000000") + QByteArray("AFTER           ");
    send(rename, net_->elementIp(1), 2976);
    QCOMPARE(nextReplyFrom(net_->elementIp(1)).bytes.size(), 3);

    QElapsedTimer sincePaging;
    sincePaging.start();
    page();
    QCOMPARE(nextReplyFrom(net_->elementIp(1)).bytes.mid(19, 16), QByteArray("AFTER           "));
    const Reply late = nextReplyFrom(net_->elementIp(3));
    QCOMPARE(late.bytes.size(), 40);
    QVERIFY2(sincePaging.elapsed() >= 400, qPrintable(QString::number(sincePaging.elapsed())));

    // The silent element heard the paging and said nothing, now or later.
    QTRY_COMPARE(logged(2, true, 1901).size(), 1);
    QSignalSpy more(socket_, &QUdpSocket::readyRead);
    QVERIFY(!more.wait(300));
    QVERIFY(replies_.isEmpty());
    QVERIFY(logged(2, false, 2976).isEmpty());
}

void TstSimulator::refusedConfiguration()
{
    QVERIFY(net_->startSimulator(1, {"--ignore-config-fields", "--name", "STAYS", "--serial", "9"}));
    const QByteArray change = hex("0a4d003c ffffff00 0a4d0001 0a4d000c 010101") + QByteArray("CHANGED         ");
    send(change, net_->elementIp(1), 2976);

    const Reply reply = nextReplyFrom(net_->elementIp(1));
    QCOMPARE(
        reply.bytes.toHex(' '),
        hex("0a4d000b ffffff00 00000000 00000000 000000 5354415953 2020202020202020202020 01 00000009").toHex(' '));
    QVERIFY(elementAddresses(1).contains(net_->elementIp(1) + "/24"));
}

void TstSimulator::badOptionsAreRefused()
{
    const QList<QStringList> refused {
        {"--role", "router"},
        {"--serial", "256256256256"},
        {"--feedback-length", "42"},
        {"--level-dbfs", "3"},
        {"--level-peak", "1", "--level-silence"},
        {"--serial-bytes", "0,0,256,0"},
        {"--mask", "255.255.255"},
    };
    for (const QStringList& options : refused) {
        QVERIFY2(!net_->startSimulator(1, options), qPrintable(options.join(' ')));
        QVERIFY2(net_->errorString().contains("exit code 2"), qPrintable(net_->errorString()));
    }
    QVERIFY(!net_->startSimulator(1, {"--interface", "nosuch0"}));
    QVERIFY2(net_->errorString().contains("exit code 1"), qPrintable(net_->errorString()));
}

void TstSimulator::offTheNetworkAndSilent_data()
{
    QTest::addColumn<bool>("bySignal");
    QTest::newRow("control FIFO") << false;
    QTest::newRow("SIGUSR1, SIGUSR2") << true;
}

void TstSimulator::offTheNetworkAndSilent()
{
    QFETCH(bool, bySignal);
    QTemporaryDir dir;
    const QString fifo = dir.filePath("control");
    QProcess* sim = net_->startSimulator(2, {"--control", fifo, "--level-peak", "4194304"});
    QVERIFY(sim);
    const QString ip = net_->elementIp(2);
    const QString ns = net_->elementNamespace(2);
    // A FIFO line, with or without the element's number, or the signal; then the element's word.
    auto command = [&](const QByteArray& line, int signalNumber, const QByteArray& said) {
        if (bySignal) {
            ::kill(pid_t(sim->processId()), signalNumber);
        } else if (!TestNetwork::tellSimulator(fifo, line)) {
            return false;
        }
        return net_->waitForSimulatorLine(2, said);
    };
    QVERIFY(echoAnswered(ip));

    QVERIFY(command("down 1", SIGUSR1, "DOWN 1"));
    page();
    QVERIFY(!echoAnswered(ip));
    QVERIFY(replies_.isEmpty());
    // Whatever the kernel drops while the link is down comes back with it.
    QCOMPARE(net_->runIn(ns, {"ip", "addr", "flush", "dev", "eth0"}), 0);

    QVERIFY(command("up", SIGUSR1, "UP 1"));
    QVERIFY(echoAnswered(ip, 5000));
    page();
    QCOMPARE(nextReplyFrom(ip).bytes.size(), 40);
    QVERIFY(elementAddresses(2).contains(ip + "/24"));
    QString routes;
    net_->runIn(ns, {"ip", "-4", "route", "show"}, &routes);
    QVERIFY2(routes.contains("default dev eth0") && routes.contains("10.77.0.0/24 dev eth0"), qPrintable(routes));

    QVERIFY(command("silent 1", SIGUSR2, "SILENT 1"));
    send("VOL", ip, 2977);
    QCOMPARE(nextReplyFrom(ip).bytes, QByteArray(1440, '\0'));
    QVERIFY(command("sound", SIGUSR2, "SOUND 1"));
    send("VOL", ip, 2977);
    QCOMPARE(meterPeak(nextReplyFrom(ip).bytes), 4194304);

    net_->stopSimulator(2);
    QVERIFY(!QFile::exists(fifo));
}

NMS_E2E_MAIN(TstSimulator)
#include "tst_simulator.moc"
