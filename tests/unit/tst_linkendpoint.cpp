// The element link on a real loopback socket: routing by length alone, the send cycle to the
// selected element's stored address, refused sends, the reply timer, the exclusive bind and the
// receive buffer the kernel grants, and the port taken again when the socket is closed unasked.

#include <QElapsedTimer>
#include <QFile>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QUdpSocket>
#include <QtTest>

#include "database/ProfileStore.h"
#include "link/LinkEndpoint.h"
#include "support/CoreFixture.h"

using namespace nms;
using namespace nms::test;

namespace {

const QString kKey = QStringLiteral("02000000010A");

QByteArray Filled(int length)
{
    QByteArray data(length, '\0');
    for (int i = 0; i < length; ++i)
        data[i] = char((i * 7 + length) & 0xFF);
    return data;
}

// The socket bound and the element on 127.0.0.1 stored and selected.
bool Ready(CoreFixture& f)
{
    return f.start() && f.writeElement(kKey, StoredElement {}) && f.select(kKey);
}

} // namespace

class TestLinkEndpoint : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void routesByLength_data();
    void routesByLength();
    void sendsToTheStoredAddressReadAfresh();
    void refusedSends_data();
    void refusedSends();
    void replyTimeoutOnceAfterTheLastConfigWrite();
    void bindTakesThePortAloneWithItsBuffer_data();
    void bindTakesThePortAloneWithItsBuffer();
    void portIsTakenAgainAfterAnUnaskedClose_data();
    void portIsTakenAgainAfterAnUnaskedClose();
};

void TestLinkEndpoint::routesByLength_data()
{
    QTest::addColumn<bool>("discovering");
    QTest::newRow("idle") << false;
    QTest::newRow("during a discovery") << true;
}

void TestLinkEndpoint::routesByLength()
{
    QFETCH(bool, discovering);
    CoreOptions options;
    options.timing.discoveryMs = 60000; // still running when the last datagram is read
    CoreFixture f(options);
    QVERIFY(f.start());
    QVERIFY(!discovering || f->discovery.start());
    QSignalSpy samples(&f->link, &LinkEndpoint::levelSamplesArrived);
    QSignalSpy feedbacks(&f->link, &LinkEndpoint::feedbackArrived);
    for (int length : {0, 3, 2, 39, 40, 41, 42, 1439, 1441, 1440})
        QVERIFY(f.deliver(Filled(length)));
    QTRY_COMPARE(samples.count(), 1);
    QCOMPARE(samples.at(0).at(0).toByteArray(), Filled(1440));
    // One socket, in order: everything sent before the samples has been read by now.
    QCOMPARE(feedbacks.count(), 2);
    QCOMPARE(feedbacks.at(0).at(0).toByteArray(), Filled(40));
    QCOMPARE(feedbacks.at(1).at(0).toByteArray(), Filled(41));
    QCOMPARE(f->discovery.running(), discovering);
}

void TestLinkEndpoint::sendsToTheStoredAddressReadAfresh()
{
    CoreFixture f;
    QVERIFY(Ready(f));
    const LinkPorts ports = f.environment().ports;
    QVERIFY(f->sender.SendToSelected(Filled(35), ports.config, true));
    QVERIFY(f->sender.replyTimerActive());
    f->sender.stopReplyTimer();
    QVERIFY(f->sender.SendToSelected(Filled(2), ports.command, false));
    QVERIFY(!f->sender.replyTimerActive());
    QTRY_COMPARE(f.element->received.size(), 2);
    QCOMPARE(f.element->receivedOn(ports.config), QList<QByteArray> {Filled(35)});
    QCOMPARE(f.element->receivedOn(ports.command), QList<QByteArray> {Filled(2)});
    QCOMPARE(f.element->received.at(0).fromPort, f.consolePort());
    QCOMPARE(f.element->received.at(1).fromPort, f.consolePort());

    // The element moved after it was selected: the next datagram follows the database.
    QUdpSocket moved;
    QVERIFY(moved.bind(QHostAddress(QStringLiteral("127.0.0.2")), ports.config));
    QVERIFY(WriteToINI(kKey, QStringLiteral("ip"), QStringLiteral("127.0.0.2"), f.database()));
    QVERIFY(f->sender.SendToSelected(Filled(35), ports.config, false));
    QTRY_VERIFY(moved.hasPendingDatagrams());
    const QNetworkDatagram arrived = moved.receiveDatagram();
    QCOMPARE(arrived.data(), Filled(35));
    QCOMPARE(arrived.senderPort(), int(f.consolePort()));
    QCOMPARE(f.element->received.size(), 2);
}

