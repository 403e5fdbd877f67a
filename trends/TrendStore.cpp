#include "trends/TrendStore.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QTimer>

#include "base/Trace.h"
#include "trends/TrendDatabase.h"

namespace nms {

namespace {

constexpr int kSlackMs = 20; // the bucket timer fires this long after the end, so it has ended

} // namespace

TrendStore::TrendStore(QString path, Notices& notices, const TrendSettings& settings, QObject* parent)
    : QObject(parent),
      path_(std::move(path)),
      notices_(notices),
      settings_(settings),
      clock_([] { return QDateTime::currentMSecsSinceEpoch(); }),
      recorder_(settings.bucketMs),
      timer_(new QTimer(this))
{
    timer_->setSingleShot(true);
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, &TrendStore::flush);
    thread_.setObjectName(QStringLiteral("history"));
}

TrendStore::~TrendStore()
{
    stop();
}

void TrendStore::start()
{
    if (running_)
        return;
    running_ = true;
    writer_ = new QObject;
    writer_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, writer_, &QObject::deleteLater);
    thread_.start(QThread::LowPriority);
    recorder_.advance(now());
    schedule();
}

void TrendStore::stop()
{
    if (!running_)
        return;
    running_ = false;
    timer_->stop();
    // Nothing is known of the elements once the monitor stops: their states count no more.
    recorder_.watch({}, now());
    recorder_.closeNow(now());
    // The last write ends the thread's loop itself: a quit from here could come before it.
    send(recorder_.takeReady(), true);
    thread_.wait();
    writer_ = nullptr;
}

void TrendStore::schedule()
{
    const qint64 end = recorder_.bucketEndMs();
    timer_->start(int(qBound<qint64>(0, end - now(), settings_.bucketMs)) + kSlackMs);
}

void TrendStore::flush()
{
    if (!running_)
        return;
    recorder_.advance(now());
    send(recorder_.takeReady(), false);
    schedule();
}

void TrendStore::send(QList<TrendRow> rows, bool last)
{
    if (!writer_ || (rows.isEmpty() && !last))
        return;
    const qint64 at = now();
    QMetaObject::invokeMethod(
        writer_,
        [this, rows = std::move(rows), at, last] {
            if (!rows.isEmpty())
                writeRows(rows, at);
            if (last) {
                database_.reset();
                QThread::currentThread()->quit();
            }
        },
        Qt::QueuedConnection);
}

void TrendStore::writeRows(const QList<TrendRow>& rows, qint64 atMs)
{
    QElapsedTimer took;
    took.start();
    const auto openFile = [this] {
        if (!database_)
            database_ = std::make_unique<TrendDatabase>(path_, settings_.busyTimeoutMs);
        if (database_->isOpen())
            return true;
        QDir().mkpath(QFileInfo(path_).absolutePath());
        return database_->open(TrendDatabase::Mode::Write, settings_.bucketMs);
    };
    bool ok = openFile() && database_->write(rows, settings_.hourMs());
    const TrendDatabase::Failure failure = database_->failure();
    if (!ok && (failure == TrendDatabase::Failure::Damaged || failure == TrendDatabase::Failure::Locked)) {
        // Set aside, not deleted: what it holds may still be read by hand.
        const QString reason = database_->errorText();
        database_->close();
        QString error;
        const QString why =
            failure == TrendDatabase::Failure::Damaged ? QStringLiteral("damaged") : QStringLiteral("locked");
        const QString aside = TrendDatabase::SetAside(path_, why, &error);
        if (!aside.isEmpty()) {
            tell(QStringLiteral("The history file (%1) is %2 (%3).").arg(path_, why, reason)
                 + QStringLiteral("\rIt was set aside as %1 and a new one is started.").arg(aside));
            ok = openFile() && database_->write(rows, settings_.hourMs());
        }
    }
    if (!ok) {
        if (!failing_)
            tell(QStringLiteral("The history file (%1) could not be written: %2").arg(path_, database_->errorText())
                 + QStringLiteral("\rThe watch goes on; its history is not kept until the file can be written."));
        failing_ = true;
        database_->close();
        return;
    }
    failing_ = false;
    // Pruning once an hour is enough: rows are kept by the day.
    const qint64 hour = atMs / settings_.hourMs();
    if (hour != prunedHour_) {
        prunedHour_ = hour;
        database_->prune(atMs - settings_.keepBuckets * settings_.bucketMs,
                         atMs - settings_.keepHours * settings_.hourMs());
    }
    qCDebug(traceStore).noquote() << "history:" << rows.size() << "rows written to" << path_ << "in" << took.elapsed()
                                  << "ms";
    const qint64 until = rows.last().startMs + settings_.bucketMs;
    QMetaObject::invokeMethod(
        this, [this, until] { Q_EMIT written(until); }, Qt::QueuedConnection);
}

void TrendStore::tell(const QString& text)
{
    // Notices belong to the main thread.
    QMetaObject::invokeMethod(
        this, [this, text] { notices_.error(QStringLiteral("History"), text); }, Qt::QueuedConnection);
}

} // namespace nms
