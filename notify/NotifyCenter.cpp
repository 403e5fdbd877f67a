#include "notify/NotifyCenter.h"

#include "base/Duration.h"

#include <QDateTime>
#include <QFile>
#include <QHostInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QTimer>
#include <QUuid>

#include <algorithm>

#include "base/Notices.h"
#include "base/Trace.h"
#include "database/DatabaseLocation.h"
#include "database/ElementRecords.h"
#include "database/EventLog.h"

namespace nms {

namespace {

const QChar CR(u'\r');
const QString kFlapping = QStringLiteral("flapping");

// The words of each event: the title's word, what several elements are ("37 elements down"), and
// what one is ("SITE RX ... is down").
struct Words {
    QString title, several, one;
};

Words EventWords(const QString& event)
{
    if (event == u"element-down")
        return {QStringLiteral("DOWN"), QStringLiteral("down"), QStringLiteral("is down")};
    if (event == u"element-up")
        return {QStringLiteral("UP"), QStringLiteral("up again"), QStringLiteral("is up again")};
    if (event == u"silence")
        return {QStringLiteral("SILENT"), QStringLiteral("silent"), QStringLiteral("is silent")};
    if (event == u"audio-back")
        return {QStringLiteral("AUDIO BACK"), QStringLiteral("with audio back"), QStringLiteral("has its audio back")};
    if (event == u"element-missing")
        return {QStringLiteral("MISSING"), QStringLiteral("missing"), QStringLiteral("did not answer the discovery")};
    if (event == u"config-refused")
        return {QStringLiteral("CONFIG REFUSED"), QStringLiteral("refused a configuration"),
                QStringLiteral("refused a configuration")};
    if (event == u"config-timeout")
        return {QStringLiteral("CONFIG TIMEOUT"), QStringLiteral("did not answer a configuration"),
                QStringLiteral("did not answer a configuration")};
    return {QStringLiteral("FLAPPING"), QStringLiteral("flapping"), QStringLiteral("is flapping")};
}

QString Name(const ElementRecord& element)
{
    const QString name = element.name.trimmed();
    return name.isEmpty() ? KeyToMacText(element.key) : name;
}

// "SITE RX 10.0.0.6": for a title.
QString ShortLabel(const ElementRecord& element)
{
    return (Name(element) + u' ' + element.ip.trimmed()).trimmed();
}

// "SITE RX [00:11:22:33:44:55] 10.0.0.6": for a text.
QString Label(const ElementRecord& element)
{
    return QStringLiteral("%1 [%2] %3")
        .arg(element.name.trimmed(), KeyToMacText(element.key), element.ip.trimmed())
        .trimmed();
}

QString TimeText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'"));
}

QDateTime Utc(qint64 ms)
{
    return ms < 0 ? QDateTime() : QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
}

NotifyElement Element(const ElementRecord& record)
{
    const QJsonObject fields = ElementEventFields(record);
    return {fields.value(QLatin1String("name")).toString(), fields.value(QLatin1String("mac")).toString(),
            fields.value(QLatin1String("ip")).toString(), fields.value(QLatin1String("role")).toString()};
}

} // namespace

NotifyCenter::NotifyCenter(const QString& databasePath, EventLog& log, Notices& notices, TransportFactory factory,
                           NotifyTiming timing, QObject* parent)
    : QObject(parent),
      log_(log),
      notices_(notices),
      factory_(std::move(factory)),
      timing_(timing),
      clock_([] { return QDateTime::currentMSecsSinceEpoch(); }),
      states_(AlarmStates::PathBeside(databasePath), log),
      outbox_(Outbox::PathBeside(databasePath)),
      tick_(new QTimer(this)),
      statePath_(FileBesideDatabase(databasePath, QStringLiteral("notified.json"))),
      save_(new QTimer(this))
{
    connect(tick_, &QTimer::timeout, this, &NotifyCenter::tick);
    // Written at most twice a second: a thousand alarms at once make one write.
    save_->setSingleShot(true);
    save_->setInterval(500);
    connect(save_, &QTimer::timeout, this, &NotifyCenter::saveState);
}

