// Feedback processing in the core, without a window or a socket: the checks and their notices,
// the element's identity by its MAC address, confirmation against what was sent, one atomic
// write per answer, discovery answers each on their own record and MAC window, and a database
// that cannot be written.

#include <QFile>
#include <QSignalSpy>
#include <QtTest>

#include "database/ElementRecords.h"
#include "database/ProfileFile.h"
#include "database/ProfileStore.h"
#include "support/CoreFixture.h"

using namespace nms;
using namespace nms::test;

namespace {

const QString kKey = QStringLiteral("02000000010A");
const QString kMac = QStringLiteral("02:00:00:00:01:0A");
const QString kOtherMac = QStringLiteral("02:00:00:00:01:0B");
const QChar CR(u'\r');
// The list read again after an answer finds no element in the file (or no file).
const QString kEmpty =
    QStringLiteral("Local database is empty.\rPlease click the 'Auto Discover' icon to probe the network.");
const QString kNoFile =
    QStringLiteral("Local database is empty.\rPlease click 'Auto Discover' icon to probe the network.");
const QString kSuccess = QStringLiteral("New configuration has been sucessfuly saved and loaded!");
const QString kMismatch = QStringLiteral("The response received does not match the selected element.") + CR
    + QStringLiteral("Cannot save this element info.");

// What the database holds before the answer: the element as last saved.
StoredElement OldElement()
{
    StoredElement e;
    e.name = QStringLiteral("OLD NAME        ");
    e.ip = QStringLiteral("192.168.1.10");
    e.mask = QStringLiteral("255.255.0.0");
    e.gw = QStringLiteral("192.168.1.1");
    e.remote = QStringLiteral("10.0.0.1");
    e.input = e.type = e.tx = 0;
    e.role = 1;
    e.sn = 42;
    return e;
}

// What the operator sent (typed with a trailing blank and in lower case).
ConfigFields Sent()
{
    ConfigFields c;
    c.name = QStringLiteral("studio b ");
    c.ip = QStringLiteral("192.168.1.20");
    c.mask = QStringLiteral("255.255.255.0");
    c.gw = QStringLiteral("192.168.1.254");
    c.remote = QStringLiteral("10.0.0.2");
    c.input = c.type = c.tx = 1;
    return c;
}

// What the element confirms.
FeedbackFields NewFeedback()
{
    FeedbackFields fb;
    fb.ip = QStringLiteral("192.168.1.20");
    fb.mask = QStringLiteral("255.255.255.0");
    fb.gw = QStringLiteral("192.168.1.254");
    fb.remote = QStringLiteral("10.0.0.2");
    fb.input = fb.type = fb.tx = 1;
    fb.name = QByteArrayLiteral("STUDIO B        ");
    fb.role = 2;
    fb.serial = QByteArray::fromHex("00000007");
    fb.attenuation = 128;
    return fb;
}

QString Stored(const CoreFixture& f, const char* key, const QString& section = kKey)
{
    return ReadFromINI(section, QLatin1String(key), f.database(), QStringLiteral("<none>"));
}

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
}

QString FieldMessage(const char* verb, const char* field)
{
    return QStringLiteral("An error occured while %1 '%2':").arg(QLatin1String(verb), QLatin1String(field)) + CR
        + QStringLiteral("Feedback is corrupted.");
}

// The old element stored and selected, the new configuration sent to it, and the MAC of the new
// address known to the neighbour table.
void PrepareSentElement(CoreFixture& f)
{
    QVERIFY(f.writeElement(kKey, OldElement()));
    QVERIFY(f.select(kKey));
    f->state.setLastSent(Sent());
    f.neighbours.add(QStringLiteral("192.168.1.20"), MacBytes(kMac));
    f.notices.clear();
}

// Routes the datagrams as the socket would and waits until all of them have been handled.
void Handle(CoreFixture& f, const QList<QByteArray>& datagrams)
{
    QSignalSpy handled(&f->feedback, &FeedbackProcessor::feedbackHandled);
    for (const QByteArray& datagram : datagrams)
        f->link.Route(datagram);
    QTRY_COMPARE_WITH_TIMEOUT(handled.count(), datagrams.size(), 10000);
}

// A discovery on loopback with a window of `windowMs` and MAC windows of `macMs`.
CoreOptions DiscoveryTiming(int windowMs, int macMs)
{
    CoreOptions options;
    options.timing.discoveryMs = windowMs;
    options.timing.macWindowMs = macMs;
    return options;
}

