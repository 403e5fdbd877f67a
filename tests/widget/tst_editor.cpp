// The configuration editor: live address colours, the upper-cased name, the panel layout by role
// and TX type, and the save command with its checks, its question and the ConfigWrite it sends.

#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include "console/AudioControls.h"
#include "console/ConfigEditor.h"
#include "database/ProfileStore.h"
#include "support/ConsoleFixture.h"
#include "support/FakeEchoService.h"

using namespace nms;
using namespace nms::test;

namespace {

const QString EncoderKey = QStringLiteral("0200000001AB");
const QString DecoderKey = QStringLiteral("0200000001CD");

StoredElement Encoder()
{
    StoredElement e;
    e.role = 1;
    e.tx = 0;
    return e;
}

StoredElement Decoder()
{
    StoredElement e;
    e.name = QStringLiteral("TX SITE         ");
    e.remote = QStringLiteral("0.0.0.0");
    e.role = 2;
    e.tx = 1;
    e.att = 200;
    return e;
}

QColor Colour(QLineEdit* box)
{
    return ConfigEditor::AddressBoxColour(box);
}

} // namespace

class TstEditor : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void addressBoxesColourAsTheTextChanges();
    void typedAddressIsColouredKeyByKey();
    void nameIsUpperCasedWhenTheBoxLosesTheFocus();
    void roleLayout_data();
    void roleLayout();
    void levelCaptionIsTheLayoutsLastStep();
    void txTypeShowsOrHidesTheRemoteAddressOfAnEncoderOnly();
    void saveChecksRunInOrder();
    void confirmedSaveSendsConfigWriteToTheStoredAddress();
    void saveButtonRunsTheCommand();

private:
    QList<QByteArray> configWritesReceived() const
    {
        return console_->element->receivedOn(console_->environment().configPort);
    }
    void fillValidFields();

    FakeEchoService* echo_ = nullptr;
    ConsoleFixture* console_ = nullptr;
    FrmMain& w() { return console_->w(); }
};

void TstEditor::init()
{
    echo_ = new FakeEchoService;
    echo_->setReply(0, 1);
    ConsoleOptions options;
    options.echo = echo_;
    console_ = new ConsoleFixture(options);
    QVERIFY(console_->writeElement(EncoderKey, Encoder()));
    QVERIFY(console_->writeElement(DecoderKey, Decoder()));
    QVERIFY(console_->load());
}

void TstEditor::cleanup()
{
    delete console_;
    delete echo_;
}

void TstEditor::fillValidFields()
{
    w().txtElementName->setText(QStringLiteral("studio 1 north"));
    w().txtElementIP->setText(QStringLiteral("10.1.2.3"));
    w().txtElementMask->setText(QStringLiteral("255.255.255.0"));
    w().txtElementGW->setText(QStringLiteral("10.1.2.254"));
    w().txtRemoteIP->setText(QStringLiteral("10.9.8.7"));
    w().cmbAudioInput->setCurrentIndex(1);
    w().cmbAudioType->setCurrentIndex(0);
    w().cmbAudioTX->setCurrentIndex(0);
}

void TstEditor::addressBoxesColourAsTheTextChanges()
{
    const QColor plain = ConfigEditor::WindowBackgroundColour();
    const QColor lightRed(255, 128, 128);
    QCOMPARE(ConfigEditor::InvalidAddressColour(), lightRed);
    QVERIFY(plain != lightRed);

    const QList<QPair<QString, QColor>> cases = {
        {QStringLiteral("10.0.0.1"), plain},
        {QStringLiteral("10.0.0.256"), lightRed},
        {QString(), plain},
        {QStringLiteral("10.0.0"), lightRed},
        {QStringLiteral("0.0.0.0"), plain},
        {QStringLiteral("10.0.0.1.5"), lightRed},
        {QStringLiteral("010.0.0.1"), plain},
        {QStringLiteral("10..0.1"), lightRed},
        {QStringLiteral("255.255.255.255"), plain},
        {QStringLiteral("-1.0.0.1"), lightRed},
    };
    for (QLineEdit* box : {w().txtElementIP, w().txtElementMask, w().txtElementGW, w().txtRemoteIP}) {
        QCOMPARE(Colour(box), plain);
        for (const auto& [text, colour] : cases) {
            box->setText(text);
            QVERIFY2(Colour(box) == colour, qPrintable(box->objectName() + QLatin1Char(' ') + text));
            // The check only colours.
            QCOMPARE(box->text(), text);
        }
    }
    // Each box is coloured by its own text alone.
    w().txtElementIP->setText(QStringLiteral("1.2.3"));
    w().txtElementMask->setText(QStringLiteral("255.0.0.0"));
    QCOMPARE(Colour(w().txtElementIP), lightRed);
    QCOMPARE(Colour(w().txtElementMask), plain);
}

