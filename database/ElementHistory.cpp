#include "database/ElementHistory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>
#include <array>

#include <sys/stat.h>

#include "base/Trace.h"
#include "database/DatabaseLocation.h"
#include "database/ElementRecords.h"

/*
 * The file: {"elements": [{"key": "00A0C9F81E24", "lastSeen": "2026-12-07T23:59:01.123Z",
 * "name": "...", "ip": "...", ...}, ...]}, the one seen last first, every record field under the
 * key nms.ini gives it, as stored text. A field that is missing reads as "".
 */

namespace nms {

namespace {

const QChar CR(u'\r');

struct Field {
    const char* name;
    QString ElementRecord::*member;
};
constexpr std::array kFields {
    Field {ElementKeys::name, &ElementRecord::name},     Field {ElementKeys::ip, &ElementRecord::ip},
    Field {ElementKeys::mask, &ElementRecord::mask},     Field {ElementKeys::gw, &ElementRecord::gw},
    Field {ElementKeys::remote, &ElementRecord::remote}, Field {ElementKeys::input, &ElementRecord::input},
    Field {ElementKeys::type, &ElementRecord::type},     Field {ElementKeys::tx, &ElementRecord::tx},
    Field {ElementKeys::role, &ElementRecord::role},     Field {ElementKeys::sn, &ElementRecord::sn},
    Field {ElementKeys::att, &ElementRecord::att},
};

QJsonObject ToJson(const HistoryEntry& entry)
{
    QJsonObject object {{QLatin1String("key"), entry.record.key},
                        {QLatin1String("lastSeen"), entry.lastSeen.toUTC().toString(Qt::ISODateWithMs)}};
    for (const Field& field : kFields)
        object.insert(QLatin1String(field.name), entry.record.*field.member);
    return object;
}

std::optional<HistoryEntry> FromJson(const QJsonValue& value)
{
    const QJsonObject object = value.toObject();
    const QJsonValue key = object.value(QLatin1String("key"));
    HistoryEntry entry;
    entry.record.key = key.toString();
    entry.lastSeen = QDateTime::fromString(object.value(QLatin1String("lastSeen")).toString(), Qt::ISODateWithMs);
    if (!value.isObject() || !key.isString() || entry.record.key.isEmpty() || !entry.lastSeen.isValid())
        return std::nullopt;
    for (const Field& field : kFields) {
        const QJsonValue text = object.value(QLatin1String(field.name));
        if (!text.isUndefined() && !text.isString())
            return std::nullopt;
        entry.record.*field.member = text.toString();
    }
    return entry;
}

bool Parse(const QString& path, QHash<QString, HistoryEntry>* entries, QString* reason)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *reason = QStringLiteral("It could not be read: %1").arg(file.errorString());
        return false;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError) {
        *reason = QStringLiteral("It is not JSON: %1 at byte %2.").arg(error.errorString()).arg(error.offset);
        return false;
    }
    const QJsonValue elements = document.object().value(QLatin1String("elements"));
    if (!elements.isArray()) {
        *reason = QStringLiteral("It holds no list of elements.");
        return false;
    }
    const QJsonArray list = elements.toArray();
    for (qsizetype i = 0; i < list.size(); ++i) {
        const std::optional<HistoryEntry> entry = FromJson(list.at(i));
        if (!entry) {
            *reason = QStringLiteral("Its element %1 is not an element's record.").arg(i + 1);
            return false;
        }
        // A key listed twice (edited by hand): the later sighting wins.
        const auto known = entries->constFind(entry->record.key);
        if (known == entries->cend() || known->lastSeen < entry->lastSeen)
            entries->insert(entry->record.key, *entry);
    }
    return true;
}

QList<HistoryEntry> NewestFirst(const QHash<QString, HistoryEntry>& entries)
{
    QList<HistoryEntry> list = entries.values();
    std::sort(list.begin(), list.end(), [](const HistoryEntry& a, const HistoryEntry& b) {
        return a.lastSeen != b.lastSeen ? a.lastSeen > b.lastSeen : a.record.key < b.record.key;
    });
    return list;
}

} // namespace

