#pragma once
// The history of every element as the monitor runs: measurements gathered in memory
// (TrendRecorder) and, once per bucket, written to the history file in one transaction by a
// thread of its own with its own connection, so the monitor never waits on the disk. A damaged
// or locked file is set aside with one notice and a new one started; the watch goes on.

#include <QObject>
#include <QThread>

#include <functional>
#include <memory>

#include "base/Notices.h"
#include "trends/TrendRecorder.h"
#include "trends/TrendRow.h"

class QTimer;

namespace nms {

class TrendDatabase;

class TrendStore : public QObject {
    Q_OBJECT
public:
    TrendStore(QString path, Notices& notices, const TrendSettings& settings = {}, QObject* parent = nullptr);
    ~TrendStore() override;

    const QString& path() const { return path_; }
    const TrendSettings& settings() const { return settings_; }
    bool running() const { return running_; }

    // The wall clock, ms since the epoch (tests).
    void setClock(std::function<qint64()> clock) { clock_ = std::move(clock); }

    // Starts the writer and the buckets.
    void start();
    // The bucket in progress is written as it stands and the writer waits for its last write.
    void stop();

    // What the monitor measured, at the time of the call.
    void echoAnswered(const QString& key, double rttMs) { recorder_.echoAnswered(key, rttMs, now()); }
    void echoLost(const QString& key) { recorder_.echoLost(key, now()); }
    void peak(const QString& key, double dbfs) { recorder_.peak(key, dbfs, now()); }
    void state(const QString& key, TrendState state) { recorder_.state(key, state, now()); }
    void watch(const QList<std::pair<QString, TrendState>>& elements) { recorder_.watch(elements, now()); }

    // Hands the buckets that have ended to the writer (the bucket timer calls it).
    void flush();

Q_SIGNALS:
    // A batch of rows is in the file (after the writer's transaction), up to that time.
    void written(qint64 untilMs);

private:
    qint64 now() const { return clock_(); }
    void schedule();
    void send(QList<TrendRow> rows, bool last);
    // In the writer's thread.
    void writeRows(const QList<TrendRow>& rows, qint64 atMs);
    void tell(const QString& text);

    QString path_;
    Notices& notices_;
    TrendSettings settings_;
    std::function<qint64()> clock_;
    TrendRecorder recorder_;
    QTimer* timer_;
    QThread thread_;
    QObject* writer_ = nullptr; // lives in thread_
    std::unique_ptr<TrendDatabase> database_; // used in thread_ only
    bool running_ = false;
    bool failing_ = false; // in thread_: a failure was told and no write has succeeded since
    qint64 prunedHour_ = -1; // in thread_
};

} // namespace nms
