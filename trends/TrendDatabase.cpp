#include "trends/TrendDatabase.h"

#include <QAtomicInteger>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <cmath>

#include "base/Trace.h"

namespace nms {

namespace {

// Round trips in microseconds and peaks in tenths of a dB, as integers: a minute's row takes
// about a third of the room it would as floating point.
constexpr double kRttScale = 1000.0;
constexpr double kPeakScale = 10.0;
// Digital silence, which has no decibel figure.
constexpr qint64 kSilenceStored = -99999;

QAtomicInteger<quint64> connections;

QVariant RttValue(double ms)
{
    return qIsNaN(ms) ? QVariant() : QVariant(qint64(std::llround(ms * kRttScale)));
}

QVariant PeakValue(double dbfs)
{
    if (qIsNaN(dbfs))
        return {};
    if (!std::isfinite(dbfs))
        return dbfs < 0 ? kSilenceStored : qint64(0);
    return qint64(std::llround(dbfs * kPeakScale));
}

double Rtt(const QVariant& value)
{
    return value.isNull() ? qQNaN() : value.toLongLong() / kRttScale;
}

double Peak(const QVariant& value)
{
    if (value.isNull())
        return qQNaN();
    const qint64 stored = value.toLongLong();
    return stored <= kSilenceStored ? -qInf() : stored / kPeakScale;
}

const char* kColumns = "element, start, rtt_min, rtt_median, rtt_max, answered, lost, peak_min, peak_max, "
                       "down_ms, silent_ms, up_ms";

QString Upsert(const QString& table)
{
    // Within a SET every right-hand side reads the row as it was before the update.
    return QStringLiteral(
               "INSERT INTO %1 (%2) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
               "ON CONFLICT (element, start) DO UPDATE SET "
               "rtt_min = min(coalesce(rtt_min, excluded.rtt_min), coalesce(excluded.rtt_min, rtt_min)), "
               "rtt_max = max(coalesce(rtt_max, excluded.rtt_max), coalesce(excluded.rtt_max, rtt_max)), "
               "rtt_median = CASE WHEN answered + excluded.answered = 0 THEN NULL "
               "ELSE (coalesce(rtt_median, 0) * answered + coalesce(excluded.rtt_median, 0) * "
               "excluded.answered) / (answered + excluded.answered) END, "
               "answered = answered + excluded.answered, lost = lost + excluded.lost, "
               "peak_min = min(coalesce(peak_min, excluded.peak_min), coalesce(excluded.peak_min, peak_min)), "
               "peak_max = max(coalesce(peak_max, excluded.peak_max), coalesce(excluded.peak_max, peak_max)), "
               "down_ms = down_ms + excluded.down_ms, silent_ms = silent_ms + excluded.silent_ms, "
               "up_ms = up_ms + excluded.up_ms")
        .arg(table, QLatin1String(kColumns));
}

QString Table(const QString& name)
{
    return QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (element INTEGER NOT NULL, start INTEGER NOT NULL, "
                          "rtt_min INTEGER, rtt_median INTEGER, rtt_max INTEGER, answered INTEGER NOT NULL, "
                          "lost INTEGER NOT NULL, peak_min INTEGER, peak_max INTEGER, down_ms INTEGER NOT NULL, "
                          "silent_ms INTEGER NOT NULL, up_ms INTEGER NOT NULL, PRIMARY KEY (element, start)) "
                          "WITHOUT ROWID")
        .arg(name);
}

void Bind(QSqlQuery& query, int element, qint64 start, const TrendRow& row)
{
    query.addBindValue(element);
    query.addBindValue(start);
    query.addBindValue(RttValue(row.rttMinMs));
    query.addBindValue(RttValue(row.rttMedianMs));
    query.addBindValue(RttValue(row.rttMaxMs));
    query.addBindValue(row.answered);
    query.addBindValue(row.lost);
    query.addBindValue(PeakValue(row.peakMinDbfs));
    query.addBindValue(PeakValue(row.peakMaxDbfs));
    query.addBindValue(row.downMs);
    query.addBindValue(row.silentMs);
    query.addBindValue(row.upMs);
}

} // namespace

TrendDatabase::TrendDatabase(QString path, int busyTimeoutMs)
    : path_(std::move(path)),
      connection_(QStringLiteral("nms-trends-%1").arg(connections.fetchAndAddRelaxed(1))),
      busyTimeoutMs_(busyTimeoutMs)
{
}

TrendDatabase::~TrendDatabase()
{
    close();
}

QString TrendDatabase::PathBeside(const QString& databasePath)
{
    return QFileInfo(databasePath).absolutePath() + QStringLiteral("/trends.sqlite");
}

bool TrendDatabase::fail(const QSqlError& error)
{
    // SQLite's own codes: 11 corrupt, 26 not a database; 5 busy, 6 locked.
    const int code = error.nativeErrorCode().toInt();
    failure_ = code == 11 || code == 26 ? Failure::Damaged : code == 5 || code == 6 ? Failure::Locked : Failure::Other;
    errorText_ = error.text();
    qCDebug(traceStore).noquote() << "history" << path_ << "failed:" << errorText_;
    return false;
}

bool TrendDatabase::exec(const QString& sql)
{
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    return query.exec(sql) || fail(query.lastError());
}

bool TrendDatabase::open(Mode mode, qint64 bucketMs)
{
    close();
    failure_ = Failure::None;
    errorText_.clear();
    if (mode == Mode::Read && !QFileInfo::exists(path_)) {
        failure_ = Failure::Other;
        errorText_ = QStringLiteral("no history has been written yet");
        return false;
    }
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
        db.setDatabaseName(path_);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs_));
        if (!db.open()) {
            fail(db.lastError());
            close();
            return false;
        }
    }
    open_ = true;
    // The first statement is the one that finds a file that is not a database.
    bool ok = exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    if (ok && mode == Mode::Write) {
        ok = exec(QStringLiteral("PRAGMA synchronous=NORMAL"))
            && exec(QStringLiteral("CREATE TABLE IF NOT EXISTS meta (name TEXT PRIMARY KEY, value)"))
            && exec(QStringLiteral("CREATE TABLE IF NOT EXISTS elements (id INTEGER PRIMARY KEY, key TEXT NOT NULL "
                                   "UNIQUE)"))
            && exec(Table(QStringLiteral("minutes"))) && exec(Table(QStringLiteral("hours")))
            && exec(QStringLiteral("INSERT OR IGNORE INTO meta VALUES ('bucket_ms', %1)").arg(bucketMs));
    }
    if (ok) {
        QSqlQuery query(QSqlDatabase::database(connection_, false));
        if (query.exec(QStringLiteral("SELECT value FROM meta WHERE name = 'bucket_ms'")) && query.next())
            bucketMs_ = query.value(0).toLongLong();
        else if (query.lastError().isValid())
            ok = fail(query.lastError());
        else
            bucketMs_ = bucketMs;
    }
    if (!ok) {
        const Failure failure = failure_;
        const QString text = errorText_;
        close();
        failure_ = failure;
        errorText_ = text;
    }
    return ok;
}

