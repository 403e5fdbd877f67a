// The audio controls: a decoder's attenuation slider (caption, AttenuationCommand, stored `att`)
// and an encoder's level meter (LevelQuery polling, LevelSamples drawn as bar and text).

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "console/AudioControls.h"
#include "database/ProfileStore.h"
#include "link/LinkEndpoint.h"
#include "shell/Artwork.h"
#include "support/ConsoleFixture.h"
#include "support/FakeEchoService.h"

using namespace nms;
using namespace nms::test;

namespace {

const QString EncoderKey = QStringLiteral("0200000001AB");
const QString DecoderKey = QStringLiteral("0200000001CD");
const QString OtherDecoderKey = QStringLiteral("0200000001EF");

StoredElement Decoder(int att)
{
    StoredElement e;
    e.name = QStringLiteral("TX SITE         ");
    e.role = 2;
    e.tx = 1;
    e.att = att;
    return e;
}

StoredElement Encoder()
{
    StoredElement e;
    e.role = 1;
    return e;
}

// 480 silent samples with the given triples written from the first sample on; `last` goes into
// the datagram's final three bytes.
QByteArray Samples(const QList<QByteArray>& triples, const QByteArray& last = QByteArray(3, '\0'))
{
    QByteArray datagram(1440, '\0');
    for (int i = 0; i < triples.size(); ++i)
        datagram.replace(i * 3, 3, triples[i]);
    datagram.replace(1437, 3, last);
    return datagram;
}

QByteArray Triple(int b0, int b1, int b2)
{
    const char bytes[3] = {char(b0), char(b1), char(b2)};
    return QByteArray(bytes, 3);
}

} // namespace

class TstAudio : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void attenuationCaption_data();
    void attenuationCaption();
    void captionChangesOnlyWithTheValue();
    void keyboardMovesOfADecoderSlideAreSentAndStored();
    void programMovesAndEncodersSendNothing();
    void failedStoreIsReported();
    void monitoringPollsTwentyTimesASecondUntilStopped();
    void levelSamplesAreDrawn_data();
    void levelSamplesAreDrawn();
    void onlyLevelSamplesOfExactLengthAreDrawn();
    void barRevealsTheRampFromTheLeft();
    void failedQueryEndsTheMonitoringWithOneMessage();

private:
    void showActive();
    // Sends a level query and waits for it: everything sent before to the element's command
    // port has arrived by then. Returns what arrived before it.
    QList<QByteArray> commandsUpToMarker();
    QList<QByteArray> commands() const { return console_->element->receivedOn(console_->environment().commandPort); }

    FakeEchoService* echo_ = nullptr;
    ConsoleFixture* console_ = nullptr;
    FrmMain& w() { return console_->w(); }
};

void TstAudio::init()
{
    QLocale::setDefault(QLocale::c());
    echo_ = new FakeEchoService;
    echo_->setReply(0, 1);
    ConsoleOptions options;
    options.echo = echo_;
    console_ = new ConsoleFixture(options);
    QVERIFY(console_->writeElement(EncoderKey, Encoder()));
    QVERIFY(console_->writeElement(DecoderKey, Decoder(200)));
    QVERIFY(console_->writeElement(OtherDecoderKey, Decoder(255)));
    QVERIFY(console_->load());
}

void TstAudio::cleanup()
{
    delete console_;
    delete echo_;
    QLocale::setDefault(QLocale::c());
}

void TstAudio::showActive()
{
    w().show();
    QVERIFY(QTest::qWaitForWindowActive(&w()));
}

QList<QByteArray> TstAudio::commandsUpToMarker()
{
    const int before = int(commands().size());
    if (!w().audio->Send_LevelQuery())
        return {QByteArrayLiteral("marker not sent")};
    QList<QByteArray> received;
    if (!QTest::qWaitFor([&] {
            received = commands();
            return received.size() > before && received.last() == QByteArrayLiteral("VOL");
        }))
        return {QByteArrayLiteral("marker lost")};
    received.removeLast();
    return received;
}

void TstAudio::attenuationCaption_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("caption");
    QTest::newRow("minimum") << 14 << "C"
                             << "Mute";
    QTest::newRow("one above") << 15 << "C"
                               << "-120 dB";
    QTest::newRow("half step") << 254 << "C"
                               << "-0.5 dB";
    QTest::newRow("maximum") << 255 << "C"
                             << "0 dB";
    QTest::newRow("whole decibels") << 235 << "C"
                                    << "-10 dB";
    QTest::newRow("decimal comma") << 200 << "de_DE"
                                   << "-27,5 dB";
}

