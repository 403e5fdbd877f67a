// Feedback processing through the window's socket: the checks and their messages, the element's
// identity by its MAC address, field-by-field confirmation against the editor, the discovery
// branch, one-at-a-time handling under re-entry and floods, and a database that cannot be written.

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QtTest>

#include "database/ElementRecords.h"
#include "database/ProfileStore.h"
#include "link/FeedbackProcessor.h"
#include "link/LinkEndpoint.h"
#include "support/ConsoleFixture.h"

using namespace nms;
using namespace nms::test;

namespace {

const QString kKey = QStringLiteral("02000000010A");
const QString kMac = QStringLiteral("02:00:00:00:01:0A");
const QString kOtherMac = QStringLiteral("02:00:00:00:01:0B");
const QChar CR(u'\r');

// What the database holds before the answer: the element as last saved.
StoredElement OldElement()
{
    StoredElement e;
    e.name = QStringLiteral("OLD NAME        ");
    e.ip = QStringLiteral("192.168.1.10");
    e.mask = QStringLiteral("255.255.0.0");
    e.gw = QStringLiteral("192.168.1.1");
    e.remote = QStringLiteral("10.0.0.1");
    e.input = 0;
    e.type = 0;
    e.tx = 0;
    e.role = 1;
    e.sn = 42;
    return e;
}

// What the operator sent and the element confirms.
FeedbackFields NewFeedback()
{
    FeedbackFields fb;
    fb.ip = QStringLiteral("192.168.1.20");
    fb.mask = QStringLiteral("255.255.255.0");
    fb.gw = QStringLiteral("192.168.1.254");
    fb.remote = QStringLiteral("10.0.0.2");
    fb.input = 1;
    fb.type = 1;
    fb.tx = 1;
    fb.name = QByteArrayLiteral("STUDIO B        ");
    fb.role = 2;
    fb.serial = QByteArray::fromHex("00000007");
    fb.attenuation = 128;
    return fb;
}

QString Stored(const ConsoleFixture& f, const char* key, const QString& section = kKey)
{
    return ReadFromINI(section, QLatin1String(key), f.database(), QStringLiteral("<none>"));
}

// An entry exactly as the file holds it (the store's reads drop trailing blanks).
QString RawEntry(const ConsoleFixture& f, const QString& section, const QString& key)
{
    QFile file(f.database());
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("<no file>");
    bool inSection = false;
    for (QByteArray line : file.readAll().split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        const QString text = QString::fromLatin1(line);
        if (text.startsWith(QLatin1Char('[')))
            inSection = text.compare(QLatin1Char('[') + section + QLatin1Char(']'), Qt::CaseInsensitive) == 0;
        else if (inSection && text.startsWith(key + QLatin1Char('=')))
            return text.mid(key.size() + 1);
    }
    return QStringLiteral("<none>");
}

QString FieldMessage(const char* verb, const char* field)
{
    return QStringLiteral("An error occured while %1 '%2':").arg(QLatin1String(verb), QLatin1String(field)) + CR
        + QStringLiteral("Feedback is corrupted.");
}

// The old element stored and selected, the editor holding the new values as the operator typed
// them, and the MAC of the new address known to the neighbour table.
void PrepareEditedElement(ConsoleFixture& f, bool start = true)
{
    QVERIFY(f.writeElement(kKey, OldElement()));
    if (start)
        QVERIFY(f.load());
    QVERIFY(f.select(kKey));
    f->txtElementName->setText(QStringLiteral("studio b "));
    f->txtElementIP->setText(QStringLiteral("192.168.1.20"));
    f->txtElementMask->setText(QStringLiteral("255.255.255.0"));
    f->txtElementGW->setText(QStringLiteral("192.168.1.254"));
    f->txtRemoteIP->setText(QStringLiteral("10.0.0.2"));
    f->cmbAudioInput->setCurrentIndex(1);
    f->cmbAudioType->setCurrentIndex(1);
    f->cmbAudioTX->setCurrentIndex(1);
    f.neighbours.add(QStringLiteral("192.168.1.20"), MacBytes(kMac));
    f.boxes.clear();
}

void Deliver(ConsoleFixture& f, const QByteArray& datagram, QSignalSpy& handled, int expectedHandled)
{
    QVERIFY(f.element->sendToConsole(datagram, f.consolePort()));
    QTRY_COMPARE_WITH_TIMEOUT(handled.count(), expectedHandled, 8000);
}

} // namespace

