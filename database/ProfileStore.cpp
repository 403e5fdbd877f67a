#include "database/ProfileStore.h"

#include "database/ProfileFile.h"

namespace nms {

namespace {

// Sizes of the buffers values and lists cross; a value's buffer keeps one place for its end.
constexpr int kValueCapacity = 750;
constexpr int kSectionCapacity = 750;
constexpr int kNameArrayCapacity = 1024;

QStringList sectionContent(const QString& strSection, const QString& strfullpath)
{
    return ProfileFile::unpackList(
        ProfileFile::packList(ProfileFile::readSectionEntries(strfullpath, strSection), kSectionCapacity));
}

} // namespace

QString ReadFromINI(const QString& strSection, const QString& strkey, const QString& strfullpath,
                    const QString& strDefault)
{
    const auto value = ProfileFile::readValue(strfullpath, strSection, strkey.toLower());
    return (value ? *value : strDefault).left(kValueCapacity - 1);
}

bool WriteToINI(const QString& strSection, const QString& strkey, const QString& strkeyvalue,
                const QString& strfullpath)
{
    return ProfileFile::writeValues(strfullpath, strSection, {{ProfileFile::upperName(strkey), strkeyvalue}});
}

bool WriteIniEntries(const QString& strSection, const QList<QPair<QString, QString>>& entries,
                     const QString& strfullpath)
{
    ProfileFile::Entries upper;
    upper.reserve(entries.size());
    for (const auto& [key, value] : entries)
        upper.append({ProfileFile::upperName(key), value});
    return ProfileFile::writeValues(strfullpath, strSection, upper);
}

bool DeleteIniSection(const QString& strSection, const QString& strfullpath)
{
    return ProfileFile::deleteSection(strfullpath, strSection);
}

bool DeleteIniKey(const QString& strSection, const QString& strKeyname, const QString& strfullpath)
{
    return ProfileFile::deleteKey(strfullpath, strSection, strKeyname);
}

bool CheckIfIniKeyExists(const QString& strSection, const QString& strKeyname, const QString& strfullpath)
{
    // A present key yields its own value under both defaults, even an empty one.
    return ReadFromINI(strSection, strKeyname, strfullpath, QStringLiteral("A"))
        == ReadFromINI(strSection, strKeyname, strfullpath, QStringLiteral("B"));
}

bool CheckIfIniSectionExists(const QString& strSection, const QString& strfullpath)
{
    return !sectionContent(strSection, strfullpath).isEmpty();
}

qint32 GetLongFromINI(const QString& strSection, const QString& strKeyname, const QString& strfullpath,
                      qint32 lngDefault)
{
    const auto value = ProfileFile::readValue(strfullpath, strSection, strKeyname);
    return value ? ProfileFile::leadingLong(*value) : lngDefault;
}

void RenameIniKey(const QString& strSection, const QString& strKeyname, const QString& strNewKeyname,
                  const QString& strfullpath)
{
    if (!CheckIfIniKeyExists(strSection, strKeyname, strfullpath))
        return;
    WriteToINI(strSection, strNewKeyname, ReadFromINI(strSection, strKeyname, strfullpath, QString()), strfullpath);
    // A new name differing only in case addresses the entry just written: it stays, upper-cased.
    if (!ProfileFile::sameName(strKeyname, strNewKeyname))
        DeleteIniKey(strSection, strKeyname, strfullpath);
}

void RenameIniSection(const QString& strSection, const QString& strNewSection, const QString& strfullpath)
{
    QList<QPair<QString, QString>> entries;
    for (const QString& item : sectionContent(strSection, strfullpath)) {
        // The value is what stands between the first "=" and the next one.
        const QStringList parts = item.split(QLatin1Char('='));
        entries.append({parts.value(0), parts.value(1)});
    }
    WriteIniEntries(strNewSection, entries, strfullpath);
    // Renaming to the same name in another case rewrites the keys in place and keeps the section.
    if (!ProfileFile::sameName(strSection, strNewSection))
        DeleteIniSection(strSection, strfullpath);
}

void LoadIniSectionsLB(QStringList& lstB, const QString& strfullpath)
{
    lstB.append(ProfileFile::readSectionNames(strfullpath));
}

void LoadIniSectionsWithValues(QStringList& lstB, QStringList& lstValues, const QString& strkey,
                               const QString& strfullpath, const QString& strDefault)
{
    const QList<ProfileFile::SectionValue> sections = ProfileFile::readKeyOfEverySection(strfullpath, strkey.toLower());
    lstB.reserve(lstB.size() + sections.size());
    lstValues.reserve(lstValues.size() + sections.size());
    for (const ProfileFile::SectionValue& item : sections) {
        lstB.append(item.section);
        lstValues.append((item.value ? *item.value : strDefault).left(kValueCapacity - 1));
    }
}

QStringList LoadIniSectionsArray(const QString& strfullpath)
{
    return ProfileFile::unpackList(
        ProfileFile::packList(ProfileFile::readSectionNames(strfullpath), kNameArrayCapacity));
}

void LoadIniSectionKeysLB(const QString& strSection, QStringList& lstB, const QString& strfullpath)
{
    for (const QString& item : sectionContent(strSection, strfullpath))
        lstB.append(item.section(QLatin1Char('='), 0, 0));
}

qint16 GetSectionKeyCount(const QString& strSection, const QString& strfullpath)
{
    return qint16(sectionContent(strSection, strfullpath).size());
}

} // namespace nms
