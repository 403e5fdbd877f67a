#include "services/NeighbourTable.h"
#include "support/PrivateNetwork.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sched.h>
#include <sys/prctl.h>
#include <unistd.h>

using nms::NeighbourEntry;

namespace {

quint32 ip(const char* text)
{
    return inet_addr(text);
}

template <typename T> QByteArray asBytes(const T& value)
{
    return QByteArray(reinterpret_cast<const char*>(&value), sizeof value);
}

QByteArray padded(QByteArray bytes)
{
    while (bytes.size() % 4)
        bytes += char(0);
    return bytes;
}

QByteArray attribute(quint16 type, const QByteArray& data)
{
    rtattr header {};
    header.rta_len = quint16(sizeof header + data.size());
    header.rta_type = type;
    return padded(asBytes(header) + data);
}

QByteArray message(quint16 type, const QByteArray& body)
{
    nlmsghdr header {};
    header.nlmsg_len = quint32(sizeof header + body.size());
    header.nlmsg_type = type;
    header.nlmsg_flags = NLM_F_MULTI;
    return padded(asBytes(header) + body);
}

QByteArray neighbour(quint32 address, quint16 state, const QByteArray& mac, int family = AF_INET,
                     int interfaceIndex = 2)
{
    ndmsg ndm {};
    ndm.ndm_family = quint8(family);
    ndm.ndm_ifindex = interfaceIndex;
    ndm.ndm_state = state;
    QByteArray body = asBytes(ndm) + attribute(NDA_DST, asBytes(address));
    if (!mac.isNull())
        body += attribute(NDA_LLADDR, mac);
    return message(RTM_NEWNEIGH, body);
}

QByteArray done()
{
    return message(NLMSG_DONE, asBytes(int(0)));
}

const QByteArray kMacA = QByteArray::fromHex("020000000007");
const QByteArray kMacB = QByteArray::fromHex("020000000008");

} // namespace

// The dump parser on hand-built netlink buffers.
class TestNeighbourParser : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void wellFormedDump();
    void skipsWhatIsNotAnIpv4Neighbour();
    void reportsKernelError();
    void truncatedBuffers();
    void garbage();
    void statesThatHoldAnAddress();
};

void TestNeighbourParser::wellFormedDump()
{
    const QByteArray buffer = neighbour(ip("10.1.2.3"), NUD_PERMANENT, kMacA)
        + neighbour(ip("10.1.2.4"), NUD_STALE, kMacB, AF_INET, 7)
        + neighbour(ip("10.1.2.5"), NUD_INCOMPLETE, QByteArray()) + done();
    const nms::NeighbourDumpChunk chunk = nms::ParseNeighbourDump(buffer);
    QVERIFY(chunk.done);
    QVERIFY(!chunk.malformed);
    QCOMPARE(chunk.error, 0);
    QCOMPARE(chunk.entries.size(), 3);
    QCOMPARE(chunk.entries[0].address, ip("10.1.2.3"));
    QCOMPARE(chunk.entries[0].state, quint16(NUD_PERMANENT));
    QCOMPARE(chunk.entries[0].hardwareAddress, kMacA);
    QCOMPARE(chunk.entries[1].interfaceIndex, 7);
    QCOMPARE(chunk.entries[1].hardwareAddress, kMacB);
    QCOMPARE(chunk.entries[2].state, quint16(NUD_INCOMPLETE));
    QVERIFY(chunk.entries[2].hardwareAddress.isEmpty());

    // A middle part of a dump: entries, no end yet.
    const auto middle = nms::ParseNeighbourDump(neighbour(ip("10.9.9.9"), NUD_REACHABLE, kMacA));
    QVERIFY(!middle.done);
    QCOMPARE(middle.entries.size(), 1);
}

void TestNeighbourParser::skipsWhatIsNotAnIpv4Neighbour()
{
    ndmsg ndm {};
    ndm.ndm_family = AF_INET;
    const QByteArray noDestination = message(RTM_NEWNEIGH, asBytes(ndm) + attribute(NDA_LLADDR, kMacA));
    const QByteArray sixteenByteDestination =
        message(RTM_NEWNEIGH, asBytes(ndm) + attribute(NDA_DST, QByteArray(16, 1)) + attribute(NDA_LLADDR, kMacA));
    const QByteArray otherMessage = message(RTM_NEWROUTE, QByteArray(12, 0));
    const QByteArray buffer = neighbour(ip("10.0.0.1"), NUD_REACHABLE, kMacA, AF_INET6) + noDestination
        + sixteenByteDestination + otherMessage + message(RTM_NEWNEIGH, QByteArray(4, 0))
        + neighbour(ip("10.0.0.2"), NUD_REACHABLE, kMacB) + done();
    const auto chunk = nms::ParseNeighbourDump(buffer);
    QVERIFY(chunk.done);
    QCOMPARE(chunk.entries.size(), 1);
    QCOMPARE(chunk.entries[0].address, ip("10.0.0.2"));

    // Nothing after the end of the dump counts.
    const auto afterDone = nms::ParseNeighbourDump(done() + neighbour(ip("10.0.0.3"), NUD_STALE, kMacA));
    QVERIFY(afterDone.entries.isEmpty());
}

