// The notifiers' rules on fake transports and a clock the test turns: batching, reminders and
// acknowledgement, recovery routing, flapping, maintenance, the outbox across a restart, and the
// settings groups that are refused.

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>
#include <QtTest>

#include "database/EventLog.h"
#include "notify/NotifyCenter.h"
#include "support/RecordingNotices.h"
#include "support/TempDir.h"

using namespace nms;
using namespace nms::test;

namespace {

constexpr qint64 kMinute = 60 * 1000;
constexpr qint64 kStart = 1'800'000'000'000; // a fixed wall clock

// What one notifier's receiver got, and how it answers.
struct Receiver {
    QList<NotifyMessage> messages;
    DeliveryResult::Outcome outcome = DeliveryResult::Outcome::Delivered;
    QStringList titles() const
    {
        QStringList result;
        for (const NotifyMessage& message : messages)
            result.append(message.title);
        return result;
    }
};

class FakeTransport final : public Transport {
public:
    explicit FakeTransport(std::shared_ptr<Receiver> receiver) : receiver_(std::move(receiver)) { }
    QString type() const override { return QStringLiteral("fake"); }
    void deliver(const NotifyMessage& message) override
    {
        receiver_->messages.append(message);
        const DeliveryResult result {receiver_->outcome,
                                     QStringLiteral("receiver said %1").arg(int(receiver_->outcome))};
        QTimer::singleShot(0, this, [this, id = message.id, result] { Q_EMIT finished(id, result); });
    }

private:
    std::shared_ptr<Receiver> receiver_;
};

ElementRecord Element(int n)
{
    ElementRecord record;
    record.key = QStringLiteral("0200000000%1").arg(n, 2, 10, QLatin1Char('0'));
    record.name = QStringLiteral("SITE %1").arg(n).leftJustified(16);
    record.ip = QStringLiteral("127.0.0.%1").arg(n);
    record.role = QStringLiteral("2");
    return record;
}

NotifierRules Rules(const QString& name, const QStringList& events = {}, const QStringList& elements = {})
{
    NotifierRules rules;
    rules.name = name;
    rules.type = QStringLiteral("fake");
    if (!events.isEmpty())
        rules.events = events;
    rules.elements = elements;
    rules.batchMs = 60 * 60 * 1000; // the test flushes
    return rules;
}

// An engine on a private folder, its receivers by notifier name, and the clock.
struct Rig {
    explicit Rig(const QString& folder = {}) : path(folder.isEmpty() ? dir.database() : folder + "/nms.ini")
    {
        log = std::make_unique<EventLog>(EventLog::PathBeside(path), notices);
        center = std::make_unique<NotifyCenter>(
            path, *log, notices,
            [this](const QString& name, const QVariantMap& group, QString* error) -> std::unique_ptr<Transport> {
                if (group.value(QStringLiteral("type")).toString() != u"fake") {
                    *error = QStringLiteral("unknown type '%1'").arg(group.value(QStringLiteral("type")).toString());
                    return nullptr;
                }
                auto& receiver = receivers[name];
                if (!receiver)
                    receiver = std::make_shared<Receiver>();
                return std::make_unique<FakeTransport>(receiver);
            },
            NotifyTiming {60 * 60 * 1000, 0, 10 * 1000, 60 * 60 * 1000, 24 * 60 * 60 * 1000});
        center->setClock([this] { return now; });
    }
    void configure(QList<NotifierRules> rules)
    {
        for (NotifierRules& each : rules)
            each.group.insert(QStringLiteral("type"), each.type);
        center->configure(rules);
        center->start();
    }
    // "element-down 1": the event for element 1.
    void take(const QString& step)
    {
        center->take(step.section(u' ', 0, 0), Element(step.section(u' ', 1, 1).toInt()));
    }
    Receiver& at(const QString& name) { return *receivers[name]; }
    QStringList logged(const QString& event) const
    {
        QStringList lines;
        QFile file(EventLog::PathBeside(path));
        if (file.open(QIODevice::ReadOnly)) {
            while (!file.atEnd()) {
                const QByteArray line = file.readLine().trimmed();
                if (QJsonDocument::fromJson(line).object().value(QLatin1String("event")).toString() == event)
                    lines.append(QString::fromUtf8(line));
            }
        }
        return lines;
    }

