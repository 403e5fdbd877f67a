#pragma once
// What happened to the elements, in a file an engineer can read, grep and feed to other tools:
// one JSON object per line, oldest first. The file is bounded: when it would grow past its
// limit it becomes <path>.1 and a new one is started, so at most two files are kept.

#include <QDateTime>
#include <QFile>
#include <QJsonObject>
#include <QString>

#include <functional>

#include "base/Notices.h"
#include "database/ElementStore.h"

namespace nms {

class EventLog {
public:
    // path: the log file, e.g. <folder of the database>/events.jsonl
    EventLog(QString path, Notices& notices, qint64 rotateAtBytes = 10 * 1024 * 1024);

    // <folder of databasePath>/events.jsonl
    static QString PathBeside(const QString& databasePath);

    const QString& path() const { return path_; }

    // Appends {"time": "<UTC, RFC 3339 with milliseconds>", "event": event, ...fields} as one
    // line and hands it to the system at once. False when it could not be written; the first
    // failure after a success is posted as a notice, the others only return false.
    bool append(const QString& event, const QJsonObject& fields = {});

    // The clock the times come from (default QDateTime::currentDateTimeUtc), for tests.
    void setClock(std::function<QDateTime()> clock);

    // Where every line appended is also handed, as written (a command line prints them).
    void setEcho(std::function<void(const QByteArray& line)> echo) { echo_ = std::move(echo); }

private:
    bool open(QString* error);
    bool rotate(QString* error);
    bool failed(const QString& reason);

    QString path_;
    Notices& notices_;
    qint64 rotateAtBytes_;
    std::function<QDateTime()> clock_;
    std::function<void(const QByteArray&)> echo_;
    // Opened for each line and closed after it.
    QFile file_;
    qint64 size_ = 0;
    bool failureReported_ = false;
};

// The fields of an element an event concerns: "mac" (from its key), "ip", "name" (without the
// blanks a name is padded with), "role" ("encoder", "decoder" or "unknown").
QJsonObject ElementEventFields(const ElementRecord& record);

} // namespace nms