void TstAudio::attenuationCaption()
{
    QFETCH(int, value);
    QFETCH(QString, locale);
    QFETCH(QString, caption);

    QLocale::setDefault(QLocale(locale));
    w().scrlAtten->setValue(value == 100 ? 101 : 100);
    w().scrlAtten->setValue(value);
    QCOMPARE(w().lblAttenDB->caption(), caption);
}

void TstAudio::captionChangesOnlyWithTheValue()
{
    // The slider starts at 255 with the caption "dB"; a decoder stored at 255 does not move it.
    QCOMPARE(w().scrlAtten->value(), 255);
    QCOMPARE(w().lblAttenDB->caption(), QStringLiteral("dB"));
    QVERIFY(console_->select(OtherDecoderKey));
    QCOMPARE(w().lblAttenDB->caption(), QStringLiteral("dB"));
    QVERIFY(console_->select(DecoderKey));
    QCOMPARE(w().lblAttenDB->caption(), QStringLiteral("-27.5 dB"));
}

void TstAudio::keyboardMovesOfADecoderSlideAreSentAndStored()
{
    showActive();
    QVERIFY(console_->select(DecoderKey));
    w().scrlAtten->setFocus();
    QVERIFY(w().scrlAtten->hasFocus());

    QTest::keyClick(w().scrlAtten, Qt::Key_Left);
    QTest::keyClick(w().scrlAtten, Qt::Key_Left);
    QTest::keyClick(w().scrlAtten, Qt::Key_Right);
    QTest::keyClick(w().scrlAtten, Qt::Key_PageDown);
    QCOMPARE(w().scrlAtten->value(), 209);
    QCOMPARE(w().lblAttenDB->caption(), QStringLiteral("-23 dB"));

    const QList<QByteArray> expected = {Triple(199, 0, 0).left(2), Triple(198, 0, 0).left(2), Triple(199, 0, 0).left(2),
                                        Triple(209, 0, 0).left(2)};
    QCOMPARE(commandsUpToMarker(), expected);
    QCOMPARE(ReadFromINI(DecoderKey, QStringLiteral("att"), console_->database(), QString()), QStringLiteral("209"));
    // Only the selected element's record changes.
    QCOMPARE(ReadFromINI(OtherDecoderKey, QStringLiteral("att"), console_->database(), QString()),
             QStringLiteral("255"));

    // The keys of a desktop scroll bar: page up lowers, up lowers, down raises, home goes to the
    // minimum, which is mute.
    QTest::keyClick(w().scrlAtten, Qt::Key_PageUp);
    QTest::keyClick(w().scrlAtten, Qt::Key_Up);
    QTest::keyClick(w().scrlAtten, Qt::Key_Down);
    QCOMPARE(w().scrlAtten->value(), 199);
    QTest::keyClick(w().scrlAtten, Qt::Key_Home);
    QCOMPARE(w().lblAttenDB->caption(), QStringLiteral("Mute"));
    const QList<QByteArray> more = {Triple(199, 0, 0).left(2), Triple(198, 0, 0).left(2), Triple(199, 0, 0).left(2),
                                    Triple(14, 0, 0).left(2)};
    QCOMPARE(commandsUpToMarker().mid(5), more); // after the first four and their marker
    QCOMPARE(ReadFromINI(DecoderKey, QStringLiteral("att"), console_->database(), QString()), QStringLiteral("14"));
    QCOMPARE(console_->boxes.count(), 0);
}

void TstAudio::programMovesAndEncodersSendNothing()
{
    showActive();
    // A decoder whose slider the program moves while the list holds the focus.
    w().lstElements->setFocus();
    QVERIFY(console_->select(DecoderKey));
    QVERIFY(console_->select(OtherDecoderKey));
    w().scrlAtten->setValue(30);
    QCOMPARE(w().lblAttenDB->caption(), QStringLiteral("-112.5 dB"));

    // An encoder: the slider is hidden, and a change of its value only redraws the caption.
    QVERIFY(console_->select(EncoderKey));
    QVERIFY(w().scrlAtten->isHidden());
    w().scrlAtten->setValue(40);
    QCOMPARE(w().lblAttenDB->caption(), QStringLiteral("-107.5 dB"));

    QCOMPARE(commandsUpToMarker(), QList<QByteArray> {});
    QCOMPARE(ReadFromINI(DecoderKey, QStringLiteral("att"), console_->database(), QString()), QStringLiteral("200"));
    QCOMPARE(ReadFromINI(OtherDecoderKey, QStringLiteral("att"), console_->database(), QString()),
             QStringLiteral("255"));
}