ElementHistory::ElementHistory(QString path, Notices& notices) : path_(std::move(path)), notices_(notices)
{
}

QString ElementHistory::PathBeside(const QString& databasePath)
{
    return FileBesideDatabase(databasePath, QStringLiteral("history.json"));
}

bool ElementHistory::remember(const QList<ElementRecord>& records, const QDateTime& seen)
{
    return store(records, seen, Merge::Replace);
}

bool ElementHistory::rememberUnknown(const QList<ElementRecord>& records, const QDateTime& seen)
{
    return store(records, seen, Merge::KeepKnown);
}

QList<HistoryEntry> ElementHistory::entries() const
{
    load();
    return NewestFirst(entries_);
}

std::optional<HistoryEntry> ElementHistory::find(const QString& key) const
{
    load();
    const auto found = entries_.constFind(key);
    if (found == entries_.cend())
        return std::nullopt;
    return *found;
}

bool ElementHistory::store(const QList<ElementRecord>& records, const QDateTime& seen, Merge merge)
{
    // A time that cannot be written would make the whole file unreadable next time.
    if (!seen.isValid())
        return false;
    load();
    QHash<QString, HistoryEntry> updated = entries_;
    bool changed = false;
    for (const ElementRecord& record : records) {
        // Without a key there is nothing to find the element by again.
        if (record.key.isEmpty() || (merge == Merge::KeepKnown && updated.contains(record.key)))
            continue;
        HistoryEntry entry {record, seen};
        entry.record.entryCount = 0;
        updated.insert(record.key, entry);
        changed = true;
    }
    if (!changed)
        return true;

    if (damaged_) {
        // What could not be read may still be worth something to whoever repairs it by hand.
        const QString aside = path_ + QStringLiteral(".damaged");
        QFile::remove(aside);
        if (!QFile::copy(path_, aside))
            return failed(
                QStringLiteral("The damaged file could not be kept as %1, so it was left as it is.").arg(aside));
    }

    QJsonArray list;
    for (const HistoryEntry& entry : NewestFirst(updated))
        list.append(ToJson(entry));
    const QByteArray bytes = QJsonDocument(QJsonObject {{QLatin1String("elements"), list}}).toJson();
    QDir().mkpath(QFileInfo(path_).absolutePath());
    QSaveFile file(path_);
    // The flush is checked: a full disk shows up only then, and commit() would still rename.
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return failed(reason);
    }
    if (!file.commit())
        return failed(file.errorString());

    entries_ = std::move(updated);
    stamp_ = StampOf(path_);
    damaged_ = false;
    failureReported_ = false;
    qCDebug(traceStore).noquote() << "wrote" << path_ << entries_.size() << "elements";
    return true;
}

ElementHistory::Stamp ElementHistory::StampOf(const QString& path)
{
    struct stat status { };
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return {};
    return {true, quint64(status.st_ino), qint64(status.st_size),
            qint64(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec};
}

void ElementHistory::load() const
{
    const Stamp stamp = StampOf(path_);
    if (stamp_ == stamp)
        return;
    stamp_ = stamp;
    entries_.clear();
    damaged_ = false;
    if (!stamp.exists)
        return;
    QString reason;
    if (!Parse(path_, &entries_, &reason)) {
        entries_.clear();
        damaged_ = true;
        // Once per damaged version of the file: it is read again only when it changes.
        notices_.error(QStringLiteral("Element history"),
                       QStringLiteral("The element history (%1) is damaged; it is read as empty.").arg(path_) + CR
                           + reason + CR
                           + QStringLiteral("It is kept as %1.damaged when the history is next written.").arg(path_));
    }
}

bool ElementHistory::failed(const QString& reason)
{
    qCDebug(traceStore).noquote() << "FAILED to write" << path_ << reason;
    if (!failureReported_) {
        failureReported_ = true;
        notices_.error(QStringLiteral("Element history"),
                       QStringLiteral("The element history (%1) could not be written.").arg(path_) + CR + reason);
    }
    return false;
}

} // namespace nms