QString MacOf(int i)
{
    return QStringLiteral("02:00:00:00:%1:%2")
        .arg(i / 256, 2, 16, QLatin1Char('0'))
        .arg(i % 256, 2, 16, QLatin1Char('0'))
        .toUpper();
}

} // namespace

class TestFeedbackProcessing : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void confirmedConfigurationIsOneWrite();
    void fieldNotConfirmed_data();
    void fieldNotConfirmed();
    void editsAfterTheSendDoNotChangeWhatIsConfirmed();
    void validationNotices_data();
    void validationNotices();
    void refusedAnswers_data();
    void refusedAnswers();
    void attenuation_data();
    void attenuation();
    void roleZeroSavesWithoutSuccess();
    void macNotFound();
    void lostWrite();
    void discoveryAnswersAreIndependent();
    void discoveryLookupOutlastingTheWindowIsOrdinaryFeedback();
    void discoveryRecordsAThousandAnswersInOrder();
};

void TestFeedbackProcessing::confirmedConfigurationIsOneWrite()
{
    CoreFixture f;
    PrepareSentElement(f);
    f->sender.stopReplyTimer();
    QSignalSpy reload(&f->feedback, &FeedbackProcessor::reloadRequested);
    ProfileFile::ResetCounters();

    Handle(f, {NewFeedback().bytes()});
    QCOMPARE(f.notices.texts(), QStringList {kSuccess});
    QCOMPARE(f.notices.shown.at(0).icon, NoticeIcon::Information);
    QCOMPARE(f.notices.shown.at(0).title, QStringLiteral("Configuration changed"));
    // One rewrite for the whole answer, with one read before it to check the section; then the
    // history takes the record as stored, and the list and the element shown are read again.
    QCOMPARE(ProfileFile::CurrentCounters().rewrites, 1);
    QCOMPARE(ProfileFile::CurrentCounters().reads, 5);
    QCOMPARE(reload.count(), 1);

    const ElementRecord stored = f->store.read(kKey);
    QCOMPARE(stored.name, QStringLiteral("STUDIO B"));
    QVERIFY(FileBytes(f.database()).contains("\nNAME=STUDIO B        \n"));
    QCOMPARE(
        QStringList({stored.ip, stored.mask, stored.gw, stored.remote, stored.input, stored.type, stored.tx,
                     stored.role, stored.sn, stored.att}),
        QStringList({"192.168.1.20", "255.255.255.0", "192.168.1.254", "10.0.0.2", "1", "1", "1", "2", "7", "128"}));
    QCOMPARE(stored.entryCount, 11);
    QCOMPARE(f->feedback.LastFeedback.ElementMAC, kMac);
}

void TestFeedbackProcessing::fieldNotConfirmed_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("sentValue");
    QTest::addColumn<QString>("field");
    QTest::newRow("name") << "name"
                          << "STUDIO C"
                          << "Element Name";
    QTest::newRow("ip with leading zeros") << "ip"
                                           << "192.168.001.020"
                                           << "Element IP";
    QTest::newRow("mask") << "mask"
                          << "255.255.255.128"
                          << "Element Mask";
    QTest::newRow("gw with a blank") << "gw"
                                     << " 192.168.1.254"
                                     << "Element GW";
    QTest::newRow("remote") << "remote"
                            << "10.0.0.3"
                            << "Remote IP";
    QTest::newRow("input unselected") << "input"
                                      << "-1"
                                      << "Audio Input";
    QTest::newRow("type other") << "type"
                                << "0"
                                << "Audio Type";
    QTest::newRow("tx other") << "tx"
                              << "0"
                              << "Audio TX";
}

void TestFeedbackProcessing::fieldNotConfirmed()
{
    QFETCH(QString, key);
    QFETCH(QString, sentValue);
    QFETCH(QString, field);
    CoreFixture f;
    PrepareSentElement(f);
    ConfigFields sent = Sent();
    QHash<QString, QString*> texts = {
        {"name", &sent.name}, {"ip", &sent.ip}, {"mask", &sent.mask}, {"gw", &sent.gw}, {"remote", &sent.remote}};
    QHash<QString, int*> lists = {{"input", &sent.input}, {"type", &sent.type}, {"tx", &sent.tx}};
    if (texts.contains(key))
        *texts[key] = sentValue;
    else
        *lists[key] = sentValue.toInt();
    f->state.setLastSent(sent);
    const QString before = Stored(f, key.toLatin1().constData());
    ProfileFile::ResetCounters();

    Handle(f, {NewFeedback().bytes()});
    // One notice for the field, and no success.
    QCOMPARE(f.notices.texts(), QStringList {FieldMessage("saving", field.toLatin1().constData())});
    QCOMPARE(f.notices.shown.at(0).title, ProgramTitle());
    QCOMPARE(Stored(f, key.toLatin1().constData()), before);
    QCOMPARE(ProfileFile::CurrentCounters().rewrites, 1);

    // Every other field, the role, the serial number and the attenuation are still stored.
    const QList<QPair<QString, QString>> confirmed = {{"name", "STUDIO B"},
                                                      {"ip", "192.168.1.20"},
                                                      {"mask", "255.255.255.0"},
                                                      {"gw", "192.168.1.254"},
                                                      {"remote", "10.0.0.2"},
                                                      {"input", "1"},
                                                      {"type", "1"},
                                                      {"tx", "1"},
                                                      {"role", "2"},
                                                      {"sn", "7"},
                                                      {"att", "128"}};
    for (const auto& [entry, value] : confirmed) {
        if (entry != key)
            QCOMPARE(Stored(f, entry.toLatin1().constData()), value);
    }
}