    TempDir dir;
    QString path;
    qint64 now = kStart;
    RecordingNotices notices;
    std::unique_ptr<EventLog> log;
    QHash<QString, std::shared_ptr<Receiver>> receivers;
    std::unique_ptr<NotifyCenter> center;
};

} // namespace

class TestNotifyCenter : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void batching_data();
    void batching();
    void batchWaitsWhileAlarmsKeepComing();
    void reminders_data();
    void reminders();
    void recoveryRouting_data();
    void recoveryRouting();
    void flapping_data();
    void flapping();
    void maintenance_data();
    void maintenance();
    void outboxBound_data();
    void outboxBound();
    void outboxSurvivesRestart();
    void alarmsSurviveRestart();
    void givingUp_data();
    void givingUp();
    void refusedSettings_data();
    void refusedSettings();
};

void TestNotifyCenter::batching_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("titles");
    QTest::addColumn<QList<int>>("counts");
    QTest::newRow("one element") << QStringList {"element-down 1"} << QStringList {"DOWN: SITE 1 127.0.0.1"}
                                 << QList<int> {1};
    QTest::newRow("three elements") << QStringList {"element-down 1", "element-down 2", "element-down 3"}
                                    << QStringList {"3 elements down"} << QList<int> {3};
    QTest::newRow("one element twice") << QStringList {"element-down 1", "element-down 1"}
                                       << QStringList {"DOWN: SITE 1 127.0.0.1"} << QList<int> {1};
    QTest::newRow("twice among others") << QStringList {"element-down 1", "element-down 2", "element-down 1"}
                                        << QStringList {"2 elements down"} << QList<int> {2};
    QTest::newRow("down, up and down again") << QStringList {"element-down 1", "element-up 1", "element-down 1"}
                                             << QStringList {"DOWN: SITE 1 127.0.0.1"} << QList<int> {1};
    QTest::newRow("a blip nobody heard of")
        << QStringList {"element-down 1", "element-up 1"} << QStringList {} << QList<int> {};
    QTest::newRow("down and silent apart")
        << QStringList {"element-down 1", "silence 2", "element-down 3"}
        << QStringList {"SILENT: SITE 2 127.0.0.2", "2 elements down"} << QList<int> {1, 2};
}

void TestNotifyCenter::batching()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, titles);
    QFETCH(QList<int>, counts);
    Rig rig;
    rig.configure({Rules(QStringLiteral("pager"))});
    for (const QString& step : steps)
        rig.take(step);
    rig.center->flush();
    QTRY_COMPARE(rig.at(QStringLiteral("pager")).titles(), titles);
    for (int i = 0; i < counts.size(); ++i) {
        const NotifyMessage& message = rig.at(QStringLiteral("pager")).messages.at(i);
        QCOMPARE(message.elements.size(), counts.at(i));
        QCOMPARE(message.status, QStringLiteral("firing"));
        // One line, or the title and a line for each element.
        QCOMPARE(message.text.split(u'\n').size(), counts.at(i) == 1 ? 1 : counts.at(i) + 1);
    }
}

// The monitor spreads its probes over its period, so a site that drops at once is told over
// seconds: alarms closer to each other than batch_ms still make one message.
void TestNotifyCenter::batchWaitsWhileAlarmsKeepComing()
{
    Rig rig;
    NotifierRules rules = Rules(QStringLiteral("pager"));
    rules.batchMs = 400;
    rig.configure({rules});
    QElapsedTimer spread;
    spread.start();
    for (int element = 1; element <= 8; ++element) {
        rig.take(QStringLiteral("element-down %1").arg(element));
        QTest::qWait(60);
    }
    QVERIFY(spread.elapsed() > rules.batchMs);
    QTRY_COMPARE(rig.at(QStringLiteral("pager")).titles(), QStringList {"8 elements down"});
}

