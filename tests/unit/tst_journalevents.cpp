// Event lines as journal entries: the priority by what the event means, one MESSAGE_ID per kind
// (distinct, 128 bits), the element's fields only where the event concerns an element.
#include "app/JournalEvents.h"

#include <QRegularExpression>
#include <QSet>
#include <QTest>

using namespace nms;

class TestJournalEvents : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void entry_data();
    void entry();
    void idsDistinct();
};

void TestJournalEvents::entry_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QList<QByteArray>>("fields");
    const QByteArray element = R"("mac":"00:11:22:33:44:55","ip":"10.0.0.5","name":"STUDIO TX","role":"encoder")";
    const QList<QByteArray> elementFields = {"ORBILANE_MAC=00:11:22:33:44:55", "ORBILANE_IP=10.0.0.5",
                                             "ORBILANE_NAME=STUDIO TX"};
    QTest::newRow("down is an error")
        << (R"({"time":"t","event":"element-down",)" + element + R"(,"misses":3})" + "\n")
        << (QList<QByteArray> {"MESSAGE=element-down: STUDIO TX [00:11:22:33:44:55] 10.0.0.5 (misses 3)", "PRIORITY=3",
                               "ORBILANE_EVENT=element-down", "MESSAGE_ID=4c2d5465ef9a4e94acfdd74c196ccaa4"}
            + elementFields);
    QTest::newRow("silence is an error")
        << (R"({"time":"t","event":"silence",)" + element + R"(,"peak_dbfs":null})")
        << (QList<QByteArray> {"MESSAGE=silence: STUDIO TX [00:11:22:33:44:55] 10.0.0.5 (peak_dbfs none)", "PRIORITY=3",
                               "ORBILANE_EVENT=silence", "MESSAGE_ID=e3ec77c90b2849c5aca000ba72aeb1ae"}
            + elementFields);
    QTest::newRow("a recovery is a notice")
        << (R"({"time":"t","event":"audio-back",)" + element + R"(,"peak_dbfs":-12.5})")
        << (QList<QByteArray> {"MESSAGE=audio-back: STUDIO TX [00:11:22:33:44:55] 10.0.0.5 (peak_dbfs -12.5)",
                               "PRIORITY=5", "ORBILANE_EVENT=audio-back", "MESSAGE_ID=82d76bb409b846d29390bfe89eababc5"}
            + elementFields);
    QTest::newRow("no element, information")
        << QByteArray(R"({"time":"t","event":"watch-reloaded","count":2,"added":1,"removed":0})")
        << QList<QByteArray> {"MESSAGE=watch-reloaded (added 1, count 2, removed 0)", "PRIORITY=6",
                              "ORBILANE_EVENT=watch-reloaded", "MESSAGE_ID=e950ea3d576f4c8890614aaf01ef01f1"};
    QTest::newRow("a kind without an id")
        << QByteArray(R"({"time":"t","event":"alarm-sent","fields":["a","b"]})")
        << QList<QByteArray> {"MESSAGE=alarm-sent (fields [\"a\",\"b\"])", "PRIORITY=6", "ORBILANE_EVENT=alarm-sent"};
    QTest::newRow("not an event") << QByteArray("{\"time\":\"t\"}") << QList<QByteArray> {};
    QTest::newRow("not JSON") << QByteArray("element-down") << QList<QByteArray> {};
}

void TestJournalEvents::entry()
{
    QFETCH(QByteArray, line);
    QFETCH(QList<QByteArray>, fields);
    QCOMPARE(JournalEntry(line), fields);
}

void TestJournalEvents::idsDistinct()
{
    const QStringList kinds = {"console-started", "console-stopped", "discovery",        "element-new",
                               "element-missing", "element-down",    "element-up",       "silence",
                               "audio-back",      "config-sent",     "config-confirmed", "config-refused",
                               "config-timeout",  "attenuation-set", "element-added",    "element-deleted",
                               "neighbour-limit", "watch-reloaded",  "acknowledged",     "maintenance-start",
                               "maintenance-end", "notify-sent",     "notify-failed"};
    QSet<QByteArray> ids;
    for (const QString& kind : kinds) {
        const QByteArray id = EventMessageId(kind);
        QVERIFY2(QRegularExpression(QStringLiteral("^[0-9a-f]{32}$")).match(QString::fromLatin1(id)).hasMatch(),
                 qPrintable(kind));
        ids.insert(id);
    }
    QCOMPARE(ids.size(), kinds.size());
}

QTEST_GUILESS_MAIN(TestJournalEvents)
#include "tst_journalevents.moc"
