#include "services/EchoService.h"
#include "support/PrivateNetwork.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <linux/capability.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

using nms::EchoReply;
using nms::LinuxEchoService;
using nms::RawIcmpVerdict;

namespace {

quint32 ip(const char* text)
{
    return inet_addr(text);
}

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out += char(v);
    return out;
}

QByteArray big16(quint16 v)
{
    return bytes({v >> 8, v & 0xFF});
}

QByteArray raw32(quint32 v)
{
    return QByteArray(reinterpret_cast<const char*>(&v), 4);
}

// An IPv4 header (no options unless optionWords > 0) followed by the payload.
QByteArray ipPacket(quint32 from, quint32 to, int protocol, const QByteArray& payload, int optionWords = 0)
{
    QByteArray h;
    h += char(0x40 | (5 + optionWords));
    h += char(0);
    h += big16(quint16(20 + optionWords * 4 + payload.size()));
    h += QByteArray(4, 0);
    h += char(64);
    h += char(protocol);
    h += QByteArray(2, 0);
    h += raw32(from);
    h += raw32(to);
    h += QByteArray(optionWords * 4, char(1));
    return h + payload;
}

QByteArray icmp(int type, int code, quint16 id, quint16 seq, const QByteArray& rest)
{
    return bytes({type, code, 0, 0}) + big16(id) + big16(seq) + rest;
}

// The ICMP error a router at `router` sends back about our echo request (id, seq) to target.
QByteArray icmpError(int type, int code, quint32 target, quint16 id, quint16 seq, int quotedProtocol = 1)
{
    const QByteArray quoted = ipPacket(ip("10.20.0.1"), target, quotedProtocol, icmp(8, 0, id, seq, "hello"));
    return ipPacket(ip("10.20.0.2"), ip("10.20.0.1"), 1, bytes({type, code}) + QByteArray(6, 0) + quoted);
}

} // namespace

// The pure helpers: address conversion, status mapping, raw packet matching.
class TestEchoHelpers : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void icmpErrors_data();
    void icmpErrors();
    void sendErrors();
    void rawReplyMatching();
    void rawErrorMatching();
    void rawTruncatedAndGarbage();
    void checksum();
};

void TestEchoHelpers::icmpErrors_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("status");
    const int table[][3] = {{3, 0, 11002},  {3, 1, 11003},  {3, 2, 11004},  {3, 3, 11005},  {3, 4, 11009},
                            {3, 5, 11012},  {3, 6, 11002},  {3, 7, 11003},  {3, 13, 11018}, {3, 15, 11018},
                            {11, 0, 11013}, {11, 1, 11014}, {12, 0, 11015}, {12, 2, 11015}, {4, 0, 11016},
                            {5, 1, 11050},  {0, 0, 11050},  {42, 7, 11050}};
    for (const auto& row : table)
        QTest::addRow("%d/%d", row[0], row[1]) << row[0] << row[1] << row[2];
}

void TestEchoHelpers::icmpErrors()
{
    QFETCH(int, type);
    QFETCH(int, code);
    QFETCH(int, status);
    QCOMPARE(nms::IcmpErrorToStatus(type, code), status);
}

void TestEchoHelpers::sendErrors()
{
    QCOMPARE(nms::SendErrorToStatus(ENETUNREACH), 11002);
    QCOMPARE(nms::SendErrorToStatus(EHOSTUNREACH), 11003);
    QCOMPARE(nms::SendErrorToStatus(EMSGSIZE), 11009);
    QCOMPARE(nms::SendErrorToStatus(ENOBUFS), 11006);
    QCOMPARE(nms::SendErrorToStatus(EACCES), 11050);
    QCOMPARE(nms::SendErrorToStatus(0), 11050);
}

void TestEchoHelpers::rawReplyMatching()
{
    const quint32 target = ip("10.20.0.2");
    auto verdict = [&](quint32 from, int type, quint16 id, quint16 seq) {
        const QByteArray packet = ipPacket(from, ip("10.20.0.1"), 1, icmp(type, 0, id, seq, "hello"));
        return nms::ClassifyRawIcmp(packet, target, 0x1234, 7).kind;
    };
    QCOMPARE(verdict(target, 0, 0x1234, 7), RawIcmpVerdict::EchoReply);
    QCOMPARE(verdict(target, 0, 0x1235, 7), RawIcmpVerdict::Unrelated);
    QCOMPARE(verdict(target, 0, 0x1234, 8), RawIcmpVerdict::Unrelated);
    QCOMPARE(verdict(ip("10.20.0.3"), 0, 0x1234, 7), RawIcmpVerdict::Unrelated);
    // Our own request looped back to a raw socket is not an answer.
    QCOMPARE(verdict(target, 8, 0x1234, 7), RawIcmpVerdict::Unrelated);

    const QByteArray withOptions = ipPacket(target, ip("10.20.0.1"), 1, icmp(0, 0, 0x1234, 7, "hello"), 2);
    QCOMPARE(nms::ClassifyRawIcmp(withOptions, target, 0x1234, 7).kind, RawIcmpVerdict::EchoReply);
    const QByteArray notIcmp = ipPacket(target, ip("10.20.0.1"), 17, icmp(0, 0, 0x1234, 7, ""));
    QCOMPARE(nms::ClassifyRawIcmp(notIcmp, target, 0x1234, 7).kind, RawIcmpVerdict::Unrelated);
}