class TestFeedbackProcessing : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void confirmedConfigurationIsSaved();
    void fieldNotConfirmed_data();
    void fieldNotConfirmed();
    void validationMessages_data();
    void validationMessages();
    void otherElementDoesNotMatch();
    void corruptedSection();
    void attenuation_data();
    void attenuation();
    void roleZeroSavesWithoutSuccess();
    void macNotFound();
    void discoveryWritesSectionInOrder();
    void discoveryBurstBeyondTheOrdinaryQueueIsAllRecorded();
    void secondFeedbackWaitsForMacWindow();
    void secondFeedbackWaitsForOpenBox();
    void floodRaisesBoundedBoxes();
    void lostWrite();
};

void TestFeedbackProcessing::confirmedConfigurationIsSaved()
{
    ConsoleFixture f;
    PrepareEditedElement(f);
    QSignalSpy handled(f->feedback, &FeedbackProcessor::feedbackHandled);
    f->timerRemoteSent->start();

    Deliver(f, NewFeedback().bytes(), handled, 1);
    QCOMPARE(f.boxes.count(), 1);
    QCOMPARE(f.boxes.shown.at(0).icon, MsgIcon::Information);
    QCOMPARE(f.boxes.shown.at(0).title, QStringLiteral("Configuration changed"));
    QCOMPARE(f.boxes.shown.at(0).text, QStringLiteral("New configuration has been sucessfuly saved and loaded!"));
    QVERIFY(!f->timerRemoteSent->isActive());

    QCOMPARE(RawEntry(f, kKey, QStringLiteral("NAME")), QStringLiteral("STUDIO B        "));
    QCOMPARE(Stored(f, "ip"), QStringLiteral("192.168.1.20"));
    QCOMPARE(Stored(f, "mask"), QStringLiteral("255.255.255.0"));
    QCOMPARE(Stored(f, "gw"), QStringLiteral("192.168.1.254"));
    QCOMPARE(Stored(f, "remote"), QStringLiteral("10.0.0.2"));
    QCOMPARE(Stored(f, "input"), QStringLiteral("1"));
    QCOMPARE(Stored(f, "type"), QStringLiteral("1"));
    QCOMPARE(Stored(f, "tx"), QStringLiteral("1"));
    QCOMPARE(Stored(f, "role"), QStringLiteral("2"));
    QCOMPARE(Stored(f, "sn"), QStringLiteral("7"));
    QCOMPARE(Stored(f, "att"), QStringLiteral("128"));
    QCOMPARE(GetSectionKeyCount(kKey, f.database()), qint16(11));

    // The list is rebuilt and the element shown again from what was stored.
    QCOMPARE(f->lstElements->count(), 1);
    QCOMPARE(f->lstElements->itemText(0), QStringLiteral("STUDIO B [02:00:00:00:01:0A]"));
    QCOMPARE(f->lstElements->currentIndex(), 0);
    QCOMPARE(f->lblElementMAC->caption(), kMac);
    QCOMPARE(f->lblElementType->caption(), QStringLiteral("DECODER"));
    QCOMPARE(f->lblSerialNumber->caption(), QStringLiteral("7"));
    QCOMPARE(f->scrlAtten->value(), 128);
    QCOMPARE(f->feedback->LastFeedback.ElementMAC, kMac);
}