void TrendDatabase::close()
{
    if (QSqlDatabase::contains(connection_)) {
        QSqlDatabase::database(connection_, false).close();
        QSqlDatabase::removeDatabase(connection_);
    }
    open_ = false;
}

int TrendDatabase::elementId(const QString& key, bool make)
{
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    QSqlQuery query(db);
    query.prepare(QStringLiteral("SELECT id FROM elements WHERE key = ?"));
    query.addBindValue(key);
    if (query.exec() && query.next())
        return query.value(0).toInt();
    if (!make || query.lastError().isValid()) {
        if (query.lastError().isValid())
            fail(query.lastError());
        return -1;
    }
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral("INSERT INTO elements (key) VALUES (?)"));
    insert.addBindValue(key);
    if (!insert.exec()) {
        fail(insert.lastError());
        return -1;
    }
    return insert.lastInsertId().toInt();
}

bool TrendDatabase::write(const QList<TrendRow>& rows, qint64 hourMs)
{
    if (!open_)
        return false;
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    if (!db.transaction())
        return fail(db.lastError());
    QSqlQuery minutes(db), hours(db);
    bool ok = minutes.prepare(Upsert(QStringLiteral("minutes"))) || fail(minutes.lastError());
    ok = ok && (hours.prepare(Upsert(QStringLiteral("hours"))) || fail(hours.lastError()));
    for (const TrendRow& row : rows) {
        if (!ok)
            break;
        const int id = elementId(row.key, true);
        if (id < 0) {
            ok = false;
            break;
        }
        Bind(minutes, id, row.startMs, row);
        Bind(hours, id, row.startMs - ((row.startMs % hourMs) + hourMs) % hourMs, row);
        ok = (minutes.exec() || fail(minutes.lastError())) && (hours.exec() || fail(hours.lastError()));
    }
    if (ok && !db.commit())
        ok = fail(db.lastError());
    if (!ok)
        db.rollback();
    return ok;
}