void TstEditor::typedAddressIsColouredKeyByKey()
{
    w().show();
    QVERIFY(QTest::qWaitForWindowActive(&w()));
    QLineEdit* box = w().txtElementGW;
    box->setFocus();
    QTest::keyClicks(box, QStringLiteral("10.0.0."));
    QCOMPARE(Colour(box), ConfigEditor::InvalidAddressColour());
    QTest::keyClick(box, Qt::Key_5);
    QCOMPARE(Colour(box), ConfigEditor::WindowBackgroundColour());
    QTest::keyClicks(box, QStringLiteral("00"));
    QCOMPARE(box->text(), QStringLiteral("10.0.0.500"));
    QCOMPARE(Colour(box), ConfigEditor::InvalidAddressColour());
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Delete);
    QCOMPARE(Colour(box), ConfigEditor::WindowBackgroundColour());
}

void TstEditor::nameIsUpperCasedWhenTheBoxLosesTheFocus()
{
    w().show();
    QVERIFY(QTest::qWaitForWindowActive(&w()));
    w().txtElementName->setFocus();
    QTest::keyClicks(w().txtElementName, QStringLiteral("studio 1"));
    // Typing alone changes nothing.
    QCOMPARE(w().txtElementName->text(), QStringLiteral("studio 1"));
    QTest::keyClick(w().txtElementName, Qt::Key_Tab);
    QVERIFY(w().txtElementIP->hasFocus());
    QCOMPARE(w().txtElementName->text(), QStringLiteral("STUDIO 1"));

    // Also when the focus is taken by a click elsewhere, and for text set by the program.
    w().txtElementName->setFocus();
    w().txtElementName->setText(QStringLiteral("Mixed Case 2"));
    w().lstElements->setFocus(Qt::MouseFocusReason);
    QCOMPARE(w().txtElementName->text(), QStringLiteral("MIXED CASE 2"));
}

void TstEditor::roleLayout_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("decoder");
    QTest::newRow("decoder") << "DECODER" << true;
    QTest::newRow("encoder") << "ENCODER" << false;
    QTest::newRow("unknown role") << "UNKNOWN" << false;
    QTest::newRow("nothing selected") << "<Unknown>" << false;
    QTest::newRow("lower case") << "decoder" << false;
    QTest::newRow("trailing blank") << "DECODER " << false;
}

void TstEditor::roleLayout()
{
    QFETCH(QString, caption);
    QFETCH(bool, decoder);

    w().show();
    QVERIFY(QTest::qWaitForWindowActive(&w()));
    w().cmbAudioTX->setCurrentIndex(0);
    // Start from the other column, with the level meter running and showing a level.
    w().lblElementType->setCaption(decoder ? QStringLiteral("ENCODER") : QStringLiteral("DECODER"));
    w().audio->imgPlay_Click();
    QVERIFY(w().tmrVolume->isActive());
    w().VUMeter->setBarWidth(70);
    w().lblVolume->setCaption(QStringLiteral("-27.7dB"));

    w().lblElementType->setCaption(caption);

    QCOMPARE(w().txtRemoteIP->isHidden(), decoder);
    QCOMPARE(w().cmbAudioInput->isHidden(), decoder);
    QCOMPARE(w().cmbAudioTX->isHidden(), decoder);
    QCOMPARE(w().scrlAtten->isHidden(), !decoder);
    QCOMPARE(w().lblAttenDB->isHidden(), !decoder);
    QCOMPARE(w().Label9->caption(), decoder ? QStringLiteral("Audio atten:") : QStringLiteral("Audio source:"));
    QVERIFY(!w().tmrVolume->isActive());
    QVERIFY(!w().chkGetVolume->isChecked());
    QVERIFY(w().chkGetVolume->isHidden());
    QCOMPARE(w().imgPlay->isHidden(), decoder);
    QVERIFY(w().imgStop->isHidden());
    QCOMPARE(w().VUMeter->isHidden(), decoder);
    QCOMPARE(w().VUMeter->barWidth(), 0);
    QCOMPARE(w().lblVolume->isHidden(), decoder);
    QCOMPARE(w().lblVolume->caption(), QStringLiteral("---"));

    // Where the TX list and the remote box are hidden, the "N/A" labels under them show.
    for (Label* na : {w().Label15, w().Label16}) {
        QCOMPARE(na->caption(), QStringLiteral("N/A"));
        QWidget* top = w().childAt(na->geometry().center());
        QCOMPARE(top == na, decoder);
    }
}

