#include "trends/TrendRow.h"

#include <QDateTime>
#include <QSettings>

#include "base/Csv.h"

#include <charconv>
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

// "2026-12-08T08:31:00Z", from the civil calendar's arithmetic: QDateTime takes microseconds a
// line, which a month of minutes feels.
QByteArray UtcText(qint64 ms)
{
    const qint64 seconds = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    qint64 days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    const qint64 inDay = seconds - days * 86400;
    days += 719468;
    const qint64 era = (days >= 0 ? days : days - 146096) / 146097;
    const qint64 dayOfEra = days - era * 146097;
    const qint64 yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const qint64 dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const qint64 shifted = (5 * dayOfYear + 2) / 153;
    const int day = int(dayOfYear - (153 * shifted + 2) / 5 + 1);
    const int month = int(shifted < 10 ? shifted + 3 : shifted - 9);
    const int year = int(yearOfEra + era * 400 + (month <= 2));
    char text[] = "0000-00-00T00:00:00Z";
    const auto two = [&text](int at, int value) {
        text[at] = char('0' + value / 10 % 10);
        text[at + 1] = char('0' + value % 10);
    };
    two(0, year / 100);
    two(2, year);
    two(5, month);
    two(8, day);
    two(11, int(inDay / 3600));
    two(14, int(inDay / 60 % 60));
    two(17, int(inDay % 60));
    return QByteArray(text, 20);
}

QString Time(qint64 ms)
{
    return QString::fromLatin1(UtcText(ms));
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

QByteArray TrendRowsCsv(const QList<TrendRow>& rows)
{
    // Written straight into bytes: a month of minutes is 43,200 lines, printed at once.
    QByteArray text = CsvLine(kCsvHeader).toUtf8();
    text.reserve(text.size() + rows.size() * 96);
    char buffer[64];
    const auto number = [&](double value, int decimals) {
        if (std::isfinite(value)) {
            const auto end = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
            text.append(buffer, end.ptr - buffer);
        }
        text.append(',');
    };
    const auto integer = [&](qint64 value, char after) {
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, value);
        text.append(buffer, end.ptr - buffer);
        text.append(after);
    };
    const auto seconds = [&](qint64 ms, char after) {
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, ms / 1000.0);
        text.append(buffer, end.ptr - buffer);
        text.append(after);
    };
    for (const TrendRow& row : rows) {
        text.append(UtcText(row.startMs));
        text.append(',');
        number(row.rttMinMs, 3);
        number(row.rttMedianMs, 3);
        number(row.rttMaxMs, 3);
        integer(row.answered, ',');
        integer(row.lost, ',');
        number(row.peakMinDbfs, 1);
        number(row.peakMaxDbfs, 1);
        seconds(row.downMs, ',');
        seconds(row.silentMs, ',');
        seconds(row.upMs, '\r');
        text.append('\n');
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
