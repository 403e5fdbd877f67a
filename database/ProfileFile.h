#pragma once
// The profile-file engine under the store. It keeps nothing between calls: every read parses the
// file afresh, every change rewrites it whole and replaces it atomically. The file format it reads
// and writes is described at the top of ProfileFile.cpp.

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>

namespace nms::ProfileFile {

using Entries = QList<QPair<QString, QString>>;

// Reads. A missing or unreadable file reads as one without sections.
std::optional<QString> ReadValue(const QString& path, const QString& section, const QString& key);
QStringList ReadSectionNames(const QString& path);
// Every entry of the section as key "=" value, in file order; empty for a missing section.
QStringList ReadSectionEntries(const QString& path, const QString& section);
// Every listed section (as readSectionNames gives them) with the value of `key` in it (as
// readValue reads it), from one read of the file.
struct SectionValue {
    QString section;
    std::optional<QString> value;
};
QList<SectionValue> ReadKeyOfEverySection(const QString& path, const QString& key);

// Every entry of the first section of that name, in file order, as key and value (keys as the
// file spells them; duplicates included), from one read of the file. Missing: empty.
Entries ReadSection(const QString& path, const QString& section);

// Changes. Each returns true when the file holds the change afterwards (a change that alters
// nothing is not rewritten); false leaves the file as it was.
bool WriteValues(const QString& path, const QString& section, const Entries& entries);
// Several sections in one rewrite: the same result as writeValues for each in order. With
// Replace, a section that exists keeps its place (and its comments) but holds only the entries
// given, in their order.
struct SectionEntries {
    QString section;
    Entries entries;
};
enum class SectionWrite { Merge, Replace };
bool WriteSections(const QString& path, const QList<SectionEntries>& sections, SectionWrite mode = SectionWrite::Merge);
bool DeleteKey(const QString& path, const QString& section, const QString& key);
bool DeleteSection(const QString& path, const QString& section);

// How often files were read and rewritten since the counts were reset: what one operation
// costs, for the tests and the benchmarks.
struct Counters {
    int reads = 0;
    int rewrites = 0;
};
Counters CurrentCounters();
void ResetCounters();

// Upper case as the file's name matching understands it: a letter whose capital lies outside
// Latin-1 stays as it is, so an upper-cased key still matches its lower-case spelling.
QString UpperName(const QString& name);
// True when two section or key names address the same section or key.
bool SameName(const QString& a, const QString& b);
// The number a value starts with (see the format notes); 0 when it starts with none.
qint32 LeadingLong(const QString& value);

// A list crossing a buffer of `capacity` characters: each item followed by NUL, then one more
// NUL. Only whole items travel; when they do not all fit, those that do are followed by two
// NULs and the total stays within the capacity.
QString PackList(const QStringList& items, int capacity);
// The items of a packed list up to, not including, the first empty one.
QStringList UnpackList(const QString& buffer);

} // namespace nms::ProfileFile
