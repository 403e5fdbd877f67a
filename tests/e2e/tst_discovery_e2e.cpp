// Auto discovery on the namespace LAN: the console's real socket broadcasts from port 2976,
// simulated elements answer, the kernel's neighbour table gives their MAC addresses.

#include <QFileInfo>
#include <QtTest>

#include "database/ElementRecords.h"
#include "database/ProfileStore.h"
#include "discovery/Discovery.h"
#include "link/LinkEndpoint.h"
#include "services/NeighbourTable.h"
#include "support/ConsoleFixture.h"
#include "support/TestNetwork.h"

using namespace nms;
using namespace nms::test;

namespace {

const QByteArray kPaging("DIZEZIZI KESTRION PAGING REQUEST");
const QChar CR(u'\r');

ConsoleOptions OnTheLan(NeighbourTable* neighbours)
{
    ConsoleOptions options;
    options.productPorts = true;
    options.neighbours = neighbours;
    return options;
}

} // namespace

class TstDiscoveryE2e : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void encoderAndDecoderAnswer();
    void noAnswerLeavesEmptyDatabase();

private:
    QList<LoggedDatagram> pagingRequests(int element) const;

    TestNetwork* net_ = nullptr;
    LinuxNeighbourTable neighbours_;
};

void TstDiscoveryE2e::initTestCase()
{
    net_ = new TestNetwork(2, this);
    QVERIFY2(net_->up(), qPrintable(net_->errorString()));
    QVERIFY(net_->enterConsoleNamespace());
}

void TstDiscoveryE2e::cleanup()
{
    net_->stopAllSimulators();
}

QList<LoggedDatagram> TstDiscoveryE2e::pagingRequests(int element) const
{
    QList<LoggedDatagram> result;
    for (const LoggedDatagram& d : net_->datagrams(element)) {
        if (d.incoming && d.localPort == 1901)
            result.append(d);
    }
    return result;
}

