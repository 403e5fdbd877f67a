// Arbitrary datagrams through the console's receive path: routing by length, then for a 40- or
// 41-byte datagram the feedback parsing, its checks, the MAC lookup and the database writes.
//
// Input: one flag byte, then the datagram.
//   bit 0: a discovery collects answers (the database starts empty; the feedback becomes a section)
//   bit 1: the datagram arrives twice in a row (the second waits in the feedback queue)

#include <QFile>

#include <cstdio>
#include <cstdlib>

#include "database/ElementRecords.h"
#include "database/ProfileStore.h"
#include "fuzz/FuzzConsole.h"
#include "link/LinkEndpoint.h"
#include "session/FeedbackProcessor.h"

using namespace nms;

namespace {

QByteArray DatabaseBytes()
{
    QFile file(fuzz::Console().database());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::Console();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 4096)
        return -1;
    const uint8_t flags = data[0];
    const QByteArray datagram(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    const int copies = (flags & 2) ? 2 : 1;

    fuzz::ResetConsole(fuzz::SeedDatabase());
    test::CoreFixture& f = fuzz::Console();
    if ((flags & 1) && !f->discovery.start())
        Fail("a discovery did not start");
    const QByteArray before = DatabaseBytes();
    const int handledBefore = fuzz::FeedbacksHandled();

    for (int i = 0; i < copies; ++i)
        f->link.Route(datagram);
    const bool isFeedback = datagram.size() == 40 || datagram.size() == 41;
    if (isFeedback)
        fuzz::AwaitFeedbacks(handledBefore + copies);
    // What a discovery recorded is on disk once it ends.
    f->discovery.abort();

    if (!isFeedback) {
        // Anything else is a level sample or dropped: it neither writes nor asks anything.
        if (DatabaseBytes() != before)
            Fail("a datagram that is not a feedback changed the database");
        if (f.notices.count() != 0)
            Fail("a datagram that is not a feedback raised a notice");
        return 0;
    }
    if (f->feedback.inHand() != 0 || f->macLookup.pending() != 0)
        Fail("a feedback was still in hand");
    // A feedback writes at most the eleven entries of a sound section.
    for (const QString& section : LoadIniSectionsArray(f.database())) {
        if (GetSectionKeyCount(section, f.database()) > MaxSoundSectionEntries)
            Fail("a feedback left a section with more than eleven entries");
    }
    return 0;
}
