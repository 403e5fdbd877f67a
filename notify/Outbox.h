#pragma once
// Every message to a notifier, kept on disk from before it is sent until it is delivered or given
// up, so that neither a receiver that is down nor a restart loses one. The file (outbox.jsonl,
// beside the database) is a log of JSON lines: a message added, delivered, tried again; it is
// rewritten whole (atomically) when it is read at start-up and when it holds far more dead lines
// than live ones. A line cut short by a kill is the last one and is dropped at the next start.

#include <QHash>
#include <QMap>
#include <QString>

#include <functional>
#include <optional>

#include "transports/NotifyMessage.h"

namespace nms {

struct OutboxEntry {
    NotifyMessage message;
    qint64 queuedMs = 0; // when it was added
    int attempts = 0; // deliveries tried and not taken
    qint64 nextMs = 0; // not before this (ms since the epoch)
};

class Outbox {
public:
    static constexpr int DefaultBound = 10000;

    explicit Outbox(QString path, int bound = DefaultBound);

    // <folder of databasePath>/outbox.jsonl
    static QString PathBeside(const QString& databasePath);
    const QString& path() const { return path_; }

    // What the file holds, replacing what is in memory, and the file rewritten with it alone.
    // False with the reason when it could not be read or rewritten.
    bool load(QString* error);

    // At the end of the queue, written before it returns. When the outbox is full the oldest
    // reminder makes room (returned in `evicted`); a reminder that finds no older one to replace
    // is refused (false). A first alarm, a recovery or a flapping message is never refused nor
    // evicted. `error`: set when the file could not be written (the entry is kept in memory).
    // `busy`: ids under way, which are not evicted.
    bool add(const OutboxEntry& entry, QList<OutboxEntry>* evicted, QString* error,
             const std::function<bool(const QString& id)>& busy = {});
    // Delivered or given up.
    void remove(const QString& id);
    // Tried once more without success: not before nextMs.
    void retryLater(const QString& id, int attempts, qint64 nextMs);

    const OutboxEntry* find(const QString& id) const;
    // The oldest message for that notifier; none when it has none.
    const OutboxEntry* head(const QString& notifier) const;
    // Every id in the order added.
    QStringList ids() const;
    int size() const { return int(entries_.size()); }
    QString lastError() const { return lastError_; }

private:
    bool append(const QJsonObject& line, QString* error);
    bool compact(QString* error);
    void insert(const OutboxEntry& entry);
    void erase(const QString& id);

    QString path_;
    int bound_;
    quint64 nextSeq_ = 0;
    struct Slot {
        OutboxEntry entry;
        quint64 seq;
    };
    QHash<QString, Slot> entries_;
    QMap<quint64, QString> order_; // every entry, oldest first
    QMap<quint64, QString> reminders_; // the reminders among them, which may make room
    QHash<QString, QMap<quint64, QString>> byNotifier_;
    qint64 deadLines_ = 0; // lines in the file that no longer stand for an entry
    QString lastError_;
};

} // namespace nms
