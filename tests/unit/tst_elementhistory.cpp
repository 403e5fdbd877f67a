// The history of every element seen: what it keeps, what replaces what, its order, and a
// damaged file kept aside.
#include "database/ElementHistory.h"

#include <QFile>
#include <QTest>

#include "support/RecordingNotices.h"
#include "support/TempDir.h"

using namespace nms;
using namespace nms::test;

namespace {

// Every field of its own, so that a field read into another shows.
ElementRecord Record(const QString& key, const QString& name)
{
    ElementRecord r;
    r.key = key;
    r.name = name;
    r.ip = "10.0.0." + key.right(1);
    r.mask = "255.255.255.0";
    r.gw = "10.0.0.254";
    r.remote = "10.0.1.9";
    r.input = "1";
    r.type = "0";
    r.tx = "1";
    r.role = "2";
    r.sn = "SN-" + key;
    r.att = "7";
    r.entryCount = 11;
    return r;
}

void CompareRecords(const ElementRecord& actual, const ElementRecord& expected)
{
    for (auto field : {&ElementRecord::key, &ElementRecord::name, &ElementRecord::ip, &ElementRecord::mask,
                       &ElementRecord::gw, &ElementRecord::remote, &ElementRecord::input, &ElementRecord::type,
                       &ElementRecord::tx, &ElementRecord::role, &ElementRecord::sn, &ElementRecord::att})
        QCOMPARE(actual.*field, expected.*field);
}

QStringList Keys(const QList<HistoryEntry>& entries)
{
    QStringList keys;
    for (const HistoryEntry& entry : entries)
        keys.append(entry.record.key);
    return keys;
}

const QDateTime kFirst(QDate(2026, 12, 7), QTime(8, 0, 0, 250), Qt::UTC);
const QDateTime kSecond = kFirst.addSecs(60);
const QDateTime kThird = kFirst.addSecs(120);

} // namespace

class TestElementHistory : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void rememberKeepsTheLastRecordOfEach();
    void rememberUnknownNeverReplaces();
    void damagedFileIsKeptAside_data();
    void damagedFileIsKeptAside();
    void unwritableIsReportedOnce();
};

void TestElementHistory::rememberKeepsTheLastRecordOfEach()
{
    TempDir dir;
    RecordingNotices notices;
    ElementHistory history(ElementHistory::PathBeside(dir.database()), notices);
    QCOMPARE(history.path(), dir.file("history.json"));
    QVERIFY(history.entries().isEmpty());

    QVERIFY(history.remember({Record("00000000000A", "OLD A"), Record("00000000000B", "B")}, kFirst));
    QVERIFY(history.remember({Record("00000000000C", "C")}, kThird));
    QVERIFY(history.remember({Record("00000000000A", "NEW A")}, kSecond));

    // Read afresh from the file by another instance, and by the first after the other wrote.
    ElementHistory other(history.path(), notices);
    QCOMPARE(Keys(other.entries()), (QStringList {"00000000000C", "00000000000A", "00000000000B"}));
    const std::optional<HistoryEntry> a = other.find("00000000000A");
    QVERIFY(a);
    CompareRecords(a->record, Record("00000000000A", "NEW A"));
    QCOMPARE(a->record.entryCount, 0);
    QCOMPARE(a->lastSeen, kSecond);
    QCOMPARE(other.find("00000000000B")->lastSeen, kFirst);
    QVERIFY(!other.find("00000000000D"));
    QVERIFY(other.remember({Record("00000000000B", "B")}, kThird.addMSecs(1)));
    QCOMPARE(history.entries().first().record.key, QStringLiteral("00000000000B"));
    QCOMPARE(notices.count(), 0);
}

void TestElementHistory::rememberUnknownNeverReplaces()
{
    TempDir dir;
    RecordingNotices notices;
    ElementHistory history(dir.file("history.json"), notices);
    QVERIFY(history.remember({Record("00000000000A", "SEEN")}, kSecond));
    QVERIFY(history.rememberUnknown({Record("00000000000A", "FROM NMS.INI"), Record("00000000000B", "B")}, kFirst));
    QCOMPARE(history.find("00000000000A")->record.name, QStringLiteral("SEEN"));
    QCOMPARE(history.find("00000000000A")->lastSeen, kSecond);
    QCOMPARE(history.find("00000000000B")->lastSeen, kFirst);
    QCOMPARE(Keys(ElementHistory(history.path(), notices).entries()), (QStringList {"00000000000A", "00000000000B"}));
}

void TestElementHistory::damagedFileIsKeptAside_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("not JSON") << QByteArray("{\"elements\": [");
    QTest::newRow("a list") << QByteArray("[]");
    QTest::newRow("elements not a list") << QByteArray(R"({"elements": {}})");
    QTest::newRow("an element without key")
        << QByteArray(R"({"elements": [{"lastSeen": "2026-12-07T08:00:00.000Z"}]})");
    QTest::newRow("a time that is none") << QByteArray(
        R"({"elements": [{"key": "00000000000A", "lastSeen": "soon"}]})");
    QTest::newRow("a field not text") << QByteArray(
        R"({"elements": [{"key": "00000000000A", "lastSeen": "2026-12-07T08:00:00.000Z", "ip": 5}]})");
}

void TestElementHistory::damagedFileIsKeptAside()
{
    QFETCH(QByteArray, content);
    TempDir dir;
    RecordingNotices notices;
    const QString path = dir.file("history.json");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    file.close();

    ElementHistory history(path, notices);
    QVERIFY(history.entries().isEmpty());
    QVERIFY(!history.find("00000000000A"));
    QCOMPARE(notices.count(), 1);
    QVERIFY2(notices.shown.first().text.contains(path), qPrintable(notices.shown.first().text));

    QVERIFY(history.remember({Record("00000000000B", "B")}, kFirst));
    QFile aside(path + ".damaged");
    QVERIFY(aside.open(QIODevice::ReadOnly));
    QCOMPARE(aside.readAll(), content);
    QCOMPARE(Keys(ElementHistory(path, notices).entries()), QStringList {"00000000000B"});
    QCOMPARE(notices.count(), 1);
}

void TestElementHistory::unwritableIsReportedOnce()
{
    TempDir dir;
    RecordingNotices notices;
    // A file where the history's folder should be: no one, root included, can write there.
    QVERIFY(QFile(dir.file("blocker")).open(QIODevice::WriteOnly));
    ElementHistory history(dir.file("blocker/history.json"), notices);
    QVERIFY(!history.remember({Record("00000000000A", "A")}, kFirst));
    QVERIFY(!history.rememberUnknown({Record("00000000000B", "B")}, kFirst));
    QCOMPARE(notices.count(), 1);
    QVERIFY(notices.shown.first().text.contains(history.path()));
    QVERIFY(history.entries().isEmpty());
}

QTEST_GUILESS_MAIN(TestElementHistory)
#include "tst_elementhistory.moc"
