#include "trends/TrendRow.h"

#include <QDateTime>
#include <QSettings>

#include "base/Csv.h"

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

QString Time(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODate);
}

QString Figure(double value, int decimals)
{
    return std::isfinite(value) ? QString::number(value, 'f', decimals) : QString();
}

QJsonValue FigureJson(double value, int decimals)
{
    const double scale = std::pow(10.0, decimals);
    return std::isfinite(value) ? QJsonValue(std::round(value * scale) / scale) : QJsonValue();
}

const QStringList kCsvHeader = {
    QStringLiteral("time"),          QStringLiteral("rtt_min_ms"),    QStringLiteral("rtt_median_ms"),
    QStringLiteral("rtt_max_ms"),    QStringLiteral("answered"),      QStringLiteral("lost"),
    QStringLiteral("peak_min_dbfs"), QStringLiteral("peak_max_dbfs"), QStringLiteral("down_s"),
    QStringLiteral("silent_s"),      QStringLiteral("up_s")};

} // namespace

QString TrendRowsCsv(const QList<TrendRow>& rows)
{
    QString text = CsvLine(kCsvHeader);
    text.reserve(rows.size() * 64);
    for (const TrendRow& row : rows) {
        text += CsvLine({Time(row.startMs), Figure(row.rttMinMs, 3), Figure(row.rttMedianMs, 3),
                         Figure(row.rttMaxMs, 3), QString::number(row.answered), QString::number(row.lost),
                         Figure(row.peakMinDbfs, 1), Figure(row.peakMaxDbfs, 1), QString::number(row.downMs / 1000.0),
                         QString::number(row.silentMs / 1000.0), QString::number(row.upMs / 1000.0)});
    }
    return text;
}

QJsonObject TrendRowJson(const TrendRow& row)
{
    return {{kCsvHeader[0], Time(row.startMs)},
            {kCsvHeader[1], FigureJson(row.rttMinMs, 3)},
            {kCsvHeader[2], FigureJson(row.rttMedianMs, 3)},
            {kCsvHeader[3], FigureJson(row.rttMaxMs, 3)},
            {kCsvHeader[4], row.answered},
            {kCsvHeader[5], row.lost},
            {kCsvHeader[6], FigureJson(row.peakMinDbfs, 1)},
            {kCsvHeader[7], FigureJson(row.peakMaxDbfs, 1)},
            {kCsvHeader[8], row.downMs / 1000.0},
            {kCsvHeader[9], row.silentMs / 1000.0},
            {kCsvHeader[10], row.upMs / 1000.0}};
}

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
