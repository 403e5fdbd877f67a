#include "notify/Outbox.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include "database/DatabaseLocation.h"

namespace nms {

namespace {

const QLatin1String kAdd("add"), kDone("done"), kRetry("retry"), kQueued("queued"), kAttempts("attempts"),
    kNext("next");

QJsonObject AddLine(const OutboxEntry& entry)
{
    return {
        {kAdd, entry.message.toJson()}, {kQueued, entry.queuedMs}, {kAttempts, entry.attempts}, {kNext, entry.nextMs}};
}

QByteArray LineBytes(const QJsonObject& line)
{
    return QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
}

// What may make room: a reminder repeats what was said already.
bool Evictable(const NotifyMessage& message)
{
    return message.reminder;
}

} // namespace

Outbox::Outbox(QString path, int bound) : path_(std::move(path)), bound_(bound)
{
}

QString Outbox::PathBeside(const QString& databasePath)
{
    return FileBesideDatabase(databasePath, QStringLiteral("outbox.jsonl"));
}

void Outbox::insert(const OutboxEntry& entry)
{
    const quint64 seq = nextSeq_++;
    const QString& id = entry.message.id;
    entries_.insert(id, {entry, seq});
    order_.insert(seq, id);
    if (Evictable(entry.message))
        reminders_.insert(seq, id);
    byNotifier_[entry.message.notifier].insert(seq, id);
}

void Outbox::erase(const QString& id)
{
    const auto it = entries_.constFind(id);
    if (it == entries_.cend())
        return;
    const quint64 seq = it->seq;
    const QString notifier = it->entry.message.notifier;
    order_.remove(seq);
    reminders_.remove(seq);
    auto queue = byNotifier_.find(notifier);
    if (queue != byNotifier_.end()) {
        queue->remove(seq);
        if (queue->isEmpty())
            byNotifier_.erase(queue);
    }
    entries_.erase(it);
}

bool Outbox::load(QString* error)
{
    entries_.clear();
    order_.clear();
    reminders_.clear();
    byNotifier_.clear();
    QFile file(path_);
    // No file is made before there is a message to keep.
    if (!file.exists())
        return true;
    {
        if (!file.open(QIODevice::ReadOnly)) {
            if (error)
                *error = QStringLiteral("%1 could not be read: %2").arg(path_, file.errorString());
            return false;
        }
        while (!file.atEnd()) {
            const QJsonObject line = QJsonDocument::fromJson(file.readLine()).object();
            if (line.contains(kAdd)) {
                const std::optional<NotifyMessage> message = NotifyMessage::FromJson(line.value(kAdd).toObject());
                if (!message || message->id.isEmpty())
                    continue;
                erase(message->id);
                insert({*message, line.value(kQueued).toInteger(), line.value(kAttempts).toInt(),
                        line.value(kNext).toInteger()});
            } else if (line.contains(kDone)) {
                erase(line.value(kDone).toString());
            } else if (line.contains(kRetry)) {
                const auto it = entries_.find(line.value(kRetry).toString());
                if (it != entries_.end()) {
                    it->entry.attempts = line.value(kAttempts).toInt();
                    it->entry.nextMs = line.value(kNext).toInteger();
                }
            }
            // Anything else is a line cut short by a kill, or not ours: dropped with the rewrite.
        }
    }
    return compact(error);
}

bool Outbox::compact(QString* error)
{
    QByteArray bytes;
    for (const QString& id : std::as_const(order_))
        bytes += LineBytes(AddLine(entries_.value(id).entry));
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        lastError_ = QStringLiteral("%1 could not be written: %2").arg(path_, file.errorString());
        if (error)
            *error = lastError_;
        return false;
    }
    deadLines_ = 0;
    return true;
}

bool Outbox::append(const QJsonObject& line, QString* error)
{
    // Far more dead lines than live ones: the file is rewritten with the live ones alone.
    if (deadLines_ > qMax<qint64>(1000, 2 * qint64(entries_.size())))
        return compact(error);
    QFile file(path_);
    const QByteArray bytes = LineBytes(line);
    // One write call per line: a kill leaves at most the last line cut short.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)
        || file.write(bytes) != bytes.size()) {
        lastError_ = QStringLiteral("%1 could not be written: %2").arg(path_, file.errorString());
        if (error)
            *error = lastError_;
        return false;
    }
    return true;
}

bool Outbox::add(const OutboxEntry& entry, QList<OutboxEntry>* evicted, QString* error,
                 const std::function<bool(const QString& id)>& busy)
{
    // The oldest reminder not under way makes room; a reminder only replaces an older reminder.
    while (size() >= bound_) {
        QString oldest;
        for (const QString& id : std::as_const(reminders_)) {
            if (!busy || !busy(id)) {
                oldest = id;
                break;
            }
        }
        if (oldest.isEmpty()) {
            if (Evictable(entry.message))
                return false;
            break;
        }
        if (evicted)
            evicted->append(entries_.value(oldest).entry);
        erase(oldest);
        deadLines_ += 2;
        append({{kDone, oldest}}, error);
    }
    insert(entry);
    append(AddLine(entry), error);
    return true;
}

void Outbox::remove(const QString& id)
{
    if (!entries_.contains(id))
        return;
    erase(id);
    // The add line and this one.
    deadLines_ += 2;
    append({{kDone, id}}, nullptr);
}

void Outbox::retryLater(const QString& id, int attempts, qint64 nextMs)
{
    const auto it = entries_.find(id);
    if (it == entries_.end())
        return;
    it->entry.attempts = attempts;
    it->entry.nextMs = nextMs;
    ++deadLines_;
    append({{kRetry, id}, {kAttempts, attempts}, {kNext, nextMs}}, nullptr);
}

const OutboxEntry* Outbox::find(const QString& id) const
{
    const auto it = entries_.constFind(id);
    return it == entries_.cend() ? nullptr : &it->entry;
}

const OutboxEntry* Outbox::head(const QString& notifier) const
{
    const auto queue = byNotifier_.constFind(notifier);
    if (queue == byNotifier_.cend() || queue->isEmpty())
        return nullptr;
    return find(queue->first());
}

QStringList Outbox::ids() const
{
    return QStringList(order_.cbegin(), order_.cend());
}

} // namespace nms