void TestFeedbackProcessing::fieldNotConfirmed_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("editorValue");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("field");
    QTest::newRow("name") << "name"
                          << "STUDIO C"
                          << "name"
                          << "Element Name";
    QTest::newRow("ip with leading zeros") << "ip"
                                           << "192.168.001.020"
                                           << "ip"
                                           << "Element IP";
    QTest::newRow("mask") << "mask"
                          << "255.255.255.128"
                          << "mask"
                          << "Element Mask";
    QTest::newRow("gw with a blank") << "gw"
                                     << " 192.168.1.254"
                                     << "gw"
                                     << "Element GW";
    QTest::newRow("remote") << "remote"
                            << "10.0.0.3"
                            << "remote"
                            << "Remote IP";
    QTest::newRow("input unselected") << "input"
                                      << "-1"
                                      << "input"
                                      << "Audio Input";
    QTest::newRow("type unselected") << "type"
                                     << "-1"
                                     << "type"
                                     << "Audio Type";
    QTest::newRow("tx other") << "tx"
                              << "0"
                              << "tx"
                              << "Audio TX";
}

void TestFeedbackProcessing::fieldNotConfirmed()
{
    QFETCH(QString, control);
    QFETCH(QString, editorValue);
    QFETCH(QString, key);
    QFETCH(QString, field);
    ConsoleFixture f;
    PrepareEditedElement(f);
    if (control == QStringLiteral("name"))
        f->txtElementName->setText(editorValue);
    if (control == QStringLiteral("ip"))
        f->txtElementIP->setText(editorValue);
    if (control == QStringLiteral("mask"))
        f->txtElementMask->setText(editorValue);
    if (control == QStringLiteral("gw"))
        f->txtElementGW->setText(editorValue);
    if (control == QStringLiteral("remote"))
        f->txtRemoteIP->setText(editorValue);
    if (control == QStringLiteral("input"))
        f->cmbAudioInput->setCurrentIndex(editorValue.toInt());
    if (control == QStringLiteral("type"))
        f->cmbAudioType->setCurrentIndex(editorValue.toInt());
    if (control == QStringLiteral("tx"))
        f->cmbAudioTX->setCurrentIndex(editorValue.toInt());
    const QString before = Stored(f, key.toLatin1().constData());
    QSignalSpy handled(f->feedback, &FeedbackProcessor::feedbackHandled);

    Deliver(f, NewFeedback().bytes(), handled, 1);
    // One message for the field, and no success.
    QCOMPARE(f.boxes.texts(), QStringList {FieldMessage("saving", field.toLatin1().constData())});
    QCOMPARE(f.boxes.shown.at(0).icon, MsgIcon::Error);
    QCOMPARE(f.boxes.shown.at(0).title, ProgramTitle());
    QCOMPARE(Stored(f, key.toLatin1().constData()), before);

    // Every other field, the role, the serial number and the attenuation are still stored.
    const QList<QPair<QString, QString>> confirmed = {{QStringLiteral("name"), QStringLiteral("STUDIO B")},
                                                      {QStringLiteral("ip"), QStringLiteral("192.168.1.20")},
                                                      {QStringLiteral("mask"), QStringLiteral("255.255.255.0")},
                                                      {QStringLiteral("gw"), QStringLiteral("192.168.1.254")},
                                                      {QStringLiteral("remote"), QStringLiteral("10.0.0.2")},
                                                      {QStringLiteral("input"), QStringLiteral("1")},
                                                      {QStringLiteral("type"), QStringLiteral("1")},
                                                      {QStringLiteral("tx"), QStringLiteral("1")},
                                                      {QStringLiteral("role"), QStringLiteral("2")},
                                                      {QStringLiteral("sn"), QStringLiteral("7")},
                                                      {QStringLiteral("att"), QStringLiteral("128")}};
    for (const auto& [entry, value] : confirmed) {
        if (entry != key)
            QCOMPARE(Stored(f, entry.toLatin1().constData()), value);
    }
    // Reloaded: the list shows what the database holds now.
    const QString listedName = key == QStringLiteral("name") ? QStringLiteral("OLD NAME") : QStringLiteral("STUDIO B");
    QCOMPARE(f->lstElements->itemText(0), listedName + QStringLiteral(" [") + kMac + QStringLiteral("]"));
}

