#include "trends/TrendRow.h"

#include <QSettings>

#include <cmath>
#include <map>

namespace nms {

namespace {

double Lower(double a, double b)
{
    return qIsNaN(a) ? b : qIsNaN(b) ? a : std::min(a, b);
}

double Higher(double a, double b)
{
    return qIsNaN(a) ? b : qIsNaN(b) ? a : std::max(a, b);
}

} // namespace

void MergeTrendRow(TrendRow& into, const TrendRow& row)
{
    const int answered = into.answered + row.answered;
    if (row.answered > 0)
        into.rttMedianMs = into.answered > 0
            ? (into.rttMedianMs * into.answered + row.rttMedianMs * row.answered) / answered
            : row.rttMedianMs;
    into.rttMinMs = Lower(into.rttMinMs, row.rttMinMs);
    into.rttMaxMs = Higher(into.rttMaxMs, row.rttMaxMs);
    into.answered = answered;
    into.lost += row.lost;
    into.peakMinDbfs = Lower(into.peakMinDbfs, row.peakMinDbfs);
    into.peakMaxDbfs = Higher(into.peakMaxDbfs, row.peakMaxDbfs);
    into.downMs += row.downMs;
    into.silentMs += row.silentMs;
    into.upMs += row.upMs;
}

QList<TrendRow> GroupTrendRows(const QList<TrendRow>& rows, qint64 stepMs)
{
    QList<TrendRow> grouped;
    for (const TrendRow& row : rows) {
        const qint64 start = row.startMs - ((row.startMs % stepMs) + stepMs) % stepMs;
        if (!grouped.isEmpty() && grouped.last().startMs == start) {
            MergeTrendRow(grouped.last(), row);
        } else {
            grouped.append(row);
            grouped.last().startMs = start;
        }
    }
    return grouped;
}

TrendSettings TrendSettings::Load(const QString& path)
{
    TrendSettings settings;
    if (path.isEmpty())
        return settings;
    // The monitor's settings reader tells about a damaged file; this only takes what it can use.
    const QSettings file(path, QSettings::IniFormat);
    bool ok = false;
    const qint64 bucket = file.value(QStringLiteral("history/bucket_ms")).toLongLong(&ok);
    if (ok && bucket >= 10 && bucket <= 60 * 60 * 1000)
        settings.bucketMs = bucket;
    return settings;
}

} // namespace nms
