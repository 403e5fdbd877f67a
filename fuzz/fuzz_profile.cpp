// Arbitrary file contents as nms.ini: the element list and the selection of the first element on
// it, then the profile-file engine's reads and a write and a delete, with what each must keep true.

#include <QFile>
#include <QHash>

#include <cstdio>
#include <cstdlib>

#include "database/ElementRecords.h"
#include "database/ProfileFile.h"
#include "database/ProfileStore.h"
#include "fuzz/FuzzConsole.h"

using namespace nms;

namespace {

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

// The entries of every listed section (the first few: each is a read of the whole file).
QHash<QString, QStringList> Sections(const QString& path, const QStringList& names)
{
    QHash<QString, QStringList> sections;
    for (const QString& name : names.mid(0, 8))
        sections.insert(name, ProfileFile::ReadSectionEntries(path, name));
    return sections;
}

void CheckOthersKept(const QString& path, const QHash<QString, QStringList>& before, const QString& changed,
                     const char* what)
{
    for (auto it = before.begin(); it != before.end(); ++it) {
        if (!ProfileFile::SameName(it.key(), changed) && ProfileFile::ReadSectionEntries(path, it.key()) != it.value())
            Fail(what);
    }
}

void Window(const QByteArray& contents)
{
    test::CoreFixture& f = fuzz::Console();
    fuzz::ResetConsole(contents);
    const ElementStore::Listing listing = f->store.list();
    if (listing.keys.size() != listing.names.size())
        Fail("the keys and names of the element list differ in length");
    if (listing.keys.isEmpty())
        return;

    // The operator picks the first entry.
    f.notices.clear();
    const QString first = listing.keys.first();
    const bool shown = f.select(first);
    const bool refused = GetSectionKeyCount(first, f.database()) > MaxSoundSectionEntries;
    const bool corruptionShown =
        f.notices.texts().join(QLatin1Char('\n')).contains(QStringLiteral("is corrupted (1)."));
    if (refused != corruptionShown || refused == shown)
        Fail("a section of twelve or more entries and the corruption notice disagree");
    if (shown && f->state.selected().entryCount != GetSectionKeyCount(first, f.database()))
        Fail("the record read and the section count disagree");
}

void Engine()
{
    const QString path = fuzz::Console().database();
    const QStringList names = ProfileFile::ReadSectionNames(path);
    QStringList listed;
    LoadIniSectionsLB(listed, path);
    if (ProfileFile::PackList(listed, 750).size() > 750)
        Fail("the section list overran its buffer");
    for (const QString& name : names.mid(0, 4)) {
        GetSectionKeyCount(name, path);
        GetLongFromINI(name, QStringLiteral("att"), path, -1);
        CheckIfIniKeyExists(name, QStringLiteral("ip"), path);
        ReadFromINI(name, QStringLiteral("name"), path, QString());
    }

    const QHash<QString, QStringList> before = Sections(path, names);
    const QString target = QStringLiteral("0200FEEDF00D");
    if (!WriteToINI(target, QStringLiteral("ip"), QStringLiteral("192.168.7.7"), path))
        Fail("a write to a readable file failed");
    if (ReadFromINI(target, QStringLiteral("ip"), path, QString()) != QStringLiteral("192.168.7.7"))
        Fail("a written value does not read back");
    CheckOthersKept(path, before, target, "a write changed another section");

    if (!DeleteIniSection(target, path))
        Fail("a section delete failed");
    if (CheckIfIniKeyExists(target, QStringLiteral("ip"), path))
        Fail("a deleted section still reads");
    CheckOthersKept(path, before, target, "a delete changed another section");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::Console();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 65536)
        return -1;
    const QByteArray contents(reinterpret_cast<const char*>(data), qsizetype(size));
    Window(contents);
    Engine();
    return 0;
}
