#include "database/ProfileStore.h"

#include "database/ProfileFile.h"

namespace nms {

namespace {

// Sizes of the buffers values and lists cross; a value's buffer keeps one place for its end.
constexpr int kValueCapacity = 750;
constexpr int kSectionCapacity = 750;
constexpr int kNameArrayCapacity = 1024;

QStringList PackedContent(const ProfileFile::Entries& entries)
{
    QStringList lines;
    lines.reserve(entries.size());
    for (const auto& [key, value] : entries)
        lines.append(key + QLatin1Char('=') + value);
    return ProfileFile::UnpackList(ProfileFile::PackList(lines, kSectionCapacity));
}

QStringList SectionContent(const QString& section, const QString& path)
{
    return PackedContent(ProfileFile::ReadSection(path, section));
}

} // namespace

QString ReadFromINI(const QString& section, const QString& key, const QString& path, const QString& defaultValue)
{
    const auto value = ProfileFile::ReadValue(path, section, key.toLower());
    return StoredValue(value ? *value : defaultValue);
}

QString StoredValue(const QString& value)
{
    return value.left(kValueCapacity - 1);
}

qint16 CountSectionContent(const ProfileFile::Entries& entries)
{
    return qint16(PackedContent(entries).size());
}

bool WriteIniSections(const QList<ProfileFile::SectionEntries>& sections, const QString& path,
                      ProfileFile::SectionWrite mode)
{
    QList<ProfileFile::SectionEntries> upper;
    upper.reserve(sections.size());
    for (const ProfileFile::SectionEntries& section : sections) {
        ProfileFile::SectionEntries item {section.section, {}};
        item.entries.reserve(section.entries.size());
        for (const auto& [key, value] : section.entries)
            item.entries.append({ProfileFile::UpperName(key), value});
        upper.append(std::move(item));
    }
    return ProfileFile::WriteSections(path, upper, mode);
}

bool WriteToINI(const QString& section, const QString& key, const QString& value, const QString& path)
{
    return ProfileFile::WriteValues(path, section, {{ProfileFile::UpperName(key), value}});
}

bool WriteIniEntries(const QString& section, const QList<QPair<QString, QString>>& entries, const QString& path)
{
    return WriteIniSections({{section, entries}}, path);
}

bool DeleteIniSection(const QString& section, const QString& path)
{
    return ProfileFile::DeleteSection(path, section);
}

bool DeleteIniKey(const QString& section, const QString& key, const QString& path)
{
    return ProfileFile::DeleteKey(path, section, key);
}

bool CheckIfIniKeyExists(const QString& section, const QString& key, const QString& path)
{
    // A present key yields its own value under both defaults, even an empty one.
    return ReadFromINI(section, key, path, QStringLiteral("A")) == ReadFromINI(section, key, path, QStringLiteral("B"));
}

bool CheckIfIniSectionExists(const QString& section, const QString& path)
{
    return !SectionContent(section, path).isEmpty();
}

qint32 GetLongFromINI(const QString& section, const QString& key, const QString& path, qint32 defaultValue)
{
    const auto value = ProfileFile::ReadValue(path, section, key);
    return value ? ProfileFile::LeadingLong(*value) : defaultValue;
}

void RenameIniKey(const QString& section, const QString& key, const QString& newKey, const QString& path)
{
    if (!CheckIfIniKeyExists(section, key, path))
        return;
    WriteToINI(section, newKey, ReadFromINI(section, key, path, QString()), path);
    // A new name differing only in case addresses the entry just written: it stays, upper-cased.
    if (!ProfileFile::SameName(key, newKey))
        DeleteIniKey(section, key, path);
}

void RenameIniSection(const QString& section, const QString& newSection, const QString& path)
{
    QList<QPair<QString, QString>> entries;
    for (const QString& item : SectionContent(section, path)) {
        // The value is what stands between the first "=" and the next one.
        const QStringList parts = item.split(QLatin1Char('='));
        entries.append({parts.value(0), parts.value(1)});
    }
    WriteIniEntries(newSection, entries, path);
    // Renaming to the same name in another case rewrites the keys in place and keeps the section.
    if (!ProfileFile::SameName(section, newSection))
        DeleteIniSection(section, path);
}

void LoadIniSectionsLB(QStringList& list, const QString& path)
{
    list.append(ProfileFile::ReadSectionNames(path));
}

void LoadIniSectionsWithValues(QStringList& list, QStringList& values, const QString& key, const QString& path,
                               const QString& defaultValue)
{
    const QList<ProfileFile::SectionValue> sections = ProfileFile::ReadKeyOfEverySection(path, key.toLower());
    list.reserve(list.size() + sections.size());
    values.reserve(values.size() + sections.size());
    for (const ProfileFile::SectionValue& item : sections) {
        list.append(item.section);
        values.append(StoredValue(item.value ? *item.value : defaultValue));
    }
}

QStringList LoadIniSectionsArray(const QString& path)
{
    return ProfileFile::UnpackList(ProfileFile::PackList(ProfileFile::ReadSectionNames(path), kNameArrayCapacity));
}

void LoadIniSectionKeysLB(const QString& section, QStringList& list, const QString& path)
{
    for (const QString& item : SectionContent(section, path))
        list.append(item.section(QLatin1Char('='), 0, 0));
}

qint16 GetSectionKeyCount(const QString& section, const QString& path)
{
    return qint16(SectionContent(section, path).size());
}

} // namespace nms
