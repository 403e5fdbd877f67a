// A misbehaving LAN: thousands of datagrams of random lengths and contents, with well-formed
// feedbacks from an element the database does not know, sent at the console's port 2976 as fast
// as a sender on an element host can, while an encoder is asked for its level every 50 ms. The
// window must keep that timer on time and the levels coming while a box is open, hold the feedbacks
// in hand and the boxes it raises to a few, one at a time, keep its memory bounded, leave nms.ini
// alone, and still do a configuration round trip.

#include <QFile>
#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include "console/EditorPanel.h"
#include "database/ElementRecords.h"
#include "notices/NoticePresenter.h"
#include "services/NeighbourTable.h"
#include "support/ConsoleFixture.h"
#include "support/TestNetwork.h"

using namespace nms;
using namespace nms::test;

namespace {

constexpr int kRandomDatagrams = 4000;
constexpr int kFeedbacks = 1500;
constexpr int kTickMs = 50;
// The test timer's bound: no tick more than this late, flood or not.
constexpr int kLatenessBoundMs = 250;
constexpr int kHoldMs = 300; // every box stays open this long, as an operator reading it would leave it
// Memory the flood may leave behind (not checked under AddressSanitizer, whose quarantine
// keeps freed memory on purpose; its leak check covers that build).
constexpr qint64 kMemoryGrowthBoundKb = 32 * 1024;

const QString kSaved = QStringLiteral("New configuration has been sucessfuly saved and loaded!");
const QString kNotSelected = QStringLiteral("The response received does not match the selected element.\r"
                                            "Cannot save this element info.");

qint64 ResidentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// What the kernel dropped for want of room in the receive buffer of the console's socket (port 2976).
qint64 SocketDrops()
{
    QFile udp(QStringLiteral("/proc/thread-self/net/udp"));
    const QList<QByteArray> lines = udp.open(QIODevice::ReadOnly) ? udp.readAll().split('\n') : QList<QByteArray>();
    for (const QByteArray& line : lines) {
        if (line.simplified().split(' ').value(1).endsWith(":0BA0"))
            return line.simplified().split(' ').last().toLongLong();
    }
    return -1;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kUnderAddressSanitizer = true;
#elif defined(__has_feature)
constexpr bool kUnderAddressSanitizer = __has_feature(address_sanitizer);
#else
constexpr bool kUnderAddressSanitizer = false;
#endif

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
}

// Sends every datagram from a thread that has joined the element host's network namespace, so
// they come from that host's address and the console's kernel learns its MAC address. Counts what
// was sent and the time from the first datagram to the last.
void Flood(const QString& netnsPath, const QString& toIp, const QList<QByteArray>& datagrams, int* sent,
           qint64* sendingUs)
{
    const int ns = ::open(QFile::encodeName(netnsPath).constData(), O_RDONLY | O_CLOEXEC);
    const int s = ns >= 0 && ::setns(ns, CLONE_NEWNET) == 0 ? ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0) : -1;
    ::close(ns);
    if (s < 0)
        return;
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(2976);
    ::inet_pton(AF_INET, toIp.toLatin1().constData(), &to.sin_addr);
    QElapsedTimer clock;
    clock.start();
    for (const QByteArray& d : datagrams) {
        if (::sendto(s, d.constData(), size_t(d.size()), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to)
            == d.size())
            ++*sent;
    }
    *sendingUs = clock.nsecsElapsed() / 1000;
    ::close(s);
}

// The simulator's options that match a StoredElement at its address.
const QStringList kAsStored = {"--name",      "STUDIO A", "--serial", "42",     "--gateway",
                               "10.77.0.254", "--remote", "10.0.0.2", "--type", "1"};

// Random datagrams with a well-formed feedback from `ip` spread evenly among them.
QList<QByteArray> FloodDatagrams(const QString& ip)
{
    QList<QByteArray> datagrams;
    QRandomGenerator random(20261207);
    constexpr int every = (kRandomDatagrams + kFeedbacks) / kFeedbacks;
    for (int i = 0; i < kRandomDatagrams + kFeedbacks; ++i) {
        if (i % every == 0 && i / every < kFeedbacks) {
            FeedbackFields fb;
            fb.ip = ip;
            fb.role = 1 + i % 2;
            fb.attenuation = i % 3 == 0 ? int(random.bounded(256)) : -1;
            datagrams.append(fb.bytes());
            continue;
        }
        // No LevelSamples among them: every level answer is the encoder's.
        int length = 1440;
        while (length == 1440)
            length = int(random.bounded(2001));
        QByteArray d(length, Qt::Uninitialized);
        for (char& c : d)
            c = char(random.bounded(256));
        datagrams.append(d);
    }
    return datagrams;
}

} // namespace

class TstFloodE2e : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void floodLeavesTheConsoleWorking();
};

