// The alarm transports without a receiver: the message's JSON both ways, the settings groups each
// transport refuses, the mail and the webhook bodies built from a message.
#include "transports/NotifyMessage.h"
#include "transports/Transport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

using namespace nms;

namespace {

const QDateTime kDown(QDate(2026, 12, 8), QTime(3, 4, 5, 678), Qt::UTC);

NotifyElement Rx()
{
    return {"SITE RX", "00:11:22:33:44:55", "10.0.0.6", "decoder"};
}

NotifyMessage Down()
{
    NotifyMessage m;
    m.id = "0f3c-1";
    m.notifier = "oncall";
    m.status = "firing";
    m.event = "element-down";
    m.time = kDown;
    m.elements = {Rx()};
    m.title = "DOWN: SITE RX 10.0.0.6";
    m.text = "SITE RX (10.0.0.6, 00:11:22:33:44:55) is down.";
    return m;
}

QJsonObject Parse(const QByteArray& json)
{
    return QJsonDocument::fromJson(json).object();
}

} // namespace

class TestTransports : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void messageRoundTrip_data();
    void messageRoundTrip();
    void messageSchema();
    void messageRefused_data();
    void messageRefused();
};

void TestTransports::messageRoundTrip_data()
{
    QTest::addColumn<NotifyMessage>("message");
    QTest::newRow("one element, no since, no duration") << Down();
    NotifyMessage resolved = Down();
    resolved.status = "resolved";
    resolved.event = "element-up";
    resolved.since = kDown.addSecs(-3600);
    resolved.durationS = 0; // a recovery at once: 0 is a duration, not "none"
    resolved.text = QString::fromUtf8("Zürich \"RX\"\nback\tafter 0 s");
    QTest::newRow("resolved, zero duration, escapes and UTF-8") << resolved;
    NotifyMessage many = Down();
    many.reminder = true;
    many.durationS = 3600;
    many.elements = {Rx(), {"", "", "10.0.0.7", "unknown"}, Rx()}; // the same twice stays twice
    many.title = "3 elements down";
    QTest::newRow("reminder of three, one without name or MAC") << many;
    NotifyMessage test;
    test.id = "t";
    test.status = "test";
    test.event = "test";
    test.time = QDateTime(QDate(1999, 12, 31), QTime(23, 59, 59, 999), Qt::OffsetFromUTC, -3600);
    QTest::newRow("a test without elements, a time in another zone") << test;
}

void TestTransports::messageRoundTrip()
{
    QFETCH(NotifyMessage, message);
    const QByteArray json = QJsonDocument(message.toJson()).toJson(QJsonDocument::Compact);
    const std::optional<NotifyMessage> back = NotifyMessage::FromJson(Parse(json));
    QVERIFY(back);
    QCOMPARE(back->elements, message.elements);
    QCOMPARE(back->time, message.time);
    QVERIFY(*back == message);
    QCOMPARE(QJsonDocument(back->toJson()).toJson(QJsonDocument::Compact), json);
}

void TestTransports::messageSchema()
{
    NotifyMessage m = Down();
    QCOMPARE(QJsonDocument(m.toJson()).toJson(QJsonDocument::Compact),
             QByteArray(R"({"duration_s":null,"element":{"ip":"10.0.0.6","mac":"00:11:22:33:44:55","name":"SITE RX",)"
                        R"("role":"decoder"},"event":"element-down","id":"0f3c-1","notifier":"oncall",)"
                        R"("reminder":false,"since":null,"status":"firing","text":"SITE RX (10.0.0.6, )"
                        R"(00:11:22:33:44:55) is down.","time":"2026-12-08T03:04:05.678Z",)"
                        R"("title":"DOWN: SITE RX 10.0.0.6"})"));
    m.elements.append({"TX", "00:00:00:00:00:01", "10.0.0.5", "encoder"});
    const QJsonObject two = m.toJson();
    QCOMPARE(two.value("count").toInt(), 2);
    QCOMPARE(two.value("elements").toArray().at(1).toObject().value("name").toString(), "TX");
    QCOMPARE(two.value("element").toObject().value("name").toString(), "SITE RX");
}

void TestTransports::messageRefused_data()
{
    QTest::addColumn<QByteArray>("json");
    const QByteArray base = QJsonDocument(Down().toJson()).toJson(QJsonDocument::Compact);
    auto with = [&](const char* key, const QJsonValue& value) {
        QJsonObject o = Parse(base);
        if (value.isUndefined())
            o.remove(key);
        else
            o.insert(key, value);
        return QJsonDocument(o).toJson(QJsonDocument::Compact);
    };
    QTest::newRow("not an object") << QByteArray("[1]");
    QTest::newRow("no id") << with("id", QJsonValue::Undefined);
    QTest::newRow("status unknown") << with("status", "ok");
    QTest::newRow("status in capitals") << with("status", "FIRING");
    QTest::newRow("no event") << with("event", "");
    QTest::newRow("no time") << with("time", QJsonValue::Undefined);
    QTest::newRow("time malformed") << with("time", "2026-13-08T00:00:00Z");
    QTest::newRow("since malformed") << with("since", "yesterday");
    QTest::newRow("negative duration") << with("duration_s", -1);
    QTest::newRow("fractional duration") << with("duration_s", 1.5);
    QTest::newRow("reminder as text") << with("reminder", "true");
    QTest::newRow("title a number") << with("title", 3);
    QTest::newRow("element name a number") << with("element", QJsonObject {{"name", 1}});
    QTest::newRow("elements not a list") << with("elements", QJsonObject());
    QTest::newRow("elements holding a string") << with("elements", QJsonArray {"SITE RX"});
}

void TestTransports::messageRefused()
{
    QFETCH(QByteArray, json);
    QVERIFY(!NotifyMessage::FromJson(Parse(json)));
}

QTEST_GUILESS_MAIN(TestTransports)
#include "tst_transports.moc"
