// The element console on the namespace LAN with simulated elements, as the operator uses it:
// picking an element probes it with a real echo, an address nobody owns counts down and probes
// again, an encoder's address is changed from the editor, a decoder's slider is moved with the
// keyboard, and an encoder's level is watched.

#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

#include "console/AudioControls.h"
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

const QColor Green(0, 255, 0);
const QColor Red(255, 0, 0);
const QByteArray Vol("VOL");

StoredElement Encoder(const QString& ip)
{
    StoredElement e;
    e.name = QStringLiteral("STUDIO A        ");
    e.ip = ip;
    e.mask = QStringLiteral("255.255.255.0");
    e.gw = QStringLiteral("10.77.0.254");
    e.remote = QStringLiteral("10.77.0.12");
    e.input = 1;
    e.type = 1;
    e.tx = 0;
    e.role = 1;
    e.sn = 11;
    return e;
}

StoredElement Decoder(const QString& ip, int att)
{
    StoredElement e = Encoder(ip);
    e.name = QStringLiteral("TX SITE         ");
    e.remote = QStringLiteral("10.77.0.11");
    e.input = 0;
    e.role = 2;
    e.sn = 12;
    e.att = att;
    return e;
}

// The simulator options that match Encoder() / Decoder().
const QStringList EncoderOptions = {"--role",    "encoder",     "--name",   "STUDIO A",   "--serial", "11",
                                    "--gateway", "10.77.0.254", "--remote", "10.77.0.12", "--input",  "1",
                                    "--type",    "1",           "--tx",     "0"};

} // namespace

class TstConsoleE2e : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void selectingAnElementProbesIt();
    void addressNobodyOwnsCountsDownAndProbesAgain();
    void encoderAddressChangeFromTheEditor();
    void decoderSliderSendsEachStepAndSelectionSendsNothing();
    void levelMeterPollsAndShowsTheElementsLevel();

private:
    QString key(int element) const { return MacTextToKey(net_->elementMac(element).toUpper()); }
    bool showActive();
    // The datagrams element `element` received on `port`, from its log.
    QList<QByteArray> receivedBy(int element, quint16 port) const;
    // Sends an AttenuationCommand of code 255 to the selected element and waits until its log
    // shows it: everything sent to that element before has been received by then.
    bool markerReached(int element);
    void putAddressBack(int element);

    TestNetwork* net_ = nullptr;
    LinuxNeighbourTable neighbours_;
    LinuxEchoService* echo_ = nullptr;
    std::unique_ptr<ConsoleFixture> console_;
    FrmMain& w() { return console_->w(); }
};

void TstConsoleE2e::initTestCase()
{
    net_ = new TestNetwork(3, this);
    QVERIFY2(net_->up(), qPrintable(net_->errorString()));
    QVERIFY2(net_->enterConsoleNamespace(), qPrintable(net_->errorString()));
    QLocale::setDefault(QLocale::c());
}

void TstConsoleE2e::init()
{
    echo_ = new LinuxEchoService(this);
    ConsoleOptions options;
    options.productPorts = true;
    options.neighbours = &neighbours_;
    options.echo = echo_;
    console_ = std::make_unique<ConsoleFixture>(options);
    QVERIFY(console_->writeElement(key(1), Encoder(net_->elementIp(1))));
    QVERIFY(console_->writeElement(key(2), Decoder(net_->elementIp(2), 200)));
    QVERIFY(console_->writeElement(key(3), Decoder(net_->elementIp(3), 230)));
    QVERIFY(console_->load());
}

void TstConsoleE2e::cleanup()
{
    console_.reset();
    delete echo_;
    echo_ = nullptr;
    net_->stopAllSimulators();
}

bool TstConsoleE2e::showActive()
{
    w().show();
    return QTest::qWaitForWindowActive(&w());
}

QList<QByteArray> TstConsoleE2e::receivedBy(int element, quint16 port) const
{
    QList<QByteArray> found;
    for (const LoggedDatagram& d : net_->datagrams(element)) {
        if (d.incoming && d.localPort == port)
            found.append(d.bytes);
    }
    return found;
}

bool TstConsoleE2e::markerReached(int element)
{
    const QByteArray marker = QByteArray::fromHex("ff00");
    const int before = int(receivedBy(element, 2977).count(marker));
    if (!w().audio->Send_Attenuation(255))
        return false;
    return QTest::qWaitFor([&] { return receivedBy(element, 2977).count(marker) > before; }, 5000);
}

void TstConsoleE2e::putAddressBack(int element)
{
    const QString ns = net_->elementNamespace(element);
    net_->runIn(ns, {"ip", "addr", "flush", "dev", "eth0"});
    net_->runIn(ns, {"ip", "addr", "add", net_->elementIp(element) + QStringLiteral("/24"), "brd", "+", "dev", "eth0"});
    net_->runIn(ns, {"ip", "route", "replace", "default", "dev", "eth0"});
}

