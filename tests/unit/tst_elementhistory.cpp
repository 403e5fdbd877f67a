// The history of every element seen: what it keeps, what replaces what, its order, and a damaged
// file.
#include "database/ElementHistory.h"

#include <QFile>
#include <QTest>

#include "support/RecordingNotices.h"
#include "support/TempDir.h"

using namespace nms;
using namespace nms::test;

namespace {

const QList<QString ElementRecord::*> kTexts {&ElementRecord::name, &ElementRecord::ip,     &ElementRecord::mask,
                                              &ElementRecord::gw,   &ElementRecord::remote, &ElementRecord::input,
                                              &ElementRecord::type, &ElementRecord::tx,     &ElementRecord::role,
                                              &ElementRecord::sn,   &ElementRecord::att};

// Every field of its own, so that a field read into another shows.
ElementRecord Record(const QString& key, const QString& tag)
{
    ElementRecord record {key};
    for (int i = 0; i < kTexts.size(); ++i)
        record.*kTexts[i] = QStringLiteral("%1.%2").arg(tag).arg(i);
    record.entryCount = 11;
    return record;
}

QStringList Keys(const ElementHistory& history)
{
    QStringList keys;
    for (const HistoryEntry& entry : history.entries())
        keys.append(entry.record.key);
    return keys;
}

const QDateTime kFirst(QDate(2026, 12, 7), QTime(8, 0, 0, 250), Qt::UTC);
const QString kA = "00000000000A", kB = "00000000000B", kC = "00000000000C", kD = "00000000000D";

} // namespace

class TestElementHistory : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void rememberKeepsTheLastRecordOfEach();
    void damagedFileIsKeptAside_data();
    void damagedFileIsKeptAside();
};

void TestElementHistory::rememberKeepsTheLastRecordOfEach()
{
    TempDir dir;
    RecordingNotices notices;
    ElementHistory history(ElementHistory::PathBeside(dir.database()), notices);
    QCOMPARE(history.path(), dir.file("history.json"));
    QVERIFY(history.entries().isEmpty());
    QVERIFY(history.remember({Record(kA, "old"), Record(kB, "b")}, kFirst));
    QVERIFY(history.remember({Record(kC, "c")}, kFirst.addSecs(120)));
    QVERIFY(history.remember({Record(kA, "new")}, kFirst.addSecs(60)));

    // Read from the file by another instance; the first sees what the other writes.
    ElementHistory other(history.path(), notices);
    QCOMPARE(Keys(other), (QStringList {kC, kA, kB}));
    const HistoryEntry a = other.find(kA).value();
    for (auto field : kTexts)
        QCOMPARE(a.record.*field, Record(kA, "new").*field);
    QCOMPARE(a.record.entryCount, 0);
    QCOMPARE(a.lastSeen, kFirst.addSecs(60));
    QVERIFY(!other.find(kD));
    QVERIFY(other.remember({Record(kB, "b")}, kFirst.addSecs(121)));
    QCOMPARE(Keys(history), (QStringList {kB, kC, kA}));

    // What the database held before a rebuild: only the element not known yet is taken.
    QVERIFY(history.rememberUnknown({Record(kA, "from nms.ini"), Record(kD, "d")}, kFirst));
    QCOMPARE(history.find(kA)->record.name, QStringLiteral("new.0"));
    QCOMPARE(Keys(ElementHistory(history.path(), notices)), (QStringList {kB, kC, kA, kD}));
    QCOMPARE(notices.count(), 0);
}

void TestElementHistory::damagedFileIsKeptAside_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("not JSON") << QByteArray("{\"elements\": [");
    QTest::newRow("a list") << QByteArray("[]");
    QTest::newRow("no time") << QByteArray(R"({"elements": [{"key": "00000000000A", "lastSeen": "soon"}]})");
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
    QVERIFY(!history.find(kA));
    QCOMPARE(notices.count(), 1);
    QVERIFY2(notices.shown[0].text.contains(path), qPrintable(notices.shown[0].text));
    QVERIFY(history.remember({Record(kB, "b")}, kFirst));
    QFile aside(path + ".damaged");
    QVERIFY(aside.open(QIODevice::ReadOnly));
    QCOMPARE(aside.readAll(), content);
    QCOMPARE(Keys(ElementHistory(path, notices)), QStringList {kB});
    QCOMPARE(notices.count(), 1);
}

QTEST_GUILESS_MAIN(TestElementHistory)
#include "tst_elementhistory.moc"