void TstDiscoveryE2e::encoderAndDecoderAnswer()
{
    QVERIFY(
        net_->startSimulator(1,
                             {"--role", "encoder", "--name", "Studio TX", "--serial", "42", "--gateway", "10.77.0.254",
                              "--remote", "10.77.0.12", "--input", "1", "--type", "1", "--tx", "0"}));
    // The decoder answers a little later, so the order of the answers is known.
    QVERIFY(net_->startSimulator(
        2, {"--role", "decoder", "--name", "SITE RX", "--serial", "7", "--atten", "200", "--delay-ms", "300"}));
    ConsoleFixture f(OnTheLan(&neighbours_));
    QVERIFY(f.load());
    f->link->setRemote(QStringLiteral("10.77.0.11"), 2977);
    f.boxes.clear();
    f.boxes.setNextAnswer(MsgAnswer::Yes);
    f->cmdDiscover->click();

    QCOMPARE(f.boxes.count(), 1); // the question; no message after it
    const QString encoderKey = MacTextToKey(net_->elementMac(1).toUpper());
    const QString decoderKey = MacTextToKey(net_->elementMac(2).toUpper());
    QCOMPARE(LoadIniSectionsArray(f.database()), QStringList({encoderKey, decoderKey}));
    QStringList keys;
    LoadIniSectionKeysLB(encoderKey, keys, f.database());
    QCOMPARE(keys, QStringList({"NAME", "IP", "MASK", "GW", "REMOTE", "INPUT", "TYPE", "TX", "ROLE", "SN"}));
    keys.clear();
    LoadIniSectionKeysLB(decoderKey, keys, f.database());
    QCOMPARE(keys, QStringList({"NAME", "IP", "MASK", "GW", "REMOTE", "INPUT", "TYPE", "TX", "ROLE", "SN", "ATT"}));

    auto read = [&](const QString& key, const char* entry) {
        return ReadFromINI(key, QLatin1String(entry), f.database(), QStringLiteral("<none>"));
    };
    QCOMPARE(read(encoderKey, "name"), QStringLiteral("STUDIO TX"));
    QCOMPARE(read(encoderKey, "ip"), net_->elementIp(1));
    QCOMPARE(read(encoderKey, "mask"), QStringLiteral("255.255.255.0"));
    QCOMPARE(read(encoderKey, "gw"), QStringLiteral("10.77.0.254"));
    QCOMPARE(read(encoderKey, "remote"), QStringLiteral("10.77.0.12"));
    QCOMPARE(read(encoderKey, "input"), QStringLiteral("1"));
    QCOMPARE(read(encoderKey, "type"), QStringLiteral("1"));
    QCOMPARE(read(encoderKey, "tx"), QStringLiteral("0"));
    QCOMPARE(read(encoderKey, "role"), QStringLiteral("1"));
    QCOMPARE(read(encoderKey, "sn"), QStringLiteral("42"));
    QCOMPARE(read(decoderKey, "ip"), net_->elementIp(2));
    QCOMPARE(read(decoderKey, "role"), QStringLiteral("2"));
    QCOMPARE(read(decoderKey, "sn"), QStringLiteral("7"));
    QCOMPARE(read(decoderKey, "att"), QStringLiteral("200"));

    QCOMPARE(f->lstElements->count(), 2);
    QCOMPARE(f->lstElements->itemText(0),
             QStringLiteral("STUDIO TX [") + net_->elementMac(1).toUpper() + QLatin1Char(']'));
    QCOMPARE(f->lstElements->itemText(1),
             QStringLiteral("SITE RX [") + net_->elementMac(2).toUpper() + QLatin1Char(']'));
    QCOMPARE(f->lblElementsList->caption(), QStringLiteral("Select element: (2 items)"));

    // One paging request each, from the console's port 2976.
    for (int element : {1, 2}) {
        const QList<LoggedDatagram> requests = pagingRequests(element);
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.at(0).bytes, kPaging);
        QCOMPARE(requests.at(0).peer, QHostAddress(net_->consoleIp()));
        QCOMPARE(requests.at(0).peerPort, quint16(2976));
    }
    // The link is as it was: bound to its port, aimed where it was aimed before.
    QVERIFY(!f->AutoDiscoverAwaiting);
    QCOMPARE(f->udpClient->state(), QAbstractSocket::BoundState);
    QCOMPARE(f->udpClient->localPort(), quint16(2976));
    QCOMPARE(f->link->remoteHost(), QStringLiteral("10.77.0.11"));
    QCOMPARE(f->link->remotePort(), quint16(2977));
}

void TstDiscoveryE2e::noAnswerLeavesEmptyDatabase()
{
    QVERIFY(net_->startSimulator(1, {"--no-answer"}));
    ConsoleFixture f(OnTheLan(&neighbours_));
    QVERIFY(f.writeElement(QStringLiteral("0200000001AA"), StoredElement {}));
    QVERIFY(f.load());
    f.boxes.clear();
    f.boxes.setNextAnswer(MsgAnswer::Yes);
    f->discovery->mnuDiscover_Click();

    QVERIFY(QFileInfo::exists(f.database()));
    QCOMPARE(QFileInfo(f.database()).size(), qint64(0));
    QCOMPARE(f.boxes.count(), 2);
    QCOMPARE(f.boxes.shown.at(1).title, QStringLiteral("Information"));
    QCOMPARE(f.boxes.shown.at(1).text,
             QStringLiteral("Local database is empty.") + CR
                 + QStringLiteral("Please click the 'Auto Discover' icon to probe the network."));
    QCOMPARE(f->lstElements->count(), 0);
    QCOMPARE(f->lblElementsList->caption(), QStringLiteral("Select element: (0 items)"));
    QCOMPARE(pagingRequests(1).size(), 1);
}

NMS_E2E_MAIN(TstDiscoveryE2e)
#include "tst_discovery_e2e.moc"