NotifyCenter::~NotifyCenter()
{
    stop();
}

void NotifyCenter::setClock(std::function<qint64()> clock)
{
    clock_ = clock;
    states_.setClock(std::move(clock));
}

void NotifyCenter::loadSettings(const QString& path)
{
    const NotifySettings settings = NotifySettings::Load(path);
    if (!settings.fileRefused.isEmpty()) {
        notices_.error(QStringLiteral("Notifiers"), settings.fileRefused);
        configure({});
        return;
    }
    configure(settings.notifiers, settings.refused);
}

void NotifyCenter::configure(const QList<NotifierRules>& rules, QStringList refused)
{
    // A reload: what the old notifiers were gathering becomes messages in the outbox first, and a
    // delivery under way is sent again by the new notifier of that name.
    if (running_ && !notifiers_.empty())
        flush();
    notifiers_.clear();
    for (const NotifierRules& each : rules) {
        QString error;
        std::unique_ptr<Transport> transport = factory_ ? factory_(each.name, each.group, &error) : nullptr;
        if (!transport) {
            // Named as the settings file names it, once.
            const QString group = QStringLiteral("[notify.%1]").arg(each.name);
            if (error.isEmpty())
                error = QStringLiteral("its transport could not be made");
            refused.append(error.startsWith(group) ? error : group + u' ' + error);
            continue;
        }
        auto notifier = std::make_unique<Notifier>();
        Notifier* n = notifier.get();
        n->rules = each;
        n->transport = std::move(transport);
        n->batch = new QTimer(n->transport.get());
        n->batch->setSingleShot(true);
        n->batch->setInterval(each.batchMs);
        connect(n->batch, &QTimer::timeout, this, [this, n] { flush(*n); });
        n->retry = new QTimer(n->transport.get());
        n->retry->setSingleShot(true);
        connect(n->retry, &QTimer::timeout, this, [this, n] { pump(*n); });
        connect(n->transport.get(), &Transport::finished, this,
                [this, n](const QString& id, const DeliveryResult& result) { finished(*n, id, result); });
        notifiers_.push_back(std::move(notifier));
    }
    refused_ = refused;
    if (running_) {
        for (const auto& n : notifiers_)
            pump(*n);
    }
    if (!refused.isEmpty()) {
        notices_.error(QStringLiteral("Notifiers"),
                       QStringLiteral("These notifiers are not used (the others are):") + CR + refused.join(CR));
    }
}

QStringList NotifyCenter::notifiers() const
{
    QStringList names;
    for (const auto& n : notifiers_)
        names.append(n->rules.name);
    return names;
}

NotifyCenter::Notifier* NotifyCenter::find(const QString& name)
{
    for (const auto& n : notifiers_) {
        if (n->rules.name == name)
            return n.get();
    }
    return nullptr;
}

NotifierCounters NotifyCenter::counters(const QString& notifier) const
{
    return counters_.value(notifier);
}

void NotifyCenter::start()
{
    QString error;
    if (!outbox_.load(&error))
        notices_.error(QStringLiteral("Notifiers"),
                       QStringLiteral("The outbox of alarms could not be read or rewritten:") + CR + error);
    loadState();
    running_ = true;
    states_.poll(timing_.pollMs);
    tick_->start(timing_.tickMs);
    for (const auto& n : notifiers_)
        pump(*n);
}

void NotifyCenter::stop()
{
    if (save_->isActive()) {
        save_->stop();
        saveState();
    }
    running_ = false;
    tick_->stop();
    states_.poll(0);
    for (const auto& n : notifiers_) {
        n->batch->stop();
        n->retry->stop();
        n->inFlight.clear();
    }
}

