#include "app/DiscoveryReport.h"

#include <QSet>

#include "database/ElementRecords.h"

namespace nms {

namespace {

constexpr int kNamesShown = 5;

QString Names(const QList<ElementRecord>& records)
{
    QStringList names;
    for (qsizetype i = 0; i < records.size() && i < kNamesShown; ++i)
        names.append(QStringLiteral("%1 [%2]").arg(records.at(i).name.trimmed(), KeyToMacText(records.at(i).key)));
    if (records.size() > kNamesShown)
        names.append(QStringLiteral("and %1 more").arg(records.size() - kNamesShown));
    return names.join(QStringLiteral(", "));
}

} // namespace

DiscoveryReport CompareDiscovery(const QList<ElementRecord>& before, const QList<ElementRecord>& found)
{
    QSet<QString> known, answered;
    for (const ElementRecord& record : before)
        known.insert(record.key);
    for (const ElementRecord& record : found)
        answered.insert(record.key);
    DiscoveryReport report;
    report.found = int(found.size());
    for (const ElementRecord& record : found) {
        if (!known.contains(record.key))
            report.added.append(record);
    }
    for (const ElementRecord& record : before) {
        if (!answered.contains(record.key))
            report.missing.append(record);
    }
    return report;
}

QString DiscoveryReportText(const DiscoveryReport& report)
{
    QString text =
        report.found == 1 ? QStringLiteral("1 element found") : QStringLiteral("%1 elements found").arg(report.found);
    text += QStringLiteral(": %1 new, %2 missing").arg(report.added.size()).arg(report.missing.size());
    if (!report.added.isEmpty())
        text += QStringLiteral("\rNew: ") + Names(report.added);
    if (!report.missing.isEmpty())
        text += QStringLiteral("\rMissing: ") + Names(report.missing);
    return text;
}

} // namespace nms
