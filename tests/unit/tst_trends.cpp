// The history of round trips, audio and states: minute rows from a known sequence of
// measurements (losses, a down period, silence, a restart within a minute, a gap), the hour they
// roll up into, pruning on both sides of the 30-day and one-year marks, and a damaged or locked
// file set aside with one notice while the history goes on. The clock is injected throughout.

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <cmath>

#include "base/Duration.h"
#include "support/RecordingNotices.h"
#include "support/TempDir.h"
#include "trends/TrendDatabase.h"
#include "trends/TrendStore.h"

using namespace nms;
using namespace nms::test;

namespace {

constexpr qint64 kMinute = 60 * 1000;
constexpr qint64 kDay = 24 * 60 * kMinute;
// A whole hour, so that minute 0 starts an hour.
constexpr qint64 kStart = 1796000400000; // 2026-11-30T01:00:00Z
const QString kKey = QStringLiteral("0011223344AA");

QString Number(double value)
{
    if (qIsNaN(value))
        return QStringLiteral("-");
    if (!std::isfinite(value))
        return value < 0 ? QStringLiteral("-inf") : QStringLiteral("inf");
    return QString::number(value, 'g', 6);
}

// One row as a line a failing comparison shows whole.
QString RowText(const TrendRow& row)
{
    return QStringLiteral("@%1 rtt %2/%3/%4 n%5 lost %6 peak %7/%8 down %9 silent %10 up %11")
        .arg((row.startMs - kStart) / 1000)
        .arg(Number(row.rttMinMs), Number(row.rttMedianMs), Number(row.rttMaxMs))
        .arg(row.answered)
        .arg(row.lost)
        .arg(Number(row.peakMinDbfs), Number(row.peakMaxDbfs))
        .arg(row.downMs / 1000.0)
        .arg(row.silentMs / 1000.0)
        .arg(row.upMs / 1000.0);
}

QStringList RowTexts(const QList<TrendRow>& rows)
{
    QStringList texts;
    for (const TrendRow& row : rows)
        texts.append(RowText(row));
    return texts;
}

QList<TrendRow> ReadBack(const QString& path, bool hourly, qint64 from = 0, qint64 to = kStart + 400 * kDay)
{
    TrendDatabase database(path);
    if (!database.open(TrendDatabase::Mode::Read))
        return {};
    return database.read(kKey, from, to, hourly);
}

// Plays a script on the store, each step "SECONDS WHAT [VALUE]": ok MS, lost, peak DBFS, up, down,
// silent, watch (the element watched, Up), unwatch, stop (the monitor stops), start.
void Play(TrendStore& store, qint64& now, const QString& script)
{
    for (const QString& step : script.split(u';', Qt::SkipEmptyParts)) {
        const QStringList words = step.simplified().split(u' ');
        now = kStart + qint64(words.at(0).toDouble() * 1000);
        const QString what = words.at(1);
        const double value = words.value(2).toDouble();
        if (what == u"ok")
            store.echoAnswered(kKey, value);
        else if (what == u"lost")
            store.echoLost(kKey);
        else if (what == u"peak")
            store.peak(kKey, words.at(2) == u"-inf" ? -qInf() : value);
        else if (what == u"up")
            store.state(kKey, TrendState::Up);
        else if (what == u"down")
            store.state(kKey, TrendState::Down);
        else if (what == u"silent")
            store.state(kKey, TrendState::Silent);
        else if (what == u"watch")
            store.watch({{kKey, TrendState::Up}});
        else if (what == u"unwatch")
            store.watch({});
        else if (what == u"stop")
            store.stop();
        else if (what == u"start")
            store.start();
        else
            QTest::qFail(qPrintable(QStringLiteral("unknown step ") + step), __FILE__, __LINE__);
        store.flush();
    }
}

} // namespace

class TestTrends : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void minuteRows_data();
    void minuteRows();
    void pruning_data();
    void pruning();
    void setAside_data();
    void setAside();
    void durations_data();
    void durations();
};

