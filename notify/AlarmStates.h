#pragma once
// Acknowledgements and maintenance windows: what an engineer said about an element's alarms.
// Kept in a small JSON file beside the database (alarms.json), so that they survive a restart
// and the console, orbilanectl and a watch service share them: every change is a locked read,
// change and atomic rewrite of the file, and a running program picks up what another wrote by
// looking at the file's time and size. Each change is logged with who made it.

#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <functional>

#include "database/ElementStore.h"

class QTimer;

namespace nms {

class EventLog;

struct Acknowledgement {
    qint64 timeMs = 0;
    QString user;
    QString comment;
    bool operator==(const Acknowledgement&) const = default;
};

struct MaintenanceWindow {
    qint64 sinceMs = 0;
    qint64 untilMs = 0;
    QString user;
    QString comment;
    QJsonObject element; // the element's fields for the event log, so that expiry can name it
    bool operator==(const MaintenanceWindow&) const = default;
};

// The login name of the user running this program.
QString LoginName();

class AlarmStates : public QObject {
    Q_OBJECT
public:
    // path: the file, e.g. <folder of the database>/alarms.json; log: where each change is told.
    AlarmStates(QString path, EventLog& log, QObject* parent = nullptr);

    // <folder of databasePath>/alarms.json
    static QString PathBeside(const QString& databasePath);
    const QString& path() const { return path_; }

    // The wall clock (ms since the epoch), for tests.
    void setClock(std::function<qint64()> clock) { clock_ = std::move(clock); }
    qint64 now() const { return clock_(); }

    // By element key, as last read from the file.
    bool acknowledged(const QString& key) const { return acknowledged_.contains(key); }
    bool inMaintenance(const QString& key) const;
    const QHash<QString, Acknowledgement>& acknowledgements() const { return acknowledged_; }
    const QHash<QString, MaintenanceWindow>& maintenance() const { return maintenance_; }

    // Each writes the file and logs acknowledged, maintenance-start or maintenance-end with the
    // element, the comment and the user. False with the reason when the file could not be
    // written (nothing logged), or when there is nothing to end.
    bool acknowledge(const ElementRecord& element, const QString& comment, QString* error);
    bool startMaintenance(const ElementRecord& element, qint64 durationMs, const QString& comment, QString* error);
    bool endMaintenance(const ElementRecord& element, const QString& comment, QString* error);

    // An element recovered: its acknowledgement ends with the alarm (not logged).
    void clearAcknowledgement(const QString& key);
    // Windows that have run out are removed and each logged as maintenance-end ("expired": true).
    void expire();

    // Reads the file again when its time or size changed; true when anything differs.
    bool reload();
    // Looks at the file every pollMs (reload, expire); 0 stops.
    void poll(int pollMs);

Q_SIGNALS:
    // Anything acknowledged or in maintenance changed, here or in the file.
    void changed();

private:
    bool update(const std::function<bool()>& change, QString* error);
    bool read();
    bool write(QString* error);
    void log(const QString& event, QJsonObject element, const QJsonObject& fields);

    QString path_;
    EventLog& log_;
    std::function<qint64()> clock_;
    QTimer* poll_;
    QDateTime modified_;
    qint64 size_ = -1;
    QHash<QString, Acknowledgement> acknowledged_;
    QHash<QString, MaintenanceWindow> maintenance_;
};

} // namespace nms