void TstAudio::failedStoreIsReported()
{
    // A database whose name leaves no room for the temporary file a rewrite needs: it reads,
    // but cannot be written.
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QString(248, QLatin1Char('n')) + QStringLiteral(".ini"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[0200000001CD]\nNAME=TX SITE\nIP=127.0.0.1\nMASK=255.255.255.0\nGW=127.0.0.254\n"
               "REMOTE=0.0.0.0\nINPUT=0\nTYPE=0\nTX=1\nROLE=2\nSN=5\nATT=200\n");
    file.close();
    if (WriteToINI(DecoderKey, QStringLiteral("att"), QStringLiteral("201"), path))
        QSKIP("this file system lets the database be rewritten under a name that long");

    delete console_;
    ConsoleOptions options;
    options.echo = echo_;
    options.databasePath = path;
    console_ = new ConsoleFixture(options);
    QVERIFY(console_->load());
    showActive();
    QVERIFY(console_->select(DecoderKey));
    QCOMPARE(w().scrlAtten->value(), 200);
    w().scrlAtten->setFocus();
    QTest::keyClick(w().scrlAtten, Qt::Key_Left);

    // The element was told; the operator learns that the console could not remember it.
    QCOMPARE(commandsUpToMarker(), QList<QByteArray> {Triple(199, 0, 0).left(2)});
    QCOMPARE(console_->boxes.count(), 1);
    QCOMPARE(console_->boxes.shown.first().icon, MsgIcon::Error);
    QVERIFY(console_->boxes.shown.first().text.contains(QStringLiteral("could not be written")));
    QCOMPARE(ReadFromINI(DecoderKey, QStringLiteral("att"), path, QString()), QStringLiteral("200"));
}

void TstAudio::monitoringPollsTwentyTimesASecondUntilStopped()
{
    showActive();
    QVERIFY(console_->select(EncoderKey));
    QVERIFY(!w().imgPlay->isHidden());
    QVERIFY(w().imgStop->isHidden());

    QTest::mouseClick(w().imgPlay, Qt::LeftButton);
    QVERIFY(w().chkGetVolume->isChecked());
    QVERIFY(w().tmrVolume->isActive());
    QVERIFY(w().imgPlay->isHidden());
    QVERIFY(!w().imgStop->isHidden());

    QElapsedTimer clock;
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(commands().size() >= 21, 5000);
    // Twenty intervals of 50 ms at the least; a second query per tick would get there sooner.
    QVERIFY2(clock.elapsed() >= 950, qPrintable(QString::number(clock.elapsed())));
    for (const QByteArray& query : commands())
        QCOMPARE(query, QByteArrayLiteral("VOL"));

    console_->element->sendToConsole(Samples({Triple(0x40, 0, 0)}), console_->consolePort());
    QTRY_COMPARE(w().lblVolume->caption(), QStringLiteral("-27.7dB"));

    QTest::mouseClick(w().imgStop, Qt::LeftButton);
    QVERIFY(!w().chkGetVolume->isChecked());
    QVERIFY(!w().tmrVolume->isActive());
    QVERIFY(!w().imgPlay->isHidden());
    QVERIFY(w().imgStop->isHidden());
    QCOMPARE(w().lblVolume->caption(), QStringLiteral("---"));
    QCOMPARE(w().VUMeter->barWidth(), 0);
    QCOMPARE(console_->boxes.count(), 0);

    // A late answer to a query sent before the stop leaves the stopped meter as it is.
    QSignalSpy routed(w().link, &LinkEndpoint::levelSamplesArrived);
    console_->element->sendToConsole(Samples({Triple(0x40, 0, 0)}), console_->consolePort());
    QVERIFY(routed.wait(2000));
    QCOMPARE(w().lblVolume->caption(), QStringLiteral("---"));
    QCOMPARE(w().VUMeter->barWidth(), 0);
}

