// The configuration editor: live address colours, the upper-cased name, the layout by role and
// TX type, and the save command with its checks in order, its question and the ConfigWrite it
// sends to the element's stored address.

#include <QFile>
#include <QTest>

#include "console/EditorPanel.h"
#include "database/ProfileStore.h"
#include "support/ConsoleFixture.h"

using namespace nms;
using namespace nms::test;

namespace {

const QString kEncoder = QStringLiteral("0200000001AB");
const QString kDecoder = QStringLiteral("0200000001CD");
const QString kUnknownRole = QStringLiteral("0200000001EF");

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

// Neither an encoder nor a decoder, sending by multicast.
StoredElement UnknownRole()
{
    StoredElement e;
    e.role = 0;
    e.tx = 1;
    return e;
}

QColor Colour(const QLineEdit* box)
{
    return EditorPanel::AddressBoxColour(box);
}

} // namespace

class TestEditor : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void addressBoxesColourAsTheTextChanges();
    void nameIsUpperCasedWhenTheBoxLosesTheFocus();
    void roleLayout_data();
    void roleLayout();
    void txTypeShowsTheRemoteAddressOfAnEncoderOnly();
    void saveChecksRunInOrder();
    void confirmedSaveSendsTheEditorToTheStoredAddress();

private:
    QList<QByteArray> configWritesReceived() const { return f_->element->receivedOn(f_->element->configPort()); }
    // The box the last refused save raised: empty when it is the expected one.
    QString refusal(const QString& reason);
    void fillValidFields();

    ConsoleFixture* f_ = nullptr;
    int boxes_ = 0;
    FrmMain& w() { return f_->w(); }
};

void TestEditor::init()
{
    f_ = new ConsoleFixture;
    QVERIFY(f_->writeElement(kEncoder, Encoder()));
    QVERIFY(f_->writeElement(kDecoder, Decoder()));
    QVERIFY(f_->writeElement(kUnknownRole, UnknownRole()));
    QVERIFY(f_->load());
    boxes_ = 0;
}

void TestEditor::cleanup()
{
    delete f_;
}

void TestEditor::fillValidFields()
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

QString TestEditor::refusal(const QString& reason)
{
    f_->showNotices();
    if (f_->boxes.count() != ++boxes_)
        return QStringLiteral("%1 boxes shown").arg(f_->boxes.count());
    const ShownBox box = f_->boxes.shown.last();
    if (box.icon != MsgIcon::Error || box.title != QStringLiteral("Error!") || box.question)
        return QStringLiteral("not an error box titled Error!: ") + box.title;
    return box.text == reason + QStringLiteral("\rCannot save.") ? QString() : box.text;
}

void TestEditor::addressBoxesColourAsTheTextChanges()
{
    const QColor plain = EditorPanel::WindowBackgroundColour();
    const QColor lightRed(255, 128, 128);
    QCOMPARE(EditorPanel::InvalidAddressColour(), lightRed);
    QVERIFY(plain != lightRed);
    for (QLineEdit* box : {w().txtElementIP, w().txtElementMask, w().txtElementGW, w().txtRemoteIP}) {
        QCOMPARE(Colour(box), plain);
        for (const auto& [text, colour] : QList<QPair<QString, QColor>> {
                 {"10.0.0.1", plain}, {"10.0.0.256", lightRed}, {"", plain}, {"10.0.0", lightRed}}) {
            box->setText(text);
            QVERIFY2(Colour(box) == colour, qPrintable(text));
            QCOMPARE(box->text(), text); // the check only colours
        }
    }
    // Each box by its own text alone.
    w().txtElementIP->setText(QStringLiteral("1.2.3"));
    w().txtElementMask->setText(QStringLiteral("255.0.0.0"));
    QCOMPARE(Colour(w().txtElementIP), lightRed);
    QCOMPARE(Colour(w().txtElementMask), plain);

    // Typed key by key.
    w().show();
    QVERIFY(QTest::qWaitForWindowActive(&w()));
    QLineEdit* box = w().txtElementGW;
    box->clear();
    box->setFocus();
    QTest::keyClicks(box, QStringLiteral("10.0.0."));
    QCOMPARE(Colour(box), lightRed);
    QTest::keyClick(box, Qt::Key_5);
    QCOMPARE(Colour(box), plain);
    QTest::keyClicks(box, QStringLiteral("00"));
    QCOMPARE(Colour(box), lightRed);
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Delete);
    QCOMPARE(Colour(box), plain);

    // An address loaded from the database is checked as it is shown.
    StoredElement damaged = Encoder();
    damaged.ip = QStringLiteral("300.0.0.1");
    QVERIFY(f_->writeElement(kEncoder, damaged));
    QVERIFY(f_->select(kEncoder));
    QCOMPARE(Colour(w().txtElementIP), lightRed);
    QCOMPARE(Colour(w().txtElementMask), plain);
}

