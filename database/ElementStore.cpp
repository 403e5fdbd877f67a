#include "database/ElementStore.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "base/Trace.h"
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
    const ProfileFile::Entries entries = ProfileFile::ReadSection(path_, key);
    record.entryCount = CountSectionContent(entries);
    // The first entry of a key wins, as for every read of the store.
    auto value = [&entries](const char* wanted) {
        for (const auto& [key, value] : entries) {
            if (ProfileFile::SameName(key, QLatin1String(wanted)))
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

QList<ElementRecord> ElementStore::readAll() const
{
    QList<ElementRecord> records;
    if (!exists())
        return records;
    QStringList keys, names;
    LoadIniSectionsWithValues(keys, names, QLatin1String(ElementKeys::name), path_, QString());
    records.resize(keys.size());
    for (qsizetype i = 0; i < keys.size(); ++i) {
        records[i].key = keys.at(i);
        records[i].name = names.at(i);
    }
    const std::pair<const char*, QString ElementRecord::*> fields[] = {
        {ElementKeys::ip, &ElementRecord::ip},       {ElementKeys::mask, &ElementRecord::mask},
        {ElementKeys::gw, &ElementRecord::gw},       {ElementKeys::remote, &ElementRecord::remote},
        {ElementKeys::input, &ElementRecord::input}, {ElementKeys::type, &ElementRecord::type},
        {ElementKeys::tx, &ElementRecord::tx},       {ElementKeys::role, &ElementRecord::role},
        {ElementKeys::sn, &ElementRecord::sn},       {ElementKeys::att, &ElementRecord::att},
    };
    for (const auto& [entry, member] : fields) {
        QStringList sections, values;
        LoadIniSectionsWithValues(sections, values, QLatin1String(entry), path_, QString());
        // The file may have changed between two reads: only the sections of the first read count.
        for (qsizetype i = 0; i < sections.size() && i < records.size(); ++i) {
            if (sections.at(i) == records.at(i).key)
                records[i].*member = values.at(i);
        }
    }
    return records;
}

QString ElementStore::storedIp(const QString& key) const
{
    return ReadFromINI(key, QLatin1String(ElementKeys::ip), path_, QString());
}

namespace {

QString KeysOf(const ProfileFile::Entries& entries)
{
    QStringList keys;
    for (const auto& [key, value] : entries)
        keys.append(key);
    return keys.join(QLatin1Char(','));
}

bool Traced(bool ok, const QString& path, const QString& what)
{
    qCDebug(traceStore).noquote() << (ok ? "wrote" : "FAILED to write") << path << what;
    return ok;
}

} // namespace

bool ElementStore::write(const QString& key, const ProfileFile::Entries& entries)
{
    return Traced(WriteIniEntries(key, entries, path_), path_, QStringLiteral("[%1] %2").arg(key, KeysOf(entries)));
}

bool ElementStore::replace(const QString& key, const ProfileFile::Entries& entries)
{
    return Traced(WriteIniSections({{key, entries}}, path_, ProfileFile::SectionWrite::Replace), path_,
                  QStringLiteral("[%1] replaced: %2").arg(key, KeysOf(entries)));
}

bool ElementStore::writeMany(const QList<ProfileFile::SectionEntries>& sections)
{
    QStringList names;
    for (const ProfileFile::SectionEntries& section : sections)
        names.append(section.section);
    return Traced(WriteIniSections(sections, path_), path_,
                  QStringLiteral("%1 sections: %2").arg(sections.size()).arg(names.join(QLatin1Char(' '))));
}

bool ElementStore::remove(const QString& key)
{
    return Traced(DeleteIniSection(key, path_), path_, QStringLiteral("[%1] deleted").arg(key));
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
    qCDebug(traceStore).noquote() << "emptied" << path_ << "(it held" << snapshot.bytes.size() << "bytes)";
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
    qCDebug(traceStore).noquote() << "put back" << path_ << "as it was";
    return true;
}

} // namespace nms
