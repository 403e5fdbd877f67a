#include "base/Duration.h"

#include <QRegularExpression>

#include <algorithm>

namespace nms {

QString DurationText(qint64 ms)
{
    const qint64 s = std::max<qint64>(0, ms / 1000);
    const qint64 days = s / 86400, hours = s % 86400 / 3600, minutes = s % 3600 / 60, seconds = s % 60;
    if (days > 0)
        return QStringLiteral("%1 d %2 h").arg(days).arg(hours);
    if (hours > 0)
        return QStringLiteral("%1 h %2 min").arg(hours).arg(minutes);
    if (minutes > 0)
        return QStringLiteral("%1 min %2 s").arg(minutes).arg(seconds);
    return QStringLiteral("%1 s").arg(seconds);
}

qint64 ParseDuration(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("^([0-9]+(?:\\.[0-9]+)?)\\s*(s|m|min|h|d|w)?$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(text.trimmed());
    if (!match.hasMatch())
        return -1;
    const QString unit = match.captured(2).toLower();
    const double factor = unit == u"w"   ? 7 * 86400.0
        : unit == u"d"                   ? 86400.0
        : unit == u"h"                   ? 3600.0
        : unit == u"m" || unit == u"min" ? 60.0
                                         : 1.0;
    const double ms = match.captured(1).toDouble() * factor * 1000.0;
    return ms >= 1 && ms < 1e15 ? qint64(ms) : -1;
}

} // namespace nms