void TestTrends::minuteRows_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("minutes");
    QTest::addColumn<QStringList>("hours");

    // Up from 0 s; three answers and a loss; down 30 s to 50 s with its loss; back with an answer.
    QTest::newRow("losses and a down period")
        << "0 up; 5 ok 1.0; 10 ok 3.0; 20 lost; 25 ok 2.0; 30 down; 35 lost; 50 up; 55 ok 5.0; 60 stop"
        << QStringList {"@0 rtt 1/2.5/5 n4 lost 2 peak -/- down 20 silent 0 up 40"}
        << QStringList {"@0 rtt 1/2.5/5 n4 lost 2 peak -/- down 20 silent 0 up 40"};
    // Digital silence has no figure: kept as -inf, not as a number.
    QTest::newRow("silence across a minute's end")
        << "0 up; 10 peak -12.3; 20 peak -inf; 40 silent; 70 peak -60; 90 up; 95 peak -6; 120 stop"
        << QStringList {"@0 rtt -/-/- n0 lost 0 peak -inf/-12.3 down 0 silent 20 up 40",
                        "@60 rtt -/-/- n0 lost 0 peak -60/-6 down 0 silent 30 up 30"}
        << QStringList {"@0 rtt -/-/- n0 lost 0 peak -inf/-6 down 0 silent 50 up 70"};
    // Stopped and started again within the minute: one row, the time between counted nowhere,
    // the two parts' medians weighted by their answers.
    QTest::newRow("a restart within the minute")
        << "0 up; 10 ok 4.0; 20 stop; 30 start; 30 watch; 40 ok 2.0; 50 ok 9.0; 60 stop"
        << QStringList {"@0 rtt 2/5/9 n3 lost 0 peak -/- down 0 silent 0 up 50"}
        << QStringList {"@0 rtt 2/5/9 n3 lost 0 peak -/- down 0 silent 0 up 50"};
    // A machine asleep between 70 s and 250 s: no rows for the minutes it slept.
    QTest::newRow("a gap of minutes") << "0 up; 70 ok 1.0; 250 ok 2.0; 300 stop"
                                      << QStringList {"@0 rtt -/-/- n0 lost 0 peak -/- down 0 silent 0 up 60",
                                                      "@60 rtt 1/1/1 n1 lost 0 peak -/- down 0 silent 0 up 60",
                                                      "@240 rtt 2/2/2 n1 lost 0 peak -/- down 0 silent 0 up 60"}
                                      << QStringList {"@0 rtt 1/1.5/2 n2 lost 0 peak -/- down 0 silent 0 up 180"};
    // No longer watched from 30 s: its time stops counting, and no row follows.
    QTest::newRow("no longer watched") << "0 watch; 30 unwatch; 150 stop"
                                       << QStringList {"@0 rtt -/-/- n0 lost 0 peak -/- down 0 silent 0 up 30"}
                                       << QStringList {"@0 rtt -/-/- n0 lost 0 peak -/- down 0 silent 0 up 30"};
}

void TestTrends::minuteRows()
{
    QFETCH(QString, script);
    QFETCH(QStringList, minutes);
    QFETCH(QStringList, hours);
    TempDir dir;
    RecordingNotices notices;
    TrendStore store(dir.file(QStringLiteral("trends.sqlite")), notices);
    qint64 now = kStart;
    store.setClock([&now] { return now; });
    store.start();
    Play(store, now, script);
    store.stop();
    QCOMPARE(RowTexts(ReadBack(store.path(), false)), minutes);
    QCOMPARE(RowTexts(ReadBack(store.path(), true)), hours);
    QCOMPARE(notices.count(), 0);
}

void TestTrends::pruning_data()
{
    QTest::addColumn<bool>("hourly");
    QTest::addColumn<qint64>("age");
    QTest::addColumn<bool>("kept");
    QTest::newRow("minute of 30 days less a minute") << false << 30 * kDay - kMinute << true;
    QTest::newRow("minute of exactly 30 days") << false << 30 * kDay << true;
    QTest::newRow("minute of 30 days and a minute") << false << 30 * kDay + kMinute << false;
    QTest::newRow("hour of 364 days") << true << 364 * kDay << true;
    QTest::newRow("hour of a year and an hour") << true << 365 * kDay + 60 * kMinute << false;
}

void TestTrends::pruning()
{
    QFETCH(bool, hourly);
    QFETCH(qint64, age);
    QFETCH(bool, kept);
    TempDir dir;
    RecordingNotices notices;
    const QString path = dir.file(QStringLiteral("trends.sqlite"));
    // Within a minute, so that stopping writes a row and the write prunes.
    const qint64 now = kStart + 400 * kDay + 30 * 1000;
    {
        TrendDatabase database(path);
        QVERIFY(database.open(TrendDatabase::Mode::Write));
        TrendRow old;
        old.key = kKey;
        old.startMs = now - age;
        old.upMs = kMinute;
        QVERIFY(database.write({old}, 60 * kMinute));
    }
    // The next write prunes.
    TrendStore store(path, notices);
    qint64 clock = now - 1000;
    store.setClock([&clock] { return clock; });
    store.start();
    store.state(QStringLiteral("0011223344BB"), TrendState::Up);
    clock = now;
    store.stop();
    QCOMPARE(ReadBack(path, hourly, 0, now).size(), kept ? 1 : 0);
    // A row the other table holds is pruned by its own mark: a year for the hours.
    if (!hourly)
        QCOMPARE(ReadBack(path, true, 0, now).size(), 1);
}

