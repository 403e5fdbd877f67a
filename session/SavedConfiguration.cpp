#include "session/SavedConfiguration.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include "base/AddressText.h"
#include "database/ElementRecords.h"
#include "link/Datagrams.h"

namespace nms {

namespace {

const QString kFormat = QStringLiteral("orbilane-nms-configuration");
constexpr qint64 kLargestFile = 64 * 1024; // a configuration is a few hundred bytes

// The words of each selector, by its stored position.
const QStringList kInputs = {QStringLiteral("digital"), QStringLiteral("analog")};
const QStringList kTypes = {QStringLiteral("lr"), QStringLiteral("mpx")};
const QStringList kTx = {QStringLiteral("unicast"), QStringLiteral("multicast")};

QString Word(const QStringList& words, const QString& stored)
{
    bool ok = false;
    const int position = stored.toInt(&ok);
    return ok && position >= 0 && position < words.size() ? words.at(position) : QString();
}

} // namespace

QByteArray ConfigurationToJson(const ElementRecord& record, const QDateTime& saved, const QString& program)
{
    const int role = record.role.toInt();
    QJsonObject o {
        {QStringLiteral("format"), kFormat},
        {QStringLiteral("version"), 1},
        {QStringLiteral("saved"), saved.toUTC().toString(Qt::ISODateWithMs)},
        {QStringLiteral("program"), program},
        {QStringLiteral("name"), record.name.trimmed()},
        {QStringLiteral("mac"), KeyToMacText(record.key)},
        {QStringLiteral("role"), StoredRoleWord(record.role)},
        {QStringLiteral("serial"), record.sn},
        {QStringLiteral("ip"), record.ip},
        {QStringLiteral("mask"), record.mask},
        {QStringLiteral("gateway"), record.gw},
        {QStringLiteral("remote"), record.remote},
        {QStringLiteral("input"), Word(kInputs, record.input)},
        {QStringLiteral("type"), Word(kTypes, record.type)},
        {QStringLiteral("tx"), Word(kTx, record.tx)},
    };
    bool attOk = false;
    const int att = record.att.toInt(&attOk);
    if (role == 2 && attOk)
        o.insert(QStringLiteral("attenuation"), att);
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

std::optional<SavedConfiguration> ConfigurationFromJson(const QByteArray& bytes, QString* error)
{
    auto fail = [error](const QString& why) -> std::optional<SavedConfiguration> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    QJsonParseError parse;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parse);
    if (document.isNull())
        return fail(QStringLiteral("it is not JSON (%1 at byte %2)").arg(parse.errorString()).arg(parse.offset));
    const QJsonObject o = document.object();
    if (!document.isObject() || o.value(QStringLiteral("format")).toString() != kFormat)
        return fail(QStringLiteral("it is not an element configuration (no \"format\": \"%1\")").arg(kFormat));
    if (o.value(QStringLiteral("version")).toInt() != 1)
        return fail(QStringLiteral("its version %1 is not one this program reads")
                        .arg(o.value(QStringLiteral("version")).toVariant().toString()));

    SavedConfiguration c;
    c.saved = QDateTime::fromString(o.value(QStringLiteral("saved")).toString(), Qt::ISODateWithMs);
    c.program = o.value(QStringLiteral("program")).toString();
    ElementRecord& r = c.record;
    r.key = MacTextToKey(o.value(QStringLiteral("mac")).toString().toUpper());
    if (r.key.size() != 12)
        return fail(QStringLiteral("its \"mac\" is not a MAC address"));
    r.name = o.value(QStringLiteral("name")).toString();
    if (r.name.trimmed().isEmpty())
        return fail(QStringLiteral("it has no \"name\""));
    const QString role = o.value(QStringLiteral("role")).toString();
    if (role != QLatin1String("encoder") && role != QLatin1String("decoder"))
        return fail(QStringLiteral("its \"role\" is neither encoder nor decoder"));
    r.role = role == QLatin1String("encoder") ? QStringLiteral("1") : QStringLiteral("2");
    r.sn = o.value(QStringLiteral("serial")).toVariant().toString();
    for (const auto& [key, member] :
         {std::pair {"ip", &ElementRecord::ip}, std::pair {"mask", &ElementRecord::mask},
          std::pair {"gateway", &ElementRecord::gw}, std::pair {"remote", &ElementRecord::remote}}) {
        const QString value = o.value(QLatin1String(key)).toString();
        if (!IsDottedQuad(value))
            return fail(QStringLiteral("its \"%1\" is not an IP address").arg(QLatin1String(key)));
        r.*member = value.trimmed();
    }
    for (const auto& [key, words, member] :
         {std::tuple {"input", &kInputs, &ElementRecord::input}, std::tuple {"type", &kTypes, &ElementRecord::type},
          std::tuple {"tx", &kTx, &ElementRecord::tx}}) {
        const int position = int(words->indexOf(o.value(QLatin1String(key)).toString().toLower()));
        if (position < 0)
            return fail(QStringLiteral("its \"%1\" is not one of %2").arg(QLatin1String(key), words->join(u'/')));
        r.*member = QString::number(position);
    }
    if (role == QLatin1String("decoder") && o.contains(QStringLiteral("attenuation"))) {
        const int att = o.value(QStringLiteral("attenuation")).toInt(-1);
        if (att < AttenuationMinimum || att > AttenuationZeroDb)
            return fail(
                QStringLiteral("its \"attenuation\" is not %1 to %2").arg(AttenuationMinimum).arg(AttenuationZeroDb));
        r.att = QString::number(att);
    }
    return c;
}

bool SaveConfigurationFile(const QString& path, const ElementRecord& record, const QString& program, QString* error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)
        || file.write(ConfigurationToJson(record, QDateTime::currentDateTimeUtc(), program)) < 0 || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

std::optional<SavedConfiguration> LoadConfigurationFile(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return std::nullopt;
    }
    if (file.size() > kLargestFile) {
        if (error)
            *error = QStringLiteral("it is far too large for an element configuration");
        return std::nullopt;
    }
    return ConfigurationFromJson(file.readAll(), error);
}

} // namespace nms
