#include "database/ElementStore.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "database/ElementRecords.h"
#include "database/ProfileStore.h"

namespace nms {

bool ElementStore::exists() const
{
    return QFileInfo::exists(path_);
}

ElementStore::Listing ElementStore::list() const
{
    Listing listing;
    listing.fileExists = exists();
    if (listing.fileExists)
        LoadIniSectionsWithValues(listing.keys, listing.names, QLatin1String(ElementKeys::name), path_, QString());
    return listing;
}

ElementRecord ElementStore::read(const QString& key) const
{
    ElementRecord record;
    record.key = key;
    const ProfileFile::Entries entries = ProfileFile::readSection(path_, key);
    record.entryCount = CountSectionContent(entries);
    // The first entry of a key wins, as for every read of the store.
    auto value = [&entries](const char* wanted) {
        for (const auto& [key, value] : entries) {
            if (ProfileFile::sameName(key, QLatin1String(wanted)))
                return StoredValue(value);
        }
        return QString();
    };
    record.name = value(ElementKeys::name);
    record.ip = value(ElementKeys::ip);
    record.mask = value(ElementKeys::mask);
    record.gw = value(ElementKeys::gw);
    record.remote = value(ElementKeys::remote);
    record.input = value(ElementKeys::input);
    record.type = value(ElementKeys::type);
    record.tx = value(ElementKeys::tx);
    record.role = value(ElementKeys::role);
    record.sn = value(ElementKeys::sn);
    record.att = value(ElementKeys::att);
    return record;
}

QString ElementStore::storedIp(const QString& key) const
{
    return ReadFromINI(key, QLatin1String(ElementKeys::ip), path_, QString());
}

bool ElementStore::write(const QString& key, const ProfileFile::Entries& entries)
{
    return WriteIniEntries(key, entries, path_);
}

bool ElementStore::writeMany(const QList<ProfileFile::SectionEntries>& sections)
{
    return WriteIniSections(sections, path_);
}

bool ElementStore::remove(const QString& key)
{
    return DeleteIniSection(key, path_);
}

bool ElementStore::recreateEmpty(Snapshot* previous, QString* error)
{
    QFile file(path_);
    Snapshot snapshot;
    snapshot.existed = file.exists();
    if (snapshot.existed) {
        if (!file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("it could not be read (%1)").arg(file.errorString());
            return false;
        }
        snapshot.bytes = file.readAll();
        file.close();
        if (!file.remove()) {
            *error = QStringLiteral("it could not be deleted (%1)").arg(file.errorString());
            return false;
        }
    }
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *error = QStringLiteral("it could not be created (%1)").arg(file.errorString());
        // Nothing may be lost because the new file could not be made.
        QString ignored;
        restore(snapshot, &ignored);
        return false;
    }
    file.close();
    if (previous)
        *previous = std::move(snapshot);
    return true;
}

bool ElementStore::restore(const Snapshot& previous, QString* error)
{
    if (!previous.existed) {
        QFile file(path_);
        if (file.exists() && !file.remove()) {
            *error = file.errorString();
            return false;
        }
        return true;
    }
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly) || file.write(previous.bytes) != previous.bytes.size() || !file.flush()) {
        *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

} // namespace nms