void TestLinkEndpoint::refusedSends_data()
{
    // setup: "unselected", "no ip", "unbound" or the stored ip. Text: "" for an invalid stored address,
    // %1 for "The datagram to 127.0.0.1 port <config> could not be sent: ", %2 the console port, * any.
    QTest::addColumn<QString>("setup");
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("firstLine");
    QTest::newRow("nothing selected") << "unselected" << 35 << "No element is selected.";
    QTest::newRow("no ip stored") << "no ip" << 35 << "No address is stored for the element 02:00:00:00:01:0A.";
    QTest::newRow("three parts") << "10.0.0" << 35 << "";
    QTest::newRow("unspecified") << "0.0.0.0" << 35 << "";
    QTest::newRow("unbound socket") << "unbound" << 35 << "%1the element link is not open on UDP port %2.";
    QTest::newRow("more than UDP carries") << "127.0.0.1" << 70000 << "%1*.";
}

void TestLinkEndpoint::refusedSends()
{
    QFETCH(QString, setup);
    QFETCH(int, length);
    QFETCH(QString, firstLine);
    CoreFixture f;
    const quint16 port = f.environment().ports.config;
    QVERIFY(setup == QLatin1String("unbound") || f.start());
    QVERIFY(f.writeElement(kKey, StoredElement {}));
    QVERIFY(setup == QLatin1String("unselected") || f.select(kKey));
    if (setup == QLatin1String("no ip"))
        QVERIFY(DeleteIniKey(kKey, QStringLiteral("ip"), f.database()));
    else if (setup.contains(QLatin1Char('.')))
        QVERIFY(WriteToINI(kKey, QStringLiteral("ip"), setup, f.database()));
    if (firstLine.isEmpty())
        firstLine = QStringLiteral("The stored address of this element ('%1') is not a valid IP address.").arg(setup);
    f.notices.clear();

    QVERIFY(!f->sender.SendToSelected(Filled(length), port, true));
    QCOMPARE(f.notices.count(), 1);
    const QString text = f.notices.shown.at(0).text;
    QVERIFY(f.notices.shown.at(0).icon == NoticeIcon::Error && f.notices.shown.at(0).title == QStringLiteral("Error!"));
    const QString prefix = QStringLiteral("The datagram to 127.0.0.1 port %1 could not be sent: ").arg(port);
    firstLine.replace(QStringLiteral("%1"), prefix).replace(QStringLiteral("%2"), QString::number(f.consolePort()));
    const QStringList expected = QString(firstLine + QStringLiteral("\rNothing was sent.")).split(QLatin1Char('*'));
    QVERIFY2(expected.size() == 2 ? text.startsWith(expected[0]) && text.endsWith(expected[1]) : text == expected[0],
             qPrintable(text));
    QVERIFY(!f->sender.replyTimerActive());
    QCOMPARE(f->link.isBound(), setup != QLatin1String("unbound")); // never bound by a send

    // Nothing went out: once everything is in order, the next datagram is all the element sees.
    QVERIFY(f->link.isBound() || f.start());
    QVERIFY(WriteToINI(kKey, QStringLiteral("ip"), QStringLiteral("127.0.0.1"), f.database()));
    QVERIFY(f->state.hasSelection() || f.select(kKey));
    QVERIFY(f->sender.SendToSelected(Filled(3), port, false));
    QTRY_COMPARE(f.element->received.size(), 1);
    QCOMPARE(f.element->received.at(0).data, Filled(3));
}

