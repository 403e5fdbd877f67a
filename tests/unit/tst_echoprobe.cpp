// The echo probe on a scripted echo service: the look and caption of each outcome, the countdown
// after a time-out and the probe it ends with, and the probe dropped when cancelled or superseded.

#include <QElapsedTimer>
#include <QtTest>

#include <functional>
#include <utility>

#include "services/EchoStatus.h"
#include "session/EchoProbe.h"
#include "support/FakeEchoService.h"
#include "support/RecordingNotices.h"

using namespace nms;
using namespace nms::test;

using Look = EchoProbe::Look;
Q_DECLARE_METATYPE(EchoProbe::Look)

namespace {

const QString kUnknown = QStringLiteral("<Unknown>");
const QStringList kCountdown = {QStringLiteral("Request Timed Out"), QStringLiteral("Retrying in 2 seconds..."),
                                QStringLiteral("Retrying in 1 seconds..."), QStringLiteral("Retrying in 0 seconds...")};
const int kNoTick = 60000; // a countdown that does not move during the test

// A probe on a scripted service, and everything it showed.
struct Bench {
    explicit Bench(int retryTickMs, bool withService = true)
        : timing {.echoWaitMs = 700, .retryTickMs = retryTickMs}, probe(withService ? &echo : nullptr, notices, timing)
    {
        clock.start();
        QObject::connect(&probe, &EchoProbe::displayChanged, [this](Look look, const QString& caption) {
            looks.append(look);
            captions.append(caption);
            atMs.append(clock.elapsed());
            if (action && caption == actionCaption)
                std::exchange(action, nullptr)();
        });
    }
    // Acts the moment a caption is shown, so that a 20 ms countdown step is never missed.
    void when(const QString& caption, std::function<void()> act)
    {
        actionCaption = caption;
        action = std::move(act);
    }

    FakeEchoService echo;
    RecordingNotices notices;
    Timing timing;
    EchoProbe probe;
    QElapsedTimer clock;
    QList<Look> looks;
    QStringList captions;
    QList<qint64> atMs;
    QString actionCaption;
    std::function<void()> action;
};

} // namespace

class TestEchoProbe : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void outcomeIsShownWhenTheAnswerComes_data();
    void outcomeIsShownWhenTheAnswerComes();
    void timeOutCountsDownThenProbesTheRetryAddress_data();
    void timeOutCountsDownThenProbesTheRetryAddress();
    void markedNotProbedThenCancelled();
    void countdownEnds_data();
    void countdownEnds();
};

void TestEchoProbe::outcomeIsShownWhenTheAnswerComes_data()
{
    QTest::addColumn<int>("status"); // 1: no echo service at all
    QTest::addColumn<int>("roundTrip");
    QTest::addColumn<Look>("look");
    QTest::addColumn<QString>("caption");
    QTest::newRow("answer") << 0 << 3 << Look::Answered << "3 ms";
    QTest::newRow("timed out") << int(EchoTimedOut) << 0 << Look::Failed << "Request Timed Out";
    QTest::newRow("unusable") << int(EchoUnusable) << 0 << Look::Failed << "Unknown Response";
    QTest::newRow("no echo service") << 1 << 0 << Look::Failed << "Unknown Response";
}

void TestEchoProbe::outcomeIsShownWhenTheAnswerComes()
{
    QFETCH(int, status);
    QFETCH(int, roundTrip);
    QFETCH(Look, look);
    QFETCH(QString, caption);
    Bench b(kNoTick, status != 1);
    b.echo.setDelayMs(-1);
    b.echo.setReply(status, quint32(roundTrip));
    b.probe.PingElement(QStringLiteral("10.77.0.11"));
    if (status != 1) {
        // Under way: one echo with the configured wait, nothing shown yet.
        QCOMPARE(b.echo.addresses, QStringList {QStringLiteral("10.77.0.11")});
        QCOMPARE(b.echo.timeouts, QList<int> {700});
        QVERIFY(b.probe.probing());
        QVERIFY(b.captions.isEmpty());
        QVERIFY(b.echo.release());
    }
    QCOMPARE(b.captions, QStringList {caption});
    QCOMPARE(b.looks, QList<Look> {look});
    QVERIFY(!b.probe.probing());
    QCOMPARE(b.probe.countingDown(), status == EchoTimedOut); // only a time-out retries
}

void TestEchoProbe::timeOutCountsDownThenProbesTheRetryAddress_data()
{
    QTest::addColumn<bool>("withSource");
    QTest::addColumn<QString>("retryAddress");
    QTest::newRow("the address the source holds then") << true << "10.77.0.12";
    QTest::newRow("a malformed address") << true << "10.77.0";
    QTest::newRow("no source") << false << "";
}

