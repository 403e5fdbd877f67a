// A misbehaving LAN: thousands of datagrams of random lengths and contents, with well-formed
// feedbacks from an element the database does not know, sent at the console's port 2976 as fast
// as a sender on an element host can. The console must keep its timers on time, its memory and
// the boxes it raises bounded, leave nms.ini alone, and still do a configuration round trip.

#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include "console/ConfigEditor.h"
#include "database/ElementRecords.h"
#include "database/ProfileStore.h"
#include "link/FeedbackProcessor.h"
#include "services/NeighbourTable.h"
#include "support/ConsoleFixture.h"
#include "support/TestNetwork.h"

using namespace nms;
using namespace nms::test;

namespace {

constexpr int kRandomDatagrams = 4000;
constexpr int kFeedbacks = 1500;
constexpr int kMaxLength = 2000;
constexpr int kTickMs = 50;
// The test timer's bound: no tick more than this late, flood or not.
constexpr int kLatenessBoundMs = 500;
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

bool UnderAddressSanitizer()
{
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return true;
#endif
#endif
    return false;
}

// Sends every datagram from a thread that has joined the element host's network namespace, so
// they come from that host's address and the console's kernel learns its MAC address.
struct FloodResult {
    int sent = 0;
    int refused = 0;
    bool ready = false;
    qint64 sendingUs = 0; // from the first datagram to the last
};

void Flood(const QString& netnsPath, const QString& toIp, quint16 toPort, const QList<QByteArray>& datagrams,
           FloodResult* result)
{
    const int ns = ::open(QFile::encodeName(netnsPath).constData(), O_RDONLY | O_CLOEXEC);
    if (ns < 0 || ::setns(ns, CLONE_NEWNET) != 0) {
        if (ns >= 0)
            ::close(ns);
        return;
    }
    ::close(ns);
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return;
    sockaddr_in to {};
    to.sin_family = AF_INET;
    to.sin_port = htons(toPort);
    ::inet_pton(AF_INET, toIp.toLatin1().constData(), &to.sin_addr);
    result->ready = true;
    QElapsedTimer clock;
    clock.start();
    for (const QByteArray& d : datagrams) {
        if (::sendto(s, d.constData(), size_t(d.size()), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to)
            == d.size())
            ++result->sent;
        else
            ++result->refused;
    }
    result->sendingUs = clock.nsecsElapsed() / 1000;
    ::close(s);
}

StoredElement Encoder(const QString& ip)
{
    StoredElement e;
    e.name = QStringLiteral("STUDIO A        ");
    e.ip = ip;
    e.mask = QStringLiteral("255.255.255.0");
    e.gw = QStringLiteral("10.77.0.254");
    e.remote = QStringLiteral("10.77.0.12");
    e.input = 1;
    e.type = 1;
    e.tx = 0;
    e.role = 1;
    e.sn = 11;
    return e;
}

const QStringList kEncoderOptions = {"--role",    "encoder",     "--name",   "STUDIO A",   "--serial", "11",
                                     "--gateway", "10.77.0.254", "--remote", "10.77.0.12", "--input",  "1",
                                     "--type",    "1",           "--tx",     "0"};

} // namespace

class TstFloodE2e : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void floodLeavesTheConsoleWorking();

private:
    TestNetwork* net_ = nullptr;
};

void TstFloodE2e::initTestCase()
{
    net_ = new TestNetwork(2, this);
    QVERIFY2(net_->up(), qPrintable(net_->errorString()));
    QVERIFY2(net_->enterConsoleNamespace(), qPrintable(net_->errorString()));
}

