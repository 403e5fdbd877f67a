// Auto discovery on loopback: the confirmation, the paging window and what it refuses, the one
// paging request, the rebuilt database and list, and the link's destination afterwards.

#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QTimer>
#include <QtTest>

#include "database/ProfileStore.h"
#include "discovery/Discovery.h"
#include "discovery/FrmPaging.h"
#include "link/Datagrams.h"
#include "link/LinkEndpoint.h"
#include "support/ConsoleFixture.h"

using namespace nms;
using namespace nms::test;

namespace {

const QChar CR(u'\r');
const QString kQuestion =
    QStringLiteral("Performing an 'Auto Discovery' will delete the local database in your computer") + CR
    + QStringLiteral("and create a new one, based on the Network Elements found (if any). ") + CR
    + QStringLiteral("Are you sure?");
const QString kEmptyWithThe = QStringLiteral("Local database is empty.") + CR
    + QStringLiteral("Please click the 'Auto Discover' icon to probe the network.");

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
}

} // namespace

class TestDiscovery : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void answeringNoChangesNothing();
    void pagingWindowWhileOpen();
    void recordsAnsweringElements();
    void noAnswerLeavesEmptyDatabase();
    void databaseThatCannotBeRecreated();
    void pagingRequestThatCannotBeSent();
};

void TestDiscovery::answeringNoChangesNothing()
{
    ConsoleFixture f;
    QVERIFY(f.writeElement(QStringLiteral("02000000010A"), StoredElement {}));
    QVERIFY(f.load());
    QVERIFY(f.select(QStringLiteral("02000000010A")));
    const QByteArray before = FileBytes(f.database());
    f.boxes.clear();

    f.boxes.setNextAnswer(MsgAnswer::No);
    f->cmdDiscover->click();
    QCOMPARE(f.boxes.count(), 1);
    QCOMPARE(f.boxes.shown.at(0).icon, MsgIcon::Question);
    QVERIFY(f.boxes.shown.at(0).question);
    QCOMPARE(f.boxes.shown.at(0).title, QStringLiteral("Auto Discovery"));
    QCOMPARE(f.boxes.shown.at(0).text, kQuestion);
    QCOMPARE(FileBytes(f.database()), before);
    QCOMPARE(f->lstElements->count(), 1);
    QCOMPARE(f->lblElementMAC->caption(), QStringLiteral("02:00:00:00:01:0A"));
    QCOMPARE(f->txtElementIP->text(), QStringLiteral("127.0.0.1"));
    QVERIFY(f.element->received.isEmpty());
}

void TestDiscovery::pagingWindowWhileOpen()
{
    ConsoleFixture f;
    QVERIFY(f.writeElement(QStringLiteral("02000000010A"), StoredElement {}));
    QVERIFY(f.load());
    QVERIFY(f.select(QStringLiteral("02000000010A")));
    f->link->setRemote(QStringLiteral("127.0.0.1"), f.environment().commandPort);

    struct Seen {
        bool checked = false;
        QString title, label;
        QSize size;
        QRect labelGeometry;
        bool modal = false, closeButton = true, minMax = true;
        bool flag = false;
        QString remoteHost;
        quint16 remotePort = 0;
        int listCount = -1;
        QString countCaption, macCaption, ipText;
        QByteArray file;
        bool stillOpenAfterClosing = false;
    } seen;
    connect(f->discovery, &Discovery::pagingStarted, this, [&] {
        QTimer::singleShot(200, &f.w(), [&] {
            FrmPaging* window = f->discovery->paging();
            if (!window)
                return;
            seen.title = window->windowTitle();
            seen.label = window->Label1->text();
            seen.size = window->size();
            seen.labelGeometry = window->Label1->geometry();
            seen.modal = window->isModal();
            seen.closeButton = window->windowFlags().testFlag(Qt::WindowCloseButtonHint);
            seen.minMax = window->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint);
            seen.flag = f->AutoDiscoverAwaiting;
            seen.remoteHost = f->link->remoteHost();
            seen.remotePort = f->link->remotePort();
            seen.listCount = f->lstElements->count();
            seen.countCaption = f->lblElementsList->caption();
            seen.macCaption = f->lblElementMAC->caption();
            seen.ipText = f->txtElementIP->text();
            seen.file = FileBytes(f.database());
            // The operator cannot end paging early.
            window->close();
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QCoreApplication::sendEvent(window, &escape);
            window->reject();
            seen.stillOpenAfterClosing = window->isVisible() && f->discovery->paging() == window;
            seen.checked = true;
        });
    });

    f.boxes.setNextAnswer(MsgAnswer::Yes);
    f->discovery->mnuDiscover_Click();

    QVERIFY(seen.checked);
    QCOMPARE(seen.title, QStringLiteral("Paging network..."));
    QCOMPARE(seen.label, QStringLiteral("Please wait a few seconds while paging the network..."));
    QCOMPARE(seen.size, QSize(312, 54));
    QCOMPARE(seen.labelGeometry.topLeft(), QPoint(24, 16));
    QCOMPARE(seen.labelGeometry.width(), 256);
    QVERIFY(seen.modal);
    QVERIFY(!seen.closeButton);
    QVERIFY(!seen.minMax);
    QVERIFY(seen.flag);
    QCOMPARE(seen.remoteHost, QStringLiteral("127.0.0.1"));
    QCOMPARE(seen.remotePort, f.environment().pagingPort);
    QCOMPARE(seen.listCount, 0);
    QCOMPARE(seen.countCaption, QStringLiteral("Select element: (0 items)"));
    QCOMPARE(seen.macCaption, QStringLiteral("<Unknown>"));
    QCOMPARE(seen.ipText, QString());
    QCOMPARE(seen.file, QByteArray());
    QVERIFY(seen.stillOpenAfterClosing);

    // Afterwards: the flag is down, the destination is back, the socket still bound to its port.
    QVERIFY(!f->AutoDiscoverAwaiting);
    QVERIFY(!f->discovery->paging());
    QCOMPARE(f->link->remoteHost(), QStringLiteral("127.0.0.1"));
    QCOMPARE(f->link->remotePort(), f.environment().commandPort);
    QCOMPARE(f->udpClient->state(), QAbstractSocket::BoundState);
    QCOMPARE(f->udpClient->localPort(), f.consolePort());
}

