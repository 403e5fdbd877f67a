#pragma once
// The operations through which the console reads and writes its profile file. They keep no state
// and hold no file open: every call opens, reads or rewrites, and closes the file again.
// Reads never fail: a missing or unreadable file, section or key reads as the default, an empty
// list or 0. Writes report whether the change reached the file.

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace nms {

QString ReadFromINI(const QString& strSection, const QString& strkey, const QString& strfullpath,
                    const QString& strDefault);
bool WriteToINI(const QString& strSection, const QString& strkey, const QString& strkeyvalue,
                const QString& strfullpath);
bool DeleteIniSection(const QString& strSection, const QString& strfullpath);
bool DeleteIniKey(const QString& strSection, const QString& strKeyname, const QString& strfullpath);
bool CheckIfIniKeyExists(const QString& strSection, const QString& strKeyname, const QString& strfullpath);
bool CheckIfIniSectionExists(const QString& strSection, const QString& strfullpath);
qint32 GetLongFromINI(const QString& strSection, const QString& strKeyname, const QString& strfullpath,
                      qint32 lngDefault);
void RenameIniKey(const QString& strSection, const QString& strKeyname, const QString& strNewKeyname,
                  const QString& strfullpath);
void RenameIniSection(const QString& strSection, const QString& strNewSection, const QString& strfullpath);
// Appends every section name in file order; lstB is not emptied first.
void LoadIniSectionsLB(QStringList& lstB, const QString& strfullpath);
QStringList LoadIniSectionsArray(const QString& strfullpath);
// Appends the key of every entry of the section in file order.
void LoadIniSectionKeysLB(const QString& strSection, QStringList& lstB, const QString& strfullpath);
qint16 GetSectionKeyCount(const QString& strSection, const QString& strfullpath);
// The section names as LoadIniSectionsLB appends them, each with the value of strkey in it as
// ReadFromINI reads it, from one read of the file: the element list's whole input at once.
void LoadIniSectionsWithValues(QStringList& lstB, QStringList& lstValues, const QString& strkey,
                               const QString& strfullpath, const QString& strDefault);
// Several entries of one section in one rewrite: the same result as WriteToINI for each in order.
bool WriteIniEntries(const QString& strSection, const QList<QPair<QString, QString>>& entries,
                     const QString& strfullpath);

} // namespace nms
