#pragma once
// What orbilanectl prints: data on standard output (text, CSV or JSON), everything for a person
// on standard error; a stored element by the meaning of each field; the element a command names.

#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

#include "base/Notices.h"
#include "database/ElementStore.h"

class QJsonDocument;

namespace nms {

void PrintOut(const QString& text);
void PrintJson(const QJsonDocument& document);
// A message for a person, "orbilanectl: " before it.
void PrintError(const QString& text);

// "port 2976 is in use (is the Orbilane NMS console running?)", or, when the watch service
// holds it, that it does, how to stop it and that list and show still work.
void PrintPortTaken(quint16 port);

// Every notice of the core on standard error, a line for each of its CR-joined lines.
class StderrNotices final : public Notices {
public:
    void post(const Notice& notice) override;
    int errors() const { return errors_; }

private:
    int errors_ = 0;
};

// One field of a stored element as a person reads it.
struct RecordField {
    QString key; // as in JSON and the CSV header
    QString label; // as `show` prints it
    QString text;
    QJsonValue json;
};

// Every field: mac, name, ip, mask, gateway, remote, input, type, tx (captions as the editor
// lists them), role, serial, attenuationDb (a decoder's, in dB, or "mute").
QList<RecordField> DescribeRecord(const ElementRecord& record);
QJsonObject RecordJson(const ElementRecord& record);
QStringList RecordCsvHeader();
QStringList RecordCsvFields(const ElementRecord& record);
// "STUDIO TX [00:11:22:33:44:55] 10.0.0.5"
QString ElementLabel(const ElementRecord& record);

// Columns padded to their widest cell.
QString TableText(const QStringList& header, const QList<QStringList>& rows);

// ExitCannotRun with the reason when the database is there but cannot be read.
int CheckDatabaseReadable(const QString& path, QString* reason);

// The element `text` names in the database: ExitOk with it, ExitFailed when none or several
// fit (the message names them), ExitCannotRun when the database cannot be read.
int ResolveElement(const QString& databasePath, const QString& text, ElementRecord* record, QString* message);

} // namespace nms