void TestTrends::setAside_data()
{
    QTest::addColumn<bool>("locked");
    QTest::newRow("damaged") << false;
    QTest::newRow("locked") << true;
}

void TestTrends::setAside()
{
    QFETCH(bool, locked);
    TempDir dir;
    RecordingNotices notices;
    const QString path = dir.file(QStringLiteral("trends.sqlite"));
    TrendSettings settings;
    settings.busyTimeoutMs = 50;
    std::unique_ptr<TrendDatabase> holder;
    if (locked) {
        // Another program holds the file for itself and never lets go.
        holder = std::make_unique<TrendDatabase>(path);
        QVERIFY(holder->open(TrendDatabase::Mode::Write));
        QSqlQuery query(QSqlDatabase::database(QSqlDatabase::connectionNames().constLast()));
        QVERIFY(query.exec(QStringLiteral("PRAGMA locking_mode=EXCLUSIVE")));
        QVERIFY(query.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        QVERIFY(query.exec(QStringLiteral("INSERT INTO meta VALUES ('held', 1)")));
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(8192, 'x'));
    }
    TrendStore store(path, notices, settings);
    qint64 now = kStart;
    store.setClock([&now] { return now; });
    store.start();
    store.state(kKey, TrendState::Up);
    for (int minute : {1, 2}) {
        now = kStart + minute * kMinute;
        store.flush();
    }
    store.echoAnswered(kKey, 1.5);
    now += kMinute;
    store.stop();
    QTRY_COMPARE(notices.count(), 1);
    QVERIFY2(notices.texts().first().contains(locked ? "is locked" : "is damaged"),
             qPrintable(notices.texts().first()));
    const QStringList aside = QDir(dir.path()).entryList({QStringLiteral("trends.sqlite.*")}, QDir::Files);
    QVERIFY2(aside.filter(QRegularExpression(locked ? "\\.locked-\\d{8}T\\d{6}$" : "\\.damaged-\\d{8}T\\d{6}$")).size()
                 == 1,
             qPrintable(aside.join(u' ')));
    holder.reset();
    // Every row since, in the new file: nothing was lost to the setting aside.
    QCOMPARE(RowTexts(ReadBack(path, false)),
             QStringList({"@0 rtt -/-/- n0 lost 0 peak -/- down 0 silent 0 up 60",
                          "@60 rtt -/-/- n0 lost 0 peak -/- down 0 silent 0 up 60",
                          "@120 rtt 1.5/1.5/1.5 n1 lost 0 peak -/- down 0 silent 0 up 60"}));
}

void TestTrends::durations_data()
{
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<QString>("text");
    QTest::newRow("under a minute") << qint64(59999) << "59 s";
    QTest::newRow("a minute") << qint64(60000) << "1 min 0 s";
    QTest::newRow("hours and minutes") << qint64((2 * 60 + 14) * 60000 + 59000) << "2 h 14 min";
    QTest::newRow("a whole hour") << qint64(3600000) << "1 h 0 min";
    QTest::newRow("days and hours") << qint64((3 * 24 + 4) * 3600000LL + 1) << "3 d 4 h";
    QTest::newRow("a clock gone back") << qint64(-5000) << "0 s";
}

void TestTrends::durations()
{
    QFETCH(qint64, ms);
    QFETCH(QString, text);
    QCOMPARE(DurationText(ms), text);
    // What is written is read back: "--since 2h".
    QCOMPARE(ParseDuration(QStringLiteral("30d")), 30 * kDay);
    QCOMPARE(ParseDuration(QStringLiteral("15min")), 15 * kMinute);
    QCOMPARE(ParseDuration(QStringLiteral("0h")), qint64(-1));
    QCOMPARE(ParseDuration(QStringLiteral("2 weeks")), qint64(-1));
}

QTEST_GUILESS_MAIN(TestTrends)
#include "tst_trends.moc"
