#include "notify/AlarmStates.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLockFile>
#include <QSaveFile>
#include <QTimer>

#include <pwd.h>
#include <unistd.h>

#include "base/Trace.h"
#include "database/DatabaseLocation.h"
#include "database/EventLog.h"

namespace nms {

namespace {

QString TimeText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

qint64 TimeMs(const QJsonValue& value)
{
    const QDateTime time = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    return time.isValid() ? time.toMSecsSinceEpoch() : 0;
}

} // namespace

QString LoginName()
{
    if (const passwd* entry = getpwuid(geteuid()))
        return QString::fromLocal8Bit(entry->pw_name);
    return qEnvironmentVariable("USER");
}

AlarmStates::AlarmStates(QString path, EventLog& log, QObject* parent)
    : QObject(parent),
      path_(std::move(path)),
      log_(log),
      clock_([] { return QDateTime::currentMSecsSinceEpoch(); }),
      poll_(new QTimer(this))
{
    connect(poll_, &QTimer::timeout, this, [this] {
        if (reload())
            Q_EMIT changed();
        expire();
    });
    read();
}

QString AlarmStates::PathBeside(const QString& databasePath)
{
    return FileBesideDatabase(databasePath, QStringLiteral("alarms.json"));
}

bool AlarmStates::inMaintenance(const QString& key) const
{
    const auto it = maintenance_.constFind(key);
    return it != maintenance_.cend() && it->untilMs > now();
}

void AlarmStates::poll(int pollMs)
{
    if (pollMs <= 0) {
        poll_->stop();
        return;
    }
    poll_->start(pollMs);
}

bool AlarmStates::read()
{
    const QFileInfo info(path_);
    modified_ = info.exists() ? info.lastModified() : QDateTime();
    size_ = info.exists() ? info.size() : -1;
    QHash<QString, Acknowledgement> acknowledged;
    QHash<QString, MaintenanceWindow> maintenance;
    QFile file(path_);
    if (file.open(QIODevice::ReadOnly)) {
        const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
        const QJsonObject acks = root.value(QLatin1String("acknowledged")).toObject();
        for (auto it = acks.constBegin(); it != acks.constEnd(); ++it) {
            const QJsonObject ack = it.value().toObject();
            acknowledged.insert(it.key(),
                                {TimeMs(ack.value(QLatin1String("time"))), ack.value(QLatin1String("user")).toString(),
                                 ack.value(QLatin1String("comment")).toString()});
        }
        const QJsonObject windows = root.value(QLatin1String("maintenance")).toObject();
        for (auto it = windows.constBegin(); it != windows.constEnd(); ++it) {
            const QJsonObject window = it.value().toObject();
            maintenance.insert(
                it.key(),
                {TimeMs(window.value(QLatin1String("since"))), TimeMs(window.value(QLatin1String("until"))),
                 window.value(QLatin1String("user")).toString(), window.value(QLatin1String("comment")).toString(),
                 window.value(QLatin1String("element")).toObject()});
        }
    }
    const bool differs = acknowledged != acknowledged_ || maintenance != maintenance_;
    acknowledged_ = std::move(acknowledged);
    maintenance_ = std::move(maintenance);
    return differs;
}

bool AlarmStates::reload()
{
    const QFileInfo info(path_);
    const QDateTime modified = info.exists() ? info.lastModified() : QDateTime();
    const qint64 size = info.exists() ? info.size() : -1;
    if (modified == modified_ && size == size_)
        return false;
    return read();
}

bool AlarmStates::write(QString* error)
{
    QJsonObject acks, windows;
    for (auto it = acknowledged_.cbegin(); it != acknowledged_.cend(); ++it) {
        acks.insert(it.key(),
                    QJsonObject {{QLatin1String("time"), TimeText(it->timeMs)},
                                 {QLatin1String("user"), it->user},
                                 {QLatin1String("comment"), it->comment}});
    }
    for (auto it = maintenance_.cbegin(); it != maintenance_.cend(); ++it) {
        windows.insert(it.key(),
                       QJsonObject {{QLatin1String("since"), TimeText(it->sinceMs)},
                                    {QLatin1String("until"), TimeText(it->untilMs)},
                                    {QLatin1String("user"), it->user},
                                    {QLatin1String("comment"), it->comment},
                                    {QLatin1String("element"), it->element}});
    }
    const QByteArray bytes =
        QJsonDocument(QJsonObject {{QLatin1String("acknowledged"), acks}, {QLatin1String("maintenance"), windows}})
            .toJson(QJsonDocument::Indented);
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error = QStringLiteral("%1 could not be written: %2").arg(path_, file.errorString());
        return false;
    }
    const QFileInfo info(path_);
    modified_ = info.lastModified();
    size_ = info.size();
    return true;
}