NotifyCenter::Change NotifyCenter::registerChange(Notifier& notifier, const QString& key, qint64 at)
{
    if (notifier.rules.flapWindowMs <= 0)
        return Change::Steady;
    Flap& flap = notifier.flaps[key];
    flap.lastChangeMs = at;
    flap.changes.push_back(at);
    while (!flap.changes.empty() && flap.changes.front() <= at - notifier.rules.flapWindowMs)
        flap.changes.pop_front();
    if (flap.flapping)
        return Change::Flapping;
    if (int(flap.changes.size()) > notifier.rules.flapChanges) {
        flap.flapping = true;
        return Change::Started;
    }
    return Change::Steady;
}

bool NotifyCenter::flapping(const Notifier& notifier, const QString& key) const
{
    const auto it = notifier.flaps.constFind(key);
    return it != notifier.flaps.cend() && it->flapping;
}

void NotifyCenter::take(const QString& event, const ElementRecord& element, const QJsonObject& fields)
{
    if (!running_)
        return;
    const qint64 at = now();
    const QString& key = element.key;
    const bool quiet = states_.inMaintenance(key);
    const bool lasting = IsLastingAlarm(event);
    const bool recovery = IsRecovery(event);

    if (!lasting && !recovery) {
        // element-missing, config-refused, config-timeout: said once, nothing to recover from.
        if (quiet)
            return;
        QStringList refused;
        for (const QJsonValue& field : fields.value(QLatin1String("fields")).toArray())
            refused.append(field.toString());
        for (const auto& n : notifiers_) {
            if (n->rules.wants(event) && n->rules.concerns(element))
                queue(*n, {Item::Kind::Once, event, element, at, at, -1, refused.join(QStringLiteral(", "))});
        }
        return;
    }

    Alarm ended;
    bool hadAlarm = false;
    bool again = false;
    qint64 since = at;
    remember();
    if (lasting) {
        // The same alarm seen again (after a restart) began when it was first seen. A silent
        // encoder that goes down is down from now on: one alarm per element.
        const auto it = active_.constFind(key);
        again = it != active_.cend() && it->event == event;
        if (again)
            since = it->sinceMs;
        active_.insert(key, {event, since, element});
    } else {
        const auto it = active_.find(key);
        if (it != active_.end() && it->event == AlarmRecovered(event)) {
            ended = *it;
            hadAlarm = true;
            active_.erase(it);
        }
        // The acknowledgement was of this alarm; the next one is new.
        states_.clearAcknowledgement(key);
    }

    for (const auto& owned : notifiers_) {
        Notifier& n = *owned;
        if (!n.rules.concerns(element))
            continue;
        if (again && n.notified.value(key).event == event)
            continue; // told already
        const Change change = registerChange(n, key, at);
        if (change == Change::Started && !quiet)
            queue(n, {Item::Kind::Flapping, kFlapping, element, at, at});
        if (change != Change::Steady)
            continue;
        if (lasting) {
            if (!quiet && n.rules.wants(event)) {
                queue(n, {Item::Kind::Alarm, event, element, at, since});
                n.notified.insert(key, {at, event, element});
            }
            continue;
        }
        const bool got = n.notified.remove(key) > 0;
        // An alarm still waiting in the batch is taken back: nobody heard of it, so nobody
        // needs its recovery.
        const auto heldBack = std::stable_partition(n.pending.begin(), n.pending.end(), [&](const Item& item) {
            return item.element.key != key || (item.kind != Item::Kind::Alarm && item.kind != Item::Kind::Reminder);
        });
        const bool unheard =
            std::any_of(heldBack, n.pending.end(), [](const Item& item) { return item.kind == Item::Kind::Alarm; });
        n.pending.erase(heldBack, n.pending.end());
        if (quiet || unheard)
            continue;
        // A recovery goes to whoever got the alarm; to others only when they asked for
        // recoveries without asking for the alarm.
        if (got || (n.rules.wants(event) && !n.rules.wants(AlarmRecovered(event)))) {
            queue(n,
                  {Item::Kind::Recovery, event, element, at, hadAlarm ? ended.sinceMs : -1,
                   hadAlarm ? at - ended.sinceMs : -1});
        }
    }
}