void TestNotifyCenter::reminders_data()
{
    QTest::addColumn<qint64>("repeatMs");
    QTest::addColumn<bool>("acknowledged");
    QTest::addColumn<qint64>("elapsedMs");
    QTest::addColumn<QString>("reminder"); // its text's end; empty: none
    QTest::newRow("after an hour") << 60 * kMinute << false << 60 * kMinute << "still down for 1 h 0 min";
    QTest::newRow("just before") << 60 * kMinute << false << 60 * kMinute - 1 << "";
    QTest::newRow("acknowledged") << 60 * kMinute << true << 60 * kMinute << "";
    QTest::newRow("never repeated") << qint64(0) << false << 24 * 60 * kMinute << "";
    QTest::newRow("two days") << 2 * 24 * 60 * kMinute << false << 2 * 24 * 60 * kMinute + 3 * kMinute
                              << "still down for 2 d 0 h";
}

void TestNotifyCenter::reminders()
{
    QFETCH(qint64, repeatMs);
    QFETCH(bool, acknowledged);
    QFETCH(qint64, elapsedMs);
    QFETCH(QString, reminder);
    Rig rig;
    NotifierRules rules = Rules(QStringLiteral("pager"));
    rules.repeatMs = repeatMs;
    rig.configure({rules});
    Receiver& pager = rig.at(QStringLiteral("pager"));
    rig.take(QStringLiteral("element-down 1"));
    rig.center->flush();
    QCOMPARE(pager.messages.size(), 1);
    QString error;
    if (acknowledged)
        QVERIFY2(rig.center->states().acknowledge(Element(1), QStringLiteral("on my way"), &error), qPrintable(error));
    rig.now += elapsedMs;
    rig.center->tick();
    // Something else to wait for, in the same batch as a reminder would be.
    rig.take(QStringLiteral("element-down 2"));
    rig.center->flush();
    QTRY_COMPARE(pager.messages.last().title, QStringLiteral("DOWN: SITE 2 127.0.0.2"));
    const bool reminded = pager.messages.size() == 3;
    QCOMPARE(reminded, !reminder.isEmpty());
    if (reminded) {
        const NotifyMessage& again = pager.messages.at(1);
        QVERIFY(again.reminder);
        QCOMPARE(again.title, QStringLiteral("STILL DOWN: SITE 1 127.0.0.1"));
        QVERIFY2(again.text.contains(reminder), qPrintable(again.text));
        QCOMPARE(again.durationS, elapsedMs / 1000);
    }
}

void TestNotifyCenter::recoveryRouting_data()
{
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QStringList>("elements");
    QTest::addColumn<QString>("alarm");
    QTest::addColumn<QStringList>("titles");
    const QStringList downOnly {"element-down"};
    QTest::newRow("got the alarm, no recoveries asked")
        << downOnly << QStringList {} << "element-down 1"
        << QStringList {"DOWN: SITE 1 127.0.0.1", "UP: SITE 1 127.0.0.1"};
    QTest::newRow("not its element") << QStringList {} << QStringList {"SITE 2"} << "element-down 1" << QStringList {};
    QTest::newRow("its element by MAC") << downOnly << QStringList {"02-00-00-00-00-01"} << "element-down 1"
                                        << QStringList {"DOWN: SITE 1 127.0.0.1", "UP: SITE 1 127.0.0.1"};
    QTest::newRow("silence only, element down")
        << QStringList {"silence"} << QStringList {} << "element-down 1" << QStringList {};
    QTest::newRow("audio back after silence")
        << QStringList {"silence"} << QStringList {"127.0.0.1"} << "silence 1"
        << QStringList {"SILENT: SITE 1 127.0.0.1", "AUDIO BACK: SITE 1 127.0.0.1"};
    QTest::newRow("recoveries only") << QStringList {"element-up"} << QStringList {} << "element-down 1"
                                     << QStringList {"UP: SITE 1 127.0.0.1"};
}

