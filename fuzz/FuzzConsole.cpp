#include "fuzz/FuzzConsole.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#include "database/ElementRecords.h"
#include "services/MacLookup.h"
#include "session/FeedbackProcessor.h"

namespace nms::fuzz {

QByteArray EveryAddressTable::MacFor(quint32 address)
{
    QByteArray mac("\x02\x00", 2);
    mac.append(reinterpret_cast<const char*>(&address), 4);
    return mac;
}

QByteArray EveryAddressTable::lookup(quint32 address)
{
    return MacFor(address);
}

QString SelectedKey()
{
    return MacTextToKey(MacLookup::FormatMac(
        EveryAddressTable::MacFor(MacLookup::IpTextToAddress(QStringLiteral("192.168.1.20"))), QStringLiteral(":")));
}

QByteArray SeedDatabase()
{
    const QByteArray key = SelectedKey().toLatin1();
    return "[" + key
        + "]\n"
          "NAME=STUDIO B          \n"
          "IP=192.168.1.20\nMASK=255.255.255.0\nGW=192.168.1.254\nREMOTE=10.0.0.2\n"
          "INPUT=1\nTYPE=1\nTX=1\nROLE=2\nSN=7\nATT=128\n"
          "[0200C0A8010B]\n"
          "NAME=STUDIO A          \n"
          "IP=192.168.1.11\nMASK=255.255.255.0\nGW=192.168.1.1\nREMOTE=10.0.0.1\n"
          "INPUT=0\nTYPE=0\nTX=0\nROLE=1\nSN=42\n";
}

namespace {

struct Session {
    Session()
    {
        static int argc = 1;
        static char name[] = "nms-fuzz";
        static char* argv[] = {name, nullptr};
        app = new QCoreApplication(argc, argv);
        test::CoreOptions options;
        options.neighbours = &table;
        // An address the lookup refuses (0.0.0.0) waits out the whole MAC window; a short one
        // keeps every input quick without changing what happens after it.
        options.timing.macWindowMs = 100;
        // Every input rewrites the database, and a disk sync would cost more than the input: in
        // memory where the system has a memory file system.
        if (QFileInfo(QStringLiteral("/dev/shm")).isWritable() && memoryFolder.isValid()) {
            options.databasePath = memoryFolder.filePath(QStringLiteral("nms.ini"));
            // The fuzzer ends the process with exit(): the session is never destroyed.
            static const QString folder = memoryFolder.path();
            std::atexit([] { QDir(folder).removeRecursively(); });
        }
        console = new test::CoreFixture(options);
        QFile file(console->database());
        if (!file.open(QIODevice::WriteOnly) || file.write(SeedDatabase()) < 0) {
            std::fprintf(stderr, "cannot write the fuzzing database\n");
            std::abort();
        }
        file.close();
        QObject::connect(&(*console)->feedback, &FeedbackProcessor::feedbackHandled, [this] { ++handled; });
        if (!console->start() || !console->select(SelectedKey())) {
            std::fprintf(stderr, "the fuzzing console did not start\n");
            std::abort();
        }
    }
    // Kept for the whole run on purpose: the fuzzer ends the process without unwinding.
    QCoreApplication* app;
    EveryAddressTable table;
    QTemporaryDir memoryFolder {QStringLiteral("/dev/shm/nms-fuzz-XXXXXX")};
    test::CoreFixture* console;
    int handled = 0;
};

Session& TheSession()
{
    static Session* session = new Session;
    return *session;
}

} // namespace

test::CoreFixture& Console()
{
    return *TheSession().console;
}

void ResetConsole(const QByteArray& contents)
{
    test::CoreFixture& f = Console();
    QFile file(f.database());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(contents) != contents.size()) {
        std::fprintf(stderr, "cannot rewrite the fuzzing database\n");
        std::abort();
    }
    file.close();
    f->discovery.abort();
    f->feedback.LastFeedback = ElementFeedback {};
    f->sender.stopReplyTimer();
    if (!f.select(SelectedKey()))
        f->clearSelection();
    f.notices.clear();
}

int FeedbacksHandled()
{
    return TheSession().handled;
}

void AwaitFeedbacks(int total)
{
    if (FeedbacksHandled() >= total)
        return;
    QEventLoop loop;
    QObject::connect(&Console()->feedback, &FeedbackProcessor::feedbackHandled, &loop, [&] {
        if (FeedbacksHandled() >= total)
            loop.quit();
    });
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, [] {
        std::fprintf(stderr, "a feedback was not handled within 8 s\n");
        std::abort();
    });
    limit.start(8000);
    loop.exec();
}

} // namespace nms::fuzz