void TestDiscovery::recordsAnsweringElements()
{
    ConsoleFixture f;
    QVERIFY(f.writeElement(QStringLiteral("0200000001FF"), StoredElement {}));
    QVERIFY(f.load());
    f.neighbours.add(QStringLiteral("192.168.1.21"), MacBytes(QStringLiteral("02:00:00:00:01:15")));
    f.neighbours.add(QStringLiteral("192.168.1.22"), MacBytes(QStringLiteral("02:00:00:00:01:16")));
    // Both elements answer the paging request as soon as it arrives: an encoder, then a decoder.
    connect(f.element, &LoopbackElement::datagramReceived, this, [&] {
        if (f.element->receivedOn(f.environment().pagingPort).size() != 1 || f.element->received.size() != 1)
            return;
        FeedbackFields encoder;
        encoder.ip = QStringLiteral("192.168.1.21");
        encoder.name = QByteArrayLiteral("Studio TX");
        encoder.role = 1;
        FeedbackFields decoder;
        decoder.ip = QStringLiteral("192.168.1.22");
        decoder.name = QByteArrayLiteral("SITE RX         ");
        decoder.role = 2;
        decoder.attenuation = 200;
        decoder.serial = QByteArray::fromHex("00000007");
        f.element->sendToConsole(encoder.bytes(), f.consolePort());
        f.element->sendToConsole(decoder.bytes(), f.consolePort());
    });
    f.boxes.clear();
    f.boxes.setNextAnswer(MsgAnswer::Yes);
    f->discovery->mnuDiscover_Click();

    // Exactly one paging request, from the console's port.
    QCOMPARE(f.element->received.size(), 1);
    QCOMPARE(f.element->received.at(0).toPort, f.environment().pagingPort);
    QCOMPARE(f.element->received.at(0).fromPort, f.consolePort());
    QCOMPARE(f.element->received.at(0).data, QByteArray("DIZEZIZI KESTRION PAGING REQUEST"));
    QCOMPARE(f.boxes.count(), 1); // the question only

    QCOMPARE(LoadIniSectionsArray(f.database()),
             QStringList({QStringLiteral("020000000115"), QStringLiteral("020000000116")}));
    QCOMPARE(GetSectionKeyCount(QStringLiteral("020000000115"), f.database()), qint16(10));
    QCOMPARE(GetSectionKeyCount(QStringLiteral("020000000116"), f.database()), qint16(11));
    QCOMPARE(ReadFromINI(QStringLiteral("020000000116"), QStringLiteral("att"), f.database(), QString()),
             QStringLiteral("200"));
    QCOMPARE(ReadFromINI(QStringLiteral("020000000116"), QStringLiteral("sn"), f.database(), QString()),
             QStringLiteral("7"));
    QCOMPARE(f->lstElements->count(), 2);
    QCOMPARE(f->lstElements->itemText(0), QStringLiteral("STUDIO TX [02:00:00:00:01:15]"));
    QCOMPARE(f->lstElements->itemText(1), QStringLiteral("SITE RX [02:00:00:00:01:16]"));
    QCOMPARE(f->lblElementsList->caption(), QStringLiteral("Select element: (2 items)"));
    QCOMPARE(f->lstHidden, QStringList({QStringLiteral("020000000115"), QStringLiteral("020000000116")}));
    QCOMPARE(f->lstElements->currentIndex(), -1);
}