void TestEchoHelpers::rawErrorMatching()
{
    const quint32 target = ip("10.30.0.1");
    const auto ours = nms::ClassifyRawIcmp(icmpError(3, 1, target, 0x1234, 7), target, 0x1234, 7);
    QCOMPARE(ours.kind, RawIcmpVerdict::Error);
    QCOMPARE(ours.type, 3);
    QCOMPARE(ours.code, 1);
    const auto ttl = nms::ClassifyRawIcmp(icmpError(11, 0, target, 0x1234, 7), target, 0x1234, 7);
    QCOMPARE(ttl.kind, RawIcmpVerdict::Error);
    QCOMPARE(ttl.type, 11);

    auto kind = [&](const QByteArray& packet) { return nms::ClassifyRawIcmp(packet, target, 0x1234, 7).kind; };
    QCOMPARE(kind(icmpError(3, 1, target, 0x9999, 7)), RawIcmpVerdict::Unrelated);
    QCOMPARE(kind(icmpError(3, 1, target, 0x1234, 6)), RawIcmpVerdict::Unrelated);
    QCOMPARE(kind(icmpError(3, 1, ip("10.30.0.2"), 0x1234, 7)), RawIcmpVerdict::Unrelated);
    QCOMPARE(kind(icmpError(3, 3, target, 0x1234, 7, 17)), RawIcmpVerdict::Unrelated);
    QCOMPARE(kind(icmpError(5, 0, target, 0x1234, 7)), RawIcmpVerdict::Unrelated); // redirect
}

void TestEchoHelpers::rawTruncatedAndGarbage()
{
    const quint32 target = ip("10.30.0.1");
    // Everything up to the quoted identifier and sequence is needed; the quoted payload is not.
    const QByteArray error = icmpError(3, 1, target, 0x1234, 7);
    for (int n = 0; n <= error.size(); ++n) {
        const auto kind = nms::ClassifyRawIcmp(error.left(n), target, 0x1234, 7).kind;
        QCOMPARE(kind, n >= 20 + 8 + 20 + 8 ? RawIcmpVerdict::Error : RawIcmpVerdict::Unrelated);
    }
    const QByteArray reply = ipPacket(target, ip("10.20.0.1"), 1, icmp(0, 0, 0x1234, 7, "hello"));
    for (int n = 0; n <= reply.size(); ++n) {
        const auto kind = nms::ClassifyRawIcmp(reply.left(n), target, 0x1234, 7).kind;
        QCOMPARE(kind, n >= 28 ? RawIcmpVerdict::EchoReply : RawIcmpVerdict::Unrelated);
    }
    // A header length pointing past the end, and plain noise, must not be read beyond the buffer.
    QByteArray lying = reply;
    lying[0] = char(0x4F);
    QCOMPARE(nms::ClassifyRawIcmp(lying, target, 0x1234, 7).kind, RawIcmpVerdict::Unrelated);
    for (int seed = 0; seed < 200; ++seed) {
        QByteArray noise(seed % 90, Qt::Uninitialized);
        for (int i = 0; i < noise.size(); ++i)
            noise[i] = char((seed * 131 + i * 71) ^ (i << 3));
        if (!noise.isEmpty())
            noise[0] = char(0x45);
        nms::ClassifyRawIcmp(noise, target, 0x1234, 7);
    }
}

void TestEchoHelpers::checksum()
{
    // The worked example of RFC 1071, and an odd length.
    QCOMPARE(nms::InternetChecksum(bytes({0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7})), quint16(0x220D));
    QCOMPARE(nms::InternetChecksum(bytes({0x01})), quint16(0xFEFF));
    // A buffer carrying its own checksum sums to zero.
    QByteArray packet = icmp(8, 0, 0xBEEF, 3, "hello");
    const quint16 sum = nms::InternetChecksum(packet);
    packet[2] = char(sum >> 8);
    packet[3] = char(sum & 0xFF);
    QCOMPARE(nms::InternetChecksum(packet), quint16(0));
}