void TestFeedbackProcessing::validationMessages_data()
{
    QTest::addColumn<int>("input");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("tx");
    QTest::addColumn<int>("role");
    QTest::addColumn<QByteArray>("serial");
    QTest::addColumn<QString>("field");
    const QByteArray zero = QByteArray::fromHex("00000000");
    QTest::newRow("input before all") << 2 << 2 << 2 << 3 << zero << "Audio Input";
    QTest::newRow("type before tx") << 0 << 5 << 9 << 7 << zero << "Audio Type";
    QTest::newRow("tx before role") << 1 << 1 << 2 << 3 << zero << "TX Type";
    QTest::newRow("role before serial") << 0 << 0 << 0 << 3 << zero << "Element Type";
    QTest::newRow("serial zero") << 0 << 0 << 0 << 2 << zero << "Serial Number";
    QTest::newRow("serial beyond a byte") << 0 << 0 << 0 << 1 << QByteArray::fromHex("000001FF") << "Serial Number";
}

void TestFeedbackProcessing::validationMessages()
{
    QFETCH(int, input);
    QFETCH(int, type);
    QFETCH(int, tx);
    QFETCH(int, role);
    QFETCH(QByteArray, serial);
    QFETCH(QString, field);
    ConsoleFixture f;
    PrepareEditedElement(f);
    QFile file(f.database());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();
    // Written behind the window's back: the reload after the message brings it into the list.
    QVERIFY(WriteToINI(QStringLiteral("02000000010C"), QStringLiteral("name"), QStringLiteral("LATE"), f.database()));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray withLate = file.readAll();
    file.close();
    QVERIFY(before != withLate);
    f->timerRemoteSent->start();
    QSignalSpy handled(f->feedback, &FeedbackProcessor::feedbackHandled);

    FeedbackFields fb = NewFeedback();
    fb.input = input;
    fb.type = type;
    fb.tx = tx;
    fb.role = role;
    fb.serial = serial;
    Deliver(f, fb.bytes(), handled, 1);
    QCOMPARE(f.boxes.texts(), QStringList {FieldMessage("retrieving", field.toLatin1().constData())});
    QCOMPARE(f.boxes.shown.at(0).icon, MsgIcon::Error);
    QCOMPARE(f.boxes.shown.at(0).title, ProgramTitle());
    // Nothing written, no MAC looked up, the reply timer still running, the list reloaded.
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), withLate);
    QCOMPARE(f.neighbours.lookups(), 0);
    QVERIFY(f->timerRemoteSent->isActive());
    QCOMPARE(f->lstElements->count(), 2);
}

void TestFeedbackProcessing::otherElementDoesNotMatch()
{
    ConsoleFixture f;
    PrepareEditedElement(f);
    f.neighbours.add(QStringLiteral("192.168.1.30"), MacBytes(kOtherMac));
    QSignalSpy handled(f->feedback, &FeedbackProcessor::feedbackHandled);
    const QString mismatch = QStringLiteral("The response received does not match the selected element.") + CR
        + QStringLiteral("Cannot save this element info.");

    FeedbackFields other = NewFeedback();
    other.ip = QStringLiteral("192.168.1.30");
    Deliver(f, other.bytes(), handled, 1);
    QCOMPARE(f.boxes.texts(), QStringList {mismatch});
    QCOMPARE(Stored(f, "ip"), QStringLiteral("192.168.1.10"));
    QCOMPARE(Stored(f, "sn", MacTextToKey(kOtherMac)), QStringLiteral("<none>"));

    // Nothing selected: even the element itself does not match.
    f->ClearElementFields();
    f.boxes.clear();
    Deliver(f, NewFeedback().bytes(), handled, 2);
    QCOMPARE(f.boxes.texts(), QStringList {mismatch});
    QCOMPARE(Stored(f, "ip"), QStringLiteral("192.168.1.10"));
}

