// The rules that span the core's use cases: one operation at a time, and the element list that
// follows every change of the database without anyone asking for it.

#include <QFile>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include "database/EventLog.h"
#include "database/ProfileStore.h"
#include "support/CoreFixture.h"
#include "support/FakeEchoSweep.h"

using namespace nms;
using namespace nms::test;

namespace {

const QString kKey = QStringLiteral("0000000000A1");
const QString kOther = QStringLiteral("0000000000B2");
const QString kBusy =
    QStringLiteral("The console is waiting for Network Elements to answer.\rPlease try again when it is done.");

ConfigFields SomeConfig()
{
    ConfigFields fields;
    fields.ip = QStringLiteral("127.0.0.1");
    fields.mask = QStringLiteral("255.0.0.0");
    fields.gw = fields.remote = QStringLiteral("0.0.0.0");
    fields.name = QStringLiteral("STUDIO A");
    return fields;
}

// A receiver that takes every message at once.
class TakingTransport final : public Transport {
public:
    explicit TakingTransport(QStringList* titles) : titles_(titles) { }
    QString type() const override { return QStringLiteral("fake"); }
    void deliver(const NotifyMessage& message) override
    {
        titles_->append(message.title);
        QTimer::singleShot(0, this, [this, id = message.id] {
            Q_EMIT finished(id, {DeliveryResult::Outcome::Delivered, QString()});
        });
    }

private:
    QStringList* titles_;
};

} // namespace

class TestConsoleCore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void oneOperationAtATime_data();
    void oneOperationAtATime();
    void listFollowsTheDatabase();
    void maintenanceIsLogged();
    void monitorAlarmsReachNotifiers_data();
    void monitorAlarmsReachNotifiers();
};

void TestConsoleCore::oneOperationAtATime_data()
{
    QTest::addColumn<QString>("running"); // what waits for answers
    QTest::addColumn<QString>("attempt");
    for (const char* running : {"discovery", "manual add"}) {
        for (const char* attempt : {"discovery", "manual add", "send"})
            QTest::addRow("%s during a %s", attempt, running) << running << attempt;
    }
}

void TestConsoleCore::oneOperationAtATime()
{
    QFETCH(QString, running);
    QFETCH(QString, attempt);
    CoreOptions options;
    options.timing.discoveryMs = 60000; // nothing ends by itself during the test
    CoreFixture f(options);
    QVERIFY(f.start());
    QVERIFY(f.writeElement(kKey, StoredElement {}));
    QVERIFY(f.select(kKey));
    QVERIFY(running == QStringLiteral("discovery") ? f->startDiscovery()
                                                   : f->startManualAdd(QStringLiteral("127.0.0.1")));
    // Its paging request has arrived; nothing more may follow.
    QTRY_COMPARE(f.element->received.size(), 1);
    f.notices.clear();

    bool started = true;
    if (attempt == QStringLiteral("discovery"))
        started = f->startDiscovery();
    else if (attempt == QStringLiteral("manual add"))
        started = f->startManualAdd(QStringLiteral("127.0.0.1"));
    else
        started = f->sendConfig(SomeConfig());
    QVERIFY(!started);
    QCOMPARE(f.notices.texts(), QStringList {kBusy});
    QTest::qWait(20);
    QCOMPARE(f.element->received.size(), 1);
    QVERIFY(!f->sender.replyTimerActive());

    // Once nothing waits any more, the same operation goes ahead.
    f->discovery.abort();
    f->manualAdd.abort();
    QVERIFY(!f->busy());
}