void TestEchoProbe::timeOutCountsDownThenProbesTheRetryAddress()
{
    QFETCH(bool, withSource);
    QFETCH(QString, retryAddress);
    const int tickMs = 20;
    Bench b(tickMs);
    QString source = QStringLiteral("10.77.0.99");
    if (withSource)
        b.probe.setRetryAddress([&source] { return source; });
    b.when(kCountdown.at(1), [&] {
        // The address is asked for when the countdown ends, not when it starts.
        source = retryAddress;
        // A malformed address does nothing at all: no probe, no caption, the countdown goes on.
        b.probe.PingElement(QStringLiteral("10.77"));
    });
    b.echo.queueReply(EchoTimedOut);
    b.echo.setReply(0, 5);

    b.probe.PingElement(QStringLiteral("10.77.0.99"));
    QTRY_VERIFY_WITH_TIMEOUT(b.captions.size() >= 4 && !b.probe.countingDown(), 5000);
    QCOMPARE(b.captions.mid(0, 4), kCountdown);
    QCOMPARE(b.looks.mid(0, 4), QList<Look>(4, Look::Failed));
    QVERIFY2(b.atMs.at(3) - b.atMs.at(0) >= 3 * tickMs, qPrintable(QString::number(b.atMs.at(3) - b.atMs.at(0))));
    QCOMPARE(b.probe.PingRetryCountdown, qint16(3));
    if (retryAddress == QLatin1String("10.77.0.12")) {
        QCOMPARE(b.echo.addresses, (QStringList {QStringLiteral("10.77.0.99"), retryAddress}));
        QTRY_COMPARE(b.probe.caption(), QStringLiteral("5 ms"));
    } else {
        // Nothing to probe: the last count stays shown.
        QCOMPARE(b.echo.addresses.size(), 1);
        QCOMPARE(b.captions.size(), 4);
    }
}

void TestEchoProbe::markedNotProbedThenCancelled()
{
    Bench b(kNoTick);
    b.echo.setReply(0, 7);
    b.probe.PingElement(QStringLiteral("10.77.0.11"));
    QTRY_COMPARE(b.probe.caption(), QStringLiteral("7 ms"));
    b.probe.markNotProbed(); // a selection's first step: the caption stays
    QCOMPARE(b.looks.last(), Look::NotProbed);
    QCOMPARE(b.captions.last(), QStringLiteral("7 ms"));
    b.echo.setDelayMs(-1);
    b.echo.setReply(0, 3);
    b.probe.PingElement(QStringLiteral("10.77.0.12"));
    b.probe.cancel();
    QCOMPARE(b.probe.look(), Look::NotProbed);
    QCOMPARE(b.probe.caption(), kUnknown);
    QVERIFY(!b.probe.probing());
    // The element's late answer (if the service still held the probe) shows nothing.
    b.echo.release();
    QCOMPARE(b.captions.last(), kUnknown);
    // Cancelled again (the core's shutdown after the window's own): nothing to redraw.
    const qsizetype shown = b.captions.size();
    b.probe.cancel();
    QCOMPARE(b.captions.size(), shown);
}

void TestEchoProbe::countdownEnds_data()
{
    QTest::addColumn<bool>("cancelled"); // else superseded by the probe of another element
    QTest::newRow("cancelled") << true;
    QTest::newRow("a new probe") << false;
}

void TestEchoProbe::countdownEnds()
{
    QFETCH(bool, cancelled);
    const int tickMs = 20;
    Bench b(tickMs);
    b.echo.setReply(EchoTimedOut);
    b.when(kCountdown.at(2), [&] {
        b.echo.setDelayMs(-1);
        if (cancelled)
            b.probe.cancel();
        else
            b.probe.PingElement(QStringLiteral("10.77.0.12"));
    });
    b.probe.PingElement(QStringLiteral("10.77.0.99"));
    QTRY_VERIFY(!b.action);
    QVERIFY(!b.probe.countingDown());
    QTest::qWait(5 * tickMs);
    QCOMPARE(b.echo.addresses.size(), cancelled ? 1 : 2);
    QCOMPARE(b.probe.caption(), cancelled ? kUnknown : kCountdown.at(2));

    // The next time-out gets a full countdown of its own.
    b.captions.clear();
    if (cancelled)
        b.probe.PingElement(QStringLiteral("10.77.0.99"));
    QVERIFY(b.echo.release());
    QTRY_VERIFY(b.captions.size() >= 2);
    QCOMPARE(b.captions.mid(0, 2), kCountdown.mid(0, 2));
}

QTEST_GUILESS_MAIN(TestEchoProbe)
#include "tst_echoprobe.moc"