void TestFeedbackProcessing::editsAfterTheSendDoNotChangeWhatIsConfirmed()
{
    // Nothing was sent: the answer is compared with the element as loaded. After a send, with the
    // same element shown again by a reload, with what went out.
    CoreFixture f;
    QVERIFY(f.writeElement(kKey, OldElement()));
    QVERIFY(f.select(kKey));
    f.neighbours.add(QStringLiteral("192.168.1.10"), MacBytes(kMac));
    FeedbackFields same;
    same.ip = QStringLiteral("192.168.1.10");
    same.mask = QStringLiteral("255.255.0.0");
    same.gw = QStringLiteral("192.168.1.1");
    same.remote = QStringLiteral("10.0.0.1");
    same.input = same.type = same.tx = 0;
    same.name = QByteArrayLiteral("OLD NAME");
    Handle(f, {same.bytes()});
    QCOMPARE(f.notices.texts(), QStringList {kSuccess});

    f.notices.clear();
    f->state.setLastSent(Sent());
    QVERIFY(f.select(kKey)); // a reload of the same element keeps what was sent to it
    f.neighbours.add(QStringLiteral("192.168.1.20"), MacBytes(kMac));
    Handle(f, {NewFeedback().bytes()});
    QCOMPARE(f.notices.texts(), QStringList {kSuccess});
    QCOMPARE(Stored(f, "ip"), QStringLiteral("192.168.1.20"));
}

void TestFeedbackProcessing::validationNotices_data()
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

void TestFeedbackProcessing::validationNotices()
{
    QFETCH(int, input);
    QFETCH(int, type);
    QFETCH(int, tx);
    QFETCH(int, role);
    QFETCH(QByteArray, serial);
    QFETCH(QString, field);
    CoreFixture f;
    QVERIFY(f.start());
    PrepareSentElement(f);
    const QByteArray before = FileBytes(f.database());
    QVERIFY(f->sender.SendToSelected(QByteArray(35, '\0'), f.environment().ports.config, true));
    QSignalSpy reload(&f->feedback, &FeedbackProcessor::reloadRequested);

    FeedbackFields fb = NewFeedback();
    fb.input = input;
    fb.type = type;
    fb.tx = tx;
    fb.role = role;
    fb.serial = serial;
    Handle(f, {fb.bytes()});
    QCOMPARE(f.notices.texts(), QStringList {FieldMessage("retrieving", field.toLatin1().constData())});
    // Nothing written, no MAC looked up, the reply timer still running, the list reloaded.
    QCOMPARE(FileBytes(f.database()), before);
    QCOMPARE(f.neighbours.lookups(), 0);
    QVERIFY(f->sender.replyTimerActive());
    QCOMPARE(reload.count(), 1);
}

void TestFeedbackProcessing::refusedAnswers_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QString>("notice");
    QTest::newRow("another element") << "other" << kMismatch;
    QTest::newRow("nothing selected") << "none" << kMismatch;
    QTest::newRow("section of twelve entries")
        << "corrupted"
        << QStringLiteral("The data stored in your computer about this element, is corrupted.") + CR
            + QStringLiteral("Cannot save this element info.");
}

