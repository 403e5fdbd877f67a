// The ping area of the window: what each echo outcome shows, and the countdown that follows a
// time-out, driven by the window's own 1000 ms retry timer.

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include "services/EchoProbe.h"
#include "support/ConsoleFixture.h"
#include "support/FakeEchoService.h"

using namespace nms;
using namespace nms::test;

namespace {

const QColor Green(0, 255, 0);
const QColor Red(255, 0, 0);
const QColor LightYellow(255, 255, 192);

} // namespace

class TstEchoProbe : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void outcomeIsShownWhenTheAnswerComes_data();
    void outcomeIsShownWhenTheAnswerComes();
    void unusableAddressTextProbesNothing_data();
    void unusableAddressTextProbesNothing();
    void addressesTheServiceCannotUseShowUnknownResponse_data();
    void addressesTheServiceCannotUseShowUnknownResponse();
    void timeOutCountsDownAndProbesAgainUntilAnswered();
    void retryProbesTheAddressTheEditorHoldsThen();
    void retryWithMalformedAddressLeavesTheLastCount();

private:
    FakeEchoService* echo_ = nullptr;
    ConsoleFixture* console_ = nullptr;
    FrmMain& w() { return console_->w(); }
};

void TstEchoProbe::init()
{
    echo_ = new FakeEchoService;
    ConsoleOptions options;
    options.echo = echo_;
    console_ = new ConsoleFixture(options);
}

void TstEchoProbe::cleanup()
{
    delete console_;
    delete echo_;
}

void TstEchoProbe::outcomeIsShownWhenTheAnswerComes_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("roundTrip");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QColor>("colour");
    QTest::addColumn<bool>("retries");

    QTest::newRow("answer") << 0 << 3 << "3 ms" << Green << false;
    QTest::newRow("answer under a millisecond") << 0 << 0 << "0 ms" << Green << false;
    QTest::newRow("timed out") << 11010 << 0 << "Request Timed Out" << Red << true;
    QTest::newRow("host unreachable") << 11003 << 0 << "Destination Host Unreachable" << Red << false;
    QTest::newRow("net unreachable") << 11002 << 0 << "Destination Net Unreachable" << Red << false;
    QTest::newRow("expired in transit") << 11013 << 0 << "TimeToLive Expired Transit" << Red << false;
    QTest::newRow("general failure") << 11050 << 0 << "General Failure" << Red << false;
    QTest::newRow("between the table's codes") << 11025 << 0 << "Unknown Response" << Red << false;
    QTest::newRow("facility unusable") << -1 << 0 << "Unknown Response" << Red << false;
}

void TstEchoProbe::outcomeIsShownWhenTheAnswerComes()
{
    QFETCH(int, status);
    QFETCH(int, roundTrip);
    QFETCH(QString, caption);
    QFETCH(QColor, colour);
    QFETCH(bool, retries);

    echo_->setDelayMs(-1);
    echo_->setReply(status, quint32(roundTrip));
    w().probe->PingElement(QStringLiteral("10.77.0.11"));

    // The probe is under way: one echo with a 1000 ms wait, nothing shown yet.
    QCOMPARE(echo_->addresses, QStringList {QStringLiteral("10.77.0.11")});
    QCOMPARE(echo_->timeouts, QList<int> {1000});
    QCOMPARE(w().lblPing->caption(), QStringLiteral("<Unknown>"));
    QCOMPARE(w().shpPing->fillColor(), LightYellow);

    QVERIFY(echo_->release());
    QTRY_COMPARE(w().lblPing->caption(), caption);
    QCOMPARE(w().shpPing->fillColor(), colour);
    QCOMPARE(w().tmrRetryPing->isActive(), retries);
}

void TstEchoProbe::unusableAddressTextProbesNothing_data()
{
    QTest::addColumn<QString>("address");
    QTest::newRow("three parts") << "10.1.2";
    QTest::newRow("part above 255") << "300.1.2.3";
    QTest::newRow("five parts") << "10.1.2.3.4";
    QTest::newRow("empty") << "";
    QTest::newRow("letters") << "host.example";
}

void TstEchoProbe::unusableAddressTextProbesNothing()
{
    QFETCH(QString, address);

    // A shown result first, so that "nothing changes" is visible.
    echo_->setReply(0, 7);
    w().probe->PingElement(QStringLiteral("10.0.0.1"));
    QTRY_COMPARE(w().lblPing->caption(), QStringLiteral("7 ms"));
    QSignalSpy captions(w().lblPing, &Label::captionChanged);

    w().probe->PingElement(address);
    QCOMPARE(echo_->addresses.size(), 1);
    QVERIFY(!echo_->inFlight());
    QCOMPARE(captions.count(), 0);
    QCOMPARE(w().shpPing->fillColor(), Green);
}

