#include "ctl/CtlOutput.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <cstdio>

#include "app/ElementLookup.h"
#include "app/PortOwner.h"
#include "audio/AttenuationText.h"
#include "ctl/CtlCommandLine.h"
#include "database/ElementRecords.h"
#include "database/EventLog.h"
#include "link/Datagrams.h"
#include "session/ConsoleState.h"

namespace nms {

namespace {

void Write(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

// A stored selector as its caption; "" when the stored value is none of the choices.
QString Choice(const QString& stored, const QStringList& choices)
{
    const int index = StoredListIndex(stored, int(choices.size()));
    return index < 0 ? QString() : choices.at(index);
}

QJsonValue TextOrNull(const QString& text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

} // namespace

void PrintOut(const QString& text)
{
    Write(stdout, text);
}

void PrintJson(const QJsonDocument& document)
{
    Write(stdout, QString::fromUtf8(document.toJson(QJsonDocument::Indented)));
}

void PrintPortTaken(quint16 port)
{
    const QString service = WatchServiceHoldsPortText(port);
    if (service.isEmpty()) {
        PrintError(QStringLiteral("port %1 is in use (is the Orbilane NMS console running?)").arg(port));
        return;
    }
    for (const QString& line : service.split(QLatin1Char('\r')))
        PrintError(line);
}

void PrintError(const QString& text)
{
    Write(stderr, QStringLiteral("orbilanectl: ") + text + u'\n');
}

void StderrNotices::post(const Notice& notice)
{
    if (notice.icon == NoticeIcon::Error)
        ++errors_;
    const QString title = notice.title.isEmpty() ? ProgramTitle() : notice.title;
    const QStringList lines = notice.text.split(u'\r');
    QString text = title + QStringLiteral(": ") + lines.first() + u'\n';
    for (qsizetype i = 1; i < lines.size(); ++i)
        text += QStringLiteral("  ") + lines.at(i) + u'\n';
    Write(stderr, text);
}

QList<RecordField> DescribeRecord(const ElementRecord& record)
{
    // The event log's words for the name and the role, so that both read alike.
    const QJsonObject event = ElementEventFields(record);
    const QString name = event.value(QLatin1String("name")).toString();
    const bool decoder = RoleFromStored(record.role) == ElementRole::Decoder;
    QList<RecordField> fields = {
        {QStringLiteral("mac"), QStringLiteral("MAC"), KeyToMacText(record.key), KeyToMacText(record.key)},
        {QStringLiteral("name"), QStringLiteral("Name"), name, name},
        {QStringLiteral("ip"), QStringLiteral("IP address"), record.ip, TextOrNull(record.ip)},
        {QStringLiteral("mask"), QStringLiteral("Mask"), record.mask, TextOrNull(record.mask)},
        {QStringLiteral("gateway"), QStringLiteral("Gateway"), record.gw, TextOrNull(record.gw)},
        {QStringLiteral("remote"), QStringLiteral("Remote IP"), record.remote, TextOrNull(record.remote)},
    };
    const QString input = Choice(record.input, AudioInputChoices());
    const QString type = Choice(record.type, AudioTypeChoices());
    const QString tx = Choice(record.tx, AudioTxChoices());
    fields.append({QStringLiteral("input"), QStringLiteral("Audio input"), input, TextOrNull(input)});
    fields.append({QStringLiteral("type"), QStringLiteral("Audio type"), type, TextOrNull(type)});
    fields.append({QStringLiteral("tx"), QStringLiteral("Audio TX"), tx, TextOrNull(tx)});
    fields.append({QStringLiteral("role"), QStringLiteral("Role"), RoleCaption(RoleFromStored(record.role)),
                   event.value(QLatin1String("role"))});
    bool serialOk = false;
    const int serial = record.sn.toInt(&serialOk);
    fields.append({QStringLiteral("serial"), QStringLiteral("Serial number"), record.sn,
                   serialOk ? QJsonValue(serial) : TextOrNull(record.sn)});
    // An encoder's section holds the attenuation of the last decoder that answered: only a
    // decoder's own means anything.
    bool attOk = false;
    const int att = record.att.toInt(&attOk);
    RecordField attenuation {QStringLiteral("attenuationDb"), QStringLiteral("Attenuation"), QString(), QJsonValue()};
    if (decoder && attOk && att >= AttenuationMinimum && att <= AttenuationZeroDb) {
        attenuation.text = AttenuationCaption(att, AttenuationMinimum, QLocale::c());
        attenuation.json = att == AttenuationMinimum ? QJsonValue(QStringLiteral("mute"))
                                                     : QJsonValue((att - AttenuationZeroDb) * 0.5);
    }
    fields.append(attenuation);
    return fields;
}

QJsonObject RecordJson(const ElementRecord& record)
{
    QJsonObject object;
    for (const RecordField& field : DescribeRecord(record))
        object.insert(field.key, field.json);
    return object;
}

QStringList RecordCsvHeader()
{
    QStringList header;
    for (const RecordField& field : DescribeRecord(ElementRecord()))
        header.append(field.key);
    return header;
}

QStringList RecordCsvFields(const ElementRecord& record)
{
    QStringList fields;
    for (const RecordField& field : DescribeRecord(record))
        fields.append(field.text);
    return fields;
}

QString ElementLabel(const ElementRecord& record)
{
    const QJsonObject event = ElementEventFields(record);
    return QStringLiteral("%1 [%2] %3")
        .arg(event.value(QLatin1String("name")).toString(), KeyToMacText(record.key), record.ip);
}

QString TableText(const QStringList& header, const QList<QStringList>& rows)
{
    QList<qsizetype> widths;
    for (const QString& cell : header)
        widths.append(cell.size());
    for (const QStringList& row : rows) {
        for (qsizetype i = 0; i < row.size() && i < widths.size(); ++i)
            widths[i] = qMax(widths.at(i), row.at(i).size());
    }
    auto line = [&widths](const QStringList& cells) {
        QString text;
        for (qsizetype i = 0; i < cells.size(); ++i)
            text += i + 1 < cells.size() ? cells.at(i).leftJustified(widths.at(i) + 2) : cells.at(i);
        return text + u'\n';
    };
    QString text = line(header);
    for (const QStringList& row : rows)
        text += line(row);
    return text;
}

int CheckDatabaseReadable(const QString& path, QString* reason)
{
    const QFileInfo info(path);
    if (!info.exists())
        return ExitOk;
    QFile file(path);
    if (info.isDir() || !file.open(QIODevice::ReadOnly)) {
        *reason = QStringLiteral("cannot read the database %1: %2")
                      .arg(path, info.isDir() ? QStringLiteral("it is a folder") : file.errorString());
        return ExitCannotRun;
    }
    return ExitOk;
}

int ResolveElement(const QString& databasePath, const QString& text, ElementRecord* record, QString* message)
{
    if (const int status = CheckDatabaseReadable(databasePath, message); status != ExitOk)
        return status;
    const ElementStore store(databasePath);
    const ElementMatch match = FindElement(store.readAll(), text);
    switch (match.kind) {
    case ElementMatch::Kind::Found:
        // The whole record in one parse, with its entry count (readAll leaves it out).
        *record = store.read(match.elements.first().key);
        return ExitOk;
    case ElementMatch::Kind::NotFound:
        *message = QStringLiteral("no element '%1' in the database %2").arg(text, databasePath);
        return ExitFailed;
    case ElementMatch::Kind::Ambiguous: break;
    }
    QStringList names;
    for (const ElementRecord& element : match.elements)
        names.append(ElementLabel(element));
    *message = QStringLiteral("'%1' fits %2 elements: %3")
                   .arg(text)
                   .arg(match.elements.size())
                   .arg(names.join(QStringLiteral(", ")));
    return ExitFailed;
}

} // namespace nms