// Another program may change the file at the same moment: each change is made on what the
// file holds now, under a lock, so that neither loses the other's.
bool AlarmStates::update(const std::function<bool()>& change, QString* error)
{
    QLockFile lock(path_ + QStringLiteral(".lock"));
    if (!lock.tryLock(2000)) {
        if (error)
            *error = QStringLiteral("%1 is locked by another program").arg(path_);
        return false;
    }
    const bool differed = read();
    if (!change()) {
        if (differed)
            Q_EMIT changed();
        return false;
    }
    if (!write(error)) {
        read();
        return false;
    }
    Q_EMIT changed();
    return true;
}

void AlarmStates::log(const QString& event, QJsonObject element, const QJsonObject& fields)
{
    for (auto it = fields.constBegin(); it != fields.constEnd(); ++it)
        element.insert(it.key(), it.value());
    log_.append(event, element);
}

bool AlarmStates::acknowledge(const ElementRecord& element, const QString& comment, QString* error)
{
    const Acknowledgement ack {now(), LoginName(), comment};
    if (!update(
            [&] {
                acknowledged_.insert(element.key, ack);
                return true;
            },
            error))
        return false;
    log(QStringLiteral("acknowledged"), ElementEventFields(element),
        {{QLatin1String("comment"), comment}, {QLatin1String("user"), ack.user}});
    return true;
}

bool AlarmStates::startMaintenance(const ElementRecord& element, qint64 durationMs, const QString& comment,
                                   QString* error)
{
    const qint64 since = now();
    const MaintenanceWindow window {since, since + durationMs, LoginName(), comment, ElementEventFields(element)};
    if (!update(
            [&] {
                maintenance_.insert(element.key, window);
                return true;
            },
            error))
        return false;
    log(QStringLiteral("maintenance-start"), window.element,
        {{QLatin1String("until"), TimeText(window.untilMs)},
         {QLatin1String("comment"), comment},
         {QLatin1String("user"), window.user}});
    return true;
}

bool AlarmStates::endMaintenance(const ElementRecord& element, const QString& comment, QString* error)
{
    bool was = false;
    if (!update(
            [&] {
                was = maintenance_.remove(element.key) > 0;
                return was;
            },
            error)) {
        if (!was && error && error->isEmpty())
            *error = QStringLiteral("it is not in maintenance");
        return false;
    }
    log(QStringLiteral("maintenance-end"), ElementEventFields(element),
        {{QLatin1String("comment"), comment}, {QLatin1String("user"), LoginName()}});
    return true;
}

void AlarmStates::clearAcknowledgement(const QString& key)
{
    if (!acknowledged(key))
        return;
    QString error;
    if (!update([&] { return acknowledged_.remove(key) > 0; }, &error) && !error.isEmpty())
        qCWarning(traceNotify).noquote() << "acknowledgement of" << key << "not cleared:" << error;
}

void AlarmStates::expire()
{
    const qint64 at = now();
    bool due = false;
    for (const MaintenanceWindow& window : std::as_const(maintenance_))
        due = due || window.untilMs <= at;
    if (!due)
        return;
    QList<MaintenanceWindow> ended;
    QString error;
    update(
        [&] {
            for (auto it = maintenance_.begin(); it != maintenance_.end();) {
                if (it->untilMs <= at) {
                    ended.append(*it);
                    it = maintenance_.erase(it);
                } else {
                    ++it;
                }
            }
            return !ended.isEmpty();
        },
        &error);
    if (!error.isEmpty()) {
        qCWarning(traceNotify).noquote() << "maintenance not ended:" << error;
        return;
    }
    for (const MaintenanceWindow& window : ended) {
        log(QStringLiteral("maintenance-end"), window.element,
            {{QLatin1String("expired"), true}, {QLatin1String("user"), window.user}});
    }
}

} // namespace nms
