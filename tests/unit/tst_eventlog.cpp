// The event log: its lines, an element's fields, rotation, a burst, and a log that cannot be written.
#include "database/EventLog.h"

#include <QDir>
#include <QJsonDocument>
#include <QTest>

#include "support/RecordingNotices.h"
#include "support/TempDir.h"

using namespace nms;
using namespace nms::test;

namespace {

const QDateTime kNoon(QDate(2026, 12, 7), QTime(12, 0), Qt::UTC);

// The lines of the file; one that does not end in LF is left out.
QList<QByteArray> Lines(const QString& path)
{
    QFile file(path);
    QList<QByteArray> lines = file.open(QIODevice::ReadOnly) ? file.readAll().split('\n') : QList<QByteArray> {""};
    lines.removeLast();
    return lines;
}

QStringList Events(const QString& path)
{
    QStringList events;
    for (const QByteArray& line : Lines(path))
        events.append(QJsonDocument::fromJson(line).object().value("event").toString());
    return events;
}

// An element as stored, for its fields.
QJsonObject Fields(const QString& key, const QString& name, const QString& role)
{
    ElementRecord record {key, name, "10.0.0.5", "255.255.255.0"};
    record.role = role;
    return ElementEventFields(record);
}

} // namespace

class TestEventLog : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void line_data();
    void line();
    void rotation_data();
    void rotation();
    void burstIsWrittenWhole();
    void failureIsReportedOnceAndTheLogGoesOn();
};

void TestEventLog::line_data()
{
    QTest::addColumn<QDateTime>("time");
    QTest::addColumn<QString>("event");
    QTest::addColumn<QJsonObject>("fields");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("milliseconds and Z; an encoder, padded name")
        << QDateTime(QDate(2026, 12, 7), QTime(23, 59, 1, 123), Qt::UTC) << "down"
        << Fields("00a0c9f81e24", " STUDIO  A   ", "1")
        << QByteArray(R"({"time":"2026-12-07T23:59:01.123Z","event":"down","ip":"10.0.0.5",)"
                      R"("mac":"00:A0:C9:F8:1E:24","name":" STUDIO  A","role":"encoder"})");
    QTest::newRow("another zone as UTC; a decoder padded with tabs and NULs")
        << QDateTime(QDate(2026, 12, 8), QTime(1, 30), Qt::OffsetFromUTC, 7200) << "up"
        << Fields("001122334455", QString("TX\t") + QChar(0), "2")
        << QByteArray(R"({"time":"2026-12-07T23:30:00.000Z","event":"up","ip":"10.0.0.5",)"
                      R"("mac":"00:11:22:33:44:55","name":"TX","role":"decoder"})");
    QJsonObject unknown = Fields("0011", "", "ENCODER");
    unknown.insert("time", "never");
    unknown.insert("event", "other");
    QTest::newRow("time and event kept; escaped; an unknown role and a short key")
        << kNoon << "a\"b\nc" << unknown
        << QByteArray(R"({"time":"2026-12-07T12:00:00.000Z","event":"a\"b\nc","ip":"10.0.0.5",)"
                      R"("mac":"","name":"","role":"unknown"})");
}

void TestEventLog::line()
{
    QFETCH(QDateTime, time);
    QFETCH(QString, event);
    QFETCH(QJsonObject, fields);
    QFETCH(QByteArray, expected);
    TempDir dir;
    RecordingNotices notices;
    EventLog log(EventLog::PathBeside(dir.database()), notices);
    QCOMPARE(log.path(), dir.file("events.jsonl"));
    log.setClock([time] { return time; });
    QVERIFY(log.append(event, fields));
    QCOMPARE(Lines(log.path()), QList<QByteArray> {expected});
    QCOMPARE(notices.count(), 0);
}

void TestEventLog::rotation_data()
{
    // Every line is 50 bytes: {"time":"2026-12-07T12:00:00.000Z","event":"eNN"} and LF.
    QTest::addColumn<qint64>("rotateAt");
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("current");
    QTest::addColumn<QStringList>("older");
    QTest::newRow("four lines a file") << qint64(200) << 9 << QStringList {"e08"}
                                       << QStringList {"e04", "e05", "e06", "e07"};
    QTest::newRow("a line longer than the limit") << qint64(10) << 3 << QStringList {"e02"} << QStringList {"e01"};
    QTest::newRow("never reached") << qint64(1000) << 2 << QStringList {"e00", "e01"} << QStringList();
}

void TestEventLog::rotation()
{
    QFETCH(qint64, rotateAt);
    QFETCH(int, count);
    QFETCH(QStringList, current);
    QFETCH(QStringList, older);
    TempDir dir;
    RecordingNotices notices;
    const QString path = dir.file("events.jsonl");
    auto event = [](int i) { return QStringLiteral("e%1").arg(i, 2, 10, QLatin1Char('0')); };
    {
        EventLog log(path, notices, rotateAt);
        log.setClock([] { return kNoon; });
        for (int i = 0; i < count - 1; ++i)
            QVERIFY(log.append(event(i)));
    }
    // The last line through a log opened afresh: what the file already holds counts as well.
    EventLog reopened(path, notices, rotateAt);
    reopened.setClock([] { return kNoon; });
    QVERIFY(reopened.append(event(count - 1)));
    QCOMPARE(Events(path), current);
    QCOMPARE(Events(path + ".1"), older);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), older.isEmpty() ? 1 : 2);
    QCOMPARE(notices.count(), 0);
}

void TestEventLog::burstIsWrittenWhole()
{
    TempDir dir;
    RecordingNotices notices;
    EventLog log(dir.file("events.jsonl"), notices);
    for (int i = 0; i < 1000; ++i)
        QVERIFY(log.append("level", {{"n", i}}));
    const QList<QByteArray> lines = Lines(log.path());
    QCOMPARE(lines.size(), 1000);
    for (int i = 0; i < 1000; ++i) {
        const QJsonObject object = QJsonDocument::fromJson(lines[i]).object();
        QCOMPARE(object.value("n").toInt(-1), i);
        QVERIFY(QDateTime::fromString(object.value("time").toString(), Qt::ISODateWithMs).isValid());
    }
}

void TestEventLog::failureIsReportedOnceAndTheLogGoesOn()
{
    TempDir dir;
    RecordingNotices notices;
    // A file where the log's folder should be: no one, root included, can write there.
    const QString blocker = dir.file("blocker");
    QVERIFY(QFile(blocker).open(QIODevice::WriteOnly));
    EventLog log(blocker + "/events.jsonl", notices);
    QVERIFY(!log.append("a"));
    QVERIFY(!log.append("b"));
    QCOMPARE(notices.count(), 1);
    QCOMPARE(notices.shown[0].title, QStringLiteral("Event log"));
    QVERIFY2(notices.shown[0].text.contains(log.path()), qPrintable(notices.shown[0].text));

    QVERIFY(QFile::remove(blocker));
    QVERIFY(log.append("c"));
    QCOMPARE(Events(log.path()), QStringList {"c"});
}

QTEST_GUILESS_MAIN(TestEventLog)
#include "tst_eventlog.moc"
