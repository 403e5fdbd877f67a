#include "notify/NotifySettings.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

#include <cmath>

#include "database/ElementRecords.h"

namespace nms {

namespace {

const QString kGroupPrefix = QStringLiteral("notify.");
constexpr qint64 kMinuteMs = 60 * 1000;
constexpr int kHourMs = 60 * 60 * 1000;

// A MAC address in any spelling as 12 lower-case hex digits; empty when it is none.
QString MacDigits(const QString& text)
{
    QString digits = text.trimmed().toLower();
    digits.remove(QRegularExpression(QStringLiteral("[:.\\-]")));
    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{12}$"));
    return hex.match(digits).hasMatch() ? digits : QString();
}

QStringList ListValue(const QVariant& value)
{
    // An unquoted comma makes a list of the value, no comma a single string.
    QStringList items =
        value.typeId() == QMetaType::QStringList ? value.toStringList() : value.toString().split(QLatin1Char(','));
    QStringList result;
    for (const QString& item : items) {
        if (!item.trimmed().isEmpty())
            result.append(item.trimmed());
    }
    return result;
}

QString Text(const QVariant& value)
{
    return value.typeId() == QMetaType::QStringList ? value.toStringList().join(QLatin1Char(','))
                                                    : value.toString().trimmed();
}

// One common key of a group into `value` when it is there; false with the reason when it is unusable.
bool ReadNumber(const QVariantMap& group, const QString& key, double low, double high, double* value, QString* reason)
{
    if (!group.contains(key))
        return true;
    const QString text = Text(group.value(key));
    bool ok = false;
    const double read = text.toDouble(&ok);
    // Written so that "nan", which toDouble accepts, fails the range as well.
    if (ok && read >= low && read <= high) {
        *value = read;
        return true;
    }
    *reason = QStringLiteral("%1 = '%2' is not a number from %3 to %4").arg(key, text).arg(low).arg(high);
    return false;
}

bool ReadRules(const QString& name, const QVariantMap& group, NotifierRules* rules, QString* reason)
{
    rules->name = name;
    rules->group = group;
    rules->type = Text(group.value(QStringLiteral("type")));
    if (rules->type.isEmpty()) {
        *reason = QStringLiteral("it has no type (email, webhook, exec or snmp-trap)");
        return false;
    }
    if (group.contains(QStringLiteral("events"))) {
        rules->events = ListValue(group.value(QStringLiteral("events")));
        for (const QString& event : rules->events) {
            if (!NotifyEventNames().contains(event)) {
                *reason = QStringLiteral("events: '%1' is none of %2").arg(event, NotifyEventNames().join(u", "));
                return false;
            }
        }
        if (rules->events.isEmpty()) {
            *reason = QStringLiteral("events is empty");
            return false;
        }
    }
    rules->elements = ListValue(group.value(QStringLiteral("elements")));
    double batch = rules->batchMs, repeat = 0, changes = rules->flapChanges,
           window = double(rules->flapWindowMs) / kMinuteMs;
    if (!ReadNumber(group, QStringLiteral("batch_ms"), 0, kHourMs, &batch, reason)
        || !ReadNumber(group, QStringLiteral("repeat_minutes"), 0, 7 * 24 * 60, &repeat, reason)
        || !ReadNumber(group, QStringLiteral("flap_changes"), 1, 1000, &changes, reason)
        || !ReadNumber(group, QStringLiteral("flap_minutes"), 0, 24 * 60, &window, reason))
        return false;
    if (changes != std::floor(changes) || batch != std::floor(batch)) {
        *reason = QStringLiteral("batch_ms and flap_changes are whole numbers");
        return false;
    }
    rules->batchMs = int(batch);
    rules->repeatMs = qint64(repeat * kMinuteMs);
    rules->flapChanges = int(changes);
    rules->flapWindowMs = qint64(window * kMinuteMs);
    return true;
}

} // namespace

const QStringList& NotifyEventNames()
{
    static const QStringList names = {QStringLiteral("element-down"),    QStringLiteral("element-up"),
                                      QStringLiteral("silence"),         QStringLiteral("audio-back"),
                                      QStringLiteral("element-missing"), QStringLiteral("config-refused"),
                                      QStringLiteral("config-timeout")};
    return names;
}

bool IsLastingAlarm(const QString& event)
{
    return event == u"element-down" || event == u"silence";
}

bool IsRecovery(const QString& event)
{
    return !AlarmRecovered(event).isEmpty();
}

QString AlarmRecovered(const QString& recovery)
{
    if (recovery == u"element-up")
        return QStringLiteral("element-down");
    if (recovery == u"audio-back")
        return QStringLiteral("silence");
    return {};
}

bool NotifierRules::concerns(const ElementRecord& record) const
{
    if (elements.isEmpty())
        return true;
    const QString name = record.name.trimmed();
    const QString mac = MacDigits(KeyToMacText(record.key));
    const QString ip = record.ip.trimmed();
    for (const QString& element : elements) {
        if ((!name.isEmpty() && element.compare(name, Qt::CaseInsensitive) == 0) || (!ip.isEmpty() && element == ip))
            return true;
        const QString digits = MacDigits(element);
        if (!digits.isEmpty() && digits == mac)
            return true;
    }
    return false;
}

NotifySettings NotifySettings::Load(const QString& path)
{
    NotifySettings result;
    const QFileInfo info(path);
    if (!info.exists())
        return result;
    QSettings settings(path, QSettings::IniFormat);
    bool password = false;
    QList<std::pair<QString, QVariantMap>> groups;
    for (const QString& groupName : settings.childGroups()) {
        settings.beginGroup(groupName);
        QVariantMap group;
        for (const QString& key : settings.childKeys())
            group.insert(key, settings.value(key));
        settings.endGroup();
        password = password || group.contains(QStringLiteral("password"));
        if (groupName.startsWith(kGroupPrefix))
            groups.append({groupName.mid(kGroupPrefix.size()), group});
    }
    if (password && (info.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther))) {
        result.fileRefused =
            QStringLiteral("The settings file %1 holds a password and can be read by others than its owner, so no "
                           "notifier is used. Make it readable by its owner only (chmod 600 %1) or name a file "
                           "holding the password with password_file.")
                .arg(path);
        return result;
    }
    for (const auto& [name, group] : groups) {
        NotifierRules rules;
        QString reason;
        if (name.isEmpty())
            result.refused.append(QStringLiteral("[notify.] a notifier needs a name"));
        else if (ReadRules(name, group, &rules, &reason))
            result.notifiers.append(rules);
        else
            result.refused.append(QStringLiteral("[notify.%1] %2").arg(name, reason));
    }
    return result;
}

} // namespace nms