bool TrendDatabase::prune(qint64 bucketsBeforeMs, qint64 hoursBeforeMs)
{
    if (!open_)
        return false;
    QSqlDatabase db = QSqlDatabase::database(connection_, false);
    QList<int> ids;
    {
        QSqlQuery query(db);
        if (!query.exec(QStringLiteral("SELECT id FROM elements")))
            return fail(query.lastError());
        while (query.next())
            ids.append(query.value(0).toInt());
    }
    if (!db.transaction())
        return fail(db.lastError());
    // Element by element, each a range of the primary key: no scan of the whole table.
    QSqlQuery minutes(db), hours(db);
    bool ok = (minutes.prepare(QStringLiteral("DELETE FROM minutes WHERE element = ? AND start < ?"))
               || fail(minutes.lastError()))
        && (hours.prepare(QStringLiteral("DELETE FROM hours WHERE element = ? AND start < ?"))
            || fail(hours.lastError()));
    for (int id : ids) {
        if (!ok)
            break;
        minutes.addBindValue(id);
        minutes.addBindValue(bucketsBeforeMs);
        hours.addBindValue(id);
        hours.addBindValue(hoursBeforeMs);
        ok = (minutes.exec() || fail(minutes.lastError())) && (hours.exec() || fail(hours.lastError()));
    }
    if (ok && !db.commit())
        ok = fail(db.lastError());
    if (!ok)
        db.rollback();
    return ok;
}

QList<TrendRow> TrendDatabase::read(const QString& key, qint64 fromMs, qint64 toMs, bool hourly)
{
    QList<TrendRow> rows;
    if (!open_)
        return rows;
    const int id = elementId(key, false);
    if (id < 0)
        return rows;
    QSqlQuery query(QSqlDatabase::database(connection_, false));
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT %1 FROM %2 WHERE element = ? AND start >= ? AND start < ? ORDER BY start")
                      .arg(QLatin1String(kColumns), hourly ? QStringLiteral("hours") : QStringLiteral("minutes")));
    query.addBindValue(id);
    query.addBindValue(fromMs);
    query.addBindValue(toMs);
    if (!query.exec()) {
        fail(query.lastError());
        return rows;
    }
    if (bucketMs_ > 0)
        rows.reserve(
            qsizetype(std::clamp<qint64>((toMs - fromMs) / (hourly ? bucketMs_ * 60 : bucketMs_), 0, 1 << 20)));
    while (query.next()) {
        TrendRow row;
        row.key = key;
        row.startMs = query.value(1).toLongLong();
        row.rttMinMs = Rtt(query.value(2));
        row.rttMedianMs = Rtt(query.value(3));
        row.rttMaxMs = Rtt(query.value(4));
        row.answered = query.value(5).toInt();
        row.lost = query.value(6).toInt();
        row.peakMinDbfs = Peak(query.value(7));
        row.peakMaxDbfs = Peak(query.value(8));
        row.downMs = query.value(9).toLongLong();
        row.silentMs = query.value(10).toLongLong();
        row.upMs = query.value(11).toLongLong();
        rows.append(row);
    }
    return rows;
}

QString TrendDatabase::SetAside(const QString& path, const QString& why, QString* error)
{
    const QString aside =
        path + u'.' + why + u'-' + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddTHHmmss"));
    if (!QFile::rename(path, aside)) {
        if (error)
            *error = QFile(path).errorString();
        return QString();
    }
    // The journal belongs to the file set aside; left here it would be taken for the new file's.
    for (const QString& suffix : {QStringLiteral("-wal"), QStringLiteral("-shm")}) {
        if (QFile::exists(path + suffix) && !QFile::rename(path + suffix, aside + suffix))
            QFile::remove(path + suffix);
    }
    return aside;
}

} // namespace nms