namespace {

bool ipCmd(const QString& line)
{
    return nms::test::IpCommand(line);
}

bool writeFile(const QString& path, const QByteArray& text)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}

// Takes CAP_NET_RAW out of (or back into) this thread's effective set; it stays permitted.
bool setRawCapability(bool effective)
{
    __user_cap_header_struct header {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    const quint32 bit = 1u << CAP_NET_RAW;
    data[0].effective = effective ? data[0].effective | bit : data[0].effective & ~bit;
    return ::syscall(SYS_capset, &header, data) == 0;
}

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

} // namespace

// Real probes inside a private network namespace made by main(): loopback, plus a veth link to
// a second private namespace (a child process) that answers echoes and routes some addresses to
// "unreachable" and "prohibit" so that it sends ICMP errors back.
class TestEchoNamespace : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void probes_data();
    void probes();
    void silentAddressTimesOut_data();
    void silentAddressTimesOut();
    void unusableAddressesAreNotProbed();
    void newerSendSupersedesOlder();
    void facility();

private:
    bool peer(const QString& line) { return m_peer.run(line); }
    void allowDatagram(bool allowed);
    EchoReply probe(LinuxEchoService& service, const QString& address, int timeoutMs = 1000);

    nms::test::PeerNamespace m_peer;
};

void TestEchoNamespace::allowDatagram(bool allowed)
{
    QVERIFY(writeFile(QStringLiteral("/proc/sys/net/ipv4/ping_group_range"), allowed ? "0 2147483647" : "1 0"));
}

void TestEchoNamespace::initTestCase()
{
    QVERIFY(ipCmd(QStringLiteral("link set lo up")));
    // The peer: a sleeping child in its own network namespace, killed with us if we die.
    QVERIFY(m_peer.start());
    QVERIFY(ipCmd(QStringLiteral("addr add 10.20.0.1/24 dev veth0")));
    QVERIFY(ipCmd(QStringLiteral("link set veth0 up")));
    QVERIFY(ipCmd(QStringLiteral("route add 10.30.0.0/16 via 10.20.0.2")));
    QVERIFY(ipCmd(QStringLiteral("route add 10.31.0.0/16 via 10.20.0.2")));
    QVERIFY(ipCmd(QStringLiteral("route add unreachable 10.9.0.0/16")));
    QVERIFY(ipCmd(QStringLiteral("route add prohibit 10.8.0.0/16")));
    QVERIFY(peer(
        QStringLiteral("ip link set lo up && ip addr add 10.20.0.2/24 dev veth1 && ip link set veth1 up"
                       " && ip route add unreachable 10.30.0.0/16 && ip route add prohibit 10.31.0.0/16"
                       " && echo 1 > /proc/sys/net/ipv4/ip_forward && echo 0 > /proc/sys/net/ipv4/icmp_ratelimit")));
}

EchoReply TestEchoNamespace::probe(LinuxEchoService& service, const QString& address, int timeoutMs)
{
    QSignalSpy spy(&service, &nms::EchoService::finished);
    service.send(address, timeoutMs);
    if (spy.count() != 0) {
        qWarning("finished() came from inside send()");
        return EchoReply {-99, 0};
    }
    if (!spy.wait(timeoutMs + 2000) || spy.count() != 1)
        return EchoReply {-98, 0};
    return qvariant_cast<EchoReply>(spy.at(0).at(0));
}

void TestEchoNamespace::probes_data()
{
    QTest::addColumn<bool>("datagram");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("status");
    for (bool datagram : {false, true}) {
        const char* kind = datagram ? "datagram" : "raw";
        QTest::addRow("%s loopback", kind) << datagram << "127.0.0.1" << 0;
        QTest::addRow("%s peer", kind) << datagram << "10.20.0.2" << 0;
        QTest::addRow("%s peer says host unreachable", kind) << datagram << "10.30.0.1" << 11003;
        QTest::addRow("%s peer says prohibited", kind) << datagram << "10.31.0.1" << 11018;
        QTest::addRow("%s local unreachable route", kind) << datagram << "10.9.0.1" << 11003;
        QTest::addRow("%s local prohibit route", kind) << datagram << "10.8.0.1" << 11050;
    }
}