void TestNeighbourParser::reportsKernelError()
{
    const auto chunk = nms::ParseNeighbourDump(neighbour(ip("10.0.0.1"), NUD_STALE, kMacA)
                                               + message(NLMSG_ERROR, asBytes(int(-EPERM)) + QByteArray(16, 0)));
    QCOMPARE(chunk.error, -EPERM);
    QCOMPARE(chunk.entries.size(), 1);
    QVERIFY(!chunk.done);
    // An acknowledgement (error 0) is not a failure.
    const auto ack = nms::ParseNeighbourDump(message(NLMSG_ERROR, asBytes(int(0)) + QByteArray(16, 0)) + done());
    QCOMPARE(ack.error, 0);
    QVERIFY(ack.done);
}

void TestNeighbourParser::truncatedBuffers()
{
    const QByteArray first = neighbour(ip("10.1.2.3"), NUD_PERMANENT, kMacA);
    const QByteArray second = neighbour(ip("10.1.2.4"), NUD_STALE, kMacB);
    const QByteArray buffer = first + second + done();
    const qsizetype bothSize = first.size() + second.size();
    for (int n = 0; n < buffer.size(); ++n) {
        const auto chunk = nms::ParseNeighbourDump(QByteArrayView(buffer).first(n));
        QVERIFY(!chunk.done);
        QCOMPARE(chunk.entries.size(), (n >= first.size() ? 1 : 0) + (n >= bothSize ? 1 : 0));
        QCOMPARE(chunk.malformed, n != 0 && n != first.size() && n != bothSize);
    }
    // A message whose attribute claims more than the message holds yields no entry.
    QByteArray lyingAttribute = neighbour(ip("10.1.2.3"), NUD_PERMANENT, kMacA);
    const quint16 bigLength = 200;
    std::memcpy(lyingAttribute.data() + sizeof(nlmsghdr) + NLMSG_ALIGN(sizeof(ndmsg)), &bigLength, 2);
    const auto chunk = nms::ParseNeighbourDump(lyingAttribute + done());
    QVERIFY(chunk.entries.isEmpty());
    QVERIFY(chunk.done);
}

void TestNeighbourParser::garbage()
{
    nlmsghdr zero {};
    QVERIFY(nms::ParseNeighbourDump(asBytes(zero) + done()).malformed); // length 0 must not loop
    nlmsghdr huge {};
    huge.nlmsg_len = 0xFFFFFFF0u;
    huge.nlmsg_type = RTM_NEWNEIGH;
    QVERIFY(nms::ParseNeighbourDump(asBytes(huge) + QByteArray(64, 0)).malformed);

    // An attribute of length 0 inside an otherwise sound message.
    ndmsg ndm {};
    ndm.ndm_family = AF_INET;
    const auto zeroAttribute = nms::ParseNeighbourDump(message(RTM_NEWNEIGH, asBytes(ndm) + QByteArray(8, 0)) + done());
    QVERIFY(zeroAttribute.done);
    QVERIFY(zeroAttribute.entries.isEmpty());

    for (int seed = 1; seed < 300; ++seed) {
        QByteArray noise(seed % 120, Qt::Uninitialized);
        for (int i = 0; i < noise.size(); ++i)
            noise[i] = char(seed * 37 + i * i * 11);
        nms::ParseNeighbourDump(noise);
        nms::ParseNeighbourDump(neighbour(ip("10.0.0.1"), NUD_STALE, kMacA).left(20) + noise);
    }
}

void TestNeighbourParser::statesThatHoldAnAddress()
{
    for (quint16 state : {NUD_REACHABLE, NUD_STALE, NUD_DELAY, NUD_PROBE, NUD_PERMANENT, NUD_NOARP})
        QVERIFY2(nms::NeighbourStateHoldsAddress(state), qPrintable(QString::number(state)));
    for (quint16 state : {NUD_NONE, NUD_INCOMPLETE, NUD_FAILED})
        QVERIFY2(!nms::NeighbourStateHoldsAddress(state), qPrintable(QString::number(state)));
}

