// history: an element's minute (or hourly) rows from the history file, read beside the watch.

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>
#include <cstdio>

#include "app/ElementLookup.h"
#include "base/Duration.h"
#include "ctl/Commands.h"
#include "ctl/CtlOutput.h"
#include "database/ElementRecords.h"
#include "trends/TrendDatabase.h"

namespace nms {

namespace {

QString Cell(double value, int decimals)
{
    if (qIsNaN(value))
        return QStringLiteral("-");
    return std::isfinite(value) ? QString::number(value, 'f', decimals) : QStringLiteral("silence");
}

QString Seconds(qint64 ms)
{
    return QString::number(ms / 1000.0, 'f', ms % 1000 ? 1 : 0);
}

} // namespace

int RunHistory(const CtlArguments& arguments)
{
    const bool csv = arguments.isSet(QStringLiteral("csv"));
    if (csv && arguments.json) {
        PrintError(QStringLiteral("history: --csv or --json, not both"));
        return ExitUsage;
    }
    const TrendSettings settings;
    qint64 sinceMs = 24 * 60 * 60 * 1000LL;
    if (arguments.isSet(QStringLiteral("since"))) {
        sinceMs = ParseDuration(arguments.value(QStringLiteral("since")));
        if (sinceMs < 0) {
            PrintError(QStringLiteral("--since takes a duration such as 90m, 2h, 30d or 1w, not '%1'")
                           .arg(arguments.value(QStringLiteral("since"))));
            return ExitUsage;
        }
    }
    const QString path = CtlDatabasePath(arguments);
    ElementRecord record;
    QString message;
    const QString text = arguments.arguments.first();
    if (const int status = ResolveElement(path, text, &record, &message); status != ExitOk) {
        // An element no longer stored keeps its history: its MAC still names it.
        record.key = MacTextToElementKey(text);
        if (status != ExitFailed || record.key.isEmpty()) {
            PrintError(message);
            return status;
        }
    }

    TrendDatabase database(TrendDatabase::PathBeside(path));
    if (!QFileInfo::exists(database.path())) {
        PrintError(QStringLiteral("no history has been kept yet in %1 (the console and 'orbilanectl monitor' keep it "
                                  "while they watch)")
                       .arg(database.path()));
        return ExitFailed;
    }
    if (!database.open(TrendDatabase::Mode::Read)) {
        PrintError(QStringLiteral("the history %1 cannot be read: %2").arg(database.path(), database.errorText()));
        return ExitCannotRun;
    }
    // Minute rows are kept for 30 days; further back only the hours are left.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const bool hourly = sinceMs > settings.keepBuckets * database.bucketMs();
    const qint64 from = now - sinceMs;
    const QList<TrendRow> rows = database.read(record.key, from, now + 1, hourly);
    if (database.failure() != TrendDatabase::Failure::None) {
        PrintError(QStringLiteral("the history %1 cannot be read: %2").arg(database.path(), database.errorText()));
        return ExitCannotRun;
    }

    if (csv) {
        const QByteArray text = TrendRowsCsv(rows);
        std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
        return ExitOk;
    }
    if (arguments.json) {
        QJsonArray array;
        for (const TrendRow& row : rows)
            array.append(TrendRowJson(row));
        const qint64 bucket = hourly ? database.bucketMs() * settings.bucketsPerHour : database.bucketMs();
        PrintJson(QJsonDocument(QJsonObject {
            {QStringLiteral("mac"), KeyToMacText(record.key)},
            {QStringLiteral("name"), record.name.trimmed()},
            {QStringLiteral("since"), QDateTime::fromMSecsSinceEpoch(from, Qt::UTC).toString(Qt::ISODateWithMs)},
            {QStringLiteral("bucket_s"), bucket / 1000.0},
            {QStringLiteral("rows"), array}}));
        return ExitOk;
    }
    if (rows.isEmpty()) {
        PrintError(QStringLiteral("no history of %1 in the last %2").arg(text, DurationText(sinceMs)));
        return ExitOk;
    }
    QList<QStringList> table;
    table.reserve(rows.size());
    for (const TrendRow& row : rows) {
        table.append({QDateTime::fromMSecsSinceEpoch(row.startMs).toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                      Cell(row.rttMinMs, 2), Cell(row.rttMedianMs, 2), Cell(row.rttMaxMs, 2), QString::number(row.lost),
                      Cell(row.peakMinDbfs, 1), Cell(row.peakMaxDbfs, 1), Seconds(row.downMs), Seconds(row.silentMs),
                      Seconds(row.upMs)});
    }
    PrintOut(TableText({QStringLiteral("TIME"), QStringLiteral("RTT MIN"), QStringLiteral("MEDIAN"),
                        QStringLiteral("MAX (ms)"), QStringLiteral("LOST"), QStringLiteral("PEAK MIN"),
                        QStringLiteral("MAX (dBFS)"), QStringLiteral("DOWN"), QStringLiteral("SILENT"),
                        QStringLiteral("UP (s)")},
                       table));
    return ExitOk;
}

} // namespace nms