namespace {
constexpr qint64 kLongestBatchMs = 30 * 1000;
} // namespace

void NotifyCenter::queue(Notifier& notifier, Item item)
{
    notifier.pending.append(std::move(item));
    // The batch waits while items keep coming within batch_ms of each other: the monitor spreads
    // its probes over its period, so a whole site that drops at once is reported over seconds and
    // still makes one message. It never holds the first item longer than kLongestBatchMs.
    const int batchMs = notifier.rules.batchMs;
    if (!notifier.batch->isActive()) {
        notifier.batchAge.start();
        notifier.batch->start(batchMs);
        return;
    }
    const qint64 left = qMax<qint64>(0, qMax<qint64>(kLongestBatchMs, batchMs) - notifier.batchAge.elapsed());
    notifier.batch->start(int(qMin<qint64>(batchMs, left)));
}

void NotifyCenter::flush()
{
    for (const auto& n : notifiers_) {
        n->batch->stop();
        flush(*n);
    }
}

void NotifyCenter::flush(Notifier& notifier)
{
    // One message per kind and event, each element in it once, in the order their last item came.
    struct Group {
        Item::Kind kind;
        QString event;
        QList<Item> items;
        QSet<QString> keys;
        int last = 0;
    };
    QList<Group> groups;
    for (int i = 0; i < notifier.pending.size(); ++i) {
        const Item& item = notifier.pending.at(i);
        auto group = std::find_if(groups.begin(), groups.end(),
                                  [&](const Group& g) { return g.kind == item.kind && g.event == item.event; });
        if (group == groups.end()) {
            groups.append({item.kind, item.event, {}, {}, i});
            group = groups.end() - 1;
        }
        group->last = i;
        if (!group->keys.contains(item.element.key)) {
            group->keys.insert(item.element.key);
            group->items.append(item);
        }
    }
    notifier.pending.clear();
    std::sort(groups.begin(), groups.end(), [](const Group& a, const Group& b) { return a.last < b.last; });
    for (const Group& group : std::as_const(groups))
        enqueue(notifier, compose(notifier, group.kind, group.event, group.items));
}

NotifyMessage NotifyCenter::compose(const Notifier& notifier, Item::Kind kind, const QString& event,
                                    const QList<Item>& items)
{
    const Item& first = items.first();
    const Words words = EventWords(event);
    const bool reminder = kind == Item::Kind::Reminder;
    const QString window = DurationText(notifier.rules.flapWindowMs);
    NotifyMessage message;
    message.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    message.notifier = notifier.rules.name;
    message.status = kind == Item::Kind::Recovery ? QStringLiteral("resolved") : QStringLiteral("firing");
    message.event = event;
    message.reminder = reminder;
    message.time = Utc(first.timeMs);
    qint64 since = first.sinceMs;
    for (const Item& item : items) {
        message.elements.append(Element(item.element));
        if (item.sinceMs >= 0 && (since < 0 || item.sinceMs < since))
            since = item.sinceMs;
    }
    message.since = Utc(since);
    if (items.size() == 1 && first.durationMs >= 0 && kind != Item::Kind::Once)
        message.durationS = first.durationMs / 1000;

    // What is said about one element, after its label.
    const auto about = [&](const Item& item) {
        switch (kind) {
        case Item::Kind::Alarm: return QStringLiteral(" %1 since %2").arg(words.one, TimeText(item.sinceMs));
        case Item::Kind::Reminder:
            return QStringLiteral(" is still %1 for %2 (since %3)")
                .arg(words.several, DurationText(item.durationMs), TimeText(item.sinceMs));
        case Item::Kind::Recovery:
            return item.durationMs >= 0 ? QStringLiteral(" %1 after %2").arg(words.one, DurationText(item.durationMs))
                                        : u' ' + words.one;
        case Item::Kind::Flapping:
            return QStringLiteral(" changed state more than %1 times within %2: no more messages about it until it "
                                  "holds one state for %2")
                .arg(notifier.rules.flapChanges)
                .arg(window);
        case Item::Kind::Once: break;
        }
        return QStringLiteral(" %1 at %2").arg(words.one, TimeText(item.timeMs))
            + (item.detail.isEmpty() ? QString() : QStringLiteral(" (fields: %1)").arg(item.detail));
    };
    const QString still = reminder ? QStringLiteral("STILL ") : QString();
    if (items.size() == 1) {
        message.title = still + words.title + QStringLiteral(": ") + ShortLabel(first.element);
        message.text = Label(first.element) + about(first) + u'.';
    } else {
        message.title = QStringLiteral("%1 elements %2%3")
                            .arg(items.size())
                            .arg(reminder ? QStringLiteral("still ") : QString(), words.several);
        QStringList lines {message.title + u':'};
        for (const Item& item : items)
            lines.append(Label(item.element) + about(item));
        message.text = lines.join(u'\n');
    }
    return message;
}

