// Auto discovery from the window: the confirmation, the paging window and what it refuses, the
// list emptied while paging and rebuilt at the end, and a paging that cannot be sent.

#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include "console/DiscoveryCommand.h"
#include "console/ElementListPanel.h"
#include "console/FrmPaging.h"
#include "support/ConsoleFixture.h"

using namespace nms;
using namespace nms::test;

namespace {

const QChar CR(u'\r');
const QString kKey = QStringLiteral("02000000010A");
const QString kQuestion =
    QStringLiteral("Performing an 'Auto Discovery' will delete the local database in your computer") + CR
    + QStringLiteral("and create a new one, based on the Network Elements found (if any). ") + CR
    + QStringLiteral("Are you sure?");

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
}

ConsoleOptions ShortWindow()
{
    ConsoleOptions options;
    options.timing.discoveryMs = 200;
    return options;
}

// A console showing one stored element, with the question answered as given.
void Prepare(ConsoleFixture& f, MsgAnswer answer)
{
    QVERIFY(f.writeElement(kKey, StoredElement {}));
    QVERIFY(f.load());
    QVERIFY(f.select(kKey));
    f.showNotices();
    f.boxes.clear();
    f.boxes.setNextAnswer(answer);
}

} // namespace

class TestDiscovery : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void answeringNoChangesNothing();
    void pagingWindowWhileOpen();
    void answersRebuildTheList();
    void pagingThatCannotBeSent();
};

void TestDiscovery::answeringNoChangesNothing()
{
    ConsoleFixture f(ShortWindow());
    Prepare(f, MsgAnswer::No);
    const QByteArray before = FileBytes(f.database());
    QSignalSpy started(f->discovery, &DiscoveryCommand::pagingStarted);

    f->cmdDiscover->click();
    QCOMPARE(f.boxes.count(), 1);
    const ShownBox question = f.boxes.shown.at(0);
    QCOMPARE(question.icon, MsgIcon::Question);
    QVERIFY(question.question); // No preselected
    QCOMPARE(question.title, QStringLiteral("Auto Discovery"));
    QCOMPARE(question.text, kQuestion);
    QCOMPARE(question.text.split(CR).size(), 3);

    QCOMPARE(started.count(), 0);
    QCOMPARE(f.core().discovery.paged(), 0);
    QCOMPARE(FileBytes(f.database()), before);
    QCOMPARE(f->lstElements->count(), 1);
    QCOMPARE(f->lblElementMAC->caption(), QStringLiteral("02:00:00:00:01:0A"));
    QCOMPARE(f->txtElementIP->text(), QStringLiteral("127.0.0.1"));
}

void TestDiscovery::pagingWindowWhileOpen()
{
    ConsoleFixture f(ShortWindow());
    Prepare(f, MsgAnswer::Yes);

    struct Seen {
        bool checked = false;
        QString title, label, countCaption, macCaption, ipText;
        QSize size;
        QRect labelGeometry;
        Qt::WindowModality modality = Qt::NonModal;
        bool closeButton = true, minMax = true, stillOpenAfterClosing = false;
        int listCount = -1;
    } seen;
    // Looked at from inside the paging window's own loop.
    connect(f->discovery, &DiscoveryCommand::pagingStarted, this, [&] {
        QTimer::singleShot(0, &f.w(), [&] {
            FrmPaging* window = f->discovery->paging();
            if (!window || !window->isVisible())
                return;
            seen.title = window->windowTitle();
            seen.label = window->Label1->text();
            seen.size = window->size();
            seen.labelGeometry = window->Label1->geometry();
            seen.modality = window->windowModality();
            seen.closeButton = window->windowFlags().testFlag(Qt::WindowCloseButtonHint);
            seen.minMax = window->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint);
            seen.listCount = f->lstElements->count();
            seen.countCaption = f->lblElementsList->caption();
            seen.macCaption = f->lblElementMAC->caption();
            seen.ipText = f->txtElementIP->text();
            // The operator cannot end paging early.
            window->close();
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QCoreApplication::sendEvent(window, &escape);
            window->reject();
            seen.stillOpenAfterClosing = window->isVisible() && f->discovery->paging() == window;
            seen.checked = true;
        });
    });

    f->discovery->mnuDiscover_Click();

    QVERIFY(seen.checked);
    QCOMPARE(seen.title, QStringLiteral("Paging network..."));
    QCOMPARE(seen.label, QStringLiteral("Please wait a few seconds while paging the network..."));
    QCOMPARE(seen.size, QSize(312, 54));
    QCOMPARE(seen.labelGeometry.topLeft(), QPoint(24, 16));
    QCOMPARE(seen.labelGeometry.width(), 256);
    QCOMPARE(seen.modality, Qt::ApplicationModal);
    QVERIFY(!seen.closeButton);
    QVERIFY(!seen.minMax);
    QVERIFY(seen.stillOpenAfterClosing);
    QCOMPARE(seen.listCount, 0);
    QCOMPARE(seen.countCaption, QStringLiteral("Select element: (0 items)"));
    QCOMPARE(seen.macCaption, QStringLiteral("<Unknown>"));
    QCOMPARE(seen.ipText, QString());

    // The discovery's end closed it; nobody answered, so the rebuilt list is empty and says so.
    QVERIFY(!f->discovery->paging());
    QVERIFY(!f.core().discovery.running());
    QCOMPARE(f->lstElements->count(), 0);
    f.showNotices();
    QCOMPARE(f.boxes.texts().mid(0, 2),
             QStringList({kQuestion,
                          QStringLiteral("Local database is empty.") + CR
                              + QStringLiteral("Please click the 'Auto Discover' icon "
                                               "to probe the network.")}));
    // The elements stored before did not answer.
    QVERIFY(f.boxes.texts().value(2).startsWith(QStringLiteral("0 elements found: 0 new, ")));
}