void TestConsoleCore::listFollowsTheDatabase()
{
    CoreFixture f;
    QVERIFY(f.writeElement(kKey, StoredElement {}));
    StoredElement other;
    other.name = QStringLiteral("SITE B");
    QVERIFY(f.writeElement(kOther, other));
    QSignalSpy changed(f.operator->(), &ConsoleCore::elementsChanged);
    f->Load_Config();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(f->elements().keys, (QStringList {kKey, kOther}));

    // The element shown is found again by its key and shown as stored now.
    QVERIFY(f.select(kOther));
    QVERIFY(WriteToINI(kOther, QStringLiteral("ip"), QStringLiteral("127.0.0.7"), f.database()));
    f->Load_Config();
    QCOMPARE(f->state.selected().ip, QStringLiteral("127.0.0.7"));

    // A delete lists what is left, without being asked.
    QVERIFY(f->deleteSelected());
    QCOMPARE(changed.count(), 3);
    QCOMPARE(f->elements().keys, QStringList {kKey});
    QVERIFY(!f->state.hasSelection());

    // A discovery lists nothing while it rebuilds the database, then what answered (nobody).
    f.notices.clear();
    QVERIFY(f.start());
    QVERIFY(f->startDiscovery());
    QCOMPARE(f->elements().keys, QStringList());
    QSignalSpy finished(&f->discovery, &DiscoverySession::finished);
    QVERIFY(finished.wait(5000));
    QCOMPARE(changed.count(), 5);
    QVERIFY(f->elements().fileExists);
    QCOMPARE(f->elements().keys, QStringList());
}

// An element's events are logged while it is in maintenance, marked as such, and only then.
void TestConsoleCore::maintenanceIsLogged()
{
    CoreFixture f;
    QVERIFY(f.writeElement(kKey, StoredElement {}));
    QVERIFY(f.writeElement(kOther, StoredElement {}));
    f->Load_Config();
    QString error;
    QVERIFY2(f->notify.states().startMaintenance(f->store.read(kKey), 60 * 1000, QString(), &error), qPrintable(error));
    for (const QString& key : {kOther, kKey}) {
        QVERIFY(f.select(key));
        QVERIFY(f->deleteSelected());
    }
    QFile log(EventLog::PathBeside(f.database()));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QStringList marked;
    while (!log.atEnd()) {
        const QJsonObject line = QJsonDocument::fromJson(log.readLine()).object();
        if (line.value(QLatin1String("event")) == QLatin1String("element-deleted"))
            marked.append(line.value(QLatin1String("maintenance")).toBool() ? QStringLiteral("maintenance")
                                                                            : QStringLiteral("plain"));
    }
    QCOMPARE(marked, (QStringList {"plain", "maintenance"}));
}

// The monitor's events reach the notifiers; an alarm left open by a run before is not repeated,
// and the return of its element, which no run saw, is told.
void TestConsoleCore::monitorAlarmsReachNotifiers_data()
{
    QTest::addColumn<bool>("restart");
    QTest::newRow("back while watched") << false;
    QTest::newRow("back while not running") << true;
}

void TestConsoleCore::monitorAlarmsReachNotifiers()
{
    QFETCH(bool, restart);
    TempDir dir;
    FakeEchoSweep sweep;
    MonitorSettings settings;
    settings.presencePeriodMs = 20;
    settings.missesForDown = 1;
    settings.watchAudio = false;
    QStringList titles;
    CoreOptions options;
    options.databasePath = dir.database();
    options.sweep = &sweep;
    options.watch = settings;
    options.transportFactory = [&titles](const QString&, const QVariantMap&, QString*) {
        return std::make_unique<TakingTransport>(&titles);
    };
    NotifierRules rules;
    rules.name = QStringLiteral("pager");
    rules.batchMs = 0;
    StoredElement gone;
    gone.name = QStringLiteral("SITE RX");
    gone.ip = QStringLiteral("127.0.0.9");
    auto f = std::make_unique<CoreFixture>(options);
    QVERIFY(f->writeElement(kKey, gone));
    (*f)->notify.configure({rules});
    QVERIFY(f->start());
    QTRY_COMPARE(titles, QStringList {"DOWN: SITE RX 127.0.0.9"});
    if (restart) {
        f.reset();
        f = std::make_unique<CoreFixture>(options);
        (*f)->notify.configure({rules});
        QVERIFY(f->start());
    }
    sweep.setAnswering(gone.ip, true);
    QTRY_COMPARE(titles, (QStringList {"DOWN: SITE RX 127.0.0.9", "UP: SITE RX 127.0.0.9"}));
    QTRY_COMPARE((*f)->notify.counters(QStringLiteral("pager")).sent, 1 + int(!restart));
}

QTEST_GUILESS_MAIN(TestConsoleCore)
#include "tst_consolecore.moc"
