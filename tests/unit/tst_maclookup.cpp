// The MAC lookup on a scripted neighbour table: one look and its request to the kernel, and the
// windows that run side by side, each answered once from the event loop, on few reads of the table.

#include <QElapsedTimer>
#include <QtTest>

#include <memory>

#include "services/MacLookup.h"
#include "support/FakeNeighbourTable.h"

using namespace nms;
using namespace nms::test;

namespace {

Timing Windows(int windowMs, int retryMs = 5, int solicitAgainMs = 1000)
{
    return Timing {.macWindowMs = windowMs, .macRetryMs = retryMs, .solicitAgainMs = solicitAgainMs};
}

struct Outcome { // how often one window was answered, with what, and when
    int calls = 0;
    QString mac;
    qint64 atMs = -1;
    MacLookup::Done record(const QElapsedTimer& clock)
    {
        return [this, &clock](const QString& text) { *this = {calls + 1, text, clock.elapsed()}; };
    }
};

QString AddressOf(int i)
{
    return QString::asprintf("10.1.%d.%d", i / 256, i % 256);
}

QString MacOf(int i)
{
    return QString::asprintf("02:00:00:00:%02d:%02d", i / 100, i % 100);
}

} // namespace

class TestMacLookup : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void oneLookAndOneWindow_data();
    void oneLookAndOneWindow();
    void windowsRunSideBySideOnFewReads();
    void closedWindowsAreNeverAnswered();
};

void TestMacLookup::oneLookAndOneWindow_data()
{
    // The table's entry, which may appear only once the kernel is asked to resolve the address.
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("onSolicit");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("text"); // from LookupMac, "-"-separated
    QTest::addColumn<int>("solicits");
    const QByteArray six = QByteArray::fromHex("0a1b2c3d4e5f");
    const QString mac = QStringLiteral("0A-1B-2C-3D-4E-5F");
    QTest::newRow("known") << "10.0.0.5" << six << false << true << mac << 0;
    QTest::newRow("resolved once asked") << "10.0.0.8" << six << true << true << mac << 1;
    QTest::newRow("four bytes: no text") << "10.0.0.7" << QByteArray::fromHex("01020304") << false << true << "" << 0;
    QTest::newRow("all-zero bytes") << "10.0.0.6" << QByteArray(6, '\0') << false << false << "untouched" << 0;
    QTest::newRow("absent") << "10.0.0.9" << QByteArray() << false << false << "untouched" << 1;
    QTest::newRow("unspecified") << "0.0.0.0" << six << false << false << "untouched" << 0;
}

void TestMacLookup::oneLookAndOneWindow()
{
    QFETCH(QString, ip);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, onSolicit);
    QFETCH(bool, found);
    QFETCH(QString, text);
    QFETCH(int, solicits);
    FakeNeighbourTable tables[2];
    for (FakeNeighbourTable& table : tables) {
        if (onSolicit)
            table.addOnSolicit(ip, bytes);
        else
            table.add(ip, bytes); // empty: as if absent
    }
    QString looked = QStringLiteral("untouched");
    QCOMPARE(MacLookup(tables[0], Windows(1000)).LookupMac(ip, looked, QStringLiteral("-")), found);
    QCOMPARE(looked, text);
    QCOMPARE(tables[0].solicits(), solicits);

    // The window ends with the look's text when the look finds one, else it runs out with "".
    // One that must not run out is far longer than the wait for its answer.
    const int windowMs = found ? 60000 : 150;
    MacLookup lookup(tables[1], Windows(windowMs));
    QObject context;
    QElapsedTimer clock;
    clock.start();
    Outcome outcome;
    lookup.FindMac(ip, &context, outcome.record(clock));
    QCOMPARE(outcome.calls, 0); // never from inside the call
    QTRY_COMPARE_WITH_TIMEOUT(outcome.calls, 1, 5000);
    QCOMPARE(outcome.mac, found ? text.replace(QLatin1Char('-'), QLatin1Char(':')) : QString());
    QVERIFY2(found || outcome.atMs >= windowMs, qPrintable(QString::number(outcome.atMs)));
    for (const FakeNeighbourTable& table : tables)
        QCOMPARE(table.lookups() == 0, ip == QLatin1String("0.0.0.0"));
}