void TstEditor::levelCaptionIsTheLayoutsLastStep()
{
    w().lblElementType->setCaption(QStringLiteral("ENCODER"));
    w().audio->imgPlay_Click();
    w().VUMeter->setBarWidth(70);
    QStringList seen;
    connect(w().lblVolume, &Label::captionChanged, this, [this, &seen](const QString& caption) {
        // What the rest of the decoder layout looks like at the moment the caption is set.
        const bool restDone = w().VUMeter->isHidden() && w().VUMeter->barWidth() == 0 && w().imgPlay->isHidden()
            && w().lblVolume->isHidden() && !w().scrlAtten->isHidden() && !w().tmrVolume->isActive();
        seen.append(caption + (restDone ? QStringLiteral(" after the rest") : QStringLiteral(" before")));
    });
    w().lblElementType->setCaption(QStringLiteral("DECODER"));
    QVERIFY(!seen.isEmpty());
    QCOMPARE(seen.last(), QStringLiteral("--- after the rest"));
}

void TstEditor::txTypeShowsOrHidesTheRemoteAddressOfAnEncoderOnly()
{
    QVERIFY(console_->select(EncoderKey));
    QCOMPARE(w().cmbAudioTX->currentIndex(), 0);
    QVERIFY(!w().txtRemoteIP->isHidden());
    w().cmbAudioTX->setCurrentIndex(1);
    QVERIFY(w().txtRemoteIP->isHidden());
    w().cmbAudioTX->setCurrentIndex(0);
    QVERIFY(!w().txtRemoteIP->isHidden());
    w().cmbAudioTX->setCurrentIndex(1);
    w().cmbAudioTX->setCurrentIndex(-1);
    QVERIFY(!w().txtRemoteIP->isHidden());

    // A decoder has no remote address to show, whatever its TX type.
    QVERIFY(console_->select(DecoderKey));
    QVERIFY(w().txtRemoteIP->isHidden());
    w().cmbAudioTX->setCurrentIndex(0);
    QVERIFY(w().txtRemoteIP->isHidden());

    // Any other role: the layout decided, the TX choice changes nothing.
    w().cmbAudioTX->setCurrentIndex(0);
    w().lblElementType->setCaption(QStringLiteral("UNKNOWN"));
    QVERIFY(!w().txtRemoteIP->isHidden());
    w().cmbAudioTX->setCurrentIndex(1);
    QVERIFY(!w().txtRemoteIP->isHidden());
}

