// Picking an element in the selector: what is read from the database into the detail controls,
// what the handlers it sets off do, and the sections it refuses.

#include <QSignalSpy>
#include <QTest>

#include "console/AudioControls.h"
#include "console/ConfigEditor.h"
#include "console/ElementSelection.h"
#include "database/ElementRecords.h"
#include "database/ProfileStore.h"
#include "support/ConsoleFixture.h"
#include "support/FakeEchoService.h"

using namespace nms;
using namespace nms::test;

namespace {

const QString EncoderKey = QStringLiteral("0200000001AB");
const QString DecoderKey = QStringLiteral("0200000001CD");
const QString OtherDecoderKey = QStringLiteral("0200000001EF");
const QString NoAttDecoderKey = QStringLiteral("0200000001A0");
const QColor LightYellow(255, 255, 192);

StoredElement Encoder()
{
    StoredElement e;
    e.name = QStringLiteral("STUDIO A        ");
    e.mask = QStringLiteral("255.255.0.0");
    e.gw = QStringLiteral("127.0.0.254");
    e.remote = QStringLiteral("10.0.0.2");
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
    e.input = 0;
    e.type = 0;
    e.tx = 1;
    e.role = 2;
    e.sn = 99;
    e.att = att;
    return e;
}

} // namespace

class TstSelection : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void operatorPickingAnEncoderShowsItAndProbesIt();
    void decoderFromTheListMovesTheSliderAndSendsNothing();
    void decoderWithUnusableAttenuationKeepsTheSlider();
    void roleOtherThanOneOrTwoIsUnknown();
    void storedAddressesAreCheckedAsTheyLoad();
    void sectionWithTwelveEntriesIsRefused();
    void sectionRemovedSinceListingLoadsEmpty();

private:
    // Sends a level query to the selected element and waits for it: whatever was sent to the
    // element's command port before has arrived by then.
    QList<QByteArray> commandsUpToMarker();

    FakeEchoService* echo_ = nullptr;
    ConsoleFixture* console_ = nullptr;
    FrmMain& w() { return console_->w(); }
};

void TstSelection::initTestCase()
{
    QLocale::setDefault(QLocale::c());
}

void TstSelection::init()
{
    echo_ = new FakeEchoService;
    echo_->setReply(0, 1);
    ConsoleOptions options;
    options.echo = echo_;
    console_ = new ConsoleFixture(options);
}

void TstSelection::cleanup()
{
    delete console_;
    delete echo_;
}

QList<QByteArray> TstSelection::commandsUpToMarker()
{
    const QByteArray marker = QByteArrayLiteral("VOL");
    const int before = int(console_->element->receivedOn(console_->environment().commandPort).size());
    if (!w().audio->Send_LevelQuery())
        return {QByteArrayLiteral("marker not sent")};
    QList<QByteArray> received;
    const bool arrived = QTest::qWaitFor([&] {
        received = console_->element->receivedOn(console_->environment().commandPort);
        return received.size() > before && received.last() == marker;
    });
    if (!arrived)
        return {QByteArrayLiteral("marker lost")};
    received.removeLast();
    return received;
}

void TstSelection::operatorPickingAnEncoderShowsItAndProbesIt()
{
    QVERIFY(console_->writeElement(DecoderKey, Decoder(200)));
    QVERIFY(console_->writeElement(EncoderKey, Encoder()));
    QVERIFY(console_->load());
    QCOMPARE(w().lstElements->count(), 2);
    w().show();
    QVERIFY(QTest::qWaitForWindowActive(&w()));
    // A green result of an earlier probe, so the reset to light yellow is visible.
    w().shpPing->setFillColor(QColor(0, 255, 0));
    echo_->setDelayMs(-1);

    // The operator walks down the list with the keyboard to the second entry.
    w().lstElements->setFocus();
    QTest::keyClick(w().lstElements, Qt::Key_Down);
    QTest::keyClick(w().lstElements, Qt::Key_Down);
    QCOMPARE(w().lstElements->currentIndex(), 1);

    QCOMPARE(w().txtElementName->text(), QStringLiteral("STUDIO A"));
    QCOMPARE(w().txtElementIP->text(), QStringLiteral("127.0.0.1"));
    QCOMPARE(w().txtElementMask->text(), QStringLiteral("255.255.0.0"));
    QCOMPARE(w().txtElementGW->text(), QStringLiteral("127.0.0.254"));
    QCOMPARE(w().txtRemoteIP->text(), QStringLiteral("10.0.0.2"));
    QCOMPARE(w().cmbAudioInput->currentText(), QStringLiteral("Analog"));
    QCOMPARE(w().cmbAudioType->currentText(), QStringLiteral("MPX"));
    QCOMPARE(w().cmbAudioTX->currentText(), QStringLiteral("Unicast"));
    QCOMPARE(w().lblElementType->caption(), QStringLiteral("ENCODER"));
    QCOMPARE(w().lblElementMAC->caption(), QStringLiteral("02:00:00:00:01:AB"));
    QCOMPARE(w().lblSerialNumber->caption(), QStringLiteral("17"));
    // The encoder's layout, and the slider untouched by its first pass over the decoder.
    QVERIFY(!w().txtRemoteIP->isHidden());
    QVERIFY(w().scrlAtten->isHidden());
    QCOMPARE(w().Label9->caption(), QStringLiteral("Audio source:"));

    // The first entry was shown on the way down; its probe was superseded by the encoder's.
    QCOMPARE(echo_->addresses, QStringList(2, QStringLiteral("127.0.0.1")));
    QCOMPARE(w().shpPing->fillColor(), LightYellow);
    QVERIFY(echo_->release());
    QTRY_COMPARE(w().lblPing->caption(), QStringLiteral("1 ms"));
    QCOMPARE(w().shpPing->fillColor(), QColor(0, 255, 0));
    QCOMPARE(console_->boxes.count(), 0);
}

