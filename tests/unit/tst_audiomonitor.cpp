// The audio functions of the core on loopback: level monitoring (one LevelQuery per period while
// it is on, none after, and levels only while it is on), a query that cannot be sent, and a
// decoder's attenuation, sent first and stored only once sent.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "database/ProfileStore.h"
#include "link/LinkEndpoint.h"
#include "support/CoreFixture.h"

using namespace nms;
using namespace nms::test;

namespace {

const QString kEncoderKey = QStringLiteral("0200000001AB");
const QString kDecoderKey = QStringLiteral("0200000001CD");
const QByteArray kMarker = QByteArrayLiteral("MARK");

CoreOptions LevelPeriod(int ms)
{
    CoreOptions options;
    options.timing.levelPeriodMs = ms;
    return options;
}

// Everything the element's command port received before a marker sent now (one socket, in
// order: the marker comes last).
QList<QByteArray> CommandsUpToMarker(CoreFixture& f)
{
    const quint16 port = f.environment().ports.command;
    const int before = int(f.element->receivedOn(port).size());
    if (!f->sender.SendToSelected(kMarker, port, false))
        return {QByteArrayLiteral("marker not sent")};
    QList<QByteArray> received;
    if (!QTest::qWaitFor([&] {
            received = f.element->receivedOn(port);
            return received.size() > before && received.last() == kMarker;
        }))
        return {QByteArrayLiteral("marker lost")};
    received.removeLast();
    return received;
}

} // namespace

class TestAudioMonitor : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void monitoringQueriesEveryPeriodUntilStopped();
    void queryThatCannotBeSentEndsTheMonitoring_data();
    void queryThatCannotBeSentEndsTheMonitoring();
    void levelsOnlyWhileMonitoring();
    void attenuationIsStoredOnlyOnceSent_data();
    void attenuationIsStoredOnlyOnceSent();
};

void TestAudioMonitor::monitoringQueriesEveryPeriodUntilStopped()
{
    const int periodMs = 20;
    CoreFixture f(LevelPeriod(periodMs));
    QVERIFY(f.start());
    QVERIFY(f.writeElement(kEncoderKey, StoredElement {}));
    QVERIFY(f.writeElement(kDecoderKey, StoredElement {.role = 2, .att = 200}));
    QVERIFY(f.select(kEncoderKey));
    QSignalSpy changed(&f->audio, &AudioMonitor::monitoringChanged);
    const quint16 port = f.environment().ports.command;

    QElapsedTimer clock;
    clock.start();
    f->audio.start();
    f->audio.start();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toBool(), true);
    QVERIFY(f->audio.monitoring());
    QTRY_VERIFY_WITH_TIMEOUT(f.element->receivedOn(port).size() >= 10, 5000);
    // One query per period: ten of them take nine periods at the least (a timer may fire early).
    QVERIFY2(clock.elapsed() >= 9 * periodMs, qPrintable(QString::number(clock.elapsed())));

    f->audio.stop();
    f->audio.stop();
    QCOMPARE(changed.count(), 2);
    QCOMPARE(changed.at(1).at(0).toBool(), false);
    const QList<QByteArray> queries = CommandsUpToMarker(f);
    QVERIFY(queries.size() >= 10);
    QCOMPARE(queries, QList<QByteArray>(queries.size(), QByteArrayLiteral("VOL")));
    QTest::qWait(5 * periodMs);
    QCOMPARE(f.element->receivedOn(port).last(), kMarker);

    // The element shown again (the reload after every answer) keeps it running; another element
    // shown stops the meter of the one before.
    f->audio.start();
    QVERIFY(f.select(kEncoderKey));
    QVERIFY(f->audio.monitoring());
    QVERIFY(f.select(kDecoderKey));
    QVERIFY(!f->audio.monitoring());
    QCOMPARE(changed.count(), 4);
    QCOMPARE(f.notices.count(), 0);
}

void TestAudioMonitor::queryThatCannotBeSentEndsTheMonitoring_data()
{
    QTest::addColumn<QString>("storedIp"); // empty: nothing selected
    QTest::addColumn<QString>("firstLine");
    QTest::newRow("nothing selected") << ""
                                      << "No element is selected.";
    QTest::newRow("address gone bad") << "127.0.0"
                                      << "The stored address of this element ('127.0.0') is not a valid IP address.";
}