void TestNotifyCenter::recoveryRouting()
{
    QFETCH(QStringList, events);
    QFETCH(QStringList, elements);
    QFETCH(QString, alarm);
    QFETCH(QStringList, titles);
    Rig rig;
    rig.configure({Rules(QStringLiteral("pager"), events, elements), Rules(QStringLiteral("all"))});
    rig.take(alarm);
    rig.center->flush();
    rig.now += 5 * kMinute + 3000;
    rig.take(alarm.startsWith(u"silence") ? QStringLiteral("audio-back 1") : QStringLiteral("element-up 1"));
    rig.center->flush();
    // The notifier that takes everything got both: the other's batches were flushed with it.
    QTRY_COMPARE(rig.at(QStringLiteral("all")).messages.size(), 2);
    QCOMPARE(rig.at(QStringLiteral("pager")).titles(), titles);
    const NotifyMessage recovery = rig.at(QStringLiteral("all")).messages.last();
    QCOMPARE(recovery.status, QStringLiteral("resolved"));
    QCOMPARE(recovery.durationS, 5 * 60 + 3);
    QVERIFY2(recovery.text.endsWith(QStringLiteral("after 5 min 3 s.")), qPrintable(recovery.text));
}

void TestNotifyCenter::flapping_data()
{
    QTest::addColumn<QStringList>("steps"); // element 1: d down, u up
    QTest::addColumn<qint64>("heldMs");
    QTest::addColumn<QStringList>("titles");
    const QString down = QStringLiteral("DOWN: SITE 1 127.0.0.1"), up = QStringLiteral("UP: SITE 1 127.0.0.1"),
                  flap = QStringLiteral("FLAPPING: SITE 1 127.0.0.1");
    QTest::newRow("three changes are no flapping")
        << QStringList {"d", "u", "d"} << qint64(0) << QStringList {down, up, down};
    QTest::newRow("the fourth is") << QStringList {"d", "u", "d", "u", "d", "u"} << qint64(0)
                                   << QStringList {down, up, down, flap};
    QTest::newRow("settles up") << QStringList {"d", "u", "d", "u", "d", "u"} << 10 * kMinute
                                << QStringList {down, up, down, flap, up};
    QTest::newRow("settles down, as last told")
        << QStringList {"d", "u", "d", "u", "d"} << 10 * kMinute << QStringList {down, up, down, flap};
    QTest::newRow("not held long enough")
        << QStringList {"d", "u", "d", "u", "d", "u"} << 10 * kMinute - 1 << QStringList {down, up, down, flap};
}

void TestNotifyCenter::flapping()
{
    QFETCH(QStringList, steps);
    QFETCH(qint64, heldMs);
    QFETCH(QStringList, titles);
    Rig rig;
    NotifierRules rules = Rules(QStringLiteral("pager"));
    rules.flapChanges = 3;
    rules.flapWindowMs = 10 * kMinute;
    rig.configure({rules});
    for (const QString& step : steps) {
        rig.now += 1000;
        rig.take(step == u"d" ? QStringLiteral("element-down 1") : QStringLiteral("element-up 1"));
        rig.center->flush();
    }
    rig.now += heldMs;
    rig.center->tick();
    rig.center->flush();
    // A change of another element to wait for: each message is delivered after the one before.
    rig.take(QStringLiteral("element-down 2"));
    rig.center->flush();
    titles.append(QStringLiteral("DOWN: SITE 2 127.0.0.2"));
    QTRY_COMPARE(rig.at(QStringLiteral("pager")).titles(), titles);
    // The event log is the monitor's to write; the flapping only quiets the notifier.
}

void TestNotifyCenter::maintenance_data()
{
    QTest::addColumn<QStringList>("steps"); // events of element 1, "end" ends its maintenance
    QTest::addColumn<QStringList>("titles");
    QTest::newRow("nothing while in maintenance") << QStringList {"element-down 1", "element-up 1"} << QStringList {};
    QTest::newRow("still down when it ends")
        << QStringList {"element-down 1", "end"} << QStringList {"DOWN: SITE 1 127.0.0.1"};
    QTest::newRow("recovered before it ends")
        << QStringList {"element-down 1", "element-up 1", "end"} << QStringList {};
    QTest::newRow("an alarm before it, no recovery in it")
        << QStringList {"end", "element-down 1", "start", "element-up 1", "end"}
        << QStringList {"DOWN: SITE 1 127.0.0.1"};
    QTest::newRow("once events too") << QStringList {"config-timeout 1"} << QStringList {};
}