void TestEditor::nameIsUpperCasedWhenTheBoxLosesTheFocus()
{
    w().show();
    QVERIFY(QTest::qWaitForWindowActive(&w()));
    w().txtElementName->setFocus();
    QTest::keyClicks(w().txtElementName, QStringLiteral("studio 1"));
    QCOMPARE(w().txtElementName->text(), QStringLiteral("studio 1")); // typing alone changes nothing
    QTest::keyClick(w().txtElementName, Qt::Key_Tab);
    QVERIFY(w().txtElementIP->hasFocus());
    QCOMPARE(w().txtElementName->text(), QStringLiteral("STUDIO 1"));

    // Also when a click elsewhere takes the focus, and for text set by the program.
    w().txtElementName->setFocus();
    w().txtElementName->setText(QStringLiteral("Mixed Case 2"));
    w().lstElements->setFocus(Qt::MouseFocusReason);
    QCOMPARE(w().txtElementName->text(), QStringLiteral("MIXED CASE 2"));
}

void TestEditor::roleLayout_data()
{
    QTest::addColumn<QString>("key"); // empty: nothing selected
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("decoder");
    QTest::addColumn<bool>("remoteShown");
    QTest::newRow("decoder") << kDecoder << kEncoder << "DECODER" << true << false;
    QTest::newRow("encoder") << kEncoder << kDecoder << "ENCODER" << false << true;
    // Laid out as anything but a decoder; its multicast TX type hides the remote address.
    QTest::newRow("unknown role") << kUnknownRole << kDecoder << "UNKNOWN" << false << false;
    QTest::newRow("nothing selected") << QString() << kDecoder << "<Unknown>" << false << true;
}

void TestEditor::roleLayout()
{
    QFETCH(QString, key);
    QFETCH(QString, before);
    QFETCH(QString, caption);
    QFETCH(bool, decoder);
    QFETCH(bool, remoteShown);
    w().show();
    QVERIFY(QTest::qWaitForWindowActive(&w()));
    // Start from the other column.
    QVERIFY(f_->select(before));
    if (key.isEmpty())
        w().cmdRefresh->click();
    else
        QVERIFY(f_->select(key));

    QCOMPARE(w().lblElementType->caption(), caption);
    QCOMPARE(w().txtRemoteIP->isHidden(), !remoteShown);
    QCOMPARE(w().cmbAudioInput->isHidden(), decoder);
    QCOMPARE(w().cmbAudioTX->isHidden(), decoder);
    QCOMPARE(w().scrlAtten->isHidden(), !decoder);
    QCOMPARE(w().lblAttenDB->isHidden(), !decoder);
    QCOMPARE(w().Label9->caption(), decoder ? QStringLiteral("Audio atten:") : QStringLiteral("Audio source:"));
    QCOMPARE(w().imgPlay->isHidden(), decoder);
    QVERIFY(w().imgStop->isHidden());
    QCOMPARE(w().VUMeter->isHidden(), decoder);
    QCOMPARE(w().lblVolume->isHidden(), decoder);
    // Where the TX list and the remote box are hidden, the "N/A" labels under them show.
    QCOMPARE(w().childAt(w().Label15->geometry().center()) == w().Label15, decoder);
    QCOMPARE(w().childAt(w().Label16->geometry().center()) == w().Label16, !remoteShown);
}

void TestEditor::txTypeShowsTheRemoteAddressOfAnEncoderOnly()
{
    QVERIFY(f_->select(kEncoder));
    QVERIFY(!w().txtRemoteIP->isHidden());
    for (const auto& [tx, hidden] : QList<QPair<int, bool>> {{1, true}, {0, false}, {1, true}, {-1, false}}) {
        w().cmbAudioTX->setCurrentIndex(tx);
        QCOMPARE(w().txtRemoteIP->isHidden(), hidden);
    }
    // A decoder has no remote address to show; an element of unknown role keeps its layout.
    for (const QString& key : {kDecoder, kUnknownRole}) {
        QVERIFY(f_->select(key));
        const bool hidden = w().txtRemoteIP->isHidden();
        QVERIFY(hidden);
        w().cmbAudioTX->setCurrentIndex(0);
        QCOMPARE(w().txtRemoteIP->isHidden(), hidden);
    }
}

