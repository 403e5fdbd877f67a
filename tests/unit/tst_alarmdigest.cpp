// The alarms of a real monitor on a scripted echo: what one and several make, collapsed into one
// message; recoveries make none; attention holds while anything is down or silent.

#include <QSignalSpy>
#include <QtTest>

#include "app/AlarmDigest.h"
#include "link/LinkEndpoint.h"
#include "support/FakeEchoSweep.h"

using namespace nms;
using namespace nms::test;

namespace {

constexpr int kBatchMs = 150;
const QByteArray kQuiet(LevelSamplesLength, '\0');
const QByteArray kLoud(LevelSamplesLength, '\x40'); // about -6 dBFS

// A monitor of decoders that never answer (down) and answering encoders (silent once asked).
struct Watch {
    Watch()
    {
        MonitorSettings settings;
        settings.presencePeriodMs = 20;
        settings.missesForDown = 1;
        settings.watchAudio = false;
        settings.silenceMs = 0;
        settings.audioBackMs = 0;
        monitor = std::make_unique<LinkMonitor>(sweep, link, settings);
        digest = std::make_unique<AlarmDigest>(*monitor, kBatchMs);
    }

    QString add(const QString& name, bool encoder)
    {
        ElementRecord record;
        record.key = QStringLiteral("0200000000%1").arg(records.size() + 1, 2, 10, QLatin1Char('0'));
        record.name = name.leftJustified(16);
        record.ip = QStringLiteral("127.0.0.%1").arg(records.size() + 1);
        record.role = encoder ? QStringLiteral("1") : QStringLiteral("2");
        sweep.setAnswering(record.ip, encoder);
        records.append(record);
        return record.ip;
    }
    void silence(const QString& ip) { monitor->takeLevelSamples(kQuiet, QHostAddress(ip)); }
    void sound(const QString& ip) { monitor->takeLevelSamples(kLoud, QHostAddress(ip)); }
    bool stateIs(const QString& ip, ElementState state) const
    {
        for (const WatchedElement& element : monitor->elements())
            if (element.record.ip == ip)
                return element.state == state;
        return false;
    }

    FakeEchoSweep sweep;
    LinkEndpoint link {LinkPorts {}};
    QList<ElementRecord> records;
    std::unique_ptr<LinkMonitor> monitor;
    std::unique_ptr<AlarmDigest> digest;
};

} // namespace

class TestAlarmDigest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void oneMessage_data();
    void oneMessage();
    void recoveriesAreNoAlarm();
    void anElementCountsOnceABatch_data();
    void anElementCountsOnceABatch();
    void maintenanceIsQuiet();
};

void TestAlarmDigest::oneMessage_data()
{
    QTest::addColumn<QStringList>("down");
    QTest::addColumn<QStringList>("silent");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::newRow("one down") << QStringList {"SITE RX"} << QStringList {} << "Element down"
                              << "SITE RX [02:00:00:00:00:01] 127.0.0.1 is down";
    QTest::newRow("one silent") << QStringList {} << QStringList {"STUDIO TX"} << "Element silent"
                                << "STUDIO TX [02:00:00:00:00:01] 127.0.0.1 is silent";
    QTest::newRow("several down") << QStringList {"A", "B", "C"} << QStringList {} << "Elements down"
                                  << "3 elements down";
    QTest::newRow("several silent") << QStringList {} << QStringList {"A", "B"} << "Elements silent"
                                    << "2 elements silent";
    QTest::newRow("down and silent") << QStringList {"A", "B"} << QStringList {"C"} << "Elements down or silent"
                                     << "2 elements down, 1 silent";
    QTest::newRow("one of each") << QStringList {"A"} << QStringList {"B"} << "Elements down or silent"
                                 << "1 element down, 1 silent";
}

void TestAlarmDigest::oneMessage()
{
    QFETCH(QStringList, down);
    QFETCH(QStringList, silent);
    QFETCH(QString, title);
    QFETCH(QString, text);
    Watch w;
    for (const QString& name : down)
        w.add(name, false);
    QStringList encoders;
    for (const QString& name : silent)
        encoders.append(w.add(name, true));
    QSignalSpy alarms(w.digest.get(), &AlarmDigest::alarm);
    w.monitor->watch(w.records);
    w.monitor->start();
    for (const QString& ip : encoders) {
        QTRY_VERIFY(w.stateIs(ip, ElementState::Up));
        w.silence(ip);
    }
    QTRY_COMPARE(w.monitor->summary().down, int(down.size()));
    QTRY_COMPARE(alarms.size(), 1);
    QCOMPARE(alarms[0], QVariantList({title, text}));
    QVERIFY(w.digest->attention());
}

