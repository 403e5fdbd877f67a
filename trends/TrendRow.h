#pragma once
// One element's measurements over one bucket of time (a minute, or an hour once rolled up): the
// echo round trips, the pings lost, an encoder's peaks and how long the element was in each
// state. The history is made of these rows; the recorder builds them, the file keeps them.

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QtNumeric>

namespace nms {

// The states the history counts time in. The monitor's states, held apart so that the history
// needs nothing of the monitor.
enum class TrendState { Unknown, Up, Down, Silent };

struct TrendRow {
    QString key; // the element's section key
    qint64 startMs = 0; // the bucket's start, ms since the epoch
    double rttMinMs = qQNaN(); // NaN: no answer in the bucket
    double rttMedianMs = qQNaN();
    double rttMaxMs = qQNaN();
    int answered = 0;
    int lost = 0;
    double peakMinDbfs = qQNaN(); // NaN: no level answer; -inf: digital silence
    double peakMaxDbfs = qQNaN();
    qint64 downMs = 0;
    qint64 silentMs = 0;
    qint64 upMs = 0;

    bool hasRtt() const { return answered > 0; }
    bool hasPeak() const { return !qIsNaN(peakMaxDbfs); }
};

// `row` merged into `into` (same element, the later bucket's data): extremes kept, counts and
// times added, the medians weighted by their answers.
void MergeTrendRow(TrendRow& into, const TrendRow& row);

// The rows put together into buckets of stepMs (aligned to the epoch), oldest first.
QList<TrendRow> GroupTrendRows(const QList<TrendRow>& rows, qint64 stepMs);

// The rows as data: CSV (RFC 4180, header row) and JSON objects, each with "time" (the bucket's
// start, RFC 3339 UTC), rtt_min_ms, rtt_median_ms, rtt_max_ms, answered, lost, peak_min_dbfs,
// peak_max_dbfs, down_s, silent_s, up_s. A figure that is not there (no answer, no level, or
// digital silence, which has no decibel figure) is an empty field, or null.
QByteArray TrendRowsCsv(const QList<TrendRow>& rows);
QJsonObject TrendRowJson(const TrendRow& row);

// How the history is kept. A bucket is a minute and an hour is sixty of them; tests shorten the
// bucket and everything scales with it.
struct TrendSettings {
    qint64 bucketMs = 60 * 1000;
    int bucketsPerHour = 60;
    int keepBuckets = 30 * 24 * 60; // minute rows: 30 days
    int keepHours = 365 * 24; // hourly rows: a year
    int busyTimeoutMs = 5000; // how long a write waits for a file another program holds

    qint64 hourMs() const { return bucketMs * bucketsPerHour; }

    // The group [history] of the user's settings file: bucket_ms (a test hook: how long a
    // "minute" of the history lasts). A missing file or key gives the default.
    static TrendSettings Load(const QString& path);
};

} // namespace nms
