// The element link on the namespace LAN with simulated elements: the whole road of an address
// change, the reply timer against silent, short, faulty and late answers, and an answer from
// another element than the one shown.

#include <QElapsedTimer>
#include <QtTest>

#include "console/ConfigEditor.h"
#include "database/ElementRecords.h"
#include "database/ProfileStore.h"
#include "link/FeedbackProcessor.h"
#include "services/EchoService.h"
#include "services/NeighbourTable.h"
#include "support/ConsoleFixture.h"
#include "support/TestNetwork.h"

using namespace nms;
using namespace nms::test;

namespace {

const QChar CR(u'\r');
const QString kTimeout =
    QStringLiteral("Waiting for a response from Network Element has timed out!") + CR + QStringLiteral("Cannot save.");
const QString kSuccess = QStringLiteral("New configuration has been sucessfuly saved and loaded!");

// The simulator's options that match what the database holds for it.
QStringList SimulatorAsStored(const QStringList& extra = {})
{
    return QStringList {"--role",   "encoder",    "--name",  "STUDIO TX", "--serial", "42", "--gateway", "10.77.0.254",
                        "--remote", "10.77.0.99", "--input", "0",         "--type",   "1",  "--tx",      "0"}
    + extra;
}

StoredElement StoredAs(const QString& ip)
{
    StoredElement e;
    e.name = QStringLiteral("STUDIO TX       ");
    e.ip = ip;
    e.mask = QStringLiteral("255.255.255.0");
    e.gw = QStringLiteral("10.77.0.254");
    e.remote = QStringLiteral("10.77.0.99");
    e.input = 0;
    e.type = 1;
    e.tx = 0;
    e.role = 1;
    e.sn = 42;
    return e;
}

} // namespace

class TstLinkE2e : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void addressChangeRoad();
    void shortReplyAloneTimesOutOnce();
    void roleThreeThenTimeout();
    void lateFeedbackStillSaves();
    void otherElementDoesNotMatch();

private:
    // A console whose database holds element `element` (at `storedIp`), shown in the window.
    std::unique_ptr<ConsoleFixture> consoleShowing(int element, const QString& storedIp);
    void putAddressBack(int element);

    TestNetwork* net_ = nullptr;
    LinuxNeighbourTable neighbours_;
};

void TstLinkE2e::initTestCase()
{
    net_ = new TestNetwork(2, this);
    QVERIFY2(net_->up(), qPrintable(net_->errorString()));
    QVERIFY(net_->enterConsoleNamespace());
}

void TstLinkE2e::cleanup()
{
    net_->stopAllSimulators();
    // The address change moves element 2; whatever happened, later tests find it where it was.
    putAddressBack(2);
}

std::unique_ptr<ConsoleFixture> TstLinkE2e::consoleShowing(int element, const QString& storedIp)
{
    ConsoleOptions options;
    options.productPorts = true;
    options.neighbours = &neighbours_;
    auto f = std::make_unique<ConsoleFixture>(options);
    const QString key = MacTextToKey(net_->elementMac(element).toUpper());
    if (!f->writeElement(key, StoredAs(storedIp)) || !f->load() || !f->select(key))
        return nullptr;
    f->boxes.clear();
    return f;
}

void TstLinkE2e::putAddressBack(int element)
{
    const QString ns = net_->elementNamespace(element);
    const QString address = net_->elementIp(element) + QStringLiteral("/24");
    net_->runIn(ns, {"ip", "addr", "flush", "dev", "eth0"});
    net_->runIn(ns, {"ip", "addr", "add", address, "brd", "+", "dev", "eth0"});
    net_->runIn(ns, {"ip", "route", "replace", "default", "dev", "eth0"});
}

void TstLinkE2e::addressChangeRoad()
{
    const int element = 2;
    const QString newIp = QStringLiteral("10.77.0.50");
    QVERIFY(net_->startSimulator(element, SimulatorAsStored()));
    auto f = consoleShowing(element, net_->elementIp(element));
    QVERIFY(f);
    const QString mac = net_->elementMac(element).toUpper();
    const QString key = MacTextToKey(mac);
    bool ok = false;
    const quint32 newAddress = Ipv4FromDottedText(newIp, &ok);
    QVERIFY(neighbours_.lookup(newAddress).isEmpty());

    // The operator types the new address and a lower-case name, then saves and confirms.
    (*f)->txtElementIP->setText(newIp);
    (*f)->txtElementName->setText(QStringLiteral("studio tx"));
    f->boxes.setNextAnswer(MsgAnswer::Yes);
    (*f)->editor->cmdSave_Click();
    QTRY_COMPARE_WITH_TIMEOUT(f->boxes.count(), 2, 8000);

    QCOMPARE(f->boxes.shown.at(0).title, QStringLiteral("Send configuration"));
    QCOMPARE(f->boxes.shown.at(1).title, QStringLiteral("Configuration changed"));
    QCOMPARE(f->boxes.shown.at(1).text, kSuccess);
    QVERIFY(!(*f)->timerRemoteSent->isActive());

    // The ConfigWrite went to the old stored address from port 2976; the answer came from the new one.
    bool configSeen = false, answerSeen = false;
    for (const LoggedDatagram& d : net_->datagrams(element)) {
        if (d.incoming && d.localPort == 2976 && d.length() == 35) {
            configSeen = true;
            QCOMPARE(d.peer, QHostAddress(net_->consoleIp()));
            QCOMPARE(d.peerPort, quint16(2976));
        }
        if (!d.incoming && d.localPort == 2976 && (d.length() == 40 || d.length() == 41)) {
            answerSeen = true;
            QCOMPARE(QByteArray(d.bytes.left(4)), QByteArray::fromHex("0A4D0032"));
        }
    }
    QVERIFY(configSeen);
    QVERIFY(answerSeen);

    // The kernel resolved the new address to the element's MAC.
    QCOMPARE(neighbours_.lookup(newAddress).toHex().toUpper(), key.toLatin1());

    QCOMPARE(ReadFromINI(key, QStringLiteral("ip"), f->database(), QString()), newIp);
    QCOMPARE(ReadFromINI(key, QStringLiteral("name"), f->database(), QString()), QStringLiteral("STUDIO TX"));
    QCOMPARE(ReadFromINI(key, QStringLiteral("sn"), f->database(), QString()), QStringLiteral("42"));
    QCOMPARE(ReadFromINI(key, QStringLiteral("role"), f->database(), QString()), QStringLiteral("1"));
    // Reloaded and shown again.
    QCOMPARE((*f)->lstElements->currentIndex(), 0);
    QCOMPARE((*f)->lblElementMAC->caption(), mac);
    QCOMPARE((*f)->txtElementIP->text(), newIp);
}

