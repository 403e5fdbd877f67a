// Picking an element in the list: what is shown of it, its probe, a decoder's stored attenuation
// in the slider (shown, not sent), and the sections that are refused or have gone.

#include <QSignalSpy>
#include <QTest>

#include "console/ElementListPanel.h"
#include "database/ProfileStore.h"
#include "support/ConsoleFixture.h"
#include "support/FakeEchoService.h"

using namespace nms;
using namespace nms::test;

namespace {

const QString kEncoder = QStringLiteral("0200000001AB");
const QString kDecoder = QStringLiteral("0200000001CD");
const QString kOther = QStringLiteral("0200000001EF");
const QColor kLightYellow(255, 255, 192);
const QColor kGreen(0, 255, 0);

StoredElement Encoder()
{
    StoredElement e;
    e.mask = QStringLiteral("255.255.0.0");
    e.input = 1;
    e.type = 1;
    e.tx = 0;
    e.role = 1;
    e.sn = 17;
    return e;
}

StoredElement Decoder(int att)
{
    StoredElement e;
    e.name = QStringLiteral("TX SITE         ");
    e.remote = QStringLiteral("0.0.0.0");
    e.tx = 1;
    e.role = 2;
    e.sn = 99;
    e.att = att;
    return e;
}

} // namespace

class TestSelection : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }
    void init();
    void cleanup();

    void operatorPickingAnEncoderShowsItAndProbesIt();
    void decoderAttenuationIsShownNotSent_data();
    void decoderAttenuationIsShownNotSent();
    void badStoredAddressIsNotProbed();
    void sectionWithTwelveEntriesIsRefused();
    void sectionRemovedSinceListingLoadsEmpty();

private:
    FakeEchoService* echo_ = nullptr;
    ConsoleFixture* f_ = nullptr;
    FrmMain& w() { return f_->w(); }
};

void TestSelection::init()
{
    echo_ = new FakeEchoService;
    echo_->setReply(0, 1);
    ConsoleOptions options;
    options.echo = echo_;
    f_ = new ConsoleFixture(options);
}

void TestSelection::cleanup()
{
    delete f_;
    delete echo_;
}

void TestSelection::operatorPickingAnEncoderShowsItAndProbesIt()
{
    QVERIFY(f_->writeElement(kDecoder, Decoder(200)));
    QVERIFY(f_->writeElement(kEncoder, Encoder()));
    QVERIFY(f_->load());
    w().show();
    QVERIFY(QTest::qWaitForWindowActive(&w()));
    echo_->setDelayMs(-1);

    // The operator walks down the list with the keyboard to the second entry.
    w().lstElements->setFocus();
    QTest::keyClick(w().lstElements, Qt::Key_Down);
    QTest::keyClick(w().lstElements, Qt::Key_Down);
    QCOMPARE(w().lstElements->currentIndex(), 1);
    QCOMPARE(f_->core().state.selectedKey(), kEncoder);

    QCOMPARE(QStringList({w().txtElementName->text(), w().txtElementIP->text(), w().txtElementMask->text(),
                          w().txtElementGW->text(), w().txtRemoteIP->text()}),
             QStringList({"STUDIO A", "127.0.0.1", "255.255.0.0", "127.0.0.254", "10.0.0.2"}));
    QCOMPARE(
        QStringList({w().cmbAudioInput->currentText(), w().cmbAudioType->currentText(), w().cmbAudioTX->currentText()}),
        QStringList({"Analog", "MPX", "Unicast"}));
    QCOMPARE(w().lblElementType->caption(), QStringLiteral("ENCODER"));
    QCOMPARE(w().lblElementMAC->caption(), QStringLiteral("02:00:00:00:01:AB"));
    QCOMPARE(w().lblSerialNumber->caption(), QStringLiteral("17"));
    // The encoder's layout, whatever the decoder passed on the way showed.
    QVERIFY(w().scrlAtten->isHidden());
    QVERIFY(!w().txtRemoteIP->isHidden());

    // The first entry was shown on the way down; its probe was superseded by the encoder's,
    // whose answer is awaited on light yellow.
    QCOMPARE(echo_->addresses, QStringList(2, QStringLiteral("127.0.0.1")));
    QCOMPARE(w().shpPing->fillColor(), kLightYellow);
    QVERIFY(echo_->release());
    QTRY_COMPARE(w().lblPing->caption(), QStringLiteral("1 ms"));
    QCOMPARE(w().shpPing->fillColor(), kGreen);
    QCOMPARE(f_->boxes.count(), 0);
}

void TestSelection::decoderAttenuationIsShownNotSent_data()
{
    QTest::addColumn<int>("att"); // -1: no att entry
    QTest::addColumn<int>("slider");
    QTest::addColumn<QString>("caption");
    QTest::newRow("230") << 230 << 230 << "-12.5 dB";
    QTest::newRow("the slider's minimum") << 14 << 14 << "Mute";
    // Below the slider's range or missing: the slider stays where the decoder before left it.
    QTest::newRow("zero") << 0 << 200 << "-27.5 dB";
    QTest::newRow("missing") << -1 << 200 << "-27.5 dB";
}

