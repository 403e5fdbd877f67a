// A discovery in the core: one paging request per attached network (only those up and able to
// broadcast), the database emptied before any answer, answers recorded in grouped rewrites and all
// written by the window's end, and nothing lost when the database cannot be emptied or nothing
// could be paged. A manual add refuses what is no element's address before anything is sent.

#include <QDir>
#include <QFile>
#include <QNetworkInterface>
#include <QSignalSpy>
#include <QtTest>

#include "database/ElementRecords.h"
#include "database/ProfileFile.h"
#include "database/ProfileStore.h"
#include "support/CoreFixture.h"

using namespace nms;
using namespace nms::test;

Q_DECLARE_METATYPE(QList<nms::AttachedNetwork>)

namespace {

const QString kKey = QStringLiteral("02000000010A");
const QChar CR(u'\r');

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
}

AttachedNetwork Network(const QString& name, int interfaceIndex, const char* address)
{
    AttachedNetwork network = LoopbackNetworks().constFirst();
    network.interfaceName = name;
    network.interfaceIndex = interfaceIndex;
    network.address = QHostAddress(QString::fromLatin1(address)).toIPv4Address();
    return network;
}

// An answer as feedback processing hands it on once its MAC is known.
ElementFeedback Answer(int i)
{
    ElementFeedback answer;
    answer.ElementMAC = QStringLiteral("02:00:00:00:01:%1").arg(i, 2, 16, QLatin1Char('0')).toUpper();
    answer.ElementIP = QStringLiteral("192.168.1.%1").arg(i);
    answer.ElementMask = QStringLiteral("255.255.255.0");
    answer.ElementGW = QStringLiteral("192.168.1.1");
    answer.RemoteIP = QStringLiteral("10.0.0.1");
    answer.ElementName = QStringLiteral("ELEMENT %1").arg(i).leftJustified(16);
    answer.Role = RoleEncoder;
    answer.SerialNumber = quint8(i);
    return answer;
}

// An interface up, running and able to broadcast, with one IPv4 address in a /24.
InterfaceFacts Interface(const QString& name, int index, const char* address)
{
    QNetworkAddressEntry entry;
    entry.setIp(QHostAddress(QString::fromLatin1(address)));
    entry.setPrefixLength(24);
    return {index, name, true, true, false, true, {entry}};
}

// Nothing reached the paging port before: a marker sent now is the first datagram there.
bool NothingSentBefore(CoreFixture& f)
{
    QString failure;
    if (!f->link.sendTo("marker", QHostAddress::LocalHost, f.element->pagingPort(), 0, &failure)
        || !QTest::qWaitFor([&] { return !f.element->received.isEmpty(); }))
        return false;
    return f.element->received.size() == 1 && f.element->received.at(0).data == "marker";
}

CoreOptions Periods(int windowMs, int batchMs)
{
    CoreOptions options;
    options.timing.discoveryMs = windowMs;
    options.timing.discoveryBatchMs = batchMs;
    return options;
}

} // namespace

class TestDiscoverySession : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void pagesEveryNetworkOnce_data();
    void pagesEveryNetworkOnce();
    void pagesOnlyInterfacesUpThatBroadcast_data();
    void pagesOnlyInterfacesUpThatBroadcast();
    void databaseIsEmptiedBeforeAnyAnswer_data();
    void databaseIsEmptiedBeforeAnyAnswer();
    void answersAreWrittenInGroups();
    void windowEndWritesWhatIsStillWaiting();
    void databaseThatCannotBeEmptied();
    void nothingPagedGivesTheOldDatabaseBack_data();
    void nothingPagedGivesTheOldDatabaseBack();
    void manualAddRefusesWhatIsNoElementsAddress_data();
    void manualAddRefusesWhatIsNoElementsAddress();
};