void TestNotifyCenter::maintenance()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, titles);
    Rig rig;
    rig.configure({Rules(QStringLiteral("pager"), NotifyEventNames())});
    QString error;
    QVERIFY2(rig.center->states().startMaintenance(Element(1), 60 * kMinute, QStringLiteral("new cable"), &error),
             qPrintable(error));
    for (const QString& step : steps) {
        rig.now += 1000;
        if (step == u"end")
            QVERIFY(rig.center->states().endMaintenance(Element(1), QString(), &error));
        else if (step == u"start")
            QVERIFY(rig.center->states().startMaintenance(Element(1), kMinute, QString(), &error));
        else
            rig.take(step);
        rig.center->tick();
        rig.center->flush();
    }
    rig.take(QStringLiteral("element-missing 2"));
    rig.center->flush();
    titles.append(QStringLiteral("MISSING: SITE 2 127.0.0.2"));
    QTRY_COMPARE(rig.at(QStringLiteral("pager")).titles(), titles);
    QCOMPARE(rig.logged(QStringLiteral("maintenance-start")).size(), 1 + steps.count(QStringLiteral("start")));
    QVERIFY(rig.logged(QStringLiteral("maintenance-start")).first().contains(QStringLiteral("\"new cable\"")));
}

void TestNotifyCenter::outboxBound_data()
{
    // F a first alarm, R a reminder, U a recovery, each numbered in the order added.
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<QStringList>("kept");
    QTest::addColumn<QStringList>("evicted");
    QTest::addColumn<QString>("busy"); // under way
    QTest::newRow("room for all") << QStringList {"F1", "R2", "U3"} << QStringList {"F1", "R2", "U3"} << QStringList {}
                                  << "";
    QTest::newRow("oldest reminder goes")
        << QStringList {"R1", "F2", "R3", "U4"} << QStringList {"F2", "R3", "U4"} << QStringList {"R1"} << "";
    QTest::newRow("not the one under way")
        << QStringList {"R1", "F2", "R3", "U4"} << QStringList {"R1", "F2", "U4"} << QStringList {"R3"} << "R1";
    QTest::newRow("a reminder for a reminder")
        << QStringList {"F1", "R2", "R3", "R4"} << QStringList {"F1", "R3", "R4"} << QStringList {"R2"} << "";
    QTest::newRow("no reminder to replace")
        << QStringList {"F1", "U2", "F3", "R4"} << QStringList {"F1", "U2", "F3"} << QStringList {"R4"} << "";
    QTest::newRow("firsts and recoveries stay") << QStringList {"F1", "U2", "F3", "F4", "U5"}
                                                << QStringList {"F1", "U2", "F3", "F4", "U5"} << QStringList {} << "";
}

void TestNotifyCenter::outboxBound()
{
    QFETCH(QStringList, added);
    QFETCH(QStringList, kept);
    QFETCH(QStringList, evicted);
    QFETCH(QString, busy);
    TempDir dir;
    Outbox outbox(dir.file(QStringLiteral("outbox.jsonl")), 3);
    QVERIFY(outbox.load(nullptr));
    QStringList gone;
    for (const QString& id : added) {
        NotifyMessage message;
        message.id = id;
        message.notifier = QStringLiteral("pager");
        message.status = id.startsWith(u'U') ? QStringLiteral("resolved") : QStringLiteral("firing");
        message.reminder = id.startsWith(u'R');
        message.event = QStringLiteral("element-down");
        message.time = QDateTime::fromMSecsSinceEpoch(kStart, Qt::UTC);
        QList<OutboxEntry> out;
        if (!outbox.add({message, 0, 0, 0}, &out, nullptr, [&](const QString& id) { return id == busy; }))
            gone.append(id);
        for (const OutboxEntry& entry : out)
            gone.append(entry.message.id);
    }
    QCOMPARE(outbox.ids(), kept);
    QCOMPARE(gone, evicted);
    QCOMPARE(outbox.head(QStringLiteral("pager"))->message.id, kept.first());
    // What is on disk is what is kept, in order.
    Outbox reread(outbox.path(), 3);
    QVERIFY(reread.load(nullptr));
    QCOMPARE(reread.ids(), kept);
}