void TstLinkE2e::shortReplyAloneTimesOutOnce()
{
    QVERIFY(net_->startSimulator(1, SimulatorAsStored({"--short-reply"})));
    auto f = consoleShowing(1, net_->elementIp(1));
    QVERIFY(f);
    f->boxes.setHoldMs(3500); // longer than the timer: a second expiry would show here
    QElapsedTimer clock;
    clock.start();
    QVERIFY((*f)->editor->Send_Config());
    QTRY_COMPARE_WITH_TIMEOUT(f->boxes.count(), 1, 5000);
    QVERIFY2(clock.elapsed() >= 2900, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(f->boxes.shown.at(0).text, kTimeout);
    QCOMPARE(f->boxes.shown.at(0).title, QStringLiteral("Error!"));
    QTRY_COMPARE_WITH_TIMEOUT(f->boxes.openNow(), 0, 5000);
    QCOMPARE(f->boxes.count(), 1);

    bool shortReplySent = false;
    for (const LoggedDatagram& d : net_->datagrams(1))
        shortReplySent = shortReplySent || (!d.incoming && d.length() == 3);
    QVERIFY(shortReplySent);
}

void TstLinkE2e::roleThreeThenTimeout()
{
    QVERIFY(net_->startSimulator(1, SimulatorAsStored({"--role-byte", "3"})));
    auto f = consoleShowing(1, net_->elementIp(1));
    QVERIFY(f);
    QList<qint64> shownAt;
    QElapsedTimer clock;
    connect(&f->boxes, &ScriptedMessageBoxes::boxShown, this, [&] { shownAt << clock.elapsed(); });
    clock.start();
    QVERIFY((*f)->editor->Send_Config());
    QTRY_COMPARE_WITH_TIMEOUT(f->boxes.count(), 2, 6000);
    QCOMPARE(f->boxes.texts(),
             QStringList({QStringLiteral("An error occured while retrieving 'Element Type':") + CR
                              + QStringLiteral("Feedback is corrupted."),
                          kTimeout}));
    QVERIFY(shownAt.at(0) < 2000);
    QVERIFY2(shownAt.at(1) >= 2900, qPrintable(QString::number(shownAt.at(1))));
    const QString key = MacTextToKey(net_->elementMac(1).toUpper());
    QCOMPARE(GetSectionKeyCount(key, f->database()), qint16(10));
}

void TstLinkE2e::lateFeedbackStillSaves()
{
    QVERIFY(net_->startSimulator(1, SimulatorAsStored({"--delay-ms", "3500"})));
    auto f = consoleShowing(1, net_->elementIp(1));
    QVERIFY(f);
    (*f)->txtElementName->setText(QStringLiteral("LATE NAME"));
    QVERIFY((*f)->editor->Send_Config());
    QTRY_COMPARE_WITH_TIMEOUT(f->boxes.count(), 2, 8000);
    QCOMPARE(f->boxes.texts(), QStringList({kTimeout, kSuccess}));
    const QString key = MacTextToKey(net_->elementMac(1).toUpper());
    QCOMPARE(ReadFromINI(key, QStringLiteral("name"), f->database(), QString()), QStringLiteral("LATE NAME"));
}

void TstLinkE2e::otherElementDoesNotMatch()
{
    // The database says element 1 lives at element 2's address: element 2 gets the ConfigWrite and answers.
    QVERIFY(net_->startSimulator(2, SimulatorAsStored()));
    auto f = consoleShowing(1, net_->elementIp(2));
    QVERIFY(f);
    QSignalSpy handled((*f)->feedback, &FeedbackProcessor::feedbackHandled);
    QVERIFY((*f)->editor->Send_Config());
    QTRY_COMPARE_WITH_TIMEOUT(handled.count(), 1, 8000);
    QCOMPARE(f->boxes.texts(),
             QStringList {QStringLiteral("The response received does not match the selected element.") + CR
                          + QStringLiteral("Cannot save this element info.")});
    QCOMPARE(LoadIniSectionsArray(f->database()), QStringList {MacTextToKey(net_->elementMac(1).toUpper())});
}

NMS_E2E_MAIN(TstLinkE2e)
#include "tst_link_e2e.moc"
