#include "transports/NotifyMessage.h"

#include <QJsonArray>

namespace nms {

namespace {

QJsonValue TimeValue(const QDateTime& time)
{
    return time.isValid() ? QJsonValue(time.toUTC().toString(Qt::ISODateWithMs)) : QJsonValue(QJsonValue::Null);
}

QJsonObject ElementObject(const NotifyElement& element)
{
    return {{QStringLiteral("name"), element.name},
            {QStringLiteral("mac"), element.mac},
            {QStringLiteral("ip"), element.ip},
            {QStringLiteral("role"), element.role}};
}

std::optional<NotifyElement> ElementFrom(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject o = value.toObject();
    NotifyElement element;
    for (auto [key, field] : {std::pair {"name", &element.name}, std::pair {"mac", &element.mac},
                              std::pair {"ip", &element.ip}, std::pair {"role", &element.role}}) {
        const QJsonValue v = o.value(QLatin1String(key));
        if (!v.isUndefined() && !v.isString())
            return std::nullopt;
        *field = v.toString();
    }
    return element;
}

// A time as written by TimeValue; null or absent is "not known", anything else malformed.
bool TimeFrom(const QJsonValue& value, QDateTime* time)
{
    if (value.isNull() || value.isUndefined()) {
        *time = QDateTime();
        return true;
    }
    *time = QDateTime::fromString(value.toString(), Qt::ISODateWithMs).toUTC();
    return time->isValid();
}

} // namespace

QJsonObject NotifyMessage::toJson() const
{
    QJsonObject o {
        {QStringLiteral("id"), id},
        {QStringLiteral("notifier"), notifier},
        {QStringLiteral("status"), status},
        {QStringLiteral("event"), event},
        {QStringLiteral("reminder"), reminder},
        {QStringLiteral("time"), TimeValue(time)},
        {QStringLiteral("since"), TimeValue(since)},
        {QStringLiteral("duration_s"), durationS >= 0 ? QJsonValue(durationS) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("title"), title},
        {QStringLiteral("text"), text},
    };
    if (!elements.isEmpty())
        o.insert(QStringLiteral("element"), ElementObject(elements.first()));
    if (elements.size() > 1) {
        QJsonArray list;
        for (const NotifyElement& element : elements)
            list.append(ElementObject(element));
        o.insert(QStringLiteral("count"), elements.size());
        o.insert(QStringLiteral("elements"), list);
    }
    return o;
}

std::optional<NotifyMessage> NotifyMessage::FromJson(const QJsonObject& o)
{
    NotifyMessage m;
    for (auto [key, field] :
         {std::pair {"id", &m.id}, std::pair {"notifier", &m.notifier}, std::pair {"status", &m.status},
          std::pair {"event", &m.event}, std::pair {"title", &m.title}, std::pair {"text", &m.text}}) {
        const QJsonValue v = o.value(QLatin1String(key));
        if (!v.isUndefined() && !v.isString())
            return std::nullopt;
        *field = v.toString();
    }
    if (m.id.isEmpty() || m.event.isEmpty()
        || !QStringList {QStringLiteral("firing"), QStringLiteral("resolved"), QStringLiteral("test")}.contains(
            m.status))
        return std::nullopt;
    const QJsonValue reminder = o.value(QLatin1String("reminder"));
    if (!reminder.isUndefined() && !reminder.isBool())
        return std::nullopt;
    m.reminder = reminder.toBool();
    if (!TimeFrom(o.value(QLatin1String("time")), &m.time) || !m.time.isValid()
        || !TimeFrom(o.value(QLatin1String("since")), &m.since))
        return std::nullopt;
    const QJsonValue duration = o.value(QLatin1String("duration_s"));
    if (duration.isDouble() && duration.toDouble() >= 0 && duration.toDouble() == qint64(duration.toDouble()))
        m.durationS = qint64(duration.toDouble());
    else if (!duration.isNull() && !duration.isUndefined())
        return std::nullopt;

    // Several: the list (the first also stands alone as "element"); one: "element" alone.
    const QJsonValue list = o.value(QLatin1String("elements"));
    if (list.isArray()) {
        for (const QJsonValue& v : list.toArray()) {
            const std::optional<NotifyElement> element = ElementFrom(v);
            if (!element)
                return std::nullopt;
            m.elements.append(*element);
        }
    } else if (!list.isUndefined()) {
        return std::nullopt;
    } else if (o.contains(QLatin1String("element"))) {
        const std::optional<NotifyElement> element = ElementFrom(o.value(QLatin1String("element")));
        if (!element)
            return std::nullopt;
        m.elements.append(*element);
    }
    return m;
}

} // namespace nms
