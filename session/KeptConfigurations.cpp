#include "session/KeptConfigurations.h"

#include <QRegularExpression>

#include <algorithm>

#include "database/ElementRecords.h"

namespace nms {

QList<KeptConfiguration> KeptConfigurations(const QList<HistoryEntry>& history, const QStringList& databaseKeys)
{
    QList<KeptConfiguration> kept;
    kept.reserve(history.size());
    for (const HistoryEntry& entry : history)
        kept.append({entry.record, entry.lastSeen, databaseKeys.contains(entry.record.key, Qt::CaseInsensitive)});
    std::stable_sort(kept.begin(), kept.end(), [](const KeptConfiguration& a, const KeptConfiguration& b) {
        return a.lastSeen != b.lastSeen ? a.lastSeen > b.lastSeen : a.record.key < b.record.key;
    });
    return kept;
}

QString KeptConfigurationCaption(const KeptConfiguration& kept)
{
    const QString caption = QStringLiteral("%1 [%2]").arg(kept.record.name.trimmed(), KeyToMacText(kept.record.key));
    return kept.inDatabase ? caption : caption + QStringLiteral(" (not in the database)");
}

ConfigurationFill FillFromRecord(const ElementRecord& kept, ElementRole shown)
{
    ConfigurationFill fill {StoredConfigFields(kept), std::nullopt};
    bool ok = false;
    const int att = kept.att.toInt(&ok);
    if (shown == ElementRole::Decoder && RoleFromStored(kept.role) == ElementRole::Decoder && ok
        && att >= AttenuationMinimum && att <= AttenuationZeroDb)
        fill.attenuation = att;
    return fill;
}

std::optional<QString> RoleMismatchQuestion(const ElementRecord& kept, ElementRole shown)
{
    const ElementRole keptRole = RoleFromStored(kept.role);
    if (keptRole == shown)
        return std::nullopt;
    return QStringLiteral("The configuration of %1 [%2] is of another role than the selected Network Element.\r"
                          "Role of the configuration: %3\r"
                          "Role of the selected Network Element: %4\r\r"
                          "Apply it anyway?")
        .arg(kept.name.trimmed(), KeyToMacText(kept.key), RoleCaption(keptRole), RoleCaption(shown));
}

QString ConfigurationFileName(const ElementRecord& record)
{
    // Only what every file system and shell takes without quoting.
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9._-]+"));
    QStringList parts;
    const QString name = record.name.trimmed().replace(unsafe, QStringLiteral("_"));
    if (!name.isEmpty() && name != QLatin1String("_"))
        parts.append(name);
    const QString mac = KeyToMacText(record.key).replace(u':', u'-');
    if (!mac.isEmpty())
        parts.append(mac);
    if (parts.isEmpty())
        parts.append(QStringLiteral("element"));
    return parts.join(u'_') + QStringLiteral(".json");
}

} // namespace nms
