// The MAC lookup through the neighbour table, its text form, and the five-second retry window
// that keeps the window live while it waits.

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

#include "services/MacLookup.h"
#include "link/LinkEndpoint.h"
#include "support/ConsoleFixture.h"

using namespace nms;
using namespace nms::test;

class TestMacLookup : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void formatMac_data();
    void formatMac();
    void ipTextToAddress_data();
    void ipTextToAddress();
    void lookupMac();
    void solicitsUnknownAddress();
    void windowFindsAddressResolvedLater();
    void windowEndsAfterFiveSecondsAndStaysLive();
    void timerGivesOneTick();
};

void TestMacLookup::formatMac_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QString>("text");
    QTest::newRow("colons") << QByteArray::fromHex("001A2B3C4D5E") << ":"
                            << "00:1A:2B:3C:4D:5E";
    QTest::newRow("hyphens") << QByteArray::fromHex("001A2B3C4D5E") << "-"
                             << "00-1A-2B-3C-4D-5E";
    QTest::newRow("leading zero") << QByteArray::fromHex("0A0B0C0D0E0F") << ":"
                                  << "0A:0B:0C:0D:0E:0F";
    QTest::newRow("upper case") << QByteArray::fromHex("abcdefabcdef") << ""
                                << "ABCDEFABCDEF";
    QTest::newRow("five bytes") << QByteArray::fromHex("0102030405") << ":"
                                << "";
    QTest::newRow("eight bytes") << QByteArray::fromHex("0102030405060708") << ":"
                                 << "";
}

void TestMacLookup::formatMac()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, separator);
    QFETCH(QString, text);
    QCOMPARE(MacLookup::FormatMac(bytes, separator), text);
}

void TestMacLookup::ipTextToAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<quint32>("address");
    QTest::newRow("plain") << "10.0.0.1" << qToBigEndian(quint32(0x0A000001));
    QTest::newRow("zeros") << "0.0.0.0" << quint32(0);
    QTest::newRow("malformed") << "10.0.1" << quint32(0xFFFFFFFF);
    QTest::newRow("empty") << "" << quint32(0xFFFFFFFF);
}

void TestMacLookup::ipTextToAddress()
{
    QFETCH(QString, text);
    QFETCH(quint32, address);
    QCOMPARE(MacLookup::IpTextToAddress(text), address);
}

void TestMacLookup::lookupMac()
{
    ConsoleFixture f;
    f.neighbours.add(QStringLiteral("10.0.0.5"), MacBytes(QStringLiteral("00:1A:2B:3C:4D:5E")));
    f.neighbours.add(QStringLiteral("10.0.0.6"), QByteArray(6, '\0'));
    f.neighbours.add(QStringLiteral("10.0.0.7"), QByteArray::fromHex("01020304"));

    QString mac = QStringLiteral("untouched");
    QVERIFY(f->macLookup->LookupMac(QStringLiteral("10.0.0.5"), mac, QStringLiteral(":")));
    QCOMPARE(mac, QStringLiteral("00:1A:2B:3C:4D:5E"));
    QCOMPARE(f.neighbours.solicits(), 0);

    // Not found: the text is left as it was.
    mac = QStringLiteral("untouched");
    QVERIFY(!f->macLookup->LookupMac(QStringLiteral("10.0.0.6"), mac, QStringLiteral(":")));
    QVERIFY(!f->macLookup->LookupMac(QStringLiteral("10.0.0.99"), mac, QStringLiteral(":")));
    const int lookups = f.neighbours.lookups();
    QVERIFY(!f->macLookup->LookupMac(QStringLiteral("0.0.0.0"), mac, QStringLiteral(":")));
    QCOMPARE(f.neighbours.lookups(), lookups);
    QCOMPARE(mac, QStringLiteral("untouched"));

    // Another length than six bytes is found, but gives no text.
    QVERIFY(f->macLookup->LookupMac(QStringLiteral("10.0.0.7"), mac, QStringLiteral(":")));
    QCOMPARE(mac, QString());
}