void TestAudioMonitor::queryThatCannotBeSentEndsTheMonitoring()
{
    QFETCH(QString, storedIp);
    QFETCH(QString, firstLine);
    const int periodMs = 10;
    CoreFixture f(LevelPeriod(periodMs));
    QVERIFY(f.start());
    if (!storedIp.isEmpty()) {
        QVERIFY(f.writeElement(kEncoderKey, StoredElement {}));
        QVERIFY(f.select(kEncoderKey));
        QVERIFY(WriteToINI(kEncoderKey, QStringLiteral("ip"), storedIp, f.database()));
    }
    QSignalSpy changed(&f->audio, &AudioMonitor::monitoringChanged);

    f->audio.start();
    QTRY_VERIFY(!f->audio.monitoring());
    QCOMPARE(changed.count(), 2); // on, then off
    // One notice, not one per period.
    QTest::qWait(5 * periodMs);
    QCOMPARE(f.notices.texts(), QStringList {firstLine + QStringLiteral("\rNothing was sent.")});
    QVERIFY(f.element->received.isEmpty());
}

void TestAudioMonitor::levelsOnlyWhileMonitoring()
{
    CoreFixture f(LevelPeriod(60000)); // no queries during the test
    QVERIFY(f.start());
    QVERIFY(f.writeElement(kEncoderKey, StoredElement {}));
    QVERIFY(f.select(kEncoderKey));
    QSignalSpy routed(&f->link, &LinkEndpoint::levelSamplesArrived);
    QStringList levels;
    connect(&f->audio, &AudioMonitor::levelChanged, this,
            [&levels](const AudioLevel& level) { levels.append(level.caption); });
    QByteArray loud(1440, '\0');
    loud[0] = char(0x40);

    QVERIFY(f.deliver(loud));
    QTRY_COMPARE(routed.count(), 1);
    QVERIFY(levels.isEmpty());

    f->audio.start();
    QVERIFY(f.deliver(loud));
    QTRY_COMPARE(levels.size(), 1);
    QCOMPARE(levels.at(0), ComputeAudioLevel(loud).caption);

    // An answer to a query sent before the stop changes nothing.
    f->audio.stop();
    QVERIFY(f.deliver(loud));
    QTRY_COMPARE(routed.count(), 3);
    QCOMPARE(levels.size(), 1);
}

void TestAudioMonitor::attenuationIsStoredOnlyOnceSent_data()
{
    QTest::addColumn<QString>("setup"); // "sound", "address gone bad" or "unwritable"
    QTest::addColumn<bool>("sent");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("notice"); // its text starts so
    QTest::newRow("sent and stored") << "sound" << true << "199"
                                     << "";
    QTest::newRow("not sent, not stored") << "address gone bad" << false << "200"
                                          << "The stored address of this element ('127.0.0')";
    QTest::newRow("sent, database not writable") << "unwritable" << true << "200"
                                                 << "The local database (";
}

void TestAudioMonitor::attenuationIsStoredOnlyOnceSent()
{
    QFETCH(QString, setup);
    QFETCH(bool, sent);
    QFETCH(QString, stored);
    QFETCH(QString, notice);
    CoreOptions options;
    QTemporaryDir dir;
    const bool unwritable = setup == QLatin1String("unwritable");
    if (unwritable) {
        // A name that leaves no room for the temporary file a rewrite needs: read, never written.
        options.databasePath = QDir(dir.path()).filePath(QString(248, QLatin1Char('n')) + QStringLiteral(".ini"));
        QFile file(options.databasePath);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("[0200000001CD]\nIP=127.0.0.1\nROLE=2\nATT=200\n") > 0);
        file.close();
        if (WriteToINI(kDecoderKey, QStringLiteral("att"), QStringLiteral("201"), options.databasePath))
            QSKIP("this file system lets the database be rewritten under a name that long");
    }
    CoreFixture f(options);
    QVERIFY(f.start());
    if (!unwritable)
        QVERIFY(f.writeElement(kDecoderKey, StoredElement {.role = 2, .att = 200}));
    QVERIFY(f.select(kDecoderKey));
    if (setup == QLatin1String("address gone bad"))
        QVERIFY(WriteToINI(kDecoderKey, QStringLiteral("ip"), QStringLiteral("127.0.0"), f.database()));

    f->audio.setAttenuation(199);
    QCOMPARE(ReadFromINI(kDecoderKey, QStringLiteral("att"), f.database(), QString()), stored);
    QCOMPARE(f.notices.count(), notice.isEmpty() ? 0 : 1);
    QVERIFY(notice.isEmpty() || f.notices.shown.at(0).text.startsWith(notice));
    if (setup == QLatin1String("address gone bad"))
        QVERIFY(WriteToINI(kDecoderKey, QStringLiteral("ip"), QStringLiteral("127.0.0.1"), f.database()));
    const QList<QByteArray> expected {QByteArray::fromHex("C700")};
    QCOMPARE(CommandsUpToMarker(f), sent ? expected : QList<QByteArray> {});
}

QTEST_GUILESS_MAIN(TestAudioMonitor)
#include "tst_audiomonitor.moc"
