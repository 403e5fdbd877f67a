// The window on the namespace LAN, as the operator uses it with a simulated element: the pick from
// the list probes it with a real echo, a new name typed and saved with the question answered Yes
// goes out, the element's answer brings the success box, and the list is reloaded with the element
// shown again.

#include <QtTest>

#include "database/ElementRecords.h"
#include "database/ProfileStore.h"
#include "services/EchoService.h"
#include "services/NeighbourTable.h"
#include "support/ConsoleFixture.h"
#include "support/TestNetwork.h"

using namespace nms;
using namespace nms::test;

namespace {

const QColor Green(0, 255, 0);

StoredElement Encoder(const QString& ip)
{
    StoredElement e;
    e.ip = ip;
    e.gw = QStringLiteral("10.77.0.254");
    e.remote = QStringLiteral("10.77.0.12");
    e.input = 1;
    e.type = 1;
    e.sn = 11;
    return e;
}

// The simulator options that match Encoder().
const QStringList EncoderOptions = {"--role",    "encoder",     "--name",   "STUDIO A",   "--serial", "11",
                                    "--gateway", "10.77.0.254", "--remote", "10.77.0.12", "--input",  "1",
                                    "--type",    "1",           "--tx",     "0"};

} // namespace

class TstConsoleE2e : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void operatorRenamesAnElement();

private:
    TestNetwork* net_ = nullptr;
};

void TstConsoleE2e::initTestCase()
{
    net_ = new TestNetwork(2, this);
    QVERIFY2(net_->up(), qPrintable(net_->errorString()));
    QVERIFY2(net_->enterConsoleNamespace(), qPrintable(net_->errorString()));
}

void TstConsoleE2e::operatorRenamesAnElement()
{
    LinuxNeighbourTable neighbours;
    LinuxEchoService echo;
    ConsoleOptions options;
    options.productPorts = true;
    options.neighbours = &neighbours;
    options.echo = &echo;
    ConsoleFixture f(options);
    const QString key = MacTextToKey(net_->elementMac(1).toUpper());
    QVERIFY(f.writeElement(key, Encoder(net_->elementIp(1))));
    QVERIFY(f.writeElement(MacTextToKey(net_->elementMac(2).toUpper()), Encoder(net_->elementIp(2))));
    QVERIFY(net_->startSimulator(1, EncoderOptions));
    QVERIFY(f.load());
    f.showNotices();
    f->show();
    QVERIFY(QTest::qWaitForWindowActive(&f.w()));
    QCOMPARE(f->lstElements->count(), 2);

    // The operator picks the first element with the keyboard: shown, and its host answers the echo.
    f->lstElements->setFocus();
    QTest::keyClick(f->lstElements, Qt::Key_Down);
    QCOMPARE(f.core().state.selectedKey(), key);
    QCOMPARE(f->lblElementMAC->caption(), net_->elementMac(1).toUpper());
    QTRY_COMPARE_WITH_TIMEOUT(f->shpPing->fillColor(), Green, 3000);

    // Types a new name and clicks Save; the question is answered Yes.
    f->txtElementName->setFocus();
    f->txtElementName->selectAll();
    QTest::keyClicks(f->txtElementName, QStringLiteral("studio a two"));
    f.boxes.clear();
    f.boxes.setNextAnswer(MsgAnswer::Yes);
    QTest::mouseClick(f->cmdSave, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(f.boxes.count(), 2, 8000);
    QCOMPARE(f.boxes.shown.at(0).title, QStringLiteral("Send configuration"));
    QVERIFY(f.boxes.shown.at(0).question);
    QCOMPARE(f.boxes.shown.at(1).title, QStringLiteral("Configuration changed"));
    QCOMPARE(f.boxes.shown.at(1).text, QStringLiteral("New configuration has been sucessfuly saved and loaded!"));
    QVERIFY(!f.core().sender.replyTimerActive());

    // One ConfigWrite reached the element, from the console's port 2976, with the name upper-cased.
    int configWrites = 0;
    for (const LoggedDatagram& d : net_->datagrams(1)) {
        if (d.incoming && d.localPort == 2976) {
            ++configWrites;
            QCOMPARE(d.peer, QHostAddress(net_->consoleIp()));
            QCOMPARE(d.peerPort, quint16(2976));
            QCOMPARE(d.bytes.mid(19), QByteArray("STUDIO A TWO    "));
        }
    }
    QCOMPARE(configWrites, 1);

    // Stored, the list reloaded with the new name and the element shown and probed again.
    QCOMPARE(f.core().store.read(key).name, QStringLiteral("STUDIO A TWO"));
    QCOMPARE(f->lstElements->count(), 2);
    const QString entry = f->lstElements->currentText();
    QVERIFY2(entry.startsWith(QStringLiteral("STUDIO A TWO")) && entry.endsWith(net_->elementMac(1).toUpper() + u']'),
             qPrintable(entry));
    QCOMPARE(f->txtElementName->text(), QStringLiteral("STUDIO A TWO"));
    QCOMPARE(f.core().state.selectedKey(), key);
    QTRY_COMPARE_WITH_TIMEOUT(f->shpPing->fillColor(), Green, 3000);
    QCOMPARE(f.boxes.count(), 2);
}

NMS_E2E_MAIN(TstConsoleE2e)
#include "tst_console_e2e.moc"