void TestAlarmDigest::recoveriesAreNoAlarm()
{
    Watch w;
    const QString decoder = w.add(QStringLiteral("SITE RX"), false);
    const QString encoder = w.add(QStringLiteral("STUDIO TX"), true);
    QSignalSpy alarms(w.digest.get(), &AlarmDigest::alarm);
    QSignalSpy attention(w.digest.get(), &AlarmDigest::attentionChanged);
    w.monitor->watch(w.records);
    w.monitor->start();
    QTRY_VERIFY(w.stateIs(decoder, ElementState::Down) && w.stateIs(encoder, ElementState::Up));
    w.silence(encoder);
    QTRY_COMPARE(alarms.size(), 1);
    QCOMPARE(attention, QList<QVariantList>({{true}}));

    // One of two back: attention holds; both back: it ends, and neither return is an alarm.
    w.sweep.setAnswering(decoder, true);
    QTRY_VERIFY(w.stateIs(decoder, ElementState::Up));
    QVERIFY(w.digest->attention());
    w.sound(encoder);
    QVERIFY(w.stateIs(encoder, ElementState::Up));
    QCOMPARE(attention, QList<QVariantList>({{true}, {false}}));
    QTest::qWait(kBatchMs * 2);
    QCOMPARE(alarms.size(), 1);

    // Silent again, then no longer watched: attention ends with it.
    w.silence(encoder);
    QVERIFY(w.digest->attention());
    w.monitor->watch({w.records.first()});
    QVERIFY(!w.digest->attention());
    QTRY_COMPARE(alarms.size(), 2);
    QCOMPARE(alarms[1], QVariantList({"Element silent", "STUDIO TX [02:00:00:00:00:02] 127.0.0.2 is silent"}));
}

void TestAlarmDigest::anElementCountsOnceABatch_data()
{
    // The states the monitor reports within one batch: element letter and D down, S silent, U up.
    QTest::addColumn<QStringList>("changes");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::newRow("down twice") << QStringList {"AD", "AU", "AD"} << "Element down"
                                << "A [02:00:00:00:00:01] 127.0.0.1 is down";
    QTest::newRow("silent, then down") << QStringList {"AS", "AD"} << "Element down"
                                       << "A [02:00:00:00:00:01] 127.0.0.1 is down";
    QTest::newRow("two, one of them twice") << QStringList {"AD", "BD", "AU", "AD"} << "Elements down"
                                            << "2 elements down";
}

void TestAlarmDigest::anElementCountsOnceABatch()
{
    QFETCH(QStringList, changes);
    QFETCH(QString, title);
    QFETCH(QString, text);
    Watch w;
    w.add(QStringLiteral("A"), true);
    w.add(QStringLiteral("B"), true);
    w.monitor->watch(w.records); // not started: the changes are the test's
    QSignalSpy alarms(w.digest.get(), &AlarmDigest::alarm);
    for (const QString& change : changes) {
        const int index = change.at(0).unicode() - 'A';
        const ElementState to = change.at(1) == u'D' ? ElementState::Down
            : change.at(1) == u'S'                   ? ElementState::Silent
                                                     : ElementState::Up;
        Q_EMIT w.monitor->stateChanged(index, ElementState::Up, to);
    }
    QTRY_COMPARE(alarms.size(), 1);
    QCOMPARE(alarms[0], QVariantList({title, text}));
}

// An element in maintenance raises nothing and holds no attention, until it is no longer.
void TestAlarmDigest::maintenanceIsQuiet()
{
    Watch w;
    const QString quiet = w.add(QStringLiteral("SITE A"), false);
    const QString loud = w.add(QStringLiteral("SITE B"), false);
    QSet<QString> maintenance {w.records.first().key};
    w.digest->setQuiet([&](const QString& key) { return maintenance.contains(key); });
    QSignalSpy alarms(w.digest.get(), &AlarmDigest::alarm);
    w.monitor->watch(w.records);
    w.monitor->start();
    QTRY_COMPARE(alarms.size(), 1);
    QCOMPARE(alarms[0], QVariantList({"Element down", "SITE B [02:00:00:00:00:02] 127.0.0.2 is down"}));
    QVERIFY(w.digest->attention());
    w.sweep.setAnswering(loud, true);
    QTRY_VERIFY(w.stateIs(loud, ElementState::Up));
    QVERIFY(w.stateIs(quiet, ElementState::Down));
    QVERIFY(!w.digest->attention());
    maintenance.clear();
    w.digest->reconsider();
    QVERIFY(w.digest->attention());
}

QTEST_GUILESS_MAIN(TestAlarmDigest)
#include "tst_alarmdigest.moc"