void TestFeedbackProcessing::corruptedSection()
{
    ConsoleFixture f;
    PrepareEditedElement(f);
    QVERIFY(WriteToINI(kKey, QStringLiteral("extra1"), QStringLiteral("x"), f.database()));
    QVERIFY(WriteToINI(kKey, QStringLiteral("extra2"), QStringLiteral("y"), f.database()));
    QCOMPARE(GetSectionKeyCount(kKey, f.database()), qint16(12));
    QSignalSpy handled(f->feedback, &FeedbackProcessor::feedbackHandled);

    Deliver(f, NewFeedback().bytes(), handled, 1);
    QCOMPARE(f.boxes.shown.at(0).text,
             QStringLiteral("The data stored in your computer about this element, is corrupted.") + CR
                 + QStringLiteral("Cannot save this element info."));
    QCOMPARE(Stored(f, "ip"), QStringLiteral("192.168.1.10"));
    QCOMPARE(Stored(f, "sn"), QStringLiteral("42"));
}

void TestFeedbackProcessing::attenuation_data()
{
    QTest::addColumn<int>("role");
    QTest::addColumn<int>("byte40"); // -1: a 40-byte feedback
    QTest::addColumn<int>("earlierDecoder"); // -1: none before; else a decoder answered this first
    QTest::addColumn<int>("expected");
    QTest::newRow("decoder without byte 40") << 2 << -1 << -1 << 255;
    QTest::newRow("decoder 128") << 2 << 128 << -1 << 128;
    QTest::newRow("decoder below the slider") << 2 << 5 << -1 << 14;
    QTest::newRow("encoder ignores byte 40") << 1 << 100 << 200 << 200;
    QTest::newRow("encoder before any decoder") << 1 << -1 << -1 << 14;
}

void TestFeedbackProcessing::attenuation()
{
    QFETCH(int, role);
    QFETCH(int, byte40);
    QFETCH(int, earlierDecoder);
    QFETCH(int, expected);
    ConsoleFixture f;
    PrepareEditedElement(f);
    QSignalSpy handled(f->feedback, &FeedbackProcessor::feedbackHandled);
    int expectedHandled = 0;
    if (earlierDecoder >= 0) {
        // Another element's decoder answer: refused, but its attenuation stays in the record.
        FeedbackFields decoder = NewFeedback();
        decoder.ip = QStringLiteral("192.168.1.30");
        decoder.attenuation = earlierDecoder;
        f.neighbours.add(QStringLiteral("192.168.1.30"), MacBytes(kOtherMac));
        Deliver(f, decoder.bytes(), handled, ++expectedHandled);
        PrepareEditedElement(f, false);
    }
    FeedbackFields fb = NewFeedback();
    fb.role = role;
    fb.attenuation = byte40;
    f->scrlAtten->setValue(100);
    Deliver(f, fb.bytes(), handled, ++expectedHandled);
    QCOMPARE(Stored(f, "att"), QString::number(expected));
    QCOMPARE(f->feedback->LastFeedback.Attenuation, quint8(expected));
    QCOMPARE(f->scrlAtten->value(), expected);
    QCOMPARE(f.boxes.texts().last(), QStringLiteral("New configuration has been sucessfuly saved and loaded!"));
}

void TestFeedbackProcessing::roleZeroSavesWithoutSuccess()
{
    ConsoleFixture f;
    PrepareEditedElement(f);
    QSignalSpy handled(f->feedback, &FeedbackProcessor::feedbackHandled);
    QSignalSpy typeCaptions(f->lblElementType, &Label::captionChanged);
    FeedbackFields fb = NewFeedback();
    fb.role = 0;
    Deliver(f, fb.bytes(), handled, 1);
    QCOMPARE(f.boxes.count(), 0);
    QCOMPARE(Stored(f, "role"), QStringLiteral("0"));
    QCOMPARE(Stored(f, "ip"), QStringLiteral("192.168.1.20"));
    QCOMPARE(Stored(f, "sn"), QStringLiteral("7"));
    QVERIFY(!typeCaptions.isEmpty());
    QCOMPARE(typeCaptions.at(0).at(0).toString(), QStringLiteral("UNKNOWN"));
    QCOMPARE(f->lblElementType->caption(), QStringLiteral("UNKNOWN"));
}