void TestNotifyCenter::outboxSurvivesRestart()
{
    TempDir dir;
    QStringList titles;
    {
        Rig first(dir.path());
        first.configure({Rules(QStringLiteral("pager"))});
        first.at(QStringLiteral("pager")).outcome = DeliveryResult::Outcome::Retry;
        first.take(QStringLiteral("element-down 1"));
        first.take(QStringLiteral("silence 2"));
        first.center->flush();
        QTRY_COMPARE(first.logged(QStringLiteral("notify-failed")).size(), 1);
        QCOMPARE(first.center->outbox().size(), 2);
        QCOMPARE(first.center->counters(QStringLiteral("pager")).failed, 1);
        titles = first.at(QStringLiteral("pager")).titles();
        // The second waits behind the first, whose retry is not due for ten seconds.
        QCOMPARE(titles, QStringList {"DOWN: SITE 1 127.0.0.1"});
        titles.append(QStringLiteral("SILENT: SITE 2 127.0.0.2"));
    }
    // A kill in the middle of a line.
    QFile file(Outbox::PathBeside(dir.database()));
    QVERIFY(file.open(QIODevice::Append));
    file.write("{\"add\":{\"id\":\"cut");
    file.close();

    Rig second(dir.path());
    second.now += 11 * 1000;
    second.configure({Rules(QStringLiteral("pager"))});
    QTRY_COMPARE(second.at(QStringLiteral("pager")).titles(), titles);
    QTRY_COMPARE(second.center->outbox().size(), 0);
    QCOMPARE(second.center->counters(QStringLiteral("pager")).sent, 2);
    const QStringList sent = second.logged(QStringLiteral("notify-sent"));
    QCOMPARE(sent.size(), 2);
    QVERIFY2(sent.first().contains(QStringLiteral("\"attempt\":2")), qPrintable(sent.first()));
    Outbox after(Outbox::PathBeside(dir.database()));
    QVERIFY(after.load(nullptr));
    QCOMPARE(after.size(), 0);
}

// An alarm sent before a restart is not sent again when it is seen again, and its recovery
// still goes to whoever got it, with how long it lasted.
void TestNotifyCenter::alarmsSurviveRestart()
{
    TempDir dir;
    {
        Rig first(dir.path());
        first.configure({Rules(QStringLiteral("pager")), Rules(QStringLiteral("later"))});
        first.take(QStringLiteral("element-down 1"));
        first.take(QStringLiteral("silence 2"));
        first.center->flush();
        QTRY_COMPARE(first.at(QStringLiteral("pager")).messages.size(), 2);
        QVERIFY(first.center->alarmOpen(Element(1).key, QStringLiteral("element-down")));
    }
    Rig second(dir.path());
    second.now += 10 * kMinute;
    // "later" is no longer configured; "new" never got the alarms.
    second.configure({Rules(QStringLiteral("pager")), Rules(QStringLiteral("new"), {"element-up"})});
    QVERIFY(second.center->alarmOpen(Element(1).key, QStringLiteral("element-down")));
    QVERIFY(second.center->alarmOpen(Element(2).key, QStringLiteral("silence")));
    second.take(QStringLiteral("element-down 1"));
    second.take(QStringLiteral("silence 2"));
    second.center->flush();
    second.take(QStringLiteral("element-up 1"));
    second.center->flush();
    QTRY_COMPARE(second.at(QStringLiteral("pager")).titles(), QStringList {"UP: SITE 1 127.0.0.1"});
    QCOMPARE(second.at(QStringLiteral("pager")).messages.first().durationS, 10 * 60);
    QCOMPARE(second.at(QStringLiteral("new")).titles(), QStringList {"UP: SITE 1 127.0.0.1"});
    QVERIFY(!second.center->alarmOpen(Element(1).key, QStringLiteral("element-down")));
}

void TestNotifyCenter::givingUp_data()
{
    QTest::addColumn<int>("outcome");
    QTest::addColumn<qint64>("ageMs");
    QTest::addColumn<QStringList>("reasons");
    QTest::addColumn<int>("left");
    QTest::newRow("refused for good") << int(DeliveryResult::Outcome::Failed) << qint64(0)
                                      << QStringList {"receiver said 2"} << 0;
    QTest::newRow("retried within the day")
        << int(DeliveryResult::Outcome::Retry) << 24 * 60 * kMinute - 1 << QStringList {"receiver said 1"} << 1;
    QTest::newRow("given up after a day")
        << int(DeliveryResult::Outcome::Retry) << 24 * 60 * kMinute << QStringList {"receiver said 1", "given up"} << 0;
}