void TestFeedbackProcessing::refusedAnswers()
{
    QFETCH(QString, situation);
    QFETCH(QString, notice);
    CoreFixture f;
    PrepareSentElement(f);
    FeedbackFields fb = NewFeedback();
    if (situation == QStringLiteral("other")) {
        fb.ip = QStringLiteral("192.168.1.30");
        f.neighbours.add(fb.ip, MacBytes(kOtherMac));
    } else if (situation == QStringLiteral("none")) {
        f->clearSelection();
    } else {
        QVERIFY(WriteIniEntries(kKey, {{"extra1", "x"}, {"extra2", "y"}}, f.database()));
    }
    const QByteArray before = FileBytes(f.database());
    Handle(f, {fb.bytes()});
    // The element shown is shown again after the answer: a damaged section is refused once more.
    QCOMPARE(f.notices.texts().first(), notice);
    QCOMPARE(f.notices.count(), situation == QStringLiteral("corrupted") ? 2 : 1);
    QCOMPARE(FileBytes(f.database()), before);
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
    CoreFixture f;
    PrepareSentElement(f);
    if (earlierDecoder >= 0) {
        // Another element's decoder answer: refused, but its attenuation stays in the record.
        FeedbackFields decoder = NewFeedback();
        decoder.ip = QStringLiteral("192.168.1.30");
        decoder.attenuation = earlierDecoder;
        f.neighbours.add(decoder.ip, MacBytes(kOtherMac));
        Handle(f, {decoder.bytes()});
        f.notices.clear();
    }
    FeedbackFields fb = NewFeedback();
    fb.role = role;
    fb.attenuation = byte40;
    Handle(f, {fb.bytes()});
    QCOMPARE(Stored(f, "att"), QString::number(expected));
    QCOMPARE(f->feedback.LastFeedback.Attenuation, quint8(expected));
    QCOMPARE(f.notices.texts(), QStringList {kSuccess});
}

void TestFeedbackProcessing::roleZeroSavesWithoutSuccess()
{
    CoreFixture f;
    PrepareSentElement(f);
    FeedbackFields fb = NewFeedback();
    fb.role = 0;
    Handle(f, {fb.bytes()});
    QCOMPARE(f.notices.count(), 0);
    QCOMPARE(Stored(f, "role"), QStringLiteral("0"));
    QCOMPARE(Stored(f, "ip"), QStringLiteral("192.168.1.20"));
    QCOMPARE(Stored(f, "sn"), QStringLiteral("7"));
}