void TestMacLookup::solicitsUnknownAddress()
{
    ConsoleFixture f;
    f.neighbours.addOnSolicit(QStringLiteral("10.0.0.8"), MacBytes(QStringLiteral("02:00:00:00:00:08")));
    QString mac;
    // The kernel is asked to resolve it and the second look inside the same call finds it.
    QVERIFY(f->macLookup->LookupMac(QStringLiteral("10.0.0.8"), mac, QStringLiteral(":")));
    QCOMPARE(mac, QStringLiteral("02:00:00:00:00:08"));
    QVERIFY(f.neighbours.wasSolicited(QStringLiteral("10.0.0.8")));
}

void TestMacLookup::windowFindsAddressResolvedLater()
{
    ConsoleFixture f;
    f.neighbours.addOnSolicit(QStringLiteral("10.0.0.9"), MacBytes(QStringLiteral("02:00:00:00:00:09")), 10);
    QString found = QStringLiteral("none yet");
    int calls = 0;
    f->macLookup->FindMac(QStringLiteral("10.0.0.9"), [&](const QString& mac) {
        found = mac;
        ++calls;
    });
    QVERIFY(f->timerGetMAC->isActive());
    QTRY_COMPARE(calls, 1);
    QCOMPARE(found, QStringLiteral("02:00:00:00:00:09"));
    // A success leaves the window's timer to run out by itself.
    QVERIFY(f->timerGetMAC->isActive());
    QTRY_VERIFY_WITH_TIMEOUT(!f->timerGetMAC->isActive(), 6000);
    QCOMPARE(calls, 1);
}

void TestMacLookup::windowEndsAfterFiveSecondsAndStaysLive()
{
    ConsoleFixture f;
    QVERIFY(f.load());
    QSignalSpy samples(f->link, &LinkEndpoint::levelSamplesArrived);
    QString found = QStringLiteral("none yet");
    int calls = 0;
    QElapsedTimer clock;
    clock.start();
    f->macLookup->FindMac(QStringLiteral("10.0.0.10"), [&](const QString& mac) {
        found = mac;
        ++calls;
    });
    QVERIFY(f->macLookup->searching());
    // The window stays live while it waits: datagrams are still read and routed.
    QVERIFY(f.element->sendToConsole(QByteArray(1440, 'v'), f.consolePort()));
    QTRY_COMPARE(samples.count(), 1);
    QCOMPARE(calls, 0);

    QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 7000);
    QVERIFY2(clock.elapsed() >= 4900, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(found, QString());
    QVERIFY(!f->macLookup->searching());
    // Retried on a timer, not in a busy loop: a few hundred lookups at most in five seconds, and
    // the kernel asked to resolve again about once a second.
    QVERIFY2(f.neighbours.lookups() < 600, qPrintable(QString::number(f.neighbours.lookups())));
    QVERIFY2(f.neighbours.solicits() >= 4 && f.neighbours.solicits() <= 7,
             qPrintable(QString::number(f.neighbours.solicits())));
}

void TestMacLookup::timerGivesOneTick()
{
    ConsoleFixture f;
    f->timerGetMAC->start();
    QVERIFY(f->timerGetMAC->isActive());
    f->macLookup->timerGetMAC_Timer();
    QVERIFY(!f->timerGetMAC->isActive());

    // A new window ends one still searching, as a failure, before it begins.
    QStringList results;
    f->macLookup->FindMac(QStringLiteral("10.0.0.11"),
                          [&](const QString& mac) { results << QStringLiteral("first:") + mac; });
    f.neighbours.add(QStringLiteral("10.0.0.12"), MacBytes(QStringLiteral("02:00:00:00:00:0C")));
    f->macLookup->FindMac(QStringLiteral("10.0.0.12"),
                          [&](const QString& mac) { results << QStringLiteral("second:") + mac; });
    QCOMPARE(results, QStringList({QStringLiteral("first:"), QStringLiteral("second:02:00:00:00:00:0C")}));
}

QTEST_MAIN(TestMacLookup)
#include "tst_maclookup.moc"
