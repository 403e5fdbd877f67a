// The address guard before a configuration is sent: every rule it finds by, the values that must
// pass, and a new address that already answers on the network by echo or by ARP.

#include <QHostAddress>
#include <QSignalSpy>
#include <QtTest>

#include "app/AddressGuard.h"
#include "base/AddressText.h"
#include "services/EchoSweep.h"
#include "session/ConfigChecks.h"
#include "support/FakeNeighbourTable.h"

using namespace nms;
using namespace nms::test;

namespace {

ConfigFields Base()
{
    ConfigFields f;
    f.ip = QStringLiteral("10.0.0.5");
    f.mask = QStringLiteral("255.255.255.0");
    f.gw = QStringLiteral("10.0.0.1");
    f.remote = QStringLiteral("10.0.0.9");
    f.tx = 0; // Unicast
    f.name = QStringLiteral("STUDIO TX");
    return f;
}

ElementRecord Stored(const char* key, const char* name, const char* ip)
{
    ElementRecord r;
    r.key = QLatin1String(key);
    r.name = QLatin1String(name);
    r.ip = QLatin1String(ip);
    return r;
}

const ElementRecord kShown = Stored("0000000000A1", "STUDIO TX       ", "10.0.0.5");
const QList<ElementRecord> kStored = {kShown, Stored("0000000000B2", "SITE RX         ", "10.0.0.7")};

class AnsweringSweep final : public EchoSweep {
public:
    bool send(quint32 address) override
    {
        if (answers)
            QMetaObject::invokeMethod(
                this, [this, address] { Q_EMIT replied(address, 0.3); }, Qt::QueuedConnection);
        return true;
    }
    void close() override { }
    bool answers = false;
};

} // namespace

class TestAddressGuard : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void findings_data();
    void findings();
    void newAddressAskedOfTheNetwork_data();
    void newAddressAskedOfTheNetwork();
};

void TestAddressGuard::findings_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("encoder");
    QTest::addColumn<QStringList>("expected");
    const QStringList none;
    QTest::newRow("all well") << ""
                              << "" << true << none;
    QTest::newRow("another element's address")
        << "ip"
        << "10.0.0.7" << true << QStringList {"10.0.0.7 is the address of SITE RX [00:00:00:00:00:B2]."};
    QTest::newRow("mask with a hole") << "mask"
                                      << "255.0.255.0" << true
                                      << QStringList {"The mask 255.0.255.0 is not a run of ones."};
    QTest::newRow("mask of nothing") << "mask"
                                     << "0.0.0.0" << true
                                     << QStringList {"The mask 0.0.0.0 makes every address local."};
    QTest::newRow("mask of everything") << "mask"
                                        << "255.255.255.255" << true
                                        << QStringList {
                                               "The mask 255.255.255.255 leaves the element alone on its network."};
    QTest::newRow("network address") << "ip"
                                     << "10.0.0.0" << true
                                     << QStringList {"10.0.0.0 is the network address of 10.0.0.0/24."};
    QTest::newRow("broadcast address") << "ip"
                                       << "10.0.0.255" << true
                                       << QStringList {"10.0.0.255 is the broadcast address of 10.0.0.0/24."};
    QTest::newRow("gateway outside") << "gw"
                                     << "10.0.1.1" << true
                                     << QStringList {"The gateway 10.0.1.1 is outside 10.0.0.0/24."};
    QTest::newRow("no gateway") << "gw"
                                << "0.0.0.0" << true << none;
    QTest::newRow("gateway in a /16") << "mask"
                                      << "255.255.0.0" << true << none;
    QTest::newRow("encoder sending to itself")
        << "remote"
        << "10.0.0.5" << true << QStringList {"The remote address 10.0.0.5 is the encoder's own address."};
    QTest::newRow("decoder's remote is not used") << "remote"
                                                  << "10.0.0.5" << false << none;
    QTest::newRow("multicast sends to no remote") << "tx-multicast-remote"
                                                  << "10.0.0.5" << true << none;
    // A point-to-point /31 has two hosts and no network or broadcast address.
    QTest::newRow("/31, lower address") << "ip/31"
                                        << "10.0.0.4" << true << none;
    QTest::newRow("/31, upper address") << "ip/31"
                                        << "10.0.0.5" << true << none;
    QTest::newRow("/30, its broadcast address")
        << "ip/30"
        << "10.0.0.7" << false
        << QStringList {"10.0.0.7 is the address of SITE RX [00:00:00:00:00:B2].",
                        "10.0.0.7 is the broadcast address of 10.0.0.4/30."};
}

