// The element link on loopback: routing of what arrives by its length, the send cycle to the
// selected element's stored address, refused sends, and the reply timer.

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QUdpSocket>
#include <QtTest>

#include "database/ProfileStore.h"
#include "link/LinkEndpoint.h"
#include "support/ConsoleFixture.h"

using namespace nms;
using namespace nms::test;

namespace {

const QString kKey = QStringLiteral("02000000010A");
const QString kMac = QStringLiteral("02:00:00:00:01:0A");

QByteArray Filled(int length)
{
    QByteArray data(length, '\0');
    for (int i = 0; i < length; ++i)
        data[i] = char((i * 7 + length) & 0xFF);
    return data;
}

} // namespace

class TestLinkEndpoint : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void routesByLength();
    void sendsFromLocalPortToStoredAddress();
    void readsStoredAddressAfresh();
    void refusesUnusableAddress_data();
    void refusesUnusableAddress();
    void reportsRefusedSend();
    void failingSendsDoNotStackBoxes();
    void replyTimeoutOnceDespiteShortReply();
};

void TestLinkEndpoint::routesByLength()
{
    ConsoleFixture f;
    QVERIFY(f.writeElement(kKey, StoredElement {}));
    QVERIFY(f.load());
    QSignalSpy samples(f->link, &LinkEndpoint::levelSamplesArrived);
    QSignalSpy feedbacks(f->link, &LinkEndpoint::feedbackArrived);

    // Level samples are taken in every state, a running discovery included.
    f->AutoDiscoverAwaiting = true;
    for (int length : {0, 3, 39, 2, 40, 41, 42, 45, 1439, 1441, 1440})
        QVERIFY(f.element->sendToConsole(Filled(length), f.consolePort()));
    QTRY_COMPARE(samples.count(), 1);
    QCOMPARE(samples.at(0).at(0).toByteArray(), Filled(1440));
    // Everything sent before the samples has been read by now (one socket, in order).
    QCOMPARE(feedbacks.count(), 2);
    QCOMPARE(feedbacks.at(0).at(0).toByteArray(), Filled(40));
    QCOMPARE(feedbacks.at(1).at(0).toByteArray(), Filled(41));
    QCOMPARE(f->udpClient->state(), QAbstractSocket::BoundState);
}

void TestLinkEndpoint::sendsFromLocalPortToStoredAddress()
{
    ConsoleFixture f;
    QVERIFY(f.writeElement(kKey, StoredElement {}));
    QVERIFY(f.load());
    QVERIFY(f.select(kKey));
    // The address being edited is not where datagrams go.
    f->txtElementIP->setText(QStringLiteral("127.0.0.9"));

    const QByteArray config = Filled(35);
    QVERIFY(f->link->SendToSelected(config, f.environment().configPort, true));
    QVERIFY(f->timerRemoteSent->isActive());
    QTRY_COMPARE(f.element->receivedOn(f.environment().configPort), QList<QByteArray> {config});
    QCOMPARE(f.element->received.at(0).fromPort, f.consolePort());
    QCOMPARE(f->link->remoteHost(), QStringLiteral("127.0.0.1"));
    QCOMPARE(f->link->remotePort(), f.environment().configPort);

    f->timerRemoteSent->stop();
    const QByteArray command = Filled(2);
    QVERIFY(f->link->SendToSelected(command, f.environment().commandPort, false));
    QVERIFY(!f->timerRemoteSent->isActive());
    QTRY_COMPARE(f.element->receivedOn(f.environment().commandPort), QList<QByteArray> {command});
    QCOMPARE(f.element->received.at(1).fromPort, f.consolePort());

    // Sending neither closes nor re-binds the socket.
    QCOMPARE(f->udpClient->state(), QAbstractSocket::BoundState);
    QCOMPARE(f->udpClient->localPort(), f.consolePort());
    QCOMPARE(f.boxes.count(), 0);
}

void TestLinkEndpoint::readsStoredAddressAfresh()
{
    ConsoleFixture f;
    QVERIFY(f.writeElement(kKey, StoredElement {}));
    QVERIFY(f.load());
    QVERIFY(f.select(kKey));

    QUdpSocket moved;
    QVERIFY(moved.bind(QHostAddress(QStringLiteral("127.0.0.2")), f.environment().configPort));
    QVERIFY(WriteToINI(kKey, QStringLiteral("ip"), QStringLiteral("127.0.0.2"), f.database()));

    QVERIFY(f->link->SendToSelected(Filled(35), f.environment().configPort, false));
    QTRY_VERIFY(moved.hasPendingDatagrams());
    QCOMPARE(moved.receiveDatagram().data(), Filled(35));
    QVERIFY(f.element->received.isEmpty());
}

void TestLinkEndpoint::refusesUnusableAddress_data()
{
    QTest::addColumn<QString>("storedIp"); // "-" for no ip entry, "?" for no element selected
    QTest::addColumn<QString>("firstLine");
    QTest::newRow("nothing selected") << "?"
                                      << "No element is selected.";
    QTest::newRow("no ip stored") << "-"
                                  << "No address is stored for the element 02:00:00:00:01:0A.";
    QTest::newRow("three parts") << "10.0.0"
                                 << "The stored address of this element ('10.0.0') is not a valid IP address.";
    QTest::newRow("letters") << "a.b.c.d"
                             << "The stored address of this element ('a.b.c.d') is not a valid IP address.";
    QTest::newRow("unspecified") << "0.0.0.0"
                                 << "The stored address of this element ('0.0.0.0') is not a valid IP address.";
}