void TestDiscoverySession::pagesEveryNetworkOnce_data()
{
    QTest::addColumn<QList<AttachedNetwork>>("networks");
    QTest::addColumn<int>("requests");
    const int lo = QNetworkInterface::interfaceIndexFromName(QStringLiteral("lo"));
    QTest::newRow("one network") << LoopbackNetworks() << 1;
    QTest::newRow("two networks") << QList<AttachedNetwork> {Network("a", 0, "127.0.0.1"), Network("b", 0, "127.0.0.2")}
                                  << 2;
    if (lo > 0)
        QTest::newRow("one interface with two addresses")
            << QList<AttachedNetwork> {Network("lo", lo, "127.0.0.1"), Network("lo", lo, "127.1.0.1")} << 1;
}

void TestDiscoverySession::pagesEveryNetworkOnce()
{
    QFETCH(QList<AttachedNetwork>, networks);
    QFETCH(int, requests);
    CoreFixture f(Periods(200, 10));
    f.networks.set(networks);
    QVERIFY(f.start());
    QSignalSpy started(&f->discovery, &DiscoverySession::started);
    QSignalSpy finished(&f->discovery, &DiscoverySession::finished);
    QVERIFY(f->discovery.start());
    QCOMPARE(started.count(), 1);
    QCOMPARE(f->discovery.paged(), requests);
    QVERIFY(f->state.discovering());

    QTRY_COMPARE(finished.count(), 1);
    QVERIFY(!f->state.discovering());
    // From the console's own port, so that the answers come back to it; nothing sent twice.
    QTRY_COMPARE(f.element->received.size(), requests);
    for (const LoopbackElement::Received& request : f.element->received) {
        QCOMPARE(request.toPort, f.element->pagingPort());
        QCOMPARE(request.fromPort, f.consolePort());
        QCOMPARE(request.data, PagingRequest());
    }
    // Nobody answered: the list read at the end says so, and nothing else is said.
    QCOMPARE(f.notices.texts(),
             QStringList {QStringLiteral("Local database is empty.\rPlease click the 'Auto Discover' icon to probe "
                                         "the network.")});
}

void TestDiscoverySession::pagesOnlyInterfacesUpThatBroadcast_data()
{
    QTest::addColumn<QString>("state"); // of the second card
    QTest::addColumn<bool>("paged");
    QTest::addColumn<bool>("attached"); // an address on its subnet can be asked by a manual add
    QTest::newRow("up, running, broadcast") << "" << true << true;
    QTest::newRow("down") << "down" << false << false;
    QTest::newRow("up without carrier") << "not running" << false << false;
    QTest::newRow("loopback") << "loopback" << false << true;
    QTest::newRow("point to point, no broadcast") << "no broadcast" << false << true;
    QTest::newRow("IPv6 only") << "IPv6 only" << false << false;
}

void TestDiscoverySession::pagesOnlyInterfacesUpThatBroadcast()
{
    QFETCH(QString, state);
    QFETCH(bool, paged);
    QFETCH(bool, attached);
    InterfaceFacts second = Interface(QStringLiteral("eth1"), 3, "10.78.0.1");
    if (state == QLatin1String("down"))
        second.up = second.running = false; // the kernel clears both
    else if (state == QLatin1String("not running"))
        second.running = false;
    else if (state == QLatin1String("loopback"))
        second.loopback = true;
    else if (state == QLatin1String("no broadcast"))
        second.canBroadcast = false;
    else if (state == QLatin1String("IPv6 only"))
        second.addresses.first().setIp(QHostAddress(QStringLiteral("fd00::1")));
    const FixedNetworks networks(NetworksOf({Interface(QStringLiteral("eth0"), 2, "10.77.0.1"), second}));

    QStringList names;
    for (const AttachedNetwork& network : networks.pagingNetworks())
        names.append(network.interfaceName);
    QCOMPARE(names, paged ? QStringList({"eth0", "eth1"}) : QStringList({"eth0"}));
    QCOMPARE(networks.attached(QHostAddress(QStringLiteral("10.78.0.20")).toIPv4Address()), attached);
    QVERIFY(!networks.attached(QHostAddress(QStringLiteral("10.79.0.20")).toIPv4Address()));
}

void TestDiscoverySession::databaseIsEmptiedBeforeAnyAnswer_data()
{
    QTest::addColumn<bool>("existed");
    QTest::newRow("a database with an element") << true;
    QTest::newRow("no database yet") << false;
}