void TestAddressGuard::findings()
{
    QFETCH(QString, field);
    QFETCH(QString, value);
    QFETCH(bool, encoder);
    QFETCH(QStringList, expected);
    ConfigFields f = Base();
    if (field == QStringLiteral("ip"))
        f.ip = value;
    else if (field == QStringLiteral("mask"))
        f.mask = value;
    else if (field == QStringLiteral("gw"))
        f.gw = value;
    else if (field == QStringLiteral("remote"))
        f.remote = value;
    else if (field.startsWith(QStringLiteral("ip/"))) {
        f.ip = value;
        f.mask = QHostAddress(quint32(~0u << (32 - field.mid(3).toInt()))).toString();
        f.gw = QStringLiteral("0.0.0.0");
    } else if (field == QStringLiteral("tx-multicast-remote")) {
        f.tx = 1;
        f.remote = value;
    }
    QCOMPARE(AddressFindings(f, kShown, encoder, kStored), expected);
}

void TestAddressGuard::newAddressAskedOfTheNetwork_data()
{
    QTest::addColumn<bool>("echo");
    QTest::addColumn<QString>("arp"); // "asked": resolved when asked; "cached": held before
    QTest::addColumn<QString>("expected");
    QTest::newRow("nobody there") << false << ""
                                  << "";
    QTest::newRow("an echo answers") << true << ""
                                     << "10.0.0.6 already answers on the network.";
    QTest::newRow("ARP answers") << false << "asked"
                                 << "10.0.0.6 already answers on the network (MAC 02:00:00:00:00:66).";
    // A unit unplugged since: its entry lingers, nothing answers.
    QTest::newRow("an entry from before, no answer") << false << "cached"
                                                     << "";
    QTest::newRow("an entry from before, an echo answers")
        << true << "cached"
        << "10.0.0.6 already answers on the network (MAC 02:00:00:00:00:66).";
}

void TestAddressGuard::newAddressAskedOfTheNetwork()
{
    QFETCH(bool, echo);
    QFETCH(QString, arp);
    QFETCH(QString, expected);
    AnsweringSweep sweep;
    sweep.answers = echo;
    FakeNeighbourTable neighbours;
    if (arp == QStringLiteral("asked"))
        neighbours.addOnSolicit(QStringLiteral("10.0.0.6"), QByteArray::fromHex("020000000066"));
    else if (arp == QStringLiteral("cached"))
        neighbours.add(QStringLiteral("10.0.0.6"), QByteArray::fromHex("020000000066"));
    AddressGuard guard(sweep, neighbours, 50);
    QSignalSpy finished(&guard, &AddressGuard::finished);
    ConfigFields f = Base();
    // The address it has: nothing to ask.
    QCOMPARE(guard.check(f, kShown, true, kStored), std::optional<QStringList>(QStringList()));
    f.ip = QStringLiteral("10.0.0.6");
    QVERIFY(!guard.check(f, kShown, true, kStored).has_value());
    QVERIFY(finished.wait(2000));
    QCOMPARE(finished.first().first().toStringList(), expected.isEmpty() ? QStringList() : QStringList {expected});
}

QTEST_GUILESS_MAIN(TestAddressGuard)
#include "tst_addressguard.moc"