void TstAudio::levelSamplesAreDrawn_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("caption");

    QTest::newRow("loudest positive") << Samples({Triple(0x10, 0, 0), Triple(0x7F, 0xFF, 0xFF)}) << 140 << "0dB";
    QTest::newRow("half scale") << Samples({Triple(0x40, 0, 0), Triple(0xC0, 0, 0)}) << 70 << "-27.7dB";
    QTest::newRow("most negative") << Samples({Triple(0x80, 0, 0)}) << 140 << "0dB";
    QTest::newRow("minus one") << Samples({Triple(0xFF, 0xFF, 0xFF)}) << 0 << "-oo dB";
    QTest::newRow("silence") << Samples({}) << 0 << "-oo dB";
    QTest::newRow("filler patterns") << Samples({Triple(4, 4, 4), Triple(0xFB, 0xFB, 0xFB)}) << 0 << "-oo dB";
    QTest::newRow("loud only in the last triple") << Samples({}, Triple(0x7F, 0xFF, 0xFF)) << 0 << "-oo dB";
    QTest::newRow("loud in the last triple examined")
        << Samples(QList<QByteArray>(478, Triple(0, 0, 1)) << Triple(0x20, 0, 0)) << 35 << "-55.5dB";
}

void TstAudio::levelSamplesAreDrawn()
{
    QFETCH(QByteArray, datagram);
    QFETCH(int, width);
    QFETCH(QString, caption);

    QVERIFY(console_->select(EncoderKey));
    w().VUMeter->setBarWidth(17);
    w().chkGetVolume->setChecked(true);
    QVERIFY(console_->element->sendToConsole(datagram, console_->consolePort()));
    QTRY_COMPARE(w().lblVolume->caption(), caption);
    QCOMPARE(w().VUMeter->barWidth(), width);
}

void TstAudio::onlyLevelSamplesOfExactLengthAreDrawn()
{
    QVERIFY(console_->select(EncoderKey));
    w().chkGetVolume->setChecked(true);
    QSignalSpy captions(w().lblVolume, &Label::captionChanged);
    const QByteArray loud = Samples({Triple(0x7F, 0xFF, 0xFF)});
    QVERIFY(console_->element->sendToConsole(loud + 'x', console_->consolePort()));
    QVERIFY(console_->element->sendToConsole(loud.left(1439), console_->consolePort()));
    QVERIFY(console_->element->sendToConsole(Samples({Triple(0x40, 0, 0)}), console_->consolePort()));
    QTRY_COMPARE(captions.count(), 1);
    QCOMPARE(captions.first().first().toString(), QStringLiteral("-27.7dB"));
    QCOMPARE(w().VUMeter->barWidth(), 70);
}

void TstAudio::barRevealsTheRampFromTheLeft()
{
    showActive();
    QVERIFY(console_->select(EncoderKey));
    w().chkGetVolume->setChecked(true);
    QVERIFY(console_->element->sendToConsole(Samples({Triple(0x40, 0, 0)}), console_->consolePort()));
    QTRY_COMPARE(w().VUMeter->barWidth(), 70);
    QCOMPARE(w().VUMeter->height(), 8);
    QCOMPARE(w().VUMeter->x(), 32);

    // The left half of the ramp, at its own size: not the whole ramp squeezed into 70 pixels.
    const QImage shown = w().VUMeter->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage ramp = Artwork::LevelRamp().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(ramp.size(), QSize(140, 8));
    QCOMPARE(shown.size(), QSize(70, 8));
    QCOMPARE(shown, ramp.copy(0, 0, 70, 8));
    QVERIFY(ramp.copy(0, 0, 70, 8) != ramp.scaled(70, 8));
}

void TstAudio::failedQueryEndsTheMonitoringWithOneMessage()
{
    showActive();
    QVERIFY(console_->select(EncoderKey));
    // The stored address goes bad while the meter runs; the message box stays open a while, and
    // the window's timers keep running under it as under a real modal box.
    console_->boxes.setHoldMs(400);
    QVERIFY(WriteToINI(EncoderKey, QStringLiteral("ip"), QStringLiteral("127.0.0"), console_->database()));
    QTest::mouseClick(w().imgPlay, Qt::LeftButton);

    QTRY_COMPARE(console_->boxes.count(), 1);
    QTRY_VERIFY(!w().tmrVolume->isActive());
    QCOMPARE(console_->boxes.maxOpenAtOnce(), 1);
    QCOMPARE(console_->boxes.openNow(), 0);
    QVERIFY(!w().chkGetVolume->isChecked());
    QVERIFY(!w().imgPlay->isHidden());
    QVERIFY(w().imgStop->isHidden());
    QCOMPARE(w().lblVolume->caption(), QStringLiteral("---"));
    QCOMPARE(console_->boxes.count(), 1);
}

QTEST_MAIN(TstAudio)
#include "tst_audio.moc"