void TestFeedbackProcessing::macNotFound()
{
    ConsoleFixture f;
    PrepareEditedElement(f);
    f.neighbours.remove(QStringLiteral("192.168.1.20"));
    f->timerRemoteSent->start();
    QSignalSpy handled(f->feedback, &FeedbackProcessor::feedbackHandled);
    QElapsedTimer clock;
    clock.start();
    Deliver(f, NewFeedback().bytes(), handled, 1);
    QVERIFY2(clock.elapsed() >= 4900, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(f.boxes.texts(), QStringList {FieldMessage("retrieving", "Element MAC")});
    QVERIFY(f.neighbours.wasSolicited(QStringLiteral("192.168.1.20")));
    QVERIFY(!f->timerRemoteSent->isActive());
    QCOMPARE(Stored(f, "ip"), QStringLiteral("192.168.1.10"));
    QCOMPARE(Stored(f, "sn"), QStringLiteral("42"));
}

void TestFeedbackProcessing::discoveryWritesSectionInOrder()
{
    ConsoleFixture f;
    PrepareEditedElement(f);
    QVERIFY(QFile::resize(f.database(), 0));
    f->AutoDiscoverAwaiting = true;
    f.neighbours.add(QStringLiteral("192.168.1.30"), MacBytes(kOtherMac));
    QSignalSpy handled(f->feedback, &FeedbackProcessor::feedbackHandled);
    const int listBefore = f->lstElements->count();

    FeedbackFields decoder = NewFeedback();
    decoder.name = QByteArrayLiteral("dec one");
    decoder.attenuation = -1;
    Deliver(f, decoder.bytes(), handled, 1);
    FeedbackFields encoder = NewFeedback();
    encoder.ip = QStringLiteral("192.168.1.30");
    encoder.role = 1;
    Deliver(f, encoder.bytes(), handled, 2);

    QCOMPARE(f.boxes.count(), 0);
    QCOMPARE(f->lstElements->count(), listBefore); // not reloaded during a discovery
    QCOMPARE(LoadIniSectionsArray(f.database()), QStringList({kKey, MacTextToKey(kOtherMac)}));
    QStringList keys;
    LoadIniSectionKeysLB(kKey, keys, f.database());
    QCOMPARE(keys, QStringList({"NAME", "IP", "MASK", "GW", "REMOTE", "INPUT", "TYPE", "TX", "ROLE", "SN", "ATT"}));
    // Name bytes as the element holds them, fitted: padded with blanks and upper-cased.
    QCOMPARE(RawEntry(f, kKey, QStringLiteral("NAME")), QStringLiteral("DEC ONE") + QString(9, QLatin1Char(' ')));
    QCOMPARE(Stored(f, "att"), QStringLiteral("255"));
    keys.clear();
    LoadIniSectionKeysLB(MacTextToKey(kOtherMac), keys, f.database());
    QCOMPARE(keys.size(), 10);
    QCOMPARE(Stored(f, "ip", MacTextToKey(kOtherMac)), QStringLiteral("192.168.1.30"));
    QCOMPARE(Stored(f, "role", MacTextToKey(kOtherMac)), QStringLiteral("1"));
}

void TestFeedbackProcessing::discoveryBurstBeyondTheOrdinaryQueueIsAllRecorded()
{
    // A large LAN answers a discovery all at once: far more than the few dozen feedbacks allowed
    // to wait outside a discovery, and every one must be recorded.
    ConsoleFixture f;
    QVERIFY(f.load());
    QVERIFY(QFile::resize(f.database(), 0) || QFile(f.database()).open(QIODevice::WriteOnly));
    f->AutoDiscoverAwaiting = true;
    f.boxes.clear();
    constexpr int answers = 200;
    static_assert(answers > FeedbackProcessor::QueueLimit + 1 && answers <= FeedbackProcessor::DiscoveryQueueLimit);
    QStringList keys;
    for (int i = 1; i <= answers; ++i) {
        const QString ip = QStringLiteral("10.1.%1.%2").arg(i / 250).arg(i % 250 + 1);
        const QString mac = QStringLiteral("02:00:00:00:%1:%2")
                                .arg(i / 256, 2, 16, QLatin1Char('0'))
                                .arg(i % 256, 2, 16, QLatin1Char('0'))
                                .toUpper();
        f.neighbours.add(ip, MacBytes(mac));
        keys << MacTextToKey(mac);
        FeedbackFields answer = NewFeedback();
        answer.ip = ip;
        answer.role = 1;
        f->feedback->Enqueue(answer.bytes());
    }
    QCOMPARE(f->feedback->dropped(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!f->feedback->busy() && f->feedback->waiting() == 0, 30000);
    QStringList stored;
    LoadIniSectionsLB(stored, f.database());
    QCOMPARE(stored, keys);
    QCOMPARE(f.boxes.count(), 0);
}

void TestFeedbackProcessing::secondFeedbackWaitsForMacWindow()
{
    ConsoleFixture f;
    QVERIFY(f.load());
    QVERIFY(QFile::resize(f.database(), 0) || QFile(f.database()).open(QIODevice::WriteOnly));
    f->AutoDiscoverAwaiting = true;
    // The first answer's address resolves only after a few retries.
    f.neighbours.addOnSolicit(QStringLiteral("192.168.1.20"), MacBytes(kMac), 10);
    QSignalSpy handled(f->feedback, &FeedbackProcessor::feedbackHandled);
    QStringList serialAfterEach;
    connect(f->feedback, &FeedbackProcessor::feedbackHandled, this,
            [&] { serialAfterEach << Stored(f, "sn") + QLatin1Char('/') + Stored(f, "name").trimmed(); });

    FeedbackFields first = NewFeedback();
    first.serial = QByteArray::fromHex("00000005");
    first.name = QByteArrayLiteral("FIRST");
    FeedbackFields second = NewFeedback();
    second.serial = QByteArray::fromHex("00000006");
    second.name = QByteArrayLiteral("SECOND");
    QVERIFY(f.element->sendToConsole(first.bytes(), f.consolePort()));
    QTRY_VERIFY(f->feedback->busy());
    QVERIFY(f.element->sendToConsole(second.bytes(), f.consolePort()));
    QTRY_COMPARE(handled.count(), 2);
    QCOMPARE(serialAfterEach, QStringList({QStringLiteral("5/FIRST"), QStringLiteral("6/SECOND")}));
}

void TestFeedbackProcessing::secondFeedbackWaitsForOpenBox()
{
    ConsoleFixture f;
    PrepareEditedElement(f);
    f.boxes.setHoldMs(300);
    QSignalSpy handled(f->feedback, &FeedbackProcessor::feedbackHandled);
    QStringList storedAfterEach;
    connect(f->feedback, &FeedbackProcessor::feedbackHandled, this,
            [&] { storedAfterEach << Stored(f, "sn") + QLatin1Char('/') + Stored(f, "name").trimmed(); });
    // The second answer arrives while the first one's message is on screen.
    bool sent = false;
    connect(&f.boxes, &ScriptedMessageBoxes::boxShown, this, [&] {
        if (sent)
            return;
        sent = true;
        // It confirms the editor as the first answer's reload leaves it: the old name.
        FeedbackFields second = NewFeedback();
        second.name = QByteArrayLiteral("old name");
        second.serial = QByteArray::fromHex("00000006");
        f.element->sendToConsole(second.bytes(), f.consolePort());
    });

    FeedbackFields first = NewFeedback();
    first.name = QByteArrayLiteral("WRONG NAME");
    first.serial = QByteArray::fromHex("00000005");
    QVERIFY(f.element->sendToConsole(first.bytes(), f.consolePort()));
    QTRY_COMPARE_WITH_TIMEOUT(handled.count(), 2, 5000);
    QCOMPARE(storedAfterEach, QStringList({QStringLiteral("5/OLD NAME"), QStringLiteral("6/OLD NAME")}));
    QCOMPARE(f.boxes.texts(),
             QStringList({FieldMessage("saving", "Element Name"),
                          QStringLiteral("New configuration has been sucessfuly saved and loaded!")}));
    QCOMPARE(f.boxes.maxOpenAtOnce(), 1);
}

void TestFeedbackProcessing::floodRaisesBoundedBoxes()
{
    ConsoleFixture f;
    PrepareEditedElement(f);
    f.boxes.setHoldMs(40);
    QSignalSpy samples(f->link, &LinkEndpoint::levelSamplesArrived);
    int openWhenSamplesCame = -1;
    connect(f->link, &LinkEndpoint::levelSamplesArrived, this, [&] { openWhenSamplesCame = f.boxes.openNow(); });
    bool samplesSent = false;
    connect(&f.boxes, &ScriptedMessageBoxes::boxShown, this, [&] {
        if (!samplesSent) {
            samplesSent = true;
            f.element->sendToConsole(QByteArray(1440, 's'), f.consolePort());
        }
    });

    FeedbackFields bad = NewFeedback();
    bad.role = 9;
    for (int i = 0; i < 1000; ++i)
        f.element->sendToConsole(bad.bytes(), f.consolePort());
    QTRY_VERIFY_WITH_TIMEOUT(
        f.boxes.count() > 0 && !f->feedback->busy() && f->feedback->waiting() == 0 && f.boxes.openNow() == 0, 20000);
    QVERIFY2(f.boxes.count() <= FeedbackProcessor::QueueLimit + 2, qPrintable(QString::number(f.boxes.count())));
    QCOMPARE(f.boxes.maxOpenAtOnce(), 1);
    // Level samples were routed while a box was open.
    QCOMPARE(samples.count(), 1);
    QCOMPARE(openWhenSamplesCame, 1);
    QCOMPARE(Stored(f, "sn"), QStringLiteral("42"));
}

void TestFeedbackProcessing::lostWrite()
{
    TempDir dir;
    QFile blocker(dir.file(QStringLiteral("not-a-folder")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    ConsoleOptions options;
    options.databasePath = dir.file(QStringLiteral("not-a-folder/nms.ini"));
    ConsoleFixture f(options);
    QVERIFY(f.load());
    f.neighbours.add(QStringLiteral("192.168.1.20"), MacBytes(kMac));
    QSignalSpy handled(f->feedback, &FeedbackProcessor::feedbackHandled);
    auto databaseErrors = [&] {
        int n = 0;
        for (const ShownBox& box : f.boxes.shown)
            n += box.text.startsWith(QStringLiteral("The local database (")) && box.icon == MsgIcon::Error ? 1 : 0;
        return n;
    };

    // A discovery answer.
    f.boxes.clear();
    f->AutoDiscoverAwaiting = true;
    Deliver(f, NewFeedback().bytes(), handled, 1);
    QCOMPARE(databaseErrors(), 1);
    QCOMPARE(f.boxes.count(), 1);

    // An answer to a sent configuration, the editor holding exactly what the element confirms.
    f.boxes.clear();
    f->AutoDiscoverAwaiting = false;
    f->lblElementMAC->setCaption(kMac);
    f->txtElementName->setText(QStringLiteral("STUDIO B"));
    f->txtElementIP->setText(QStringLiteral("192.168.1.20"));
    f->txtElementMask->setText(QStringLiteral("255.255.255.0"));
    f->txtElementGW->setText(QStringLiteral("192.168.1.254"));
    f->txtRemoteIP->setText(QStringLiteral("10.0.0.2"));
    f->cmbAudioInput->setCurrentIndex(1);
    f->cmbAudioType->setCurrentIndex(1);
    f->cmbAudioTX->setCurrentIndex(1);
    Deliver(f, NewFeedback().bytes(), handled, 2);
    QCOMPARE(databaseErrors(), 1);
    QVERIFY(!f.boxes.texts().contains(QStringLiteral("New configuration has been sucessfuly saved and loaded!")));
}

QTEST_MAIN(TestFeedbackProcessing)
#include "tst_feedbackprocessing.moc"