void TstEchoProbe::addressesTheServiceCannotUseShowUnknownResponse_data()
{
    QTest::addColumn<QString>("address");
    QTest::newRow("no address") << "0.0.0.0";
    QTest::newRow("limited broadcast") << "255.255.255.255";
}

void TstEchoProbe::addressesTheServiceCannotUseShowUnknownResponse()
{
    QFETCH(QString, address);

    // The real service: it refuses these before opening any socket, so nothing leaves the host.
    LinuxEchoService real;
    ConsoleOptions options;
    options.echo = &real;
    ConsoleFixture console(options);

    console->probe->PingElement(address);
    QTRY_COMPARE(console->lblPing->caption(), QStringLiteral("Unknown Response"));
    QCOMPARE(console->shpPing->fillColor(), Red);
    QCOMPARE(real.lastSocketKind(), LinuxEchoService::SocketKind::None);
    QVERIFY(!console->tmrRetryPing->isActive());
}

void TstEchoProbe::timeOutCountsDownAndProbesAgainUntilAnswered()
{
    w().txtElementIP->setText(QStringLiteral("10.77.0.99"));
    echo_->queueReply(11010);
    echo_->queueReply(11010);
    echo_->setReply(0, 5);
    QSignalSpy captions(w().lblPing, &Label::captionChanged);
    QElapsedTimer clock;

    w().probe->PingElement(w().txtElementIP->text());
    QTRY_COMPARE(captions.count(), 1);
    clock.start();
    QVERIFY(w().tmrRetryPing->isActive());

    // Three countdown texts one second apart, then the second probe at the fourth tick.
    QTRY_COMPARE_WITH_TIMEOUT(echo_->addresses.size(), 2, 6000);
    QVERIFY2(clock.elapsed() >= 3700, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(w().PingRetryCountdown, qint16(3));
    // The second time-out starts the same cycle again; the third probe is answered.
    QTRY_COMPARE_WITH_TIMEOUT(echo_->addresses.size(), 3, 6000);
    QTRY_COMPARE(w().lblPing->caption(), QStringLiteral("5 ms"));
    QCOMPARE(w().shpPing->fillColor(), Green);
    QVERIFY(!w().tmrRetryPing->isActive());

    QStringList shown;
    for (const QList<QVariant>& emission : captions)
        shown.append(emission.at(0).toString());
    const QStringList cycle = {QStringLiteral("Request Timed Out"), QStringLiteral("Retrying in 2 seconds..."),
                               QStringLiteral("Retrying in 1 seconds..."), QStringLiteral("Retrying in 0 seconds...")};
    QCOMPARE(shown, cycle + cycle + QStringList {QStringLiteral("5 ms")});
    QCOMPARE(echo_->addresses, QStringList(3, QStringLiteral("10.77.0.99")));
}

void TstEchoProbe::retryProbesTheAddressTheEditorHoldsThen()
{
    echo_->queueReply(11010);
    echo_->setReply(11003);
    w().probe->PingElement(QStringLiteral("10.77.0.99"));
    QTRY_COMPARE(w().lblPing->caption(), QStringLiteral("Request Timed Out"));
    QTRY_COMPARE_WITH_TIMEOUT(w().lblPing->caption(), QStringLiteral("Retrying in 1 seconds..."), 3000);

    w().txtElementIP->setText(QStringLiteral("10.77.0.12"));
    QTRY_COMPARE_WITH_TIMEOUT(echo_->addresses.size(), 2, 4000);
    QCOMPARE(echo_->addresses.last(), QStringLiteral("10.77.0.12"));
    // An unreachable host is reported, and does not count down.
    QTRY_COMPARE(w().lblPing->caption(), QStringLiteral("Destination Host Unreachable"));
    QVERIFY(!w().tmrRetryPing->isActive());
}

void TstEchoProbe::retryWithMalformedAddressLeavesTheLastCount()
{
    echo_->setReply(11010);
    w().probe->PingElement(QStringLiteral("10.77.0.99"));
    QTRY_COMPARE(w().lblPing->caption(), QStringLiteral("Request Timed Out"));
    w().txtElementIP->setText(QStringLiteral("10.77.0"));

    QTRY_COMPARE_WITH_TIMEOUT(w().tmrRetryPing->isActive(), false, 6000);
    QCOMPARE(echo_->addresses.size(), 1);
    QCOMPARE(w().lblPing->caption(), QStringLiteral("Retrying in 0 seconds..."));
    QCOMPARE(w().shpPing->fillColor(), Red);
    QCOMPARE(w().PingRetryCountdown, qint16(3));
}

QTEST_MAIN(TstEchoProbe)
#include "tst_echoprobe.moc"