void TestDiscovery::answersRebuildTheList()
{
    ConsoleFixture f(ShortWindow());
    Prepare(f, MsgAnswer::Yes);
    f.neighbours.add(QStringLiteral("192.168.1.21"), MacBytes(QStringLiteral("02:00:00:00:01:15")));
    f.neighbours.add(QStringLiteral("192.168.1.22"), MacBytes(QStringLiteral("02:00:00:00:01:16")));
    // Two elements answer the paging request as soon as it arrives: an encoder, then a decoder.
    connect(f.element, &LoopbackElement::datagramReceived, this, [&] {
        if (f.element->receivedOn(f.element->pagingPort()).size() != 1)
            return;
        FeedbackFields encoder;
        encoder.ip = QStringLiteral("192.168.1.21");
        encoder.name = QByteArrayLiteral("Studio TX");
        FeedbackFields decoder;
        decoder.ip = QStringLiteral("192.168.1.22");
        decoder.name = QByteArrayLiteral("SITE RX         ");
        decoder.role = 2;
        QVERIFY(f.element->sendToConsole(encoder.bytes(), f.consolePort()));
        QVERIFY(f.element->sendToConsole(decoder.bytes(), f.consolePort()));
    });

    f->discovery->mnuDiscover_Click();

    QCOMPARE(f.core().discovery.written(), 2);
    QCOMPARE(f->elementList->lstHidden(), QStringList({"020000000115", "020000000116"}));
    QCOMPARE(f->lstElements->itemText(0), QStringLiteral("STUDIO TX [02:00:00:00:01:15]"));
    QCOMPARE(f->lstElements->itemText(1), QStringLiteral("SITE RX [02:00:00:00:01:16]"));
    QCOMPARE(f->lblElementsList->caption(), QStringLiteral("Select element: (2 items)"));
    QCOMPARE(f->lstElements->currentIndex(), -1);
    QVERIFY(!f.core().state.hasSelection());
    f.showNotices();
    // The question, then what the discovery found against the database before it.
    QCOMPARE(f.boxes.texts(),
             (QStringList {kQuestion,
                           QStringLiteral("2 elements found: 2 new, 1 missing") + CR
                               + QStringLiteral("New: STUDIO TX [02:00:00:00:01:15], SITE RX [02:00:00:00:01:16]") + CR
                               + QStringLiteral("Missing: STUDIO A [02:00:00:00:01:0A]")}));
}

void TestDiscovery::pagingThatCannotBeSent()
{
    ConsoleFixture f(ShortWindow());
    Prepare(f, MsgAnswer::Yes);
    f.networks.set({}); // no network to page
    const QByteArray before = FileBytes(f.database());
    QSignalSpy started(f->discovery, &DiscoveryCommand::pagingStarted);

    f->discovery->mnuDiscover_Click();

    QCOMPARE(started.count(), 0);
    QVERIFY(!f->discovery->paging());
    QCOMPARE(FileBytes(f.database()), before);
    // The list shows what the file holds, and the operator is told why nothing happened.
    QCOMPARE(f->lstElements->count(), 1);
    QCOMPARE(f->lblElementsList->caption(), QStringLiteral("Select element: (1 items)"));
    f.showNotices();
    QCOMPARE(f.boxes.count(), 2);
    const ShownBox reason = f.boxes.shown.at(1);
    QCOMPARE(reason.icon, MsgIcon::Error);
    QCOMPARE(reason.title, QStringLiteral("Auto Discovery"));
    QVERIFY2(reason.text.contains(QStringLiteral("this computer has no network that is up and can broadcast")),
             qPrintable(reason.text));
}

QTEST_MAIN(TestDiscovery)
#include "tst_discovery.moc"