void TestNotifyCenter::givingUp()
{
    QFETCH(int, outcome);
    QFETCH(qint64, ageMs);
    QFETCH(QStringList, reasons);
    QFETCH(int, left);
    Rig rig;
    rig.configure({Rules(QStringLiteral("pager"))});
    rig.at(QStringLiteral("pager")).outcome = DeliveryResult::Outcome(outcome);
    rig.take(QStringLiteral("element-down 1"));
    // The message was queued now and is answered ageMs later.
    rig.center->flush();
    rig.now += ageMs;
    QTRY_COMPARE(rig.logged(QStringLiteral("notify-failed")).size(), reasons.size());
    QStringList logged;
    for (const QString& line : rig.logged(QStringLiteral("notify-failed")))
        logged.append(QJsonDocument::fromJson(line.toUtf8()).object().value(QLatin1String("reason")).toString());
    QCOMPARE(logged, reasons);
    QCOMPARE(rig.center->outbox().size(), left);
}

void TestNotifyCenter::refusedSettings_data()
{
    QTest::addColumn<QString>("groups");
    QTest::addColumn<bool>("othersRead");
    QTest::addColumn<QStringList>("used");
    QTest::addColumn<QString>("refusal"); // a part of the one notice; empty: none
    const QString good = QStringLiteral("[notify.good]\ntype=fake\nevents=element-down, silence\n");
    QTest::newRow("all good") << good << false << QStringList {"good"} << "";
    QTest::newRow("unknown type") << good + "[notify.bad]\ntype=pigeon\n"
                                  << false << QStringList {"good"} << "[notify.bad] unknown type 'pigeon'";
    QTest::newRow("no type") << good + "[notify.bad]\nurl=x\n"
                             << false << QStringList {"good"} << "[notify.bad] it has no type";
    QTest::newRow("bad batch") << good + "[notify.bad]\ntype=fake\nbatch_ms=soon\n"
                               << false << QStringList {"good"} << "[notify.bad] batch_ms = 'soon' is not a number";
    QTest::newRow("bad event") << good + "[notify.bad]\ntype=fake\nevents=element-down, fire\n"
                               << false << QStringList {"good"} << "[notify.bad] events: 'fire' is none of";
    QTest::newRow("password, owner only") << good + "[notify.mail]\ntype=fake\npassword=x\n"
                                          << false << QStringList {"good", "mail"} << "";
    QTest::newRow("password others can read") << good + "[notify.mail]\ntype=fake\npassword=x\n"
                                              << true << QStringList {} << "chmod 600";
}

void TestNotifyCenter::refusedSettings()
{
    QFETCH(QString, groups);
    QFETCH(bool, othersRead);
    QFETCH(QStringList, used);
    QFETCH(QString, refusal);
    Rig rig;
    QFile file(rig.dir.file(QStringLiteral("orbilane-nms.conf")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("[monitor]\nmisses_for_down=3\n").append(groups).toUtf8());
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner
                        | (othersRead ? QFileDevice::ReadGroup | QFileDevice::ReadOther : QFileDevice::Permissions()));
    rig.center->loadSettings(file.fileName());
    QCOMPARE(rig.center->notifiers(), used);
    QCOMPARE(rig.notices.count(), refusal.isEmpty() ? 0 : 1);
    if (!refusal.isEmpty()) {
        QVERIFY2(rig.notices.texts().first().contains(refusal), qPrintable(rig.notices.texts().first()));
        // Never the password itself.
        QVERIFY(!rig.notices.texts().first().contains(QStringLiteral("password=x")));
    }
    if (used.contains(QStringLiteral("good"))) {
        rig.center->start();
        rig.take(QStringLiteral("silence 1"));
        rig.center->flush();
        QTRY_COMPARE(rig.at(QStringLiteral("good")).titles(), QStringList {"SILENT: SITE 1 127.0.0.1"});
    }
}

QTEST_GUILESS_MAIN(TestNotifyCenter)
#include "tst_notifycenter.moc"