void TestFeedbackProcessing::macNotFound()
{
    CoreOptions options;
    options.timing.macWindowMs = 300;
    CoreFixture f(options);
    QVERIFY(f.start());
    PrepareSentElement(f);
    f.neighbours.remove(QStringLiteral("192.168.1.20"));
    QVERIFY(f->sender.SendToSelected(QByteArray(35, '\0'), f.environment().ports.config, true));
    const QByteArray before = FileBytes(f.database());
    QElapsedTimer clock;
    clock.start();
    Handle(f, {NewFeedback().bytes()});
    QVERIFY2(clock.elapsed() >= 295, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(f.notices.texts(), QStringList {FieldMessage("retrieving", "Element MAC")});
    QVERIFY(f.neighbours.wasSolicited(QStringLiteral("192.168.1.20")));
    QVERIFY(!f->sender.replyTimerActive());
    QCOMPARE(FileBytes(f.database()), before);
}

void TestFeedbackProcessing::lostWrite()
{
    TempDir dir;
    QFile blocker(dir.file(QStringLiteral("not-a-folder")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    CoreOptions options;
    options.databasePath = dir.file(QStringLiteral("not-a-folder/nms.ini"));
    CoreFixture f(options);
    f.neighbours.add(QStringLiteral("192.168.1.20"), MacBytes(kMac));
    ElementRecord shown;
    shown.key = kKey;
    f->state.select(shown);
    f->state.setLastSent(Sent());

    Handle(f, {NewFeedback().bytes()});
    QCOMPARE(f.notices.count(), 2);
    QCOMPARE(f.notices.texts().at(1), kNoFile);
    QVERIFY(f.notices.texts().at(0).startsWith(
        QStringLiteral("The local database (%1) could not be written.").arg(options.databasePath)));
    QCOMPARE(f.notices.shown.at(0).icon, NoticeIcon::Error);
}

void TestFeedbackProcessing::discoveryAnswersAreIndependent()
{
    // The first of three answers comes from an address whose MAC cannot be found. The other two
    // are recorded in the order they were resolved; the first costs one notice, nothing else.
    CoreFixture f(DiscoveryTiming(300, 500));
    QVERIFY(f.start());
    QVERIFY(f.writeElement(kKey, OldElement()));
    QSignalSpy finished(&f->discovery, &DiscoverySession::finished);
    QVERIFY(f->discovery.start());
    QCOMPARE(FileBytes(f.database()), QByteArray());

    FeedbackFields unresolvable = NewFeedback();
    unresolvable.ip = QStringLiteral("192.168.1.99");
    FeedbackFields encoder = NewFeedback();
    encoder.ip = QStringLiteral("192.168.1.30");
    encoder.role = 1;
    f.neighbours.add(QStringLiteral("192.168.1.20"), MacBytes(kMac));
    f.neighbours.add(encoder.ip, MacBytes(kOtherMac));
    Handle(f, {unresolvable.bytes(), NewFeedback().bytes(), encoder.bytes()});

    QCOMPARE(finished.count(), 1);
    QCOMPARE(LoadIniSectionsArray(f.database()), QStringList({kKey, MacTextToKey(kOtherMac)}));
    QStringList keys;
    LoadIniSectionKeysLB(kKey, keys, f.database());
    QCOMPARE(keys, QStringList({"NAME", "IP", "MASK", "GW", "REMOTE", "INPUT", "TYPE", "TX", "ROLE", "SN", "ATT"}));
    keys.clear();
    LoadIniSectionKeysLB(MacTextToKey(kOtherMac), keys, f.database());
    QCOMPARE(keys.size(), 10);
    // The unresolvable answer costs itself alone; the end of the window reports the two found.
    QCOMPARE(f.notices.count(), 2);
    QVERIFY(f.notices.texts().contains(FieldMessage("retrieving", "Element MAC")));
    QVERIFY(f.notices.texts().contains(
        QStringLiteral("2 elements found: 2 new, 0 missing") + CR
        + QStringLiteral("New: STUDIO B [02:00:00:00:01:0A], STUDIO B [02:00:00:00:01:0B]")));
    QVERIFY(!f->state.discovering());
}

void TestFeedbackProcessing::discoveryLookupOutlastingTheWindowIsOrdinaryFeedback()
{
    CoreFixture f(DiscoveryTiming(200, 2000));
    QVERIFY(f.start());
    QSignalSpy finished(&f->discovery, &DiscoverySession::finished);
    QVERIFY(f->discovery.start());
    // Resolves only once the kernel was asked and then some looks later: after the window.
    f.neighbours.addOnSolicit(QStringLiteral("192.168.1.20"), MacBytes(kMac), 400 / f.environment().timing.macRetryMs);
    QSignalSpy handled(&f->feedback, &FeedbackProcessor::feedbackHandled);
    f->link.Route(NewFeedback().bytes());
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(handled.count(), 0);
    QTRY_COMPARE(handled.count(), 1);
    // The list read at the end of the window and after the answer finds nothing.
    QCOMPARE(f.notices.texts(), (QStringList {kEmpty, kMismatch, kEmpty}));
    QCOMPARE(LoadIniSectionsArray(f.database()), QStringList());

    // An answer after the window is ordinary feedback too.
    f.notices.clear();
    Handle(f, {NewFeedback().bytes()});
    QCOMPARE(f.notices.texts(), (QStringList {kMismatch, kEmpty}));
    QCOMPARE(LoadIniSectionsArray(f.database()), QStringList());
}

void TestFeedbackProcessing::discoveryRecordsAThousandAnswersInOrder()
{
    // All answers at once, far beyond what may wait outside a discovery; every one is recorded,
    // and the writes are grouped.
    CoreFixture f(DiscoveryTiming(3000, 5000));
    QVERIFY(f.start());
    constexpr int answers = 1000;
    static_assert(answers > FeedbackProcessor::OrdinaryLimit);
    QList<QByteArray> datagrams;
    QStringList keys;
    for (int i = 1; i <= answers; ++i) {
        FeedbackFields answer = NewFeedback();
        answer.ip = QStringLiteral("10.1.%1.%2").arg(i / 250).arg(i % 250 + 1);
        answer.role = 1;
        f.neighbours.add(answer.ip, MacBytes(MacOf(i)));
        keys << MacTextToKey(MacOf(i));
        datagrams << answer.bytes();
    }
    QVERIFY(f->discovery.start());
    ProfileFile::ResetCounters();
    Handle(f, datagrams);
    f->discovery.abort();
    QCOMPARE(f->feedback.dropped(), 0);
    QCOMPARE(f->discovery.written(), answers);
    QStringList stored;
    LoadIniSectionsLB(stored, f.database());
    QCOMPARE(stored, keys);
    QVERIFY2(ProfileFile::CurrentCounters().rewrites < 20,
             qPrintable(QString::number(ProfileFile::CurrentCounters().rewrites)));
    QCOMPARE(f.notices.count(), 0);
}

QTEST_GUILESS_MAIN(TestFeedbackProcessing)
#include "tst_feedbackprocessing.moc"