void TestLinkEndpoint::refusesUnusableAddress()
{
    QFETCH(QString, storedIp);
    QFETCH(QString, firstLine);
    ConsoleFixture f;
    QVERIFY(f.writeElement(kKey, StoredElement {}));
    QVERIFY(f.load());
    if (storedIp != QStringLiteral("?")) {
        QVERIFY(f.select(kKey));
        if (storedIp == QStringLiteral("-"))
            QVERIFY(DeleteIniKey(kKey, QStringLiteral("ip"), f.database()));
        else
            QVERIFY(WriteToINI(kKey, QStringLiteral("ip"), storedIp, f.database()));
    }
    f.boxes.clear();

    QVERIFY(!f->link->SendToSelected(Filled(35), f.environment().configPort, true));
    QCOMPARE(f.boxes.count(), 1);
    QCOMPARE(f.boxes.shown.at(0).icon, MsgIcon::Error);
    QCOMPARE(f.boxes.shown.at(0).title, QStringLiteral("Error!"));
    QCOMPARE(f.boxes.shown.at(0).text, firstLine + QStringLiteral("\rNothing was sent."));
    QVERIFY(!f->timerRemoteSent->isActive());
    QCOMPARE(f->udpClient->state(), QAbstractSocket::BoundState);

    // Nothing went out: a good send afterwards is the only thing the element ever sees.
    QVERIFY(WriteToINI(kKey, QStringLiteral("ip"), QStringLiteral("127.0.0.1"), f.database()));
    f->lblElementMAC->setCaption(kMac);
    QVERIFY(f->link->SendToSelected(Filled(3), f.environment().configPort, false));
    QTRY_COMPARE(f.element->received.size(), 1);
    QCOMPARE(f.element->received.at(0).data, Filled(3));
}

void TestLinkEndpoint::reportsRefusedSend()
{
    ConsoleFixture f;
    QVERIFY(f.writeElement(kKey, StoredElement {}));
    QVERIFY(f.load());
    QVERIFY(f.select(kKey));
    f.boxes.clear();

    // More than a UDP datagram can carry: the network stack refuses it.
    QVERIFY(!f->link->SendToSelected(QByteArray(70000, 'x'), f.environment().configPort, true));
    QCOMPARE(f.boxes.count(), 1);
    QCOMPARE(f.boxes.shown.at(0).title, QStringLiteral("Error!"));
    QVERIFY(f.boxes.shown.at(0).text.startsWith(
        QStringLiteral("The datagram to 127.0.0.1 port %1 could not be sent: ").arg(f.environment().configPort)));
    QVERIFY(f.boxes.shown.at(0).text.endsWith(QStringLiteral(".\rNothing was sent.")));
    QVERIFY(!f->timerRemoteSent->isActive());
    QCOMPARE(f->udpClient->state(), QAbstractSocket::BoundState);
    QVERIFY(f->link->SendToSelected(Filled(35), f.environment().configPort, true));
}

void TestLinkEndpoint::failingSendsDoNotStackBoxes()
{
    ConsoleFixture f;
    QVERIFY(f.load());
    f.boxes.clear();
    f.boxes.setHoldMs(300);
    // Level queries keep coming every 50 ms while the first refusal is on screen.
    QTimer repeat;
    repeat.setInterval(50);
    int refused = 0;
    connect(&repeat, &QTimer::timeout, this, [&] {
        if (!f->link->SendToSelected(Filled(3), f.environment().commandPort, false))
            ++refused;
    });
    repeat.start();
    QTRY_VERIFY(refused >= 4);
    repeat.stop();
    QCOMPARE(f.boxes.maxOpenAtOnce(), 1);
}

void TestLinkEndpoint::replyTimeoutOnceDespiteShortReply()
{
    ConsoleFixture f;
    QVERIFY(f.writeElement(kKey, StoredElement {}));
    QVERIFY(f.load());
    QVERIFY(f.select(kKey));
    f.boxes.clear();
    // The box stays open longer than the timer's interval: it must not come a second time.
    f.boxes.setHoldMs(3500);

    QElapsedTimer clock;
    clock.start();
    QVERIFY(f->link->SendToSelected(Filled(35), f.environment().configPort, true));
    QVERIFY(f.element->sendToConsole(Filled(3), f.consolePort()));
    QTRY_COMPARE_WITH_TIMEOUT(f.boxes.count(), 1, 5000);
    QVERIFY2(clock.elapsed() >= 2900, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(f.boxes.shown.at(0).icon, MsgIcon::Error);
    QCOMPARE(f.boxes.shown.at(0).title, QStringLiteral("Error!"));
    QCOMPARE(f.boxes.shown.at(0).text,
             QStringLiteral("Waiting for a response from Network Element has timed out!\rCannot save."));
    QVERIFY(!f->timerRemoteSent->isActive());
    QTRY_COMPARE_WITH_TIMEOUT(f.boxes.openNow(), 0, 5000);
    QCOMPARE(f.boxes.count(), 1);
    QVERIFY(!f->timerRemoteSent->isActive());
}

QTEST_MAIN(TestLinkEndpoint)
#include "tst_linkendpoint.moc"