void NotifyCenter::enqueue(Notifier& notifier, const NotifyMessage& message)
{
    qCDebug(traceNotify).noquote() << "queued for" << notifier.rules.name << message.id << message.title;
    QList<OutboxEntry> evicted;
    QString error;
    const bool kept = outbox_.add({message, now(), 0, 0}, &evicted, &error, [this](const QString& id) {
        return std::any_of(notifiers_.cbegin(), notifiers_.cend(), [&](const auto& n) { return n->inFlight == id; });
    });
    for (const OutboxEntry& entry : std::as_const(evicted))
        failed(entry.message.notifier, entry.message, QStringLiteral("outbox full"), entry.attempts,
               {{QLatin1String("final"), true}});
    if (!kept)
        failed(notifier.rules.name, message, QStringLiteral("outbox full"), 0, {{QLatin1String("final"), true}});
    if (!error.isEmpty() && !writeFailureTold_) {
        writeFailureTold_ = true;
        notices_.error(QStringLiteral("Notifiers"),
                       QStringLiteral("The outbox of alarms could not be written; alarms are still sent, but a "
                                      "restart may lose those not delivered yet.")
                           + CR + error);
    }
    pump(notifier);
}

void NotifyCenter::pump(Notifier& notifier)
{
    if (!running_ || !notifier.inFlight.isEmpty())
        return;
    const OutboxEntry* head = outbox_.head(notifier.rules.name);
    if (!head)
        return;
    const qint64 wait = head->nextMs - now();
    if (wait > 0) {
        notifier.retry->start(int(qMin<qint64>(wait, 24 * 60 * 60 * 1000)));
        return;
    }
    notifier.inFlight = head->message.id;
    notifier.transport->deliver(head->message);
}

void NotifyCenter::failed(const QString& notifier, const NotifyMessage& message, const QString& reason, int attempt,
                          QJsonObject more)
{
    ++counters_[notifier].failed;
    more.insert(QLatin1String("notifier"), notifier);
    more.insert(QLatin1String("id"), message.id);
    more.insert(QLatin1String("event"), message.event);
    more.insert(QLatin1String("reason"), reason);
    more.insert(QLatin1String("attempt"), attempt);
    log_.append(QStringLiteral("notify-failed"), more);
    qCDebug(traceNotify).noquote() << "not delivered by" << notifier << message.id << reason;
}