void TestMacLookup::windowsRunSideBySideOnFewReads()
{
    const int count = 500, windowMs = 200, retryMs = 10, solicitAgainMs = 40;
    FakeNeighbourTable table;
    for (int i = 0; i < count; ++i)
        table.add(AddressOf(i), MacBytes(MacOf(i)));
    MacLookup lookup(table, Windows(windowMs, retryMs, solicitAgainMs));
    QObject context;
    QElapsedTimer clock;
    clock.start();
    // Answers from addresses that never resolve (two each); later more, and ones the table knows.
    QList<Outcome> early(count), late(count), known(count);
    for (int i = 0; i < count; ++i)
        lookup.FindMac(AddressOf(1000 + i / 2), &context, early[i].record(clock));
    QTest::qWait(windowMs / 4);
    const qint64 lateAt = clock.elapsed();
    for (int i = 0; i < count; ++i) {
        lookup.FindMac(AddressOf(2000 + i / 2), &context, late[i].record(clock));
        lookup.FindMac(AddressOf(i), &context, known[i].record(clock));
    }
    QTRY_COMPARE_WITH_TIMEOUT(lookup.pending(), 0, 10000);
    const qint64 elapsed = clock.elapsed();
    for (int i = 0; i < count; ++i) {
        QVERIFY(known[i].calls == 1 && early[i].calls == 1 && late[i].calls == 1);
        QCOMPARE(known[i].mac, MacOf(i));
        QCOMPARE(early[i].mac + late[i].mac, QString());
        // Every window runs its own length: none is ended by another one opening or answering.
        QVERIFY(early[i].atMs >= windowMs && late[i].atMs >= lateAt + windowMs);
        // The kernel is asked again at most once per period, whatever the windows and passes.
        const int solicits = table.solicitsOf(AddressOf(1000 + i / 2));
        QVERIFY2(solicits >= 2 && solicits <= elapsed / solicitAgainMs + 1,
                 qPrintable(QStringLiteral("%1 in %2 ms").arg(solicits).arg(elapsed)));
    }
    // The reads follow the retry period (two in a pass that asks the kernel), not the windows.
    QVERIFY2(table.reads() <= 2 * (elapsed / retryMs + 2), qPrintable(QString::number(table.reads())));
}

void TestMacLookup::closedWindowsAreNeverAnswered()
{
    FakeNeighbourTable table;
    for (int i = 1; i <= 6; ++i)
        table.add(AddressOf(i), MacBytes(MacOf(i)));
    MacLookup lookup(table, Windows(60000));
    QElapsedTimer clock;
    clock.start();
    QObject alive;
    auto deletedBefore = std::make_unique<QObject>(), deletedByAnEarlierAnswer = std::make_unique<QObject>();
    Outcome o[7];
    // Windows still open would be answered by the same read as the ones opened after cancelAll().
    lookup.FindMac(AddressOf(5), &alive, o[5].record(clock));
    lookup.FindMac(AddressOf(6), &alive, o[6].record(clock));
    lookup.cancelAll();
    lookup.FindMac(AddressOf(1), &alive, [&](const QString& mac) {
        o[1].record(clock)(mac);
        deletedByAnEarlierAnswer.reset();
    });
    lookup.FindMac(AddressOf(2), deletedByAnEarlierAnswer.get(), o[2].record(clock));
    lookup.FindMac(AddressOf(3), deletedBefore.get(), o[3].record(clock));
    lookup.FindMac(AddressOf(4), &alive, o[4].record(clock));
    deletedBefore.reset();
    QTRY_COMPARE(lookup.pending(), 0);
    QCOMPARE(table.reads(), 1);
    QCOMPARE((QList<int> {o[1].calls, o[2].calls, o[3].calls, o[4].calls, o[5].calls, o[6].calls}),
             (QList<int> {1, 0, 0, 1, 0, 0}));
    QCOMPARE(o[4].mac, MacOf(4));
}

QTEST_GUILESS_MAIN(TestMacLookup)
#include "tst_maclookup.moc"