void TestSelection::decoderAttenuationIsShownNotSent()
{
    QFETCH(int, att);
    QFETCH(int, slider);
    QFETCH(QString, caption);
    StoredElement other = Decoder(att);
    other.name = QStringLiteral("OTHER");
    QVERIFY(f_->writeElement(kDecoder, Decoder(200)));
    QVERIFY(f_->writeElement(kOther, other));
    QVERIFY(f_->load());
    w().show();
    QVERIFY(QTest::qWaitForWindowActive(&w()));
    QVERIFY(f_->select(kDecoder));
    QCOMPARE(w().scrlAtten->value(), 200);
    // Even with the focus on the slider, a move made by the program is not the operator's.
    w().scrlAtten->setFocus();
    QVERIFY(w().scrlAtten->hasFocus());
    QVERIFY(f_->select(kOther));
    QCOMPARE(w().lblElementType->caption(), QStringLiteral("DECODER"));
    QCOMPARE(w().txtElementName->text(), QStringLiteral("OTHER"));
    QCOMPARE(w().scrlAtten->value(), slider);
    QCOMPARE(w().lblAttenDB->caption(), caption);

    // A level query as a marker: whatever went to the command port before has arrived with it.
    QVERIFY(f_->core().audio.Send_LevelQuery());
    QTRY_VERIFY(!f_->element->receivedOn(f_->element->commandPort()).isEmpty());
    QCOMPARE(f_->element->receivedOn(f_->element->commandPort()), QList<QByteArray> {QByteArrayLiteral("VOL")});
    QCOMPARE(ReadFromINI(kDecoder, QStringLiteral("att"), f_->database(), QString()), QStringLiteral("200"));
    QCOMPARE(ReadFromINI(kOther, QStringLiteral("att"), f_->database(), QString()),
             att < 0 ? QString() : QString::number(att));
    QCOMPARE(f_->boxes.count(), 0);
}

void TestSelection::badStoredAddressIsNotProbed()
{
    StoredElement damaged = Encoder();
    damaged.ip = QStringLiteral("300.0.0.1");
    QVERIFY(f_->writeElement(kEncoder, damaged));
    QVERIFY(f_->load());
    QVERIFY(f_->select(kEncoder));
    QCOMPARE(w().txtElementIP->text(), QStringLiteral("300.0.0.1"));
    QVERIFY(echo_->addresses.isEmpty());
    QCOMPARE(w().shpPing->fillColor(), kLightYellow);
    QCOMPARE(w().lblPing->caption(), QStringLiteral("<Unknown>"));
}

void TestSelection::sectionWithTwelveEntriesIsRefused()
{
    QVERIFY(f_->writeElement(kEncoder, Encoder()));
    QVERIFY(f_->writeElement(kDecoder, Decoder(200))); // eleven entries
    QVERIFY(WriteToINI(kDecoder, QStringLiteral("extra"), QStringLiteral("1"), f_->database()));
    QVERIFY(f_->load());
    QVERIFY(f_->select(kEncoder));
    QTRY_COMPARE(w().shpPing->fillColor(), kGreen);
    const int probes = int(echo_->addresses.size());

    w().lstElements->setCurrentIndex(int(w().elementList->lstHidden().indexOf(kDecoder)));
    w().elementList->lstElements_Click();
    f_->showNotices();
    QCOMPARE(f_->boxes.count(), 1);
    const ShownBox box = f_->boxes.shown.first();
    QCOMPARE(box.icon, MsgIcon::Error);
    QCOMPARE(box.title, ProgramTitle());
    QCOMPARE(box.text,
             QStringLiteral("The data stored in your computer about this element, is corrupted (1).\r"
                            "Cannot load this element info."));
    QVERIFY(!box.question);
    // Only the ping area changed: the encoder is still what is shown, and not probed again.
    QCOMPARE(w().shpPing->fillColor(), kLightYellow);
    QCOMPARE(w().lblElementType->caption(), QStringLiteral("ENCODER"));
    QCOMPARE(w().lblElementMAC->caption(), QStringLiteral("02:00:00:00:01:AB"));
    QCOMPARE(w().txtElementName->text(), QStringLiteral("STUDIO A"));
    QCOMPARE(f_->core().state.selectedKey(), kEncoder);
    QCOMPARE(int(echo_->addresses.size()), probes);

    // With eleven entries the same section loads.
    QVERIFY(DeleteIniKey(kDecoder, QStringLiteral("extra"), f_->database()));
    QVERIFY(f_->select(kDecoder));
    QCOMPARE(w().lblElementType->caption(), QStringLiteral("DECODER"));
    f_->showNotices();
    QCOMPARE(f_->boxes.count(), 1);
}

void TestSelection::sectionRemovedSinceListingLoadsEmpty()
{
    QVERIFY(f_->writeElement(kEncoder, Encoder()));
    QVERIFY(f_->writeElement(kDecoder, Decoder(200)));
    QVERIFY(f_->load());
    QVERIFY(f_->select(kEncoder));
    QTRY_COMPARE(w().lblPing->caption(), QStringLiteral("1 ms"));
    QVERIFY(DeleteIniSection(kEncoder, f_->database()));

    w().elementList->lstElements_Click();
    f_->showNotices();
    QCOMPARE(f_->boxes.count(), 0);
    for (QLineEdit* box : {w().txtElementName, w().txtElementIP, w().txtElementMask, w().txtElementGW, w().txtRemoteIP})
        QCOMPARE(box->text(), QString());
    // Missing list values and role are shown as unset: such a record can never be saved as is.
    for (QComboBox* list : {w().cmbAudioInput, w().cmbAudioType, w().cmbAudioTX})
        QCOMPARE(list->currentIndex(), -1);
    QCOMPARE(w().lblElementType->caption(), QStringLiteral("UNKNOWN"));
    QCOMPARE(w().lblElementMAC->caption(), QStringLiteral("02:00:00:00:01:AB"));
    QCOMPARE(w().lblSerialNumber->caption(), QString());
    QCOMPARE(w().shpPing->fillColor(), kLightYellow);
    QCOMPARE(int(echo_->addresses.size()), 1);
}

QTEST_MAIN(TestSelection)
#include "tst_selection.moc"