void TstSelection::decoderFromTheListMovesTheSliderAndSendsNothing()
{
    QVERIFY(console_->writeElement(DecoderKey, Decoder(200)));
    QVERIFY(console_->writeElement(OtherDecoderKey, Decoder(230)));
    QVERIFY(console_->load());
    w().show();
    QVERIFY(QTest::qWaitForWindowActive(&w()));
    w().lstElements->setFocus();

    QVERIFY(console_->select(DecoderKey));
    QCOMPARE(w().lblElementType->caption(), QStringLiteral("DECODER"));
    QCOMPARE(w().scrlAtten->value(), 200);
    QCOMPARE(w().lblAttenDB->caption(), QStringLiteral("-27.5 dB"));
    QVERIFY(!w().scrlAtten->isHidden());
    QVERIFY(console_->select(OtherDecoderKey));
    QCOMPARE(w().scrlAtten->value(), 230);
    QCOMPARE(w().lblAttenDB->caption(), QStringLiteral("-12.5 dB"));

    QCOMPARE(commandsUpToMarker(), QList<QByteArray> {});
    QCOMPARE(ReadFromINI(DecoderKey, QStringLiteral("att"), console_->database(), QString()), QStringLiteral("200"));
    QCOMPARE(ReadFromINI(OtherDecoderKey, QStringLiteral("att"), console_->database(), QString()),
             QStringLiteral("230"));
}

void TstSelection::decoderWithUnusableAttenuationKeepsTheSlider()
{
    StoredElement zero = Decoder(0);
    zero.name = QStringLiteral("ZERO ATT        ");
    QVERIFY(console_->writeElement(DecoderKey, Decoder(200)));
    QVERIFY(console_->writeElement(OtherDecoderKey, zero));
    QVERIFY(console_->writeElement(NoAttDecoderKey, Decoder(-1)));
    QVERIFY(console_->load());

    QVERIFY(console_->select(DecoderKey));
    QCOMPARE(w().scrlAtten->value(), 200);
    // 0 lies below the slider's minimum of 14: the slider stays, the rest loads.
    QVERIFY(console_->select(OtherDecoderKey));
    QCOMPARE(w().scrlAtten->value(), 200);
    QCOMPARE(w().lblAttenDB->caption(), QStringLiteral("-27.5 dB"));
    QCOMPARE(w().txtElementName->text(), QStringLiteral("ZERO ATT"));
    QCOMPARE(w().lblSerialNumber->caption(), QStringLiteral("99"));
    QCOMPARE(w().lblElementMAC->caption(), QStringLiteral("02:00:00:00:01:EF"));
    // No att entry at all: the same.
    QVERIFY(console_->select(NoAttDecoderKey));
    QCOMPARE(w().lblElementType->caption(), QStringLiteral("DECODER"));
    QCOMPARE(w().scrlAtten->value(), 200);
    QCOMPARE(console_->boxes.count(), 0);
}

void TstSelection::roleOtherThanOneOrTwoIsUnknown()
{
    StoredElement neither = Encoder();
    neither.role = 0;
    neither.tx = 1;
    QVERIFY(console_->writeElement(DecoderKey, Decoder(200)));
    QVERIFY(console_->writeElement(EncoderKey, neither));
    QVERIFY(console_->load());
    QVERIFY(console_->select(DecoderKey));

    QVERIFY(console_->select(EncoderKey));
    QCOMPARE(w().lblElementType->caption(), QStringLiteral("UNKNOWN"));
    // Laid out as an element that is not a decoder; its multicast TX hides the remote address.
    QVERIFY(w().scrlAtten->isHidden());
    QVERIFY(!w().cmbAudioTX->isHidden());
    QVERIFY(!w().imgPlay->isHidden());
    QVERIFY(w().txtRemoteIP->isHidden());
    QCOMPARE(w().lblVolume->caption(), QStringLiteral("---"));
}

