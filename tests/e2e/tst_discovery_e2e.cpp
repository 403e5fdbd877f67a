// Discovery and manual add on namespace LANs, through the console's core: its real socket pages
// from port 2976 out of every attached network, simulated elements answer, the kernel's
// neighbour table gives their MAC addresses.

#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

#include "database/ElementRecords.h"
#include "database/ProfileStore.h"
#include "services/NeighbourTable.h"
#include "support/CoreFixture.h"
#include "support/TestNetwork.h"

using namespace nms;
using namespace nms::test;

namespace {

const QByteArray kPaging("DIZEZIZI KESTRION PAGING REQUEST");

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
}

// A network of its own for one test, the test's thread in its console namespace.
std::unique_ptr<TestNetwork> Lan(const TestNetwork::Options& options)
{
    auto net = std::make_unique<TestNetwork>(options);
    if (!net->up() || !net->enterConsoleNamespace())
        return nullptr;
    return net;
}

struct OnTheLan {
    OnTheLan()
        : fixture([this] {
              CoreOptions options;
              options.productPorts = true;
              options.neighbours = &neighbours;
              // Every answer here comes within milliseconds, its MAC as quickly: half a second
              // of window still holds them all on a busy machine, and the test ends with it.
              options.timing = Timing::Fast(10);
              options.timing.discoveryMs = 500;
              return options;
          }())
    {
    }
    LinuxNeighbourTable neighbours;
    CoreFixture fixture;
};

// Runs one discovery to its end.
bool Discover(CoreFixture& f)
{
    QSignalSpy finished(&f->discovery, &DiscoverySession::finished);
    if (!f->discovery.start())
        return false;
    return finished.wait(10000);
}

QList<LoggedDatagram> PagingRequests(const TestNetwork& net, int element)
{
    QList<LoggedDatagram> result;
    for (const LoggedDatagram& d : net.datagrams(element)) {
        if (d.incoming && d.localPort == 1901)
            result.append(d);
    }
    return result;
}

QString KeyOf(const TestNetwork& net, int element)
{
    return MacTextToKey(net.elementMac(element).toUpper());
}

} // namespace

class TstDiscoveryE2e : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void encoderAndDecoderAnswer();
    void everyAttachedNetworkIsPaged_data();
    void everyAttachedNetworkIsPaged();
    void nothingPagedKeepsTheDatabase();
    void manualAdd_data();
    void manualAdd();
};

void TstDiscoveryE2e::encoderAndDecoderAnswer()
{
    auto net = Lan({2});
    QVERIFY(net);
    QVERIFY(net->startSimulator(1,
                                {"--role", "encoder", "--name", "Studio TX", "--serial", "42", "--gateway",
                                 "10.77.0.254", "--remote", "10.77.0.12", "--input", "1", "--type", "1"}));
    // The decoder answers a little later, so the order of the answers is known.
    QVERIFY(net->startSimulator(
        2, {"--role", "decoder", "--name", "SITE RX", "--serial", "7", "--atten", "200", "--delay-ms", "150"}));
    OnTheLan lan;
    CoreFixture& f = lan.fixture;
    QVERIFY(f.start());
    QVERIFY(Discover(f));

    // Only what the discovery found: both new.
    QCOMPARE(f.notices.count(), 1);
    QVERIFY(f.notices.texts().first().startsWith(QStringLiteral("2 elements found: 2 new, 0 missing")));
    const QString encoder = KeyOf(*net, 1), decoder = KeyOf(*net, 2);
    QCOMPARE(LoadIniSectionsArray(f.database()), QStringList({encoder, decoder}));
    const ElementRecord e = f->store.read(encoder), d = f->store.read(decoder);
    QCOMPARE(QStringList({e.name, e.ip, e.mask, e.gw, e.remote, e.input, e.type, e.tx, e.role, e.sn}),
             QStringList({"STUDIO TX", net->elementIp(1), "255.255.255.0", "10.77.0.254", "10.77.0.12", "1", "1", "0",
                          "1", "42"}));
    QCOMPARE(e.entryCount, 10);
    QCOMPARE(QStringList({d.name, d.ip, d.role, d.sn, d.att}),
             QStringList({"SITE RX", net->elementIp(2), "2", "7", "200"}));
    QCOMPARE(d.entryCount, 11);
    // One paging request each, from the console's port 2976.
    for (int element : {1, 2}) {
        const QList<LoggedDatagram> requests = PagingRequests(*net, element);
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.at(0).bytes, kPaging);
        QCOMPARE(requests.at(0).peer, QHostAddress(net->consoleIp()));
        QCOMPARE(requests.at(0).peerPort, quint16(2976));
    }
    QVERIFY(f->link.isBound());
}

void TstDiscoveryE2e::everyAttachedNetworkIsPaged_data()
{
    // An isolated STL network has no gateway; an engineer's machine has the office LAN with the
    // default route and the STL LAN on a second card.
    QTest::addColumn<int>("route");
    QTest::newRow("no default route anywhere") << int(TestNetwork::DefaultRoute::None);
    QTest::newRow("default route on the first card") << int(TestNetwork::DefaultRoute::Eth0);
    QTest::newRow("default route on the second card") << int(TestNetwork::DefaultRoute::Eth1);
}