void TstFloodE2e::floodLeavesTheConsoleWorking()
{
    // Element 1 is stored, selected and answers; element 2 is unknown to the database and is
    // where the flood comes from.
    LinuxNeighbourTable neighbours;
    ConsoleOptions options;
    options.productPorts = true;
    options.neighbours = &neighbours;
    ConsoleFixture f(options);
    const QString key1 = MacTextToKey(net_->elementMac(1).toUpper());
    QVERIFY(f.writeElement(key1, Encoder(net_->elementIp(1))));
    QVERIFY(f.load());
    QVERIFY(f.select(key1));
    QVERIFY(net_->startSimulator(1, kEncoderOptions));
    const QByteArray databaseBefore = [&] {
        QFile file(f.database());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();

    QList<QByteArray> datagrams;
    QRandomGenerator random(20261207);
    int feedbacksQueued = 0;
    for (int i = 0; i < kRandomDatagrams + kFeedbacks; ++i) {
        if (i % ((kRandomDatagrams + kFeedbacks) / kFeedbacks) == 0 && feedbacksQueued < kFeedbacks) {
            FeedbackFields fb;
            fb.ip = net_->elementIp(2);
            fb.mask = QStringLiteral("255.255.255.0");
            fb.gw = QStringLiteral("10.77.0.254");
            fb.remote = net_->elementIp(1);
            fb.name = QByteArray("FLOOD ") + QByteArray::number(i).leftJustified(10, ' ');
            fb.role = 1 + i % 2;
            fb.serial = QByteArray::fromHex("00000009");
            fb.attenuation = i % 3 == 0 ? int(random.bounded(256)) : -1;
            datagrams.append(fb.bytes());
            ++feedbacksQueued;
            continue;
        }
        QByteArray d(int(random.bounded(kMaxLength + 1)), Qt::Uninitialized);
        for (char& c : d)
            c = char(random.bounded(256));
        datagrams.append(d);
    }

    // The timer whose ticks must stay on time throughout.
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
    });
    ticker.start();
    sinceTick.start();

    QSignalSpy handled(f->feedback, &FeedbackProcessor::feedbackHandled);
    // Every box stays open a while, as an operator who reads it would leave it: the flood is
    // over long before the first one closes, so the queue is what bounds the work.
    constexpr int holdMs = 100;
    f.boxes.setHoldMs(holdMs);
    f.boxes.clear();
    const qint64 memoryBefore = ResidentKb();

    FloodResult result;
    std::atomic<bool> done {false};
    std::thread sender([&] {
        Flood(QStringLiteral("/run/netns/") + net_->elementNamespace(2), net_->consoleIp(), 2976, datagrams, &result);
        done = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(done.load(), 60000);
    sender.join();
    QVERIFY(result.ready);
    QCOMPARE(result.sent, int(datagrams.size()));

    // Everything that was let in gets handled; the rest was dropped at the queue.
    QTRY_VERIFY_WITH_TIMEOUT(!f->feedback->busy() && f->feedback->waiting() == 0, 120000);
    ticker.stop();
    const qint64 memoryAfter = ResidentKb();
    const int raised = f.boxes.count();
    // The one in hand and a full queue, plus one more for every box that closed while the sender
    // was still sending.
    const int bound = FeedbackProcessor::QueueLimit + 1 + int(result.sendingUs / 1000 / holdMs) + 1;
    qInfo("flood: %d datagrams sent in %lld us (%d feedbacks); %d feedbacks handled, %d dropped at the queue; "
          "%d message boxes; worst timer gap %lld ms over %d ticks; resident memory %lld kB before, %lld kB after",
          result.sent, qlonglong(result.sendingUs), kFeedbacks, int(handled.count()), f->feedback->dropped(), raised,
          qlonglong(worstGapMs), ticks, qlonglong(memoryBefore), qlonglong(memoryAfter));

    QVERIFY2(worstGapMs <= kLatenessBoundMs,
             qPrintable(QStringLiteral("a tick came %1 ms after the one before").arg(worstGapMs)));
    QVERIFY(ticks > 0);
    QVERIFY(handled.count() >= 1);
    QVERIFY(f->feedback->dropped() > 0);
    // One box per feedback handled (each is from an element that is not the selected one, or
    // fails a check), never two open at once, and no more feedbacks than the queue lets through.
    QCOMPARE(raised, int(handled.count()));
    QVERIFY2(raised <= bound, qPrintable(QStringLiteral("%1 boxes, bound %2").arg(raised).arg(bound)));
    QCOMPARE(f.boxes.maxOpenAtOnce(), 1);
    for (const ShownBox& box : f.boxes.shown)
        QVERIFY2(box.text == kNotSelected || box.text.endsWith(QStringLiteral("Feedback is corrupted.")),
                 qPrintable(box.text));
    if (!UnderAddressSanitizer())
        QVERIFY2(memoryAfter - memoryBefore < kMemoryGrowthBoundKb,
                 qPrintable(QStringLiteral("grew by %1 kB").arg(memoryAfter - memoryBefore)));

    QFile after(f.database());
    QVERIFY(after.open(QIODevice::ReadOnly));
    QCOMPARE(after.readAll(), databaseBefore);
    QCOMPARE(f->lblElementMAC->caption(), net_->elementMac(1).toUpper());

    // A normal configuration round trip: a new name sent, confirmed and stored.
    f.boxes.clear();
    f->txtElementName->setText(QStringLiteral("after flood"));
    f.boxes.setNextAnswer(MsgAnswer::Yes);
    f->editor->cmdSave_Click();
    QTRY_VERIFY_WITH_TIMEOUT(f.boxes.texts().contains(kSaved), 10000);
    QCOMPARE(ReadFromINI(key1, QStringLiteral("name"), f.database(), QString()), QStringLiteral("AFTER FLOOD"));
    QCOMPARE(f->txtElementName->text(), QStringLiteral("AFTER FLOOD"));
}

NMS_E2E_MAIN(TstFloodE2e)
#include "tst_flood_e2e.moc"
