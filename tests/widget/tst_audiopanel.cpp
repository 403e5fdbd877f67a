// The audio controls of the window: the attenuation slider's keys and caption, which of its moves
// reach a decoder, and the meter's play and stop pictures (the core's part: tst_audiomonitor).

#include <QTest>

#include "audio/LevelMeter.h"
#include "database/ProfileStore.h"
#include "support/ConsoleFixture.h"

using namespace nms;
using namespace nms::test;

namespace {

const QString kEncoderKey = QStringLiteral("0200000001AB");
const QString kDecoderKey = QStringLiteral("0200000001CD");
const QString kOtherDecoderKey = QStringLiteral("0200000001EF");
const QByteArray kMarker = QByteArrayLiteral("MARK");

} // namespace

class TestAudioPanel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void operatorKeysAreSentAndStored_data();
    void operatorKeysAreSentAndStored();
    void programMovesSendNothing();
    void playAndStopPictures();

private:
    // What reached the element's command port before a marker sent now.
    QList<QByteArray> commandsUpToMarker();
    QString storedAtt(const QString& key) const
    {
        return ReadFromINI(key, QStringLiteral("att"), f_->database(), QStringLiteral("<none>"));
    }

    ConsoleFixture* f_ = nullptr;
    FrmMain& w() { return f_->w(); }
};

void TestAudioPanel::init()
{
    QLocale::setDefault(QLocale::c());
    f_ = new ConsoleFixture;
    QVERIFY(f_->writeElement(kEncoderKey, StoredElement {}));
    QVERIFY(f_->writeElement(kDecoderKey, StoredElement {.role = 2, .att = 200}));
    QVERIFY(f_->writeElement(kOtherDecoderKey, StoredElement {.role = 2, .att = 255}));
    QVERIFY(f_->load());
    w().show();
    QVERIFY(QTest::qWaitForWindowActive(&w()));
}

void TestAudioPanel::cleanup()
{
    delete f_;
    f_ = nullptr;
}

QList<QByteArray> TestAudioPanel::commandsUpToMarker()
{
    const quint16 port = f_->environment().ports.command;
    const int before = int(f_->element->receivedOn(port).size());
    if (!f_->core().sender.SendToSelected(kMarker, port, false))
        return {QByteArrayLiteral("marker not sent")};
    QList<QByteArray> received;
    if (!QTest::qWaitFor([&] {
            received = f_->element->receivedOn(port);
            return received.size() > before && received.last() == kMarker;
        }))
        return {QByteArrayLiteral("marker lost")};
    received.removeLast();
    return received;
}

void TestAudioPanel::operatorKeysAreSentAndStored_data()
{
    // A desktop horizontal scroll bar: left, up and page up lower the value; home is mute.
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("caption");
    QTest::newRow("left") << int(Qt::Key_Left) << 199 << "-28 dB";
    QTest::newRow("up") << int(Qt::Key_Up) << 199 << "-28 dB";
    QTest::newRow("right") << int(Qt::Key_Right) << 201 << "-27 dB";
    QTest::newRow("down") << int(Qt::Key_Down) << 201 << "-27 dB";
    QTest::newRow("page up") << int(Qt::Key_PageUp) << 190 << "-32.5 dB";
    QTest::newRow("page down") << int(Qt::Key_PageDown) << 210 << "-22.5 dB";
    QTest::newRow("home") << int(Qt::Key_Home) << 14 << "Mute";
    QTest::newRow("end") << int(Qt::Key_End) << 255 << "0 dB";
}

void TestAudioPanel::operatorKeysAreSentAndStored()
{
    QFETCH(int, key);
    QFETCH(int, value);
    QFETCH(QString, caption);
    QVERIFY(f_->select(kDecoderKey));
    QCOMPARE(w().scrlAtten->value(), 200);
    w().scrlAtten->setFocus();
    QVERIFY(w().scrlAtten->hasFocus());

    QTest::keyClick(w().scrlAtten, Qt::Key(key));
    QCOMPARE(w().scrlAtten->value(), value);
    QCOMPARE(w().lblAttenDB->caption(), caption);
    QCOMPARE(commandsUpToMarker(), QList<QByteArray> {QByteArray(1, char(value)) + '\0'});
    QCOMPARE(storedAtt(kDecoderKey), QString::number(value));
    QCOMPARE(storedAtt(kOtherDecoderKey), QStringLiteral("255"));
}

void TestAudioPanel::programMovesSendNothing()
{
    // The slider holds the focus while selections move it.
    QVERIFY(f_->select(kOtherDecoderKey));
    w().scrlAtten->setFocus();
    QVERIFY(f_->select(kDecoderKey));
    QVERIFY(w().scrlAtten->hasFocus());
    QCOMPARE(w().scrlAtten->value(), 200);
    QCOMPARE(w().lblAttenDB->caption(), QStringLiteral("-27.5 dB"));
    QVERIFY(w().imgPlay->isHidden());
    QVERIFY(w().VUMeter->isHidden());

    // An encoder: the slider is hidden, and a change of its value only redraws the caption.
    QVERIFY(f_->select(kEncoderKey));
    QVERIFY(w().scrlAtten->isHidden());
    QVERIFY(!w().imgPlay->isHidden());
    w().scrlAtten->setValue(40);
    QCOMPARE(w().lblAttenDB->caption(), QStringLiteral("-107.5 dB"));

    QCOMPARE(commandsUpToMarker(), QList<QByteArray> {});
    QCOMPARE(storedAtt(kDecoderKey), QStringLiteral("200"));
    QCOMPARE(storedAtt(kOtherDecoderKey), QStringLiteral("255"));
}

void TestAudioPanel::playAndStopPictures()
{
    QVERIFY(f_->select(kEncoderKey));
    QVERIFY(!w().imgPlay->isHidden());
    QVERIFY(w().imgStop->isHidden());

    QTest::mouseClick(w().imgPlay, Qt::LeftButton);
    QVERIFY(f_->core().audio.monitoring());
    QVERIFY(w().chkGetVolume->isChecked());
    QVERIFY(w().imgPlay->isHidden());
    QVERIFY(!w().imgStop->isHidden());

    QByteArray samples(1440, '\0');
    samples[0] = char(0x40);
    const AudioLevel level = ComputeAudioLevel(samples);
    QVERIFY(f_->element->sendToConsole(samples, f_->consolePort()));
    QTRY_COMPARE(w().lblVolume->caption(), level.caption);
    QCOMPARE(w().VUMeter->barWidth(), level.widthPixels);

    QTest::mouseClick(w().imgStop, Qt::LeftButton);
    QVERIFY(!f_->core().audio.monitoring());
    QVERIFY(!w().chkGetVolume->isChecked());
    QVERIFY(!w().imgPlay->isHidden());
    QVERIFY(w().imgStop->isHidden());
    QCOMPARE(w().lblVolume->caption(), QStringLiteral("---"));
    QCOMPARE(w().VUMeter->barWidth(), 0);
}

QTEST_MAIN(TestAudioPanel)
#include "tst_audiopanel.moc"