void TstConsoleE2e::selectingAnElementProbesIt()
{
    // The element's host answers echoes whether or not its simulator runs.
    QVERIFY(console_->select(key(2)));
    QTRY_COMPARE_WITH_TIMEOUT(w().shpPing->fillColor(), Green, 3000);
    const QString caption = w().lblPing->caption();
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d+ ms$")).match(caption).hasMatch(), qPrintable(caption));
    QVERIFY(!w().tmrRetryPing->isActive());
    QCOMPARE(console_->boxes.count(), 0);
}

void TstConsoleE2e::addressNobodyOwnsCountsDownAndProbesAgain()
{
    QVERIFY(WriteToINI(key(1), QStringLiteral("ip"), QStringLiteral("10.77.0.200"), console_->database()));
    QSignalSpy captions(w().lblPing, &Label::captionChanged);
    QVERIFY(console_->select(key(1)));
    QCOMPARE(w().txtElementIP->text(), QStringLiteral("10.77.0.200"));

    QTRY_COMPARE_WITH_TIMEOUT(captions.count(), 1, 3000);
    QCOMPARE(captions.at(0).at(0).toString(), QStringLiteral("Request Timed Out"));
    QCOMPARE(w().shpPing->fillColor(), Red);
    // Three countdown texts, then the second probe, which has its own outcome.
    QTRY_COMPARE_WITH_TIMEOUT(captions.count(), 5, 8000);
    QStringList shown;
    for (const QList<QVariant>& emission : captions)
        shown.append(emission.at(0).toString());
    QCOMPARE(shown.mid(0, 4),
             QStringList({QStringLiteral("Request Timed Out"), QStringLiteral("Retrying in 2 seconds..."),
                          QStringLiteral("Retrying in 1 seconds..."), QStringLiteral("Retrying in 0 seconds...")}));
    QVERIFY2(shown.at(4) == QStringLiteral("Request Timed Out")
                 || shown.at(4) == QStringLiteral("Destination Host Unreachable"),
             qPrintable(shown.at(4)));
    QCOMPARE(w().shpPing->fillColor(), Red);
}

void TstConsoleE2e::encoderAddressChangeFromTheEditor()
{
    const int element = 1;
    const QString oldIp = net_->elementIp(element);
    const QString newIp = QStringLiteral("10.77.0.51");
    QVERIFY(net_->startSimulator(element, EncoderOptions));
    QVERIFY(showActive());
    QVERIFY(console_->select(key(element)));
    QTRY_COMPARE_WITH_TIMEOUT(w().shpPing->fillColor(), Green, 3000);

    // The operator types the new address over the old one: light red until it is whole.
    w().txtElementIP->setFocus();
    w().txtElementIP->selectAll();
    QTest::keyClicks(w().txtElementIP, QStringLiteral("10.77.0."));
    QCOMPARE(ConfigEditor::AddressBoxColour(w().txtElementIP), ConfigEditor::InvalidAddressColour());
    QTest::keyClicks(w().txtElementIP, QStringLiteral("51"));
    QCOMPARE(w().txtElementIP->text(), newIp);
    QCOMPARE(ConfigEditor::AddressBoxColour(w().txtElementIP), ConfigEditor::WindowBackgroundColour());

    console_->boxes.setNextAnswer(MsgAnswer::Yes);
    QTest::mouseClick(w().cmdSave, Qt::LeftButton);
    QCOMPARE(console_->boxes.count(), 1);
    QCOMPARE(console_->boxes.shown.at(0).title, QStringLiteral("Send configuration"));
    // Sent; nothing stored before the element answers.
    QVERIFY(w().timerRemoteSent->isActive());
    QCOMPARE(ReadFromINI(key(element), QStringLiteral("ip"), console_->database(), QString()), oldIp);

    QTRY_COMPARE_WITH_TIMEOUT(console_->boxes.count(), 2, 8000);
    QCOMPARE(console_->boxes.shown.at(1).title, QStringLiteral("Configuration changed"));
    QCOMPARE(console_->boxes.shown.at(1).text,
             QStringLiteral("New configuration has been sucessfuly saved and loaded!"));
    QVERIFY(!w().timerRemoteSent->isActive());

    // The ConfigWrite reached the element at its old address, from the console's port 2976.
    const QList<LoggedDatagram> log = net_->datagrams(element);
    int configWrites = 0;
    for (const LoggedDatagram& d : log) {
        if (d.incoming && d.localPort == 2976) {
            ++configWrites;
            QCOMPARE(d.length(), 35);
            QCOMPARE(d.peer, QHostAddress(net_->consoleIp()));
            QCOMPARE(d.peerPort, quint16(2976));
            QCOMPARE(d.bytes.left(4), QByteArray::fromHex("0a4d0033"));
            QCOMPARE(d.bytes.mid(19), QByteArray("STUDIO A        "));
        }
    }
    QCOMPARE(configWrites, 1);

    // Stored, reloaded, reselected, and the new address probed.
    QCOMPARE(ReadFromINI(key(element), QStringLiteral("ip"), console_->database(), QString()), newIp);
    QCOMPARE(w().lblElementMAC->caption(), net_->elementMac(element).toUpper());
    QCOMPARE(w().lstHidden.at(w().lstElements->currentIndex()), key(element));
    QCOMPARE(w().txtElementIP->text(), newIp);
    QCOMPARE(w().lblElementType->caption(), QStringLiteral("ENCODER"));
    QTRY_COMPARE_WITH_TIMEOUT(w().shpPing->fillColor(), Green, 3000);

    net_->stopSimulator(element);
    putAddressBack(element);
}