void NotifyCenter::finished(Notifier& notifier, const QString& id, const DeliveryResult& result)
{
    if (tests_.remove(id)) {
        if (result.outcome == DeliveryResult::Outcome::Delivered)
            ++counters_[notifier.rules.name].sent;
        else
            ++counters_[notifier.rules.name].failed;
        log_.append(result.outcome == DeliveryResult::Outcome::Delivered ? QStringLiteral("notify-sent")
                                                                         : QStringLiteral("notify-failed"),
                    {{QLatin1String("notifier"), notifier.rules.name},
                     {QLatin1String("id"), id},
                     {QLatin1String("event"), QStringLiteral("test")},
                     {QLatin1String("reason"), result.reason},
                     {QLatin1String("attempt"), 1}});
        Q_EMIT tested(notifier.rules.name, result);
        return;
    }
    if (!running_ || id != notifier.inFlight)
        return;
    notifier.inFlight.clear();
    const OutboxEntry* entry = outbox_.find(id);
    if (entry) {
        const NotifyMessage message = entry->message;
        const int attempt = entry->attempts + 1;
        const qint64 at = now();
        switch (result.outcome) {
        case DeliveryResult::Outcome::Delivered:
            ++counters_[notifier.rules.name].sent;
            log_.append(QStringLiteral("notify-sent"),
                        {{QLatin1String("notifier"), notifier.rules.name},
                         {QLatin1String("id"), id},
                         {QLatin1String("event"), message.event},
                         {QLatin1String("title"), message.title},
                         {QLatin1String("attempt"), attempt}});
            outbox_.remove(id);
            break;
        case DeliveryResult::Outcome::Failed:
            failed(notifier.rules.name, message, result.reason, attempt, {{QLatin1String("final"), true}});
            outbox_.remove(id);
            break;
        case DeliveryResult::Outcome::Retry: {
            failed(notifier.rules.name, message, result.reason, attempt);
            if (at - entry->queuedMs >= timing_.giveUpMs) {
                failed(notifier.rules.name, message, QStringLiteral("given up"), attempt,
                       {{QLatin1String("final"), true}});
                outbox_.remove(id);
                break;
            }
            qint64 delay = timing_.firstRetryMs;
            for (int i = 1; i < attempt && delay < timing_.longestRetryMs; ++i)
                delay *= 2;
            outbox_.retryLater(id, attempt, at + qMin(delay, timing_.longestRetryMs));
            break;
        }
        }
    }
    pump(notifier);
}

int NotifyCenter::sendTests(const QString& name)
{
    int started = 0;
    for (const auto& n : notifiers_) {
        if (!name.isEmpty() && n->rules.name != name)
            continue;
        NotifyMessage message;
        message.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        message.notifier = n->rules.name;
        message.status = QStringLiteral("test");
        message.event = QStringLiteral("test");
        message.time = Utc(now());
        message.title = QStringLiteral("TEST: notifier %1").arg(n->rules.name);
        message.text = QStringLiteral("A test message from Orbilane NMS on %1 through the notifier %2.")
                           .arg(QHostInfo::localHostName(), n->rules.name);
        tests_.insert(message.id);
        n->transport->deliver(message);
        ++started;
    }
    return started;
}

bool NotifyCenter::alarmOpen(const QString& key, const QString& event) const
{
    const auto it = active_.constFind(key);
    return it != active_.cend() && it->event == event;
}

void NotifyCenter::remember()
{
    if (!save_->isActive())
        save_->start();
}

void NotifyCenter::saveState()
{
    QJsonObject root;
    const auto entry = [&](const QString& key, const QString& event, qint64 since, bool open,
                           const ElementRecord& element) {
        QJsonArray names;
        for (const auto& n : notifiers_) {
            if (n->notified.contains(key))
                names.append(n->rules.name);
        }
        root.insert(key,
                    QJsonObject {{QLatin1String("event"), event},
                                 {QLatin1String("since"), since},
                                 {QLatin1String("open"), open},
                                 {QLatin1String("name"), element.name},
                                 {QLatin1String("ip"), element.ip},
                                 {QLatin1String("role"), element.role},
                                 {QLatin1String("notifiers"), names}});
    };
    for (auto it = active_.cbegin(); it != active_.cend(); ++it)
        entry(it.key(), it->event, it->sinceMs, true, it->element);
    // A recovery held back by flapping: whoever got the alarm is still to hear of it.
    for (const auto& n : notifiers_) {
        for (auto it = n->notified.cbegin(); it != n->notified.cend(); ++it) {
            if (!root.contains(it.key()))
                entry(it.key(), it->event, -1, false, it->element);
        }
    }
    if (root.isEmpty()) {
        QFile::remove(statePath_);
        return;
    }
    QSaveFile file(statePath_);
    const QByteArray bytes = QJsonDocument(root).toJson(QJsonDocument::Compact);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        qCWarning(traceNotify).noquote() << "open alarms not kept:" << statePath_ << file.errorString();
}