void TstEditor::saveChecksRunInOrder()
{
    int boxes = 0;
    auto refusedWith = [&](const QString& reason) {
        if (console_->boxes.count() != ++boxes)
            return QStringLiteral("%1 boxes shown").arg(console_->boxes.count());
        const ShownBox box = console_->boxes.shown.last();
        if (box.icon != MsgIcon::Error || box.title != QStringLiteral("Error!") || box.question)
            return QStringLiteral("not an error box titled Error!: ") + box.title;
        return box.text == reason + QStringLiteral("\rCannot save.") ? QString() : box.text;
    };

    // Nothing selected: refused even with every field filled in correctly.
    fillValidFields();
    w().editor->cmdSave_Click();
    QCOMPARE(refusedWith(QStringLiteral("No Network Element selected!")), QString());

    // A decoder, with the audio lists unset, no name and a bad (hidden) remote address: the
    // audio lists are reported first, then the name, then the addresses.
    QVERIFY(console_->select(DecoderKey));
    QVERIFY(w().txtRemoteIP->isHidden());
    w().txtElementName->clear();
    w().txtRemoteIP->setText(QStringLiteral("10.0.0"));
    for (QComboBox* list : {w().cmbAudioInput, w().cmbAudioType, w().cmbAudioTX}) {
        const int kept = list->currentIndex();
        list->setCurrentIndex(-1);
        w().editor->cmdSave_Click();
        QCOMPARE(refusedWith(QStringLiteral("Please verify that all audio fields are correct!")), QString());
        list->setCurrentIndex(kept);
    }
    w().editor->cmdSave_Click();
    QCOMPARE(refusedWith(QStringLiteral("Please verify that the name field is correct!")), QString());
    w().txtElementName->setText(QStringLiteral("X"));
    w().editor->cmdSave_Click();
    QCOMPARE(refusedWith(QStringLiteral("Please verify that all IP fields are correct!")), QString());
    for (QLineEdit* box : {w().txtElementIP, w().txtElementMask, w().txtElementGW}) {
        w().txtRemoteIP->setText(QStringLiteral("10.9.8.7"));
        const QString kept = box->text();
        box->setText(QStringLiteral("10.0.0.256"));
        w().editor->cmdSave_Click();
        QCOMPARE(refusedWith(QStringLiteral("Please verify that all IP fields are correct!")), QString());
        box->setText(kept);
    }

    // Everything right, but the database has gone.
    QVERIFY(QFile::rename(console_->database(), console_->database() + QStringLiteral(".away")));
    w().editor->cmdSave_Click();
    QCOMPARE(refusedWith(QStringLiteral("The local database in your computer, is corrupted!")), QString());
    QVERIFY(QFile::rename(console_->database() + QStringLiteral(".away"), console_->database()));

    // Then the question, with No preselected; No sends nothing.
    w().editor->cmdSave_Click();
    QCOMPARE(console_->boxes.count(), ++boxes);
    const ShownBox question = console_->boxes.shown.last();
    QCOMPARE(question.icon, MsgIcon::Question);
    QVERIFY(question.question);
    QCOMPARE(question.title, QStringLiteral("Send configuration"));
    QCOMPARE(question.text,
             QStringLiteral("This configuration will be sent to selected Network Element and\r"
                            "will also be saved to local database in your computer. \r"
                            "Are you sure?"));
    QCOMPARE(question.text.split(QLatin1Char('\r')).size(), 3);
    QVERIFY(!w().timerRemoteSent->isActive());

    // None of the refused or declined saves sent anything: the one answered Yes is the first.
    console_->boxes.setNextAnswer(MsgAnswer::Yes);
    w().editor->cmdSave_Click();
    QTRY_COMPARE(configWritesReceived().size(), 1);
    QCOMPARE(configWritesReceived().first().size(), 35);
}

void TstEditor::confirmedSaveSendsConfigWriteToTheStoredAddress()
{
    QVERIFY(console_->select(EncoderKey));
    // A new address for the element: the ConfigWrite still goes to the stored one (the loopback
    // element here; nothing listens at 10.1.2.3).
    fillValidFields();
    w().cmbAudioType->setCurrentIndex(1);
    w().cmbAudioTX->setCurrentIndex(1);
    console_->boxes.setNextAnswer(MsgAnswer::Yes);
    w().editor->cmdSave_Click();

    QCOMPARE(console_->boxes.count(), 1);
    QVERIFY(w().timerRemoteSent->isActive());
    QTRY_COMPARE(configWritesReceived().size(), 1);
    QByteArray expected;
    for (int b : {10, 1, 2, 3, 255, 255, 255, 0, 10, 1, 2, 254, 10, 9, 8, 7, 1, 1, 1})
        expected.append(char(b));
    expected.append("STUDIO 1 NORTH  ");
    QCOMPARE(configWritesReceived().first(), expected);
    QCOMPARE(console_->element->received.first().toPort, console_->environment().configPort);
    QCOMPARE(console_->element->received.first().fromPort, console_->consolePort());

    // Nothing is stored until the element answers.
    QCOMPARE(ReadFromINI(EncoderKey, QStringLiteral("ip"), console_->database(), QString()),
             QStringLiteral("127.0.0.1"));
    QCOMPARE(ReadFromINI(EncoderKey, QStringLiteral("name"), console_->database(), QString()),
             QStringLiteral("STUDIO A"));
}

void TstEditor::saveButtonRunsTheCommand()
{
    w().show();
    QVERIFY(QTest::qWaitForWindowActive(&w()));
    QTest::mouseClick(w().cmdSave, Qt::LeftButton);
    QCOMPARE(console_->boxes.count(), 1);
    QCOMPARE(console_->boxes.shown.first().text, QStringLiteral("No Network Element selected!\rCannot save."));
}

QTEST_MAIN(TstEditor)
#include "tst_editor.moc"