void TstConsoleE2e::decoderSliderSendsEachStepAndSelectionSendsNothing()
{
    QVERIFY(net_->startSimulator(2, {"--role", "decoder", "--atten", "200"}));
    QVERIFY(net_->startSimulator(3, {"--role", "decoder", "--atten", "230"}));
    QVERIFY(showActive());
    w().lstElements->setFocus();
    QVERIFY(console_->select(key(2)));
    QCOMPARE(w().scrlAtten->value(), 200);

    w().scrlAtten->setFocus();
    QTest::keyClick(w().scrlAtten, Qt::Key_Left);
    QTest::keyClick(w().scrlAtten, Qt::Key_Left);
    QTest::keyClick(w().scrlAtten, Qt::Key_Left);
    QCOMPARE(w().lblAttenDB->caption(), QStringLiteral("-29 dB"));
    QVERIFY(markerReached(2));
    QCOMPARE(receivedBy(2, 2977),
             QList<QByteArray>({QByteArray::fromHex("c700"), QByteArray::fromHex("c600"), QByteArray::fromHex("c500"),
                                QByteArray::fromHex("ff00")}));
    QCOMPARE(ReadFromINI(key(2), QStringLiteral("att"), console_->database(), QString()), QStringLiteral("197"));

    // Picking the other decoder from the list moves the slider and sends nothing to either.
    w().lstElements->setFocus();
    QVERIFY(console_->select(key(3)));
    QCOMPARE(w().scrlAtten->value(), 230);
    QVERIFY(markerReached(3));
    QCOMPARE(receivedBy(3, 2977), QList<QByteArray> {QByteArray::fromHex("ff00")});
    QCOMPARE(receivedBy(2, 2977).size(), 4);
    QCOMPARE(ReadFromINI(key(3), QStringLiteral("att"), console_->database(), QString()), QStringLiteral("230"));
    QCOMPARE(console_->boxes.count(), 0);
}

void TstConsoleE2e::levelMeterPollsAndShowsTheElementsLevel()
{
    // Loudest sample 0x400000: half scale.
    QVERIFY(net_->startSimulator(1, EncoderOptions + QStringList {"--level-peak", "4194304"}));
    QVERIFY(showActive());
    QVERIFY(console_->select(key(1)));
    QCOMPARE(w().lblVolume->caption(), QStringLiteral("---"));

    QTest::mouseClick(w().imgPlay, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(w().lblVolume->caption(), QStringLiteral("-27.7dB"), 3000);
    QCOMPARE(w().VUMeter->barWidth(), 70);
    QTRY_VERIFY_WITH_TIMEOUT(receivedBy(1, 2977).size() >= 41, 6000);

    // About twenty a second, as the element's own clock saw them arrive.
    QList<QDateTime> arrivals;
    for (const LoggedDatagram& d : net_->datagrams(1)) {
        if (d.incoming && d.localPort == 2977) {
            QCOMPARE(d.bytes, Vol);
            arrivals.append(d.time);
        }
    }
    const double seconds = arrivals.first().msecsTo(arrivals.last()) / 1000.0;
    const double perSecond = (arrivals.size() - 1) / seconds;
    QVERIFY2(perSecond >= 14.0 && perSecond <= 21.5, qPrintable(QString::number(perSecond)));

    QTest::mouseClick(w().imgStop, Qt::LeftButton);
    QCOMPARE(w().lblVolume->caption(), QStringLiteral("---"));
    QCOMPARE(w().VUMeter->barWidth(), 0);
    QVERIFY(!w().tmrVolume->isActive());
    // The queries have stopped: once a marker sent after the stop has arrived, no further
    // query follows it (at 50 ms a running poll would show several in this wait).
    QVERIFY(markerReached(1));
    const qsizetype queries = receivedBy(1, 2977).count(Vol);
    QVERIFY(!QTest::qWaitFor([&] { return receivedBy(1, 2977).count(Vol) > queries; }, 300));
    QCOMPARE(w().lblVolume->caption(), QStringLiteral("---"));
    QCOMPARE(console_->boxes.count(), 0);
}

NMS_E2E_MAIN(TstConsoleE2e)
#include "tst_console_e2e.moc"