void TestDiscoverySession::databaseIsEmptiedBeforeAnyAnswer()
{
    QFETCH(bool, existed);
    CoreFixture f(Periods(200, 10));
    if (existed)
        QVERIFY(f.writeElement(kKey, StoredElement {}));
    QVERIFY(f.start());
    QSignalSpy finished(&f->discovery, &DiscoverySession::finished);
    QVERIFY(f->discovery.start());
    QCOMPARE(FileBytes(f.database()), QByteArray());
    // Without an answer the database stays empty: no element is left from before.
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(FileBytes(f.database()), QByteArray());
    QCOMPARE(f->discovery.recorded(), 0);
}

void TestDiscoverySession::answersAreWrittenInGroups()
{
    CoreFixture f(Periods(5000, 100));
    QVERIFY(f.start());
    QVERIFY(f->discovery.start());
    ProfileFile::ResetCounters();

    // A burst: one rewrite for all of it, once the batch period is over.
    for (int i = 1; i <= 20; ++i)
        QVERIFY(f->discovery.collect(Answer(i)));
    QCOMPARE(f->discovery.recorded(), 20);
    QCOMPARE(f->discovery.written(), 0);
    QCOMPARE(ProfileFile::CurrentCounters().rewrites, 0);
    QTRY_COMPARE(f->discovery.written(), 20);
    QCOMPARE(ProfileFile::CurrentCounters().rewrites, 1);

    // A later answer is a rewrite of its own.
    QVERIFY(f->discovery.collect(Answer(21)));
    QTRY_COMPARE(f->discovery.written(), 21);
    QCOMPARE(ProfileFile::CurrentCounters().rewrites, 2);
    f->discovery.abort();

    QStringList expected;
    for (int i = 1; i <= 21; ++i)
        expected << MacTextToKey(Answer(i).ElementMAC);
    QCOMPARE(LoadIniSectionsArray(f.database()), expected);
    QCOMPARE(ReadFromINI(expected.at(4), QStringLiteral("name"), f.database(), QString()), QStringLiteral("ELEMENT 5"));
    QCOMPARE(f.notices.count(), 0);
}

void TestDiscoverySession::windowEndWritesWhatIsStillWaiting()
{
    // The batch period outlasts the window: the window's end writes the batch before it reports.
    CoreFixture f(Periods(150, 60000));
    QVERIFY(f.start());
    QSignalSpy finished(&f->discovery, &DiscoverySession::finished);
    int writtenAtFinish = -1;
    connect(&f->discovery, &DiscoverySession::finished, this, [&] {
        writtenAtFinish = f->discovery.written();
        QCOMPARE(LoadIniSectionsArray(f.database()).size(), 3);
    });
    QVERIFY(f->discovery.start());
    for (int i = 1; i <= 3; ++i)
        QVERIFY(f->discovery.collect(Answer(i)));
    QCOMPARE(f->discovery.written(), 0);
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(writtenAtFinish, 3);

    // After the window nothing more is taken.
    QVERIFY(!f->discovery.collect(Answer(4)));
    QCOMPARE(f->discovery.recorded(), 3);
}

void TestDiscoverySession::databaseThatCannotBeEmptied()
{
    TempDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("nms.ini"))); // a folder where the file should be
    CoreOptions options;
    options.databasePath = dir.database();
    CoreFixture f(options);
    QVERIFY(f.start());
    QSignalSpy started(&f->discovery, &DiscoverySession::started);

    QVERIFY(!f->discovery.start());
    QCOMPARE(started.count(), 0);
    QCOMPARE(f->discovery.paged(), 0);
    QVERIFY(!f->discovery.running());
    QVERIFY(!f->state.discovering());
    QCOMPARE(f.notices.count(), 1);
    QCOMPARE(f.notices.shown.at(0).title, QStringLiteral("Auto Discovery"));
    const QString text = f.notices.shown.at(0).text;
    QVERIFY2(text.startsWith(QStringLiteral("The local database (%1) could not be emptied: ").arg(dir.database())),
             qPrintable(text));
    QVERIFY2(text.endsWith(CR + QStringLiteral("The network was not paged.")), qPrintable(text));
    QVERIFY(QFileInfo(dir.database()).isDir());
    QVERIFY(NothingSentBefore(f));
}

