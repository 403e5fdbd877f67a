// The event log: its lines, the fields of an element, rotation, a burst, and a log that cannot
// be written.
#include "database/EventLog.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTest>

#include "support/RecordingNotices.h"
#include "support/TempDir.h"

using namespace nms;
using namespace nms::test;

namespace {

QByteArray Contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The "event" of every line of the file, in order.
QStringList Events(const QString& path)
{
    QStringList events;
    const QList<QByteArray> lines = Contents(path).split('\n');
    for (const QByteArray& line : lines) {
        if (!line.isEmpty())
            events.append(QJsonDocument::fromJson(line).object().value(QLatin1String("event")).toString());
    }
    return events;
}

const QDateTime kNoon(QDate(2026, 12, 7), QTime(12, 0), Qt::UTC);

} // namespace

class TestEventLog : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void line_data();
    void line();
    void elementFields_data();
    void elementFields();
    void rotation_data();
    void rotation();
    void burstIsWrittenWhole();
    void failureIsReportedOnceUntilAWriteSucceeds();
};

void TestEventLog::line_data()
{
    QTest::addColumn<QDateTime>("time");
    QTest::addColumn<QString>("event");
    QTest::addColumn<QJsonObject>("fields");
    QTest::addColumn<QByteArray>("expected");
    const QDateTime late(QDate(2026, 12, 7), QTime(23, 59, 1, 123), Qt::UTC);
    QTest::newRow("milliseconds and Z") << late << "down" << QJsonObject()
                                        << QByteArray(R"({"time":"2026-12-07T23:59:01.123Z","event":"down"})");
    QTest::newRow("a whole second keeps its milliseconds")
        << kNoon << "up" << QJsonObject() << QByteArray(R"({"time":"2026-12-07T12:00:00.000Z","event":"up"})");
    QTest::newRow("another zone is written as UTC")
        << QDateTime(QDate(2026, 12, 8), QTime(1, 30, 0, 5), Qt::OffsetFromUTC, 2 * 3600) << "up" << QJsonObject()
        << QByteArray(R"({"time":"2026-12-07T23:30:00.005Z","event":"up"})");
    QTest::newRow("fields follow time and event")
        << kNoon << "silent" << QJsonObject {{"peak", -61.5}, {"ip", "10.0.0.5"}}
        << QByteArray(R"({"time":"2026-12-07T12:00:00.000Z","event":"silent","ip":"10.0.0.5","peak":-61.5})");
    QTest::newRow("fields cannot replace time or event")
        << kNoon << "up" << QJsonObject {{"time", "never"}, {"event", "other"}}
        << QByteArray(R"({"time":"2026-12-07T12:00:00.000Z","event":"up"})");
    QTest::newRow("a line break stays inside its string")
        << kNoon << "a\"b\nc" << QJsonObject()
        << QByteArray(R"({"time":"2026-12-07T12:00:00.000Z","event":"a\"b\nc"})");
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
    QVERIFY(log.append(event, fields));
    QCOMPARE(Contents(log.path()), expected + '\n' + expected + '\n');
    QCOMPARE(notices.count(), 0);
}

void TestEventLog::elementFields_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("role");
    QTest::addColumn<QJsonObject>("expected");
    QTest::newRow("encoder, padded name")
        << "00a0c9f81e24"
        << " STUDIO  A      "
        << "1"
        << QJsonObject {{"mac", "00:A0:C9:F8:1E:24"}, {"ip", "10.0.0.5"}, {"name", " STUDIO  A"}, {"role", "encoder"}};
    QTest::newRow("decoder, name padded with tabs and NULs")
        << "001122334455" << QString("TX SITE\t") + QChar(0) + QChar(0) << "2"
        << QJsonObject {{"mac", "00:11:22:33:44:55"}, {"ip", "10.0.0.5"}, {"name", "TX SITE"}, {"role", "decoder"}};
    QTest::newRow("other number")
        << "001122334455"
        << ""
        << "3" << QJsonObject {{"mac", "00:11:22:33:44:55"}, {"ip", "10.0.0.5"}, {"name", ""}, {"role", "unknown"}};
    QTest::newRow("text role, short key")
        << "0011"
        << "X"
        << "ENCODER" << QJsonObject {{"mac", ""}, {"ip", "10.0.0.5"}, {"name", "X"}, {"role", "unknown"}};
}

void TestEventLog::elementFields()
{
    QFETCH(QString, key);
    QFETCH(QString, name);
    QFETCH(QString, role);
    QFETCH(QJsonObject, expected);
    ElementRecord record;
    record.key = key;
    record.name = name;
    record.role = role;
    record.ip = QStringLiteral("10.0.0.5");
    record.sn = QStringLiteral("not an event field");
    QCOMPARE(ElementEventFields(record), expected);
}

void TestEventLog::rotation_data()
{
    // Every line here is 50 bytes: {"time":"2026-12-07T12:00:00.000Z","event":"eNN"} and LF.
    QTest::addColumn<qint64>("rotateAt");
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("current");
    QTest::addColumn<QStringList>("older");
    QTest::newRow("four lines a file") << qint64(200) << 9 << QStringList {"e08"}
                                       << QStringList {"e04", "e05", "e06", "e07"};
    QTest::newRow("one line over") << qint64(199) << 4 << QStringList {"e03"} << QStringList {"e00", "e01", "e02"};
    QTest::newRow("a line longer than the limit") << qint64(10) << 3 << QStringList {"e02"} << QStringList {"e01"};
    QTest::newRow("never reached") << qint64(1000) << 3 << QStringList {"e00", "e01", "e02"} << QStringList();
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
        QVERIFY(log.append(QStringLiteral("level"), {{"n", i}}));
    const QList<QByteArray> lines = Contents(log.path()).split('\n');
    QCOMPARE(lines.size(), 1001);
    QVERIFY(lines.last().isEmpty());
    for (int i = 0; i < 1000; ++i) {
        QJsonParseError error;
        const QJsonObject object = QJsonDocument::fromJson(lines.at(i), &error).object();
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(object.value("n").toInt(-1), i);
        QVERIFY(QDateTime::fromString(object.value("time").toString(), Qt::ISODateWithMs).isValid());
    }
}

void TestEventLog::failureIsReportedOnceUntilAWriteSucceeds()
{
    TempDir dir;
    RecordingNotices notices;
    // A file where the log's folder should be: no one, root included, can write there.
    const QString blocker = dir.file("blocker");
    QVERIFY(QFile(blocker).open(QIODevice::WriteOnly));
    EventLog log(blocker + "/events.jsonl", notices, 1);
    QVERIFY(!log.append("a"));
    QVERIFY(!log.append("b"));
    QCOMPARE(notices.count(), 1);
    QCOMPARE(notices.shown.first().title, QStringLiteral("Event log"));
    QVERIFY2(notices.shown.first().text.contains(log.path()), qPrintable(notices.shown.first().text));

    QVERIFY(QFile::remove(blocker));
    QVERIFY(log.append("c"));
    QCOMPARE(Events(log.path()), QStringList {"c"});
    // The next line needs a rotation, and a folder in the way of .1 refuses it.
    QVERIFY(QDir().mkpath(log.path() + ".1/kept"));
    QVERIFY(!log.append("d"));
    QVERIFY(!log.append("e"));
    QCOMPARE(notices.count(), 2);
    QVERIFY2(notices.shown.last().text.contains(log.path() + ".1"), qPrintable(notices.shown.last().text));
    QCOMPARE(Events(log.path()), QStringList {"c"});
}

QTEST_GUILESS_MAIN(TestEventLog)
#include "tst_eventlog.moc"