void TstDiscoveryE2e::everyAttachedNetworkIsPaged()
{
    QFETCH(int, route);
    TestNetwork::Options options;
    options.elements = 1;
    options.secondLanElements = 1;
    options.defaultRoute = TestNetwork::DefaultRoute(route);
    auto net = Lan(options);
    QVERIFY(net);
    QCOMPARE(net->elementLan(2), 2);
    QVERIFY(net->startSimulator(1, {"--name", "OFFICE SIDE"}));
    QVERIFY(net->startSimulator(2, {"--name", "STL SIDE", "--role", "decoder"}));
    OnTheLan lan;
    CoreFixture& f = lan.fixture;
    QVERIFY(f.start());
    QVERIFY(Discover(f));

    QCOMPARE(f.notices.count(), 1);
    QVERIFY(f.notices.texts().first().startsWith(QStringLiteral("2 elements found: 2 new, 0 missing")));
    QCOMPARE(f->discovery.paged(), 2);
    QStringList sections;
    LoadIniSectionsLB(sections, f.database());
    QCOMPARE(QSet<QString>(sections.cbegin(), sections.cend()), QSet<QString>({KeyOf(*net, 1), KeyOf(*net, 2)}));
    for (int element : {1, 2}) {
        // Exactly one paging each, the limited broadcast from the console's address on that LAN.
        const QList<LoggedDatagram> requests = PagingRequests(*net, element);
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.at(0).peer, QHostAddress(net->consoleInterfaces().at(element - 1).ip));
        QCOMPARE(requests.at(0).peerPort, quint16(2976));
    }
}

void TstDiscoveryE2e::nothingPagedKeepsTheDatabase()
{
    auto net = Lan({1});
    QVERIFY(net);
    QVERIFY(net->startSimulator(1));
    OnTheLan lan;
    CoreFixture& f = lan.fixture;
    QVERIFY(f.writeElement(QStringLiteral("0200000001AA"), StoredElement {}));
    const QByteArray before = FileBytes(f.database());
    QVERIFY(f.start());
    // The only network card is down: there is nowhere to page.
    QCOMPARE(net->runIn(QString(), {"ip", "link", "set", "eth0", "down"}), 0);
    QVERIFY(!f->discovery.start());
    QCOMPARE(net->runIn(QString(), {"ip", "link", "set", "eth0", "up"}), 0);

    QCOMPARE(FileBytes(f.database()), before);
    QCOMPARE(f.notices.count(), 1);
    QVERIFY2(f.notices.texts().at(0).contains(QStringLiteral("could not be sent"))
                 && f.notices.texts().at(0).contains(QStringLiteral("the local database was kept")),
             qPrintable(f.notices.texts().at(0)));
    QVERIFY(!f->state.discovering());
    QVERIFY(PagingRequests(*net, 1).isEmpty());
}

void TstDiscoveryE2e::manualAdd_data()
{
    QTest::addColumn<bool>("answers");
    QTest::newRow("an element that answers, already stored") << true;
    QTest::newRow("an address where nothing answers") << false;
}

void TstDiscoveryE2e::manualAdd()
{
    QFETCH(bool, answers);
    auto net = Lan({2});
    QVERIFY(net);
    QVERIFY(net->startSimulator(1, {"--name", "FIRST"}));
    QVERIFY(net->startSimulator(2, answers ? QStringList {"--name", "ADDED"} : QStringList {"--no-answer"}));
    OnTheLan lan;
    CoreFixture& f = lan.fixture;
    StoredElement first;
    first.ip = net->elementIp(1);
    QVERIFY(f.writeElement(KeyOf(*net, 1), first));
    // The element's stored record is older than what it will report.
    if (answers)
        QVERIFY(WriteIniEntries(KeyOf(*net, 2), {{"name", "OLD NAME"}, {"extra", "gone after"}}, f.database()));
    QVERIFY(f.start());
    const QByteArray before = FileBytes(f.database());
    const QStringList order = LoadIniSectionsArray(f.database());
    QSignalSpy added(&f->manualAdd, &ManualAdd::added);
    QSignalSpy unanswered(&f->manualAdd, &ManualAdd::unanswered);
    f.notices.clear();

    const QString address = net->elementIp(2);
    QVERIFY(f->manualAdd.start(address));
    if (!answers) {
        QVERIFY(unanswered.wait(5000));
        QCOMPARE(f.notices.count(), 1);
        QVERIFY(f.notices.texts().at(0).startsWith(QStringLiteral("No Network Element answered at ") + address));
        QCOMPARE(FileBytes(f.database()), before);
    } else {
        QVERIFY(added.wait(5000));
        QCOMPARE(added.at(0).at(0).toString(), KeyOf(*net, 2));
        // Replaced in place: both elements keep their places, the added one holds what it reports
        // now and nothing else.
        QCOMPARE(LoadIniSectionsArray(f.database()), order);
        const ElementRecord record = f->store.read(KeyOf(*net, 2));
        QCOMPARE(record.name, QStringLiteral("ADDED"));
        QCOMPARE(record.entryCount, 10);
        QCOMPARE(f.notices.count(), 0);
    }
    // The element asked, and only it, got one paging request, addressed to it alone.
    const QList<LoggedDatagram> requests = PagingRequests(*net, 2);
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.at(0).bytes, kPaging);
    QCOMPARE(requests.at(0).peerPort, quint16(2976));
    QVERIFY(PagingRequests(*net, 1).isEmpty());
}

NMS_E2E_MAIN(TstDiscoveryE2e)
#include "tst_discovery_e2e.moc"