void TestLinkEndpoint::replyTimeoutOnceAfterTheLastConfigWrite()
{
    CoreOptions options;
    options.timing.replyMs = 400;
    CoreFixture f(options);
    QVERIFY(Ready(f));
    QSignalSpy samples(&f->link, &LinkEndpoint::levelSamplesArrived);
    QVERIFY(f->sender.SendToSelected(Filled(35), f.environment().ports.config, true));
    QTest::qWait(options.timing.replyMs / 2);
    // A second ConfigWrite gives its answer the full period again.
    QElapsedTimer sinceSecond;
    sinceSecond.start();
    QVERIFY(f->sender.SendToSelected(Filled(35), f.environment().ports.config, true));
    // A short reply is no answer (the samples behind it show it was read).
    QVERIFY(f.deliver(Filled(3)));
    QVERIFY(f.deliver(Filled(1440)));
    QTRY_COMPARE(samples.count(), 1);
    QVERIFY(f->sender.replyTimerActive());

    QTRY_COMPARE_WITH_TIMEOUT(f.notices.count(), 1, 5000);
    QVERIFY2(sinceSecond.elapsed() >= options.timing.replyMs, qPrintable(QString::number(sinceSecond.elapsed())));
    const Notice expected {NoticeIcon::Error, QStringLiteral("Error!"),
                           QStringLiteral("Waiting for a response from Network Element has timed out!\rCannot save.")};
    QCOMPARE(f.notices.shown.at(0), expected);
    QVERIFY(!f->sender.replyTimerActive()); // once: it does not come round again
}

void TestLinkEndpoint::bindTakesThePortAloneWithItsBuffer_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("mode");
    using Mode = QAbstractSocket::BindFlag;
    QTest::newRow("any address, exclusive") << "0.0.0.0" << int(Mode::DontShareAddress);
    QTest::newRow("any address, shared") << "0.0.0.0" << int(Mode::ShareAddress | Mode::ReuseAddressHint);
    QTest::newRow("loopback, platform default") << "127.0.0.1" << int(Mode::DefaultForPlatform);
}

void TestLinkEndpoint::bindTakesThePortAloneWithItsBuffer()
{
    QFETCH(QString, address);
    QFETCH(int, mode);
    const auto flags = QAbstractSocket::BindMode(mode);
    {
        CoreFixture f;
        QUdpSocket occupant;
        QVERIFY(occupant.bind(QHostAddress(address), f.consolePort(), flags));
        QVERIFY(!f.start());
        QVERIFY(!f->link.isBound());
    }
    // Nor can another program take the port once the console holds it.
    CoreFixture f;
    QVERIFY(f.start());
    QUdpSocket late;
    QVERIFY(!late.bind(QHostAddress(address), f.consolePort(), flags));

    // The receive buffer: capped at net.core.rmem_max, and reported doubled (the kernel counts its
    // bookkeeping in).
    QFile limit(QStringLiteral("/proc/sys/net/core/rmem_max"));
    bool ok = limit.open(QIODevice::ReadOnly);
    const qint64 rmemMax = limit.readAll().trimmed().toLongLong(&ok);
    QVERIFY(ok);
    QCOMPARE(qint64(f->link.receiveBufferGranted()), 2 * std::min<qint64>(LinkEndpoint::ReceiveBufferWanted, rmemMax));
}

void TestLinkEndpoint::portIsTakenAgainAfterAnUnaskedClose_data()
{
    // The two ways a socket is ended: disconnectFromHost (as close() does) and abort.
    QTest::addColumn<bool>("abort");
    QTest::newRow("disconnectFromHost") << false;
    QTest::newRow("abort") << true;
}

void TestLinkEndpoint::portIsTakenAgainAfterAnUnaskedClose()
{
    QFETCH(bool, abort);
    CoreFixture f;
    QVERIFY(f.start());
    auto* socket = f->link.findChild<QUdpSocket*>();
    QVERIFY(socket);
    QSignalSpy states(socket, &QAbstractSocket::stateChanged);
    abort ? socket->abort() : socket->disconnectFromHost();
    QVERIFY(states.contains(QVariantList {QVariant::fromValue(QAbstractSocket::UnconnectedState)}));

    QVERIFY(f->link.isBound());
    QUdpSocket other;
    QVERIFY(!other.bind(QHostAddress::AnyIPv4, f.consolePort()));
    // It still receives, and what it sends comes from the console's port.
    QSignalSpy feedbacks(&f->link, &LinkEndpoint::feedbackArrived);
    QVERIFY(f.deliver(Filled(40)));
    QTRY_COMPARE(feedbacks.count(), 1);
    QString failure;
    QVERIFY(f->link.sendTo(Filled(3), QHostAddress::LocalHost, f.element->pagingPort(), 0, &failure));
    QTRY_COMPARE(f.element->received.size(), 1);
    QCOMPARE(f.element->received.at(0).fromPort, f.consolePort());
}

QTEST_GUILESS_MAIN(TestLinkEndpoint)
#include "tst_linkendpoint.moc"
