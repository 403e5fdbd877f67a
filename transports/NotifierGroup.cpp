#include "transports/NotifierGroup.h"

namespace nms {

bool NotifierGroup::has(const QString& key) const
{
    return group_.contains(key);
}

QString NotifierGroup::text(const QString& key, bool required, const QString& fallback)
{
    const QVariant value = group_.value(key);
    if (value.userType() == QMetaType::QStringList) {
        refuse(key, QStringLiteral("one value expected, not a list (a comma in it?)"));
        return QString();
    }
    const QString text = value.toString().trimmed();
    if (text.isEmpty()) {
        if (required)
            refuse(key, QStringLiteral("missing"));
        return fallback;
    }
    return text;
}

QStringList NotifierGroup::list(const QString& key, bool required)
{
    const QVariant value = group_.value(key);
    const QStringList raw =
        value.userType() == QMetaType::QStringList ? value.toStringList() : value.toString().split(QLatin1Char(','));
    QStringList items;
    for (const QString& item : raw)
        if (!item.trimmed().isEmpty())
            items.append(item.trimmed());
    if (items.isEmpty() && required)
        refuse(key, QStringLiteral("missing"));
    return items;
}

bool NotifierGroup::flag(const QString& key, bool fallback)
{
    const QString value = text(key, false).toLower();
    if (value.isEmpty())
        return fallback;
    if (value == QLatin1String("true") || value == QLatin1String("yes") || value == QLatin1String("1"))
        return true;
    if (value == QLatin1String("false") || value == QLatin1String("no") || value == QLatin1String("0"))
        return false;
    refuse(key, QStringLiteral("'%1' is neither true nor false").arg(value));
    return fallback;
}

int NotifierGroup::millis(const QString& key, double fallbackSeconds)
{
    const QString value = text(key, false);
    if (value.isEmpty())
        return int(fallbackSeconds * 1000);
    bool number = false;
    const double seconds = value.toDouble(&number);
    if (!number || !(seconds > 0) || seconds > 86400) {
        refuse(key, QStringLiteral("'%1' is not a number of seconds (above 0, at most 86400)").arg(value));
        return int(fallbackSeconds * 1000);
    }
    return qMax(1, int(seconds * 1000));
}

QString NotifierGroup::choice(const QString& key, const QStringList& choices)
{
    const QString value = text(key, false, choices.first()).toLower();
    if (!choices.contains(value)) {
        refuse(key, QStringLiteral("'%1' is not one of %2").arg(value, choices.join(QStringLiteral(", "))));
        return choices.first();
    }
    return value;
}

void NotifierGroup::refuse(const QString& key, const QString& reason)
{
    if (error_.isEmpty())
        error_ = QStringLiteral("[notify.%1] %2: %3").arg(name_, key, reason);
}

} // namespace nms
