#include "app/JournalEvents.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <utility>

#include "services/ServiceManager.h"

namespace nms {

namespace {

// Made once with a random generator; they never change, since searches and alert rules name them.
constexpr std::pair<const char*, const char*> kMessageIds[] = {
    {"console-started", "94c3550b5b364ebfb0d7cd0855406c45"},  {"console-stopped", "804d050498eb4da99005a27012302c97"},
    {"discovery", "8e655fb754794bedb229e0ff48b54cb4"},        {"element-new", "4b040e7fc1db4c29ab17c19799fa61d3"},
    {"element-missing", "472a3c12de5f4122ae680087c1182647"},  {"element-down", "4c2d5465ef9a4e94acfdd74c196ccaa4"},
    {"element-up", "20f3c7fb37a1410895b543fdaea0184a"},       {"silence", "e3ec77c90b2849c5aca000ba72aeb1ae"},
    {"audio-back", "82d76bb409b846d29390bfe89eababc5"},       {"config-sent", "4fa97cb4c1c641d597e2b9b5967cdb49"},
    {"config-confirmed", "d8a60608e34241cbb60855db24fe60d8"}, {"config-refused", "0766b4813de94297b822d0a0554b3d13"},
    {"config-timeout", "712983bb9862449984da0dce8aa825d9"},   {"attenuation-set", "a8db6830bb3f4f8aa42c07d9426f8df7"},
    {"element-added", "271faf549fc846dab793a541b611d909"},    {"element-deleted", "26d280ddcf7e4590bf90d4e9691823f5"},
    {"neighbour-limit", "a795392897454438b4a059a461545ae0"},  {"watch-reloaded", "e950ea3d576f4c8890614aaf01ef01f1"},
    {"acknowledged", "b81224cf51564aa6a4b08a462ae73b17"},     {"maintenance-start", "e5450cd4196540f9a9ad2f3ab19f98c1"},
    {"maintenance-end", "6e279c715eb0489282d7d36887e1cb48"},  {"notify-sent", "40bf078c73af43b59302cc96871e79e7"},
    {"notify-failed", "990c55d1cae14a82b9d6122dec8a49c9"},
};

JournalPriority EventPriority(const QString& event)
{
    if (event == u"element-down" || event == u"silence")
        return JournalPriority::Error;
    if (event == u"element-up" || event == u"audio-back")
        return JournalPriority::Notice;
    // An alarm that did not reach whoever is on call.
    if (event == u"notify-failed")
        return JournalPriority::Warning;
    return JournalPriority::Info;
}

QString ValueText(const QJsonValue& value)
{
    if (value.isString())
        return value.toString();
    if (value.isDouble())
        return QString::number(value.toDouble());
    if (value.isBool())
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    if (value.isNull())
        return QStringLiteral("none");
    const QJsonDocument document = value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    return QString::fromUtf8(document.toJson(QJsonDocument::Compact));
}

QByteArray Field(const char* name, const QString& value)
{
    return QByteArray(name) + '=' + value.toUtf8();
}

} // namespace

QByteArray EventMessageId(const QString& event)
{
    for (const auto& [name, id] : kMessageIds) {
        if (event == QLatin1String(name))
            return QByteArray(id);
    }
    return {};
}

QList<QByteArray> JournalEntry(const QByteArray& eventLine)
{
    const QJsonObject object = QJsonDocument::fromJson(eventLine).object();
    const QString event = object.value(QStringLiteral("event")).toString();
    if (event.isEmpty())
        return {};
    const QString mac = object.value(QStringLiteral("mac")).toString();
    const QString ip = object.value(QStringLiteral("ip")).toString();
    const QString name = object.value(QStringLiteral("name")).toString();

    // "element-down: STUDIO TX [00:11:22:33:44:55] 10.0.0.5 (misses 3)"
    QString message = event;
    if (!mac.isEmpty() || !ip.isEmpty())
        message += QStringLiteral(": %1 [%2] %3").arg(name, mac, ip);
    QStringList details;
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        static const QStringList kShown = {"time", "event", "mac", "ip", "name", "role"};
        if (kShown.contains(it.key()))
            continue;
        details.append(it.key() + u' ' + ValueText(it.value()));
    }
    if (!details.isEmpty())
        message += QStringLiteral(" (%1)").arg(details.join(QStringLiteral(", ")));

    QList<QByteArray> fields = {Field("MESSAGE", message), "PRIORITY=" + QByteArray::number(int(EventPriority(event))),
                                Field("ORBILANE_EVENT", event)};
    const QByteArray id = EventMessageId(event);
    if (!id.isEmpty())
        fields.append("MESSAGE_ID=" + id);
    if (!mac.isEmpty())
        fields.append(Field("ORBILANE_MAC", mac));
    if (!ip.isEmpty())
        fields.append(Field("ORBILANE_IP", ip));
    if (!name.isEmpty())
        fields.append(Field("ORBILANE_NAME", name));
    return fields;
}

} // namespace nms