namespace {

bool ipCmd(const QString& line)
{
    return nms::test::IpCommand(line);
}

const NeighbourEntry* find(const QList<NeighbourEntry>& entries, quint32 address)
{
    for (const NeighbourEntry& e : entries)
        if (e.address == address)
            return &e;
    return nullptr;
}

} // namespace

// The kernel's table inside a private network namespace made by main(), linked by a veth pair to
// a second private namespace (a child process) that owns 10.1.2.50 and answers ARP.
class TestNeighbourKernel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void entriesByState_data();
    void entriesByState();
    void solicitedUnownedAddressStaysIncomplete();
    void solicitResolvesAnswerer();

private:
    nms::test::PeerNamespace m_peer;
    const QByteArray m_peerMac = QByteArray::fromHex("020000000050");
};

void TestNeighbourKernel::initTestCase()
{
    QVERIFY(m_peer.start());
    QVERIFY(ipCmd(QStringLiteral("link set lo up")));
    QVERIFY(ipCmd(QStringLiteral("addr add 10.1.2.1/24 dev veth0")));
    QVERIFY(ipCmd(QStringLiteral("link set veth0 up")));
    QVERIFY(
        m_peer.run(QStringLiteral("ip link set veth1 address 02:00:00:00:00:50 && ip addr add 10.1.2.50/24 dev veth1"
                                  " && ip link set veth1 up")));

    QVERIFY(ipCmd(QStringLiteral("neigh add 10.1.2.3 lladdr 02:00:00:00:00:07 dev veth0 nud permanent")));
    QVERIFY(ipCmd(QStringLiteral("neigh add 10.1.2.4 lladdr 02:00:00:00:00:08 dev veth0 nud stale")));
    QVERIFY(ipCmd(QStringLiteral("neigh add 10.1.2.5 lladdr 02:00:00:00:00:09 dev veth0 nud noarp")));
    QVERIFY(ipCmd(QStringLiteral("neigh add 10.1.2.9 dev veth0 nud failed")));
}

void TestNeighbourKernel::entriesByState_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QByteArray>("mac");
    QTest::newRow("permanent") << "10.1.2.3" << kMacA;
    QTest::newRow("stale") << "10.1.2.4" << kMacB;
    QTest::newRow("noarp") << "10.1.2.5" << QByteArray::fromHex("020000000009");
    QTest::newRow("failed") << "10.1.2.9" << QByteArray();
    QTest::newRow("absent") << "10.1.2.200" << QByteArray();
    QTest::newRow("zero") << "0.0.0.0" << QByteArray();
}

void TestNeighbourKernel::entriesByState()
{
    QFETCH(QString, address);
    QFETCH(QByteArray, mac);
    nms::LinuxNeighbourTable table;
    QCOMPARE(table.lookup(ip(address.toLatin1().constData())), mac);
}

void TestNeighbourKernel::solicitedUnownedAddressStaysIncomplete()
{
    nms::LinuxNeighbourTable table;
    const quint32 unowned = ip("10.1.2.77");
    QCOMPARE(table.lookup(unowned), QByteArray());
    table.solicit(unowned);
    bool ok = false;
    QTRY_VERIFY(find(table.entries(&ok), unowned) != nullptr);
    QVERIFY(ok);
    QCOMPARE(find(table.entries(), unowned)->state, quint16(NUD_INCOMPLETE));
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(table.lookup(unowned), QByteArray());
    QVERIFY2(clock.elapsed() < 100, "a lookup must not wait for resolution");
}

void TestNeighbourKernel::solicitResolvesAnswerer()
{
    nms::LinuxNeighbourTable table;
    const quint32 answerer = ip("10.1.2.50");
    QCOMPARE(table.lookup(answerer), QByteArray());
    table.solicit(answerer);
    QTRY_COMPARE(table.lookup(answerer), m_peerMac);
    QCOMPARE(find(table.entries(), answerer)->state, quint16(NUD_REACHABLE));
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    {
        TestNeighbourParser parser;
        if (const int rc = QTest::qExec(&parser, argc, argv))
            return rc;
    }
    const QString why = nms::test::EnterPrivateNetworkNamespace(
        QStringLiteral("the kernel table tests need root (a private network namespace)"));
    if (!why.isEmpty()) {
        std::fprintf(stderr, "SKIPPED the kernel table tests: %s\n", qPrintable(why));
        return 77;
    }
    TestNeighbourKernel kernel;
    return QTest::qExec(&kernel, argc, argv);
}

#include "tst_neighbourtable.moc"