void NotifyCenter::loadState()
{
    QFile file(statePath_);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    const qint64 at = now();
    for (auto it = root.constBegin(); it != root.constEnd(); ++it) {
        const QJsonObject saved = it.value().toObject();
        ElementRecord element;
        element.key = it.key();
        element.name = saved.value(QLatin1String("name")).toString();
        element.ip = saved.value(QLatin1String("ip")).toString();
        element.role = saved.value(QLatin1String("role")).toString();
        const QString event = saved.value(QLatin1String("event")).toString();
        if (!IsLastingAlarm(event))
            continue;
        if (saved.value(QLatin1String("open")).toBool())
            active_.insert(element.key, {event, saved.value(QLatin1String("since")).toInteger(), element});
        for (const QJsonValue& name : saved.value(QLatin1String("notifiers")).toArray()) {
            // Reminders go on from now.
            if (Notifier* n = find(name.toString()))
                n->notified.insert(element.key, {at, event, element});
        }
    }
}

void NotifyCenter::tick()
{
    const qint64 at = now();
    // notified.json is rewritten only when who got an alarm changed: with thousands of alarms
    // open a rewrite every tick costs more than everything else the notifiers do.
    bool changed = false;
    states_.expire();
    for (const auto& owned : notifiers_) {
        Notifier& n = *owned;
        // Flapping ends once the element has held one state for the window: whoever got its
        // alarm hears of its recovery, and a lasting alarm goes out (below) if it did not.
        for (auto it = n.flaps.begin(); it != n.flaps.end();) {
            if (at - it->lastChangeMs < n.rules.flapWindowMs) {
                ++it;
                continue;
            }
            if (it->flapping && !active_.contains(it.key()) && n.notified.contains(it.key())) {
                const Sent sent = n.notified.take(it.key());
                changed = true;
                if (!states_.inMaintenance(it.key()))
                    queue(n,
                          {Item::Kind::Recovery,
                           sent.event == u"silence" ? QStringLiteral("audio-back") : QStringLiteral("element-up"),
                           sent.element, at});
            }
            it = n.flaps.erase(it);
        }
        for (auto alarm = active_.cbegin(); alarm != active_.cend(); ++alarm) {
            const QString& key = alarm.key();
            if (!n.rules.wants(alarm->event) || !n.rules.concerns(alarm->element) || flapping(n, key)
                || states_.inMaintenance(key))
                continue;
            const auto sent = n.notified.constFind(key);
            if (sent == n.notified.cend()) {
                // Held back by maintenance or flapping, and still on: said now.
                queue(n, {Item::Kind::Alarm, alarm->event, alarm->element, at, alarm->sinceMs});
                n.notified.insert(key, {at, alarm->event, alarm->element});
                changed = true;
            } else if (n.rules.repeatMs > 0 && at - sent->atMs >= n.rules.repeatMs && !states_.acknowledged(key)) {
                queue(n, {Item::Kind::Reminder, alarm->event, alarm->element, at, alarm->sinceMs, at - alarm->sinceMs});
                n.notified.insert(key, {at, alarm->event, alarm->element});
            }
        }
    }
    if (changed)
        remember();
    // Messages of a notifier no longer configured wait for it a day, as any other.
    QSet<QString> configured;
    for (const auto& n : notifiers_)
        configured.insert(n->rules.name);
    for (const QString& id : outbox_.ids()) {
        const OutboxEntry* entry = outbox_.find(id);
        if (entry && !configured.contains(entry->message.notifier) && at - entry->queuedMs >= timing_.giveUpMs) {
            failed(entry->message.notifier, entry->message, QStringLiteral("given up"), entry->attempts,
                   {{QLatin1String("final"), true}});
            outbox_.remove(id);
        }
    }
}

} // namespace nms