void TestEditor::saveChecksRunInOrder()
{
    // Nothing selected: refused even with every field right, by the button as by the command.
    fillValidFields();
    w().show();
    QVERIFY(QTest::qWaitForWindowActive(&w()));
    QTest::mouseClick(w().cmdSave, Qt::LeftButton);
    QCOMPARE(refusal(QStringLiteral("No Network Element selected!")), QString());

    // A decoder, with the audio lists unset, no name and a bad (hidden) remote address: the
    // audio lists are reported first, then the name, then the addresses.
    QVERIFY(f_->select(kDecoder));
    QVERIFY(w().txtRemoteIP->isHidden());
    w().txtElementName->clear();
    w().txtRemoteIP->setText(QStringLiteral("10.0.0"));
    for (QComboBox* list : {w().cmbAudioInput, w().cmbAudioType, w().cmbAudioTX}) {
        const int kept = list->currentIndex();
        list->setCurrentIndex(-1);
        w().editor->cmdSave_Click();
        QCOMPARE(refusal(QStringLiteral("Please verify that all audio fields are correct!")), QString());
        list->setCurrentIndex(kept);
    }
    w().editor->cmdSave_Click();
    QCOMPARE(refusal(QStringLiteral("Please verify that the name field is correct!")), QString());
    w().txtElementName->setText(QStringLiteral("X"));
    w().editor->cmdSave_Click();
    QCOMPARE(refusal(QStringLiteral("Please verify that all IP fields are correct!")), QString());
    w().txtRemoteIP->setText(QStringLiteral("10.9.8.7"));
    for (QLineEdit* box : {w().txtElementIP, w().txtElementMask, w().txtElementGW}) {
        const QString kept = box->text();
        box->setText(QStringLiteral("10.0.0.256"));
        w().editor->cmdSave_Click();
        QCOMPARE(refusal(QStringLiteral("Please verify that all IP fields are correct!")), QString());
        box->setText(kept);
    }

    // Everything right, but the database has gone.
    QVERIFY(QFile::rename(f_->database(), f_->database() + QStringLiteral(".away")));
    w().editor->cmdSave_Click();
    QCOMPARE(refusal(QStringLiteral("The local database in your computer, is corrupted!")), QString());
    QVERIFY(QFile::rename(f_->database() + QStringLiteral(".away"), f_->database()));

    // Then the question, with No preselected; No sends nothing.
    w().editor->cmdSave_Click();
    QCOMPARE(f_->boxes.count(), ++boxes_);
    const ShownBox question = f_->boxes.shown.last();
    QCOMPARE(question.icon, MsgIcon::Question);
    QVERIFY(question.question);
    QCOMPARE(question.title, QStringLiteral("Send configuration"));
    QCOMPARE(question.text,
             QStringLiteral("This configuration will be sent to selected Network Element and\r"
                            "will also be saved to local database in your computer. \r"
                            "Are you sure?"));
    QVERIFY(!f_->core().sender.replyTimerActive());

    // None of the refused or declined saves sent anything: the one answered Yes is the first.
    f_->boxes.setNextAnswer(MsgAnswer::Yes);
    w().editor->cmdSave_Click();
    QTRY_COMPARE(configWritesReceived().size(), 1);
    QCOMPARE(configWritesReceived().first().size(), 35);
}

void TestEditor::confirmedSaveSendsTheEditorToTheStoredAddress()
{
    QVERIFY(f_->select(kEncoder));
    // A new address for the element: the ConfigWrite still goes to the stored one (the loopback
    // element here; nothing listens at 10.1.2.3).
    fillValidFields();
    w().cmbAudioType->setCurrentIndex(1);
    w().cmbAudioTX->setCurrentIndex(1);
    f_->boxes.setNextAnswer(MsgAnswer::Yes);
    w().editor->cmdSave_Click();

    // A new address is first asked of the network (nobody answers it here): then the question.
    QTRY_COMPARE(f_->boxes.count(), 1);
    QCOMPARE(f_->boxes.shown.first().title, QStringLiteral("Send configuration"));
    QVERIFY(f_->core().sender.replyTimerActive());
    QTRY_COMPARE(configWritesReceived().size(), 1);
    QByteArray expected;
    for (int b : {10, 1, 2, 3, 255, 255, 255, 0, 10, 1, 2, 254, 10, 9, 8, 7, 1, 1, 1})
        expected.append(char(b));
    expected.append("STUDIO 1 NORTH  ");
    QCOMPARE(configWritesReceived().first(), expected);
    QCOMPARE(f_->element->received.first().fromPort, f_->consolePort());
    // What went out is what the element's answer will be checked against.
    QVERIFY(f_->core().state.lastSent().has_value());
    QCOMPARE(f_->core().state.lastSent()->name, QStringLiteral("studio 1 north"));
    // Nothing is stored until the element answers.
    QCOMPARE(ReadFromINI(kEncoder, QStringLiteral("ip"), f_->database(), QString()), QStringLiteral("127.0.0.1"));
    QCOMPARE(ReadFromINI(kEncoder, QStringLiteral("name"), f_->database(), QString()), QStringLiteral("STUDIO A"));
}

QTEST_MAIN(TestEditor)
#include "tst_editor.moc"