void TstSelection::storedAddressesAreCheckedAsTheyLoad()
{
    StoredElement damaged = Encoder();
    damaged.gw = QStringLiteral("10.0.0");
    damaged.ip = QStringLiteral("300.0.0.1");
    QVERIFY(console_->writeElement(EncoderKey, damaged));
    QVERIFY(console_->load());
    QVERIFY(console_->select(EncoderKey));

    QCOMPARE(ConfigEditor::AddressBoxColour(w().txtElementGW), ConfigEditor::InvalidAddressColour());
    QCOMPARE(ConfigEditor::AddressBoxColour(w().txtElementIP), ConfigEditor::InvalidAddressColour());
    QCOMPARE(ConfigEditor::AddressBoxColour(w().txtElementMask), ConfigEditor::WindowBackgroundColour());
    // An address that fails the check is not probed.
    QVERIFY(echo_->addresses.isEmpty());
    QCOMPARE(w().shpPing->fillColor(), LightYellow);
}

void TstSelection::sectionWithTwelveEntriesIsRefused()
{
    QVERIFY(console_->writeElement(EncoderKey, Encoder()));
    QVERIFY(console_->writeElement(DecoderKey, Decoder(200))); // eleven entries
    QVERIFY(WriteToINI(DecoderKey, QStringLiteral("extra"), QStringLiteral("1"), console_->database()));
    QVERIFY(console_->load());
    QVERIFY(console_->select(EncoderKey));
    QTRY_COMPARE(w().shpPing->fillColor(), QColor(0, 255, 0));
    const int probes = int(echo_->addresses.size());

    w().lstElements->setCurrentIndex(int(w().lstHidden.indexOf(DecoderKey)));
    w().selection->lstElements_Click();
    QCOMPARE(console_->boxes.count(), 1);
    const ShownBox box = console_->boxes.shown.first();
    QCOMPARE(box.icon, MsgIcon::Error);
    QCOMPARE(box.title, ProgramTitle());
    QCOMPARE(box.text,
             QStringLiteral("The data stored in your computer about this element, is corrupted (1).\r"
                            "Cannot load this element info."));
    QVERIFY(!box.question);
    // Only the ping area changed: the encoder is still what the panel shows.
    QCOMPARE(w().shpPing->fillColor(), LightYellow);
    QCOMPARE(w().lblElementType->caption(), QStringLiteral("ENCODER"));
    QCOMPARE(w().lblElementMAC->caption(), QStringLiteral("02:00:00:00:01:AB"));
    QCOMPARE(w().txtElementName->text(), QStringLiteral("STUDIO A"));
    QCOMPARE(int(echo_->addresses.size()), probes);

    // With eleven entries the same section loads.
    QVERIFY(DeleteIniKey(DecoderKey, QStringLiteral("extra"), console_->database()));
    QVERIFY(console_->select(DecoderKey));
    QCOMPARE(w().lblElementType->caption(), QStringLiteral("DECODER"));
    QCOMPARE(console_->boxes.count(), 1);
}

void TstSelection::sectionRemovedSinceListingLoadsEmpty()
{
    QVERIFY(console_->writeElement(EncoderKey, Encoder()));
    QVERIFY(console_->writeElement(DecoderKey, Decoder(200)));
    QVERIFY(console_->load());
    QVERIFY(console_->select(EncoderKey));
    QTRY_COMPARE(w().lblPing->caption(), QStringLiteral("1 ms"));
    QVERIFY(DeleteIniSection(EncoderKey, console_->database()));

    w().selection->lstElements_Click();
    QCOMPARE(console_->boxes.count(), 0);
    for (QLineEdit* box : {w().txtElementName, w().txtElementIP, w().txtElementMask, w().txtElementGW, w().txtRemoteIP})
        QCOMPARE(box->text(), QString());
    // Missing list values and role are shown as unset: such a record can never be saved as is.
    for (QComboBox* list : {w().cmbAudioInput, w().cmbAudioType, w().cmbAudioTX})
        QCOMPARE(list->currentIndex(), -1);
    QCOMPARE(w().lblElementType->caption(), QStringLiteral("UNKNOWN"));
    QCOMPARE(w().lblElementMAC->caption(), QStringLiteral("02:00:00:00:01:AB"));
    QCOMPARE(w().lblSerialNumber->caption(), QString());
    QCOMPARE(w().shpPing->fillColor(), LightYellow);
    QCOMPARE(int(echo_->addresses.size()), 1);
}

QTEST_MAIN(TstSelection)
#include "tst_selection.moc"
