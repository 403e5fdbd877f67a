// The commands that only read the database: no socket is opened.

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

#include "base/Csv.h"
#include "base/ProgramInfo.h"
#include "ctl/Commands.h"
#include "ctl/CtlOutput.h"
#include "database/ElementRecords.h"
#include "session/ConsoleState.h"
#include "session/SavedConfiguration.h"

namespace nms {

namespace {

int Fail(int status, const QString& message)
{
    PrintError(message);
    return status;
}

bool ReadAll(const QString& path, QList<ElementRecord>* records, int* status)
{
    QString reason;
    *status = CheckDatabaseReadable(path, &reason);
    if (*status != ExitOk) {
        PrintError(reason);
        return false;
    }
    *records = ElementStore(path).readAll();
    return true;
}

} // namespace

int RunList(const CtlArguments& arguments)
{
    const QString path = CtlDatabasePath(arguments);
    QList<ElementRecord> records;
    int status = ExitOk;
    if (!ReadAll(path, &records, &status))
        return status;
    const QStringList keys = {QStringLiteral("name"), QStringLiteral("mac"), QStringLiteral("ip"),
                              QStringLiteral("role"), QStringLiteral("serial")};
    if (arguments.json) {
        QJsonArray array;
        for (const ElementRecord& record : records) {
            const QJsonObject all = RecordJson(record);
            QJsonObject listed;
            for (const QString& key : keys)
                listed.insert(key, all.value(key));
            array.append(listed);
        }
        PrintJson(QJsonDocument(array));
        return ExitOk;
    }
    QList<QStringList> rows;
    for (const ElementRecord& record : records) {
        QHash<QString, QString> texts;
        for (const RecordField& field : DescribeRecord(record))
            texts.insert(field.key, field.text);
        QStringList row;
        for (const QString& key : keys)
            row.append(texts.value(key));
        rows.append(row);
    }
    if (arguments.isSet(QStringLiteral("csv"))) {
        QString text = CsvLine(keys);
        for (const QStringList& row : rows)
            text += CsvLine(row);
        PrintOut(text);
        return ExitOk;
    }
    if (records.isEmpty()) {
        PrintError(QStringLiteral("the database %1 holds no element").arg(path));
        return ExitOk;
    }
    PrintOut(TableText({QStringLiteral("NAME"), QStringLiteral("MAC"), QStringLiteral("IP"), QStringLiteral("ROLE"),
                        QStringLiteral("SERIAL")},
                       rows));
    return ExitOk;
}

int RunShow(const CtlArguments& arguments)
{
    ElementRecord record;
    QString message;
    if (const int status = ResolveElement(CtlDatabasePath(arguments), arguments.arguments.first(), &record, &message);
        status != ExitOk)
        return Fail(status, message);
    if (record.entryCount > MaxSoundSectionEntries)
        PrintError(QStringLiteral("the record of %1 is damaged (%2 entries): shown as stored")
                       .arg(KeyToMacText(record.key))
                       .arg(record.entryCount));
    if (arguments.json) {
        PrintJson(QJsonDocument(RecordJson(record)));
        return ExitOk;
    }
    QString text;
    for (const RecordField& field : DescribeRecord(record)) {
        if (field.key == QStringLiteral("attenuationDb") && RoleFromStored(record.role) != ElementRole::Decoder)
            continue;
        text += (field.label + u':').leftJustified(15) + field.text + u'\n';
    }
    PrintOut(text);
    return ExitOk;
}

int RunExport(const CtlArguments& arguments)
{
    const bool csv = arguments.isSet(QStringLiteral("csv"));
    if (csv && arguments.json)
        return Fail(ExitUsage, QStringLiteral("export: --csv or --json, not both"));
    QList<ElementRecord> records;
    int status = ExitOk;
    if (!ReadAll(CtlDatabasePath(arguments), &records, &status))
        return status;
    QString text;
    if (arguments.json) {
        QJsonArray array;
        for (const ElementRecord& record : records)
            array.append(RecordJson(record));
        text = QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented));
    } else {
        text = CsvLine(RecordCsvHeader());
        for (const ElementRecord& record : records)
            text += CsvLine(RecordCsvFields(record));
    }
    if (arguments.arguments.isEmpty()) {
        PrintOut(text);
        return ExitOk;
    }
    // Whole or not at all: an export read by another program is never half written.
    QSaveFile file(arguments.arguments.first());
    const QByteArray bytes = text.toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return Fail(ExitCannotRun,
                    QStringLiteral("cannot write %1: %2").arg(arguments.arguments.first(), file.errorString()));
    PrintError(QStringLiteral("%1 elements written to %2").arg(records.size()).arg(arguments.arguments.first()));
    return ExitOk;
}

int RunSaveConfig(const CtlArguments& arguments)
{
    ElementRecord record;
    QString message;
    if (const int status = ResolveElement(CtlDatabasePath(arguments), arguments.arguments.first(), &record, &message);
        status != ExitOk)
        return Fail(status, message);
    const QString file = arguments.arguments.at(1);
    QString error;
    if (!SaveConfigurationFile(file, record, VersionText(), &error))
        return Fail(ExitCannotRun, QStringLiteral("cannot write %1: %2").arg(file, error));
    PrintError(QStringLiteral("the configuration of %1 was written to %2").arg(ElementLabel(record), file));
    return ExitOk;
}

} // namespace nms
