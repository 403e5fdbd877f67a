#include "database/EventLog.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>

#include "base/Trace.h"
#include "database/DatabaseLocation.h"
#include "database/ElementRecords.h"

namespace nms {

namespace {

const QChar CR(u'\r');

// The members of an object as Qt writes them, without the braces around them.
QByteArray Members(const QJsonObject& object)
{
    const QByteArray json = QJsonDocument(object).toJson(QJsonDocument::Compact);
    return json.mid(1, json.size() - 2);
}

QByteArray Line(const QDateTime& time, const QString& event, QJsonObject fields)
{
    // QJsonObject orders its keys by name; the time and the event lead the line so that a
    // reader scanning the file sees them first. Fields of the same names would repeat them.
    fields.remove(QLatin1String("time"));
    fields.remove(QLatin1String("event"));
    QByteArray line = '{' + Members({{QLatin1String("time"), time.toUTC().toString(Qt::ISODateWithMs)}}) + ','
        + Members({{QLatin1String("event"), event}});
    if (!fields.isEmpty())
        line += ',' + Members(fields);
    line += "}\n";
    return line;
}

// The blanks the database pads a name with (the element sends a fixed width).
bool IsBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\0';
}

} // namespace

EventLog::EventLog(QString path, Notices& notices, qint64 rotateAtBytes)
    : path_(std::move(path)), notices_(notices), rotateAtBytes_(rotateAtBytes), clock_(&QDateTime::currentDateTimeUtc)
{
}

QString EventLog::PathBeside(const QString& databasePath)
{
    return FileBesideDatabase(databasePath, QStringLiteral("events.jsonl"));
}

void EventLog::setClock(std::function<QDateTime()> clock)
{
    clock_ = std::move(clock);
}

bool EventLog::append(const QString& event, const QJsonObject& fields)
{
    const QByteArray line = Line(clock_(), event, fields);
    if (echo_)
        echo_(line);
    QString error;
    if (!open(&error))
        return failed(error);
    // An empty file takes the line whatever its length, or a long line would never be written.
    if (size_ > 0 && size_ + line.size() > rotateAtBytes_ && !rotate(&error))
        return failed(error);
    // Unbuffered: the line reaches the system in this one write, nothing waits in the process.
    if (file_.write(line) != line.size()) {
        error = QStringLiteral("It could not be written: %1").arg(file_.errorString());
        // A line cut short by a full disk would spoil the next one: back to the last whole line.
        file_.resize(size_);
        file_.close();
        return failed(error);
    }
    size_ += line.size();
    failureReported_ = false;
    // Closed between lines: a log moved aside by a rotating tool is followed, and the folder is
    // never held busy.
    file_.close();
    return true;
}

bool EventLog::open(QString* error)
{
    // A folder that cannot be made shows up as the open's own error.
    QDir().mkpath(QFileInfo(path_).absolutePath());
    file_.setFileName(path_);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        *error = QStringLiteral("It could not be opened: %1").arg(file_.errorString());
        return false;
    }
    size_ = file_.size();
    return true;
}

bool EventLog::rotate(QString* error)
{
    file_.close();
    const QString older = path_ + QStringLiteral(".1");
    QFile previous(older);
    if (previous.exists() && !previous.remove()) {
        *error = QStringLiteral("%1 could not be replaced: %2").arg(older, previous.errorString());
        return false;
    }
    QFile current(path_);
    if (!current.rename(older)) {
        *error = QStringLiteral("It could not be renamed to %1: %2").arg(older, current.errorString());
        return false;
    }
    qCDebug(traceStore).noquote() << "event log" << path_ << "moved to" << older;
    return open(error);
}

bool EventLog::failed(const QString& reason)
{
    qCDebug(traceStore).noquote() << "FAILED to write the event log" << path_ << reason;
    if (!failureReported_) {
        failureReported_ = true;
        notices_.error(QStringLiteral("Event log"),
                       QStringLiteral("The event log (%1) could not be written.").arg(path_) + CR + reason + CR
                           + QStringLiteral("Events are left out of it until it can be written again."));
    }
    return false;
}

QJsonObject ElementEventFields(const ElementRecord& record)
{
    QString name = record.name;
    while (!name.isEmpty() && IsBlank(name.back()))
        name.chop(1);
    return {{QLatin1String("mac"), KeyToMacText(record.key)},
            {QLatin1String("ip"), record.ip},
            {QLatin1String("name"), name},
            {QLatin1String("role"), StoredRoleWord(record.role)}};
}

} // namespace nms