void TestEchoNamespace::probes()
{
    QFETCH(bool, datagram);
    QFETCH(QString, address);
    QFETCH(int, status);
    allowDatagram(datagram);
    LinuxEchoService service;
    const int descriptors = openDescriptors();
    QElapsedTimer clock;
    clock.start();
    const EchoReply reply = probe(service, address);
    const qint64 wholeProbeUs = clock.nsecsElapsed() / 1000;
    QCOMPARE(reply.status, status);
    QCOMPARE(service.lastSocketKind(),
             datagram ? LinuxEchoService::SocketKind::Datagram : LinuxEchoService::SocketKind::Raw);
    QCOMPARE(openDescriptors(), descriptors); // the probe's socket is gone
    if (status == 0) {
        QVERIFY(reply.roundTripMs < 100);
        qInfo("round trip %u ms (send to finished() %lld us)", reply.roundTripMs, wholeProbeUs);
    } else {
        QCOMPARE(reply.roundTripMs, 0u);
    }
}

void TestEchoNamespace::silentAddressTimesOut_data()
{
    QTest::addColumn<bool>("datagram");
    QTest::newRow("raw") << false;
    QTest::newRow("datagram") << true;
}

void TestEchoNamespace::silentAddressTimesOut()
{
    QFETCH(bool, datagram);
    allowDatagram(datagram);
    LinuxEchoService service;
    QElapsedTimer clock;
    clock.start();
    // On the link but owned by nobody: the ARP attempts outlast the wait.
    const EchoReply reply = probe(service, QStringLiteral("10.20.0.99"), 300);
    QCOMPARE(reply.status, 11010);
    QVERIFY2(clock.elapsed() >= 300, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(clock.elapsed() < 1000);
}

void TestEchoNamespace::unusableAddressesAreNotProbed()
{
    allowDatagram(false);
    LinuxEchoService service;
    for (const char* address : {"0.0.0.0", "255.255.255.255", "10.1.2", "300.1.2.3"}) {
        const EchoReply reply = probe(service, QString::fromLatin1(address));
        QCOMPARE(reply.status, -1);
        QCOMPARE(service.lastSocketKind(), LinuxEchoService::SocketKind::None);
    }
}

void TestEchoNamespace::newerSendSupersedesOlder()
{
    allowDatagram(false);
    LinuxEchoService service;
    QSignalSpy spy(&service, &nms::EchoService::finished);
    service.send(QStringLiteral("10.20.0.99"), 200);
    service.send(QStringLiteral("127.0.0.1"), 200);
    QVERIFY(spy.wait());
    QCOMPARE(spy.count(), 1);
    QCOMPARE(qvariant_cast<EchoReply>(spy.at(0).at(0)).status, 0);
    // The superseded probe's time-out would have come by now.
    QVERIFY(!spy.wait(500));

    // A result known at send time is dropped too when something supersedes it.
    service.send(QStringLiteral("0.0.0.0"));
    service.send(QStringLiteral("10.20.0.99"), 200);
    QVERIFY(spy.wait());
    QCOMPARE(spy.count(), 2);
    QCOMPARE(qvariant_cast<EchoReply>(spy.at(1).at(0)).status, 11010);

    service.send(QStringLiteral("127.0.0.1"), 200);
    service.cancel();
    QVERIFY(!spy.wait(400));
}

void TestEchoNamespace::facility()
{
    allowDatagram(false);
    LinuxEchoService service;
    QVERIFY(service.facilityAvailable()); // raw, as root

    // Without CAP_NET_RAW only the datagram socket is left, and only where the group range allows.
    QVERIFY(setRawCapability(false));
    auto restore = qScopeGuard([] { setRawCapability(true); });
    QVERIFY(!service.facilityAvailable());
    QCOMPARE(probe(service, QStringLiteral("127.0.0.1")).status, -1);
    QCOMPARE(service.lastSocketKind(), LinuxEchoService::SocketKind::None);

    allowDatagram(true);
    QVERIFY(service.facilityAvailable());
    QCOMPARE(probe(service, QStringLiteral("127.0.0.1")).status, 0);
    QCOMPARE(service.lastSocketKind(), LinuxEchoService::SocketKind::Datagram);
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    {
        TestEchoHelpers helpers;
        if (const int rc = QTest::qExec(&helpers, argc, argv))
            return rc;
    }
    const QString why = nms::test::EnterPrivateNetworkNamespace(
        QStringLiteral("real probes need root (raw ICMP sockets, a private network namespace)"));
    if (!why.isEmpty()) {
        std::fprintf(stderr, "SKIPPED the namespace probes: %s\n", qPrintable(why));
        return 77;
    }
    TestEchoNamespace probes;
    return QTest::qExec(&probes, argc, argv);
}

#include "tst_echoservice.moc"
