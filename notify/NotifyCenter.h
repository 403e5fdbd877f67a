#pragma once
// The notifiers' rules: which event goes to which notifier, and when. Alarms that come close
// together make one message per notifier; a lasting alarm is repeated as a reminder until it is
// acknowledged or ends; its recovery goes to every notifier that got it; an element that flaps
// gets one message until it settles; an element in maintenance sends nothing. Every message goes
// through the outbox, one at a time per notifier, so that a receiver that hangs or is down holds
// up nothing but its own queue, and nothing is lost.

#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QSet>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "notify/AlarmStates.h"
#include "notify/NotifySettings.h"
#include "notify/Outbox.h"
#include "transports/Transport.h"

class QTimer;

namespace nms {

class EventLog;
class Notices;

// Makes the transport of a settings group, as MakeTransport does; tests give their own.
using TransportFactory =
    std::function<std::unique_ptr<Transport>(const QString& name, const QVariantMap& group, QString* error)>;

struct NotifyTiming {
    int tickMs = 5000; // reminders, the end of flapping and of maintenance are looked at this often
    int pollMs = 2000; // alarms.json is looked at this often for what another program wrote
    qint64 firstRetryMs = 10 * 1000; // a delivery not taken is tried again after this, then twice as long
    qint64 longestRetryMs = 60 * 60 * 1000; // ... up to this
    qint64 giveUpMs = 24 * 60 * 60 * 1000; // a message not delivered after this long is given up
};

struct NotifierCounters {
    qint64 sent = 0; // messages delivered
    qint64 failed = 0; // notify-failed events: attempts not taken, messages refused or given up
};

class NotifyCenter : public QObject {
    Q_OBJECT
public:
    NotifyCenter(const QString& databasePath, EventLog& log, Notices& notices, TransportFactory factory,
                 NotifyTiming timing = {}, QObject* parent = nullptr);
    ~NotifyCenter() override;

    // The wall clock (ms since the epoch), for tests; the acknowledgements' clock as well.
    void setClock(std::function<qint64()> clock);

    // The notifiers of the settings file; the groups refused are told in one notice.
    void loadSettings(const QString& path);
    // These notifiers, each with its transport made by the factory; a group whose transport
    // cannot be made joins `refused`, and every refusal is told in one notice.
    void configure(const QList<NotifierRules>& rules, QStringList refused = {});
    QStringList notifiers() const;
    // "[notify.NAME] reason" of every group not used.
    const QStringList& refused() const { return refused_; }

    // The outbox is read (what a previous run left is sent again) and the rules start.
    void start();
    // Timers stop; what is not delivered stays in the outbox for the next start.
    void stop();
    bool running() const { return running_; }

    // An event of the monitor or the core, for the element it concerns.
    void take(const QString& event, const ElementRecord& element, const QJsonObject& fields = {});

    // Whether the element's lasting alarm of that event is open (sent, and not recovered yet),
    // also one that a previous run left open: the core then tells of a return it did not see.
    bool alarmOpen(const QString& key, const QString& event) const;
    bool anyAlarmOpen() const { return !active_.isEmpty(); }

    AlarmStates& states() { return states_; }
    const Outbox& outbox() const { return outbox_; }
    NotifierCounters counters(const QString& notifier) const;

    // One test message through the notifier of that name, or every one, outside the outbox;
    // tested() follows for each. The number started (0: no such notifier).
    int sendTests(const QString& name = {});

    // What the periodic timer does: reminders, the end of flapping and of maintenance, messages
    // of notifiers no longer configured given up. Public for tests.
    void tick();
    // Every notifier's batch made into messages now instead of at the end of its period.
    void flush();

Q_SIGNALS:
    void tested(const QString& notifier, const nms::DeliveryResult& result);

private:
    struct Item {
        enum class Kind { Alarm, Reminder, Recovery, Flapping, Once };
        Item(Kind kind, QString event, ElementRecord element, qint64 timeMs, qint64 sinceMs = -1,
             qint64 durationMs = -1, QString detail = {})
            : kind(kind),
              event(std::move(event)),
              element(std::move(element)),
              timeMs(timeMs),
              sinceMs(sinceMs),
              durationMs(durationMs),
              detail(std::move(detail))
        {
        }
        Kind kind;
        QString event;
        ElementRecord element;
        qint64 timeMs;
        qint64 sinceMs = -1;
        qint64 durationMs = -1;
        QString detail; // the fields a configuration was refused for
    };
    struct Sent {
        qint64 atMs; // when the alarm or its last reminder was sent
        QString event;
        ElementRecord element;
    };
    struct Flap {
        std::deque<qint64> changes;
        bool flapping = false;
        qint64 lastChangeMs = 0;
    };
    struct Notifier {
        NotifierRules rules;
        std::unique_ptr<Transport> transport;
        QTimer* batch = nullptr;
        QElapsedTimer batchAge; // since the first item of the batch
        QTimer* retry = nullptr;
        QList<Item> pending;
        QHash<QString, Sent> notified; // the elements whose alarm it got
        QHash<QString, Flap> flaps;
        QString inFlight;
    };
    struct Alarm {
        QString event;
        qint64 sinceMs;
        ElementRecord element;
    };
    enum class Change { Steady, Started, Flapping };

    qint64 now() const { return clock_(); }
    Change registerChange(Notifier& notifier, const QString& key, qint64 at);
    bool flapping(const Notifier& notifier, const QString& key) const;
    void queue(Notifier& notifier, Item item);
    void flush(Notifier& notifier);
    NotifyMessage compose(const Notifier& notifier, Item::Kind kind, const QString& event, const QList<Item>& items);
    void enqueue(Notifier& notifier, const NotifyMessage& message);
    void pump(Notifier& notifier);
    void finished(Notifier& notifier, const QString& id, const DeliveryResult& result);
    void failed(const QString& notifier, const NotifyMessage& message, const QString& reason, int attempt,
                QJsonObject more = {});
    Notifier* find(const QString& name);
    // The open alarms and who got them, kept in notified.json beside the database, so that a
    // restart neither repeats an alarm nor forgets whom to tell of its recovery.
    void remember();
    void saveState();
    void loadState();

    EventLog& log_;
    Notices& notices_;
    TransportFactory factory_;
    NotifyTiming timing_;
    std::function<qint64()> clock_;
    AlarmStates states_;
    Outbox outbox_;
    QTimer* tick_;
    QString statePath_;
    QTimer* save_;
    std::vector<std::unique_ptr<Notifier>> notifiers_;
    QHash<QString, NotifierCounters> counters_;
    QHash<QString, Alarm> active_; // the lasting alarms now, by element key
    QStringList refused_;
    QSet<QString> tests_; // ids of test messages under way
    bool running_ = false;
    bool writeFailureTold_ = false;
};

} // namespace nms
