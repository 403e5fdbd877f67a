#pragma once
// The operations through which the console reads and writes its profile file. They keep no state
// and hold no file open: every call opens, reads or rewrites, and closes the file again.
// Reads never fail: a missing or unreadable file, section or key reads as the default, an empty
// list or 0. Writes report whether the change reached the file.

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include "database/ProfileFile.h"

namespace nms {

QString ReadFromINI(const QString& section, const QString& key, const QString& path, const QString& defaultValue);
bool WriteToINI(const QString& section, const QString& key, const QString& value, const QString& path);
bool DeleteIniSection(const QString& section, const QString& path);
bool DeleteIniKey(const QString& section, const QString& key, const QString& path);
bool CheckIfIniKeyExists(const QString& section, const QString& key, const QString& path);
bool CheckIfIniSectionExists(const QString& section, const QString& path);
qint32 GetLongFromINI(const QString& section, const QString& key, const QString& path, qint32 defaultValue);
void RenameIniKey(const QString& section, const QString& key, const QString& newKey, const QString& path);
void RenameIniSection(const QString& section, const QString& newSection, const QString& path);
// Appends every section name in file order; list is not emptied first.
void LoadIniSectionsLB(QStringList& list, const QString& path);
QStringList LoadIniSectionsArray(const QString& path);
// Appends the key of every entry of the section in file order.
void LoadIniSectionKeysLB(const QString& section, QStringList& list, const QString& path);
qint16 GetSectionKeyCount(const QString& section, const QString& path);
// The section names as LoadIniSectionsLB appends them, each with the value of key in it as
// ReadFromINI reads it, from one read of the file: the element list's whole input at once.
void LoadIniSectionsWithValues(QStringList& list, QStringList& values, const QString& key, const QString& path,
                               const QString& defaultValue);
// Several sections in one rewrite: the same result as WriteIniEntries for each in order.
bool WriteIniSections(const QList<ProfileFile::SectionEntries>& sections, const QString& path,
                      ProfileFile::SectionWrite mode = ProfileFile::SectionWrite::Merge);
// A value as the store's reads give it: cut to what their buffer carries.
QString StoredValue(const QString& value);
// How many of a section's entries its content read delivers (GetSectionKeyCount's count).
qint16 CountSectionContent(const ProfileFile::Entries& entries);
// Several entries of one section in one rewrite: the same result as WriteToINI for each in order.
bool WriteIniEntries(const QString& section, const QList<QPair<QString, QString>>& entries, const QString& path);

} // namespace nms