void TstFloodE2e::floodLeavesTheConsoleWorking()
{
    // Element 1 is stored, selected, answers and sends its level; element 2 is unknown to the
    // database and is where the flood comes from.
    TestNetwork net(2);
    QVERIFY2(net.up(), qPrintable(net.errorString()));
    QVERIFY2(net.enterConsoleNamespace(), qPrintable(net.errorString()));
    LinuxNeighbourTable neighbours;
    ConsoleOptions options;
    options.productPorts = true;
    options.neighbours = &neighbours;
    ConsoleFixture f(options);
    const QString key1 = MacTextToKey(net.elementMac(1).toUpper());
    StoredElement stored;
    stored.ip = net.elementIp(1);
    stored.gw = QStringLiteral("10.77.0.254"); // in its subnet: the address guard finds nothing
    QVERIFY(f.writeElement(key1, stored));
    QVERIFY(net.startSimulator(1, kAsStored));
    QVERIFY(f.load());
    QVERIFY(f.select(key1));
    f.showNotices();
    const QByteArray databaseBefore = FileBytes(f.database());
    const QList<QByteArray> datagrams = FloodDatagrams(net.elementIp(2));

    // The timer whose ticks must stay on time throughout; each asks the encoder for its level.
    ConsoleCore& core = f.core();
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(kTickMs);
    QElapsedTimer sinceTick;
    qint64 worstGapMs = 0;
    int ticks = 0;
    connect(&ticker, &QTimer::timeout, this, [&] {
        if (ticks++ > 0)
            worstGapMs = std::max(worstGapMs, sinceTick.elapsed());
        sinceTick.restart();
        core.audio.Send_LevelQuery();
    });
    QElapsedTimer sinceStart;
    int arrived = 0, mostInHand = 0, levels = 0, levelsWhileABoxIsOpen = 0;
    connect(&core.link, &LinkEndpoint::feedbackArrived, this, [&] {
        ++arrived;
        mostInHand = std::max(mostInHand, core.feedback.inHand());
    });
    connect(&core.link, &LinkEndpoint::levelSamplesArrived, this, [&] {
        ++levels;
        levelsWhileABoxIsOpen += f.boxes.openNow();
    });
    int handled = 0;
    qint64 postingMs = 0; // until the last feedback handled: notices are posted until then
    connect(&core.feedback, &FeedbackProcessor::feedbackHandled, this, [&] {
        ++handled;
        postingMs = sinceStart.elapsed();
    });
    f.boxes.setHoldMs(kHoldMs);
    f.boxes.clear();
    const qint64 memoryBefore = ResidentKb();
    const qint64 kernelDropsBefore = SocketDrops();
    QVERIFY(kernelDropsBefore >= 0);
    ticker.start();
    sinceTick.start();
    sinceStart.start();

    int sent = 0;
    qint64 sendingUs = 0;
    std::atomic<bool> done {false};
    std::thread sender([&] {
        Flood(QStringLiteral("/run/netns/") + net.elementNamespace(2), net.consoleIp(), datagrams, &sent, &sendingUs);
        done = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(done.load(), 60000);
    sender.join();
    QCOMPARE(sent, int(datagrams.size()));

    // Every feedback taken in is handled and every notice shown.
    QTRY_VERIFY_WITH_TIMEOUT(core.feedback.inHand() == 0 && f->notices->waiting() == 0 && !f->notices->showing(),
                             120000);
    ticker.stop();
    const qint64 memoryAfter = ResidentKb();
    const qint64 kernelDrops = SocketDrops() - kernelDropsBefore;
    const int raised = f.boxes.count();
    qInfo("flood: %d datagrams sent in %lld us (%d feedbacks); the kernel dropped %lld; %d feedbacks arrived, %d "
          "handled, %d dropped by the console (at most %d in hand); %d message boxes (%d notices collapsed or dropped) "
          "in %lld ms; worst timer gap %lld ms over %d ticks; %d level answers, %d while a box was open; resident "
          "memory %lld kB before, %lld kB after",
          sent, qlonglong(sendingUs), kFeedbacks, qlonglong(kernelDrops), arrived, handled, core.feedback.dropped(),
          mostInHand, raised, f->notices->dropped(), qlonglong(postingMs), qlonglong(worstGapMs), ticks, levels,
          levelsWhileABoxIsOpen, qlonglong(memoryBefore), qlonglong(memoryAfter));

    QVERIFY2(worstGapMs <= kLatenessBoundMs,
             qPrintable(QStringLiteral("a tick came %1 ms after the one before").arg(worstGapMs)));
    QVERIFY(mostInHand <= FeedbackProcessor::OrdinaryLimit);
    QVERIFY(core.feedback.dropped() > 0);
    QCOMPARE(handled + core.feedback.dropped(), arrived);
    // Every notice is a box or was collapsed into one already waiting. A few boxes, one at a time:
    // one open for each hold while notices were being posted, then what was waiting, no text twice.
    QCOMPARE(raised + f->notices->dropped(), handled);
    const QStringList texts = f.boxes.texts();
    const int bound = int(postingMs / kHoldMs) + 1 + int(QSet<QString>(texts.cbegin(), texts.cend()).size());
    QVERIFY2(raised >= 1 && raised <= bound, qPrintable(QStringLiteral("%1 boxes, bound %2").arg(raised).arg(bound)));
    QCOMPARE(f.boxes.maxOpenAtOnce(), 1);
    QVERIFY(levelsWhileABoxIsOpen > 0);
    for (const ShownBox& box : f.boxes.shown)
        QVERIFY2(box.text == kNotSelected || box.text.endsWith(QStringLiteral("Feedback is corrupted.")),
                 qPrintable(box.text));
    if (!kUnderAddressSanitizer)
        QVERIFY2(memoryAfter - memoryBefore < kMemoryGrowthBoundKb,
                 qPrintable(QStringLiteral("grew by %1 kB").arg(memoryAfter - memoryBefore)));

    QCOMPARE(FileBytes(f.database()), databaseBefore);
    QCOMPARE(core.state.selectedKey(), key1);

    // A normal configuration round trip: a new name sent, confirmed and stored.
    f.boxes.setHoldMs(0);
    f.boxes.clear();
    f->txtElementName->setText(QStringLiteral("after flood"));
    f.boxes.setNextAnswer(MsgAnswer::Yes);
    f->editor->cmdSave_Click();
    QTRY_VERIFY_WITH_TIMEOUT(f.boxes.texts().contains(kSaved), 10000);
    QCOMPARE(core.store.read(key1).name, QStringLiteral("AFTER FLOOD"));
}

NMS_E2E_MAIN(TstFloodE2e)
#include "tst_flood_e2e.moc"
