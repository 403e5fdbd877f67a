#pragma once
// The history file: SQLite through Qt SQL, in WAL mode so that readers (the status window,
// orbilanectl history) never hold up the writer. Two tables of rows, one per element and bucket
// ("minutes") and one per element and hour ("hours"), both kept up to date by every write; old
// rows pruned. One object is one connection, used from one thread only.

#include <QList>
#include <QString>

#include "trends/TrendRow.h"

class QSqlError;

namespace nms {

class TrendDatabase {
public:
    enum class Failure { None, Damaged, Locked, Other };
    enum class Mode { Write, Read };

    explicit TrendDatabase(QString path, int busyTimeoutMs = 5000);
    ~TrendDatabase();
    TrendDatabase(const TrendDatabase&) = delete;
    TrendDatabase& operator=(const TrendDatabase&) = delete;

    // <folder of databasePath>/trends.sqlite
    static QString PathBeside(const QString& databasePath);

    // Write: opens or makes the file (its bucket length recorded when it is new). Read: the file
    // must be there. False with failure() and errorText() otherwise.
    bool open(Mode mode, qint64 bucketMs = 60 * 1000);
    void close();
    bool isOpen() const { return open_; }
    const QString& path() const { return path_; }

    // The rows into both tables in one transaction, merged with rows already there for the
    // same element and bucket (a console started again within a minute). hourMs: the hour.
    bool write(const QList<TrendRow>& rows, qint64 hourMs);
    // Rows that started before these times go.
    bool prune(qint64 bucketsBeforeMs, qint64 hoursBeforeMs);

    // The element's rows that start in [fromMs, toMs), oldest first: from the hourly table when
    // hourly, else the buckets.
    QList<TrendRow> read(const QString& key, qint64 fromMs, qint64 toMs, bool hourly);
    // The bucket length the file was made with.
    qint64 bucketMs() const { return bucketMs_; }

    Failure failure() const { return failure_; }
    const QString& errorText() const { return errorText_; }

    // Moves the file and its -wal and -shm aside as <path>.<why>-<UTC time>; the new name, or
    // empty (error set) when it could not be moved.
    static QString SetAside(const QString& path, const QString& why, QString* error);

private:
    bool fail(const QSqlError& error);
    bool exec(const QString& sql);
    int elementId(const QString& key, bool make);

    QString path_;
    QString connection_;
    int busyTimeoutMs_;
    bool open_ = false;
    qint64 bucketMs_ = 60 * 1000;
    Failure failure_ = Failure::None;
    QString errorText_;
};

} // namespace nms