void TestDiscovery::noAnswerLeavesEmptyDatabase()
{
    ConsoleFixture f;
    QVERIFY(f.load()); // no database at all beforehand
    QVERIFY(!QFile::exists(f.database()));
    f.boxes.clear();
    f.boxes.setNextAnswer(MsgAnswer::Yes);
    f->discovery->mnuDiscover_Click();

    QVERIFY(QFile::exists(f.database()));
    QCOMPARE(QFileInfo(f.database()).size(), qint64(0));
    QCOMPARE(f.boxes.texts(), QStringList({kQuestion, kEmptyWithThe}));
    QCOMPARE(f.boxes.shown.at(1).title, QStringLiteral("Information"));
    QCOMPARE(f->lstElements->count(), 0);
    QCOMPARE(f->lblElementsList->caption(), QStringLiteral("Select element: (0 items)"));
    QCOMPARE(f.element->receivedOn(f.environment().pagingPort).size(), 1);
    QVERIFY(!f->AutoDiscoverAwaiting);
}

void TestDiscovery::databaseThatCannotBeRecreated()
{
    TempDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("nms.ini"))); // a folder where the file should be
    ConsoleOptions options;
    options.databasePath = dir.database();
    ConsoleFixture f(options);
    QVERIFY(f.load());
    f->link->setRemote(QStringLiteral("127.0.0.1"), 4242);
    f.boxes.clear();
    f.boxes.setNextAnswer(MsgAnswer::Yes);
    bool shown = false;
    connect(f->discovery, &Discovery::pagingStarted, this, [&] { shown = true; });
    f->discovery->mnuDiscover_Click();

    QVERIFY(!shown);
    QVERIFY(f.boxes.count() >= 2);
    QCOMPARE(f.boxes.shown.at(1).icon, MsgIcon::Error);
    QVERIFY2(f.boxes.shown.at(1).text.startsWith(QStringLiteral("The local database (") + dir.database()
                                                 + QStringLiteral(") could not be deleted")),
             qPrintable(f.boxes.shown.at(1).text));
    QVERIFY(!f->AutoDiscoverAwaiting);
    QCOMPARE(f->link->remoteHost(), QStringLiteral("127.0.0.1"));
    QCOMPARE(f->link->remotePort(), quint16(4242));
    QVERIFY(f.element->received.isEmpty());
}

void TestDiscovery::pagingRequestThatCannotBeSent()
{
    ConsoleOptions options;
    options.pagingAddress = QStringLiteral("256.0.0.1");
    ConsoleFixture f(options);
    QVERIFY(f.writeElement(QStringLiteral("02000000010A"), StoredElement {}));
    QVERIFY(f.load());
    f->link->setRemote(QStringLiteral("127.0.0.1"), 4242);
    f.boxes.clear();
    f.boxes.setNextAnswer(MsgAnswer::Yes);
    f->discovery->mnuDiscover_Click();

    QCOMPARE(f.boxes.count(), 3);
    QCOMPARE(f.boxes.shown.at(1).icon, MsgIcon::Error);
    QCOMPARE(f.boxes.shown.at(1).text,
             QStringLiteral(
                 "The paging request to 256.0.0.1 port %1 could not be sent: '256.0.0.1' is not a valid IP address.")
                     .arg(f.environment().pagingPort)
                 + CR + QStringLiteral("No element was asked to answer."));
    QCOMPARE(f.boxes.shown.at(2).text, kEmptyWithThe);
    QVERIFY(!f->AutoDiscoverAwaiting);
    QCOMPARE(f->link->remoteHost(), QStringLiteral("127.0.0.1"));
    QCOMPARE(f->link->remotePort(), quint16(4242));
    QCOMPARE(f->lstElements->count(), 0);
}

QTEST_MAIN(TestDiscovery)
#include "tst_discovery.moc"