void TestDiscoverySession::nothingPagedGivesTheOldDatabaseBack_data()
{
    QTest::addColumn<bool>("existed");
    QTest::addColumn<bool>("linkOpen");
    QTest::addColumn<QString>("reason"); // with the link open: no network to page
    const QString noNetwork = QStringLiteral("this computer has no network that is up and can broadcast");
    QTest::newRow("no network") << true << true << noNetwork;
    QTest::newRow("no network, no database before") << false << true << noNetwork;
    QTest::newRow("link not open") << true << false << QStringLiteral("loopback: the element link is not open");
}

void TestDiscoverySession::nothingPagedGivesTheOldDatabaseBack()
{
    QFETCH(bool, existed);
    QFETCH(bool, linkOpen);
    QFETCH(QString, reason);
    CoreFixture f;
    if (existed) {
        QVERIFY(f.writeElement(kKey, StoredElement {}));
        // Bytes the profile engine would not write itself: a comment and CR LF line ends.
        QFile file(f.database());
        QVERIFY(file.open(QIODevice::Append));
        file.write("; kept as it is\r\n[0200000001FF]\r\nNAME=LAST\r\n");
    }
    const QByteArray before = FileBytes(f.database());
    if (linkOpen) {
        QVERIFY(f.start());
        f.networks.set({});
    }
    QSignalSpy started(&f->discovery, &DiscoverySession::started);

    QVERIFY(!f->discovery.start());
    QCOMPARE(started.count(), 0);
    QVERIFY(!f->discovery.running());
    QVERIFY(!f->state.discovering());
    QCOMPARE(FileBytes(f.database()), before);
    QCOMPARE(QFile::exists(f.database()), existed);
    QCOMPARE(f.notices.count(), 1);
    const QStringList lines = f.notices.shown.at(0).text.split(CR);
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines.at(0).startsWith(QStringLiteral("The paging request to 127.0.0.1 port %1 could not be sent: %2")
                                        .arg(f.element->pagingPort())
                                        .arg(reason)),
             qPrintable(lines.at(0)));
    QCOMPARE(lines.at(1), QStringLiteral("No element was asked to answer; the local database was kept."));
}

void TestDiscoverySession::manualAddRefusesWhatIsNoElementsAddress_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("firstLine");
    const QString notAnAddress = QStringLiteral("'%1' is not the address of a Network Element.");
    for (const char* address :
         {"0.0.0.0", "255.255.255.255", "224.0.0.1", "239.255.255.250", "10.0.0", "10.0.0.256", "abc", ""})
        QTest::addRow("'%s'", address) << address << notAnAddress.arg(QString::fromLatin1(address));
    // The console learns an element's MAC only on a network it shares (here: loopback alone).
    QTest::newRow("on no attached network")
        << "10.99.0.5" << QStringLiteral("10.99.0.5 is not on a network this computer is attached to,");
}

void TestDiscoverySession::manualAddRefusesWhatIsNoElementsAddress()
{
    QFETCH(QString, address);
    QFETCH(QString, firstLine);
    CoreFixture f;
    QVERIFY(f.writeElement(kKey, StoredElement {}));
    QVERIFY(f.start());
    const QByteArray before = FileBytes(f.database());
    f.notices.clear();

    QVERIFY(!f->manualAdd.start(address));
    QVERIFY(!f->manualAdd.running());
    QCOMPARE(f.notices.count(), 1);
    QCOMPARE(f.notices.shown.at(0).title, QStringLiteral("Manual add"));
    const QString text = f.notices.shown.at(0).text;
    QVERIFY2(text.startsWith(firstLine + CR), qPrintable(text));
    QVERIFY(NothingSentBefore(f));
    QCOMPARE(FileBytes(f.database()), before);
}

QTEST_GUILESS_MAIN(TestDiscoverySession)
#include "tst_discoverysession.moc"
