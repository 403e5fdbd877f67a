// The window itself: its controls and their first state, start-up in its order, revert, shutdown,
// the tray, dragging, the pop-up menu and the single-instance test.

#include <QtTest>

#include <QMouseEvent>
#include <QUdpSocket>

#include <cerrno>
#include <cstring>

#include "notices/NoticePresenter.h"
#include "services/EchoStatus.h"
#include "services/InstanceLock.h"
#include "shell/SingleInstance.h"
#include "shell/TrayController.h"
#include "shell/WindowShape.h"
#include "support/ConsoleFixture.h"
#include "support/FakeEchoService.h"

using namespace nms;
using namespace nms::test;

namespace {

const QString kAlreadyRunning =
    QStringLiteral("Kestrion MPX IP STL NMS is already running (check the icon in system tray)!");

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
}

// What the detail area shows, captions, ping colour, boxes and list choices.
QStringList Details(const FrmMain& w)
{
    QStringList shown;
    for (Label* label : {w.lblElementType, w.lblElementMAC, w.lblSerialNumber, w.lblPing})
        shown << label->caption();
    shown << w.shpPing->fillColor().name();
    for (QLineEdit* box : {w.txtElementName, w.txtElementIP, w.txtElementMask, w.txtElementGW, w.txtRemoteIP})
        shown << box->text();
    for (QComboBox* list : {w.cmbAudioInput, w.cmbAudioType, w.cmbAudioTX})
        shown << QString::number(list->currentIndex());
    return shown;
}

// Nothing selected: "<Unknown>" on light yellow, every box empty, no list choice.
const QStringList kNothingShown = {"<Unknown>", "<Unknown>", "<Unknown>", "<Unknown>", "#ffffc0", "",  "",
                                   "",          "",          "",          "-1",        "-1",      "-1"};

} // namespace

class TestShell : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void controlsAtStart(); // with their focus order and tool tips
    void windowShapes();
    void startUpInItsOrder();
    void startUpWithThePortTaken();
    void revertShowsNothingAndNoStalePingResult_data();
    void revertShowsNothingAndNoStalePingResult();
    void shutdownClosesTheSocketAndWritesNothing();
    void minimiseWithoutANotificationArea();
    void dragMovesOnlyFromTheWindowSurface();
    void popupMenu();
    void singleInstance_data();
    void singleInstance();
};

void TestShell::controlsAtStart()
{
    ConsoleFixture f;
    FrmMain& w = f.w();
    QCOMPARE(w.size(), QSize(458, 321));
    QVERIFY(w.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(w.windowFlags() & Qt::Tool); // no taskbar entry
    QCOMPARE(w.palette().color(QPalette::Window), QColor(Qt::black));

    QCOMPARE(w.lblElementsList->caption(), QStringLiteral("Select element: (0 items)"));
    QCOMPARE(w.Label12->caption() + w.Label17->caption() + w.Label18->caption(), QStringLiteral("KestrionOrbilane"));
    // The logo's two parts read as one word.
    QCOMPARE(w.Label18->x(), w.Label17->x() + QFontMetrics(w.Label17->font()).horizontalAdvance(w.Label17->caption()));
    QVERIFY(w.Label17->font().italic() && w.Label18->font().bold());
    QCOMPARE(Details(w), kNothingShown);
    QVERIFY(w.lblVersion->caption().isEmpty()); // set by the start-up

    for (QWidget* hidden : std::initializer_list<QWidget*> {w.VUMeter, w.imgPlay, w.imgStop, w.lblVolume,
                                                            w.chkGetVolume, w.scrlAtten, w.lblAttenDB})
        QVERIFY(hidden->isHidden());
    QCOMPARE(w.cmbAudioType->itemText(1), QStringLiteral("MPX"));
    QCOMPARE(w.cmbAudioInput->itemText(0), QStringLiteral("Digital"));
    QCOMPARE(w.cmbAudioTX->itemText(1), QStringLiteral("Multicast"));
    QVERIFY(!w.lstElements->isEditable());
    QCOMPARE(w.txtElementName->maxLength(), 16);
    for (QLineEdit* box : {w.txtElementIP, w.txtElementMask, w.txtElementGW, w.txtRemoteIP})
        QCOMPARE(box->maxLength(), 15);
    QCOMPARE(QList<int>({w.scrlAtten->minimum(), w.scrlAtten->maximum(), w.scrlAtten->value(),
                         w.scrlAtten->singleStep(), w.scrlAtten->pageStep()}),
             QList<int>({14, 255, 255, 1, 10}));

    const QList<QWidget*> order = {w.txtElementName, w.txtElementIP, w.txtElementGW, w.txtElementMask, w.cmbAudioType,
                                   w.cmbAudioInput,  w.cmbAudioTX,   w.txtRemoteIP,  w.cmdSave,        w.cmdRefresh,
                                   w.lstElements,    w.cmdDiscover,  w.scrlAtten};
    for (int i = 0; i + 1 < order.size(); ++i) {
        QWidget* next = order[i]->nextInFocusChain();
        while (next && !(next->focusPolicy() & Qt::TabFocus))
            next = next->nextInFocusChain();
        QCOMPARE(next, order[i + 1]);
    }
    // The title bar's buttons and the level check box never take the focus.
    for (QWidget* control : std::initializer_list<QWidget*> {w.cmdMinimize, w.cmdExit, w.chkGetVolume})
        QCOMPARE(control->focusPolicy(), Qt::NoFocus);

    const QList<QPair<QWidget*, QString>> tips = {
        {w.cmdMinimize, "Minimize to tray"},
        {w.cmdExit, "Close app"},
        {w.cmdSave, "Save and send this configuration..."},
        {w.cmdRefresh, "Revert to last saved config"},
        {w.cmdDiscover, "Auto discover..."},
        {w.txtElementName, "Max 12 chars"},
        {w.imgPlay, "Click to begin monitoring audio level"},
        {w.imgStop, "Click to stop monitoring audio level"},
        {w.chkGetVolume, "Show audio level"},
    };
    for (const auto& [control, tip] : tips)
        QCOMPARE(control->toolTip(), tip);
    QVERIFY(w.Label12->toolTip().startsWith(QStringLiteral("Visit ")));
    QCOMPARE(w.Label17->toolTip(), w.Label12->toolTip());
    QCOMPARE(w.Label18->toolTip(), w.Label12->toolTip());
}

void TestShell::windowShapes()
{
    const QSize size(458, 321);
    const QRegion rounded = WindowShapeRegion(size, 1);
    for (const QPoint corner : {QPoint(0, 0), QPoint(457, 320)})
        QVERIFY(!rounded.contains(corner));
    for (const QPoint inside : {QPoint(10, 0), QPoint(0, 10), QPoint(229, 160), QPoint(229, 0)})
        QVERIFY(rounded.contains(inside));
    QVERIFY(!WindowShapeRegion(size, 0).contains(QPoint(20, 20)));
    QVERIFY(!WindowShapeRegion(size, 2).contains(QPoint(50, 50)));
    QVERIFY(WindowShapeRegion(size, 2).contains(QPoint(229, 160)));
    QVERIFY(WindowShapeRegion(size, 3).isEmpty() && WindowShapeRegion(size, -1).isEmpty());

    ConsoleFixture f;
    SetWindowShape(&f.w(), 1);
    QVERIFY(!f->mask().isEmpty() && !f->mask().contains(QPoint(0, 0)));
    SetWindowShape(&f.w(), 7);
    QVERIFY(f->mask().isEmpty());
}

void TestShell::startUpInItsOrder()
{
    QCOMPARE(VersionText(), QStringLiteral("2.0.1"));
    QCOMPARE(TrayTipText(), QStringLiteral("Kestrion MPX IP STL - NMS version 2.0.1"));

    ConsoleFixture f;
    f.core().probe.PingRetryCountdown = 0;
    // What the database has to say is shown before the socket is bound and the version set.
    QStringList atTheBox;
    connect(&f.boxes, &ScriptedMessageBoxes::boxShown, this, [&] {
        atTheBox << (f.core().link.isBound() ? QStringLiteral("bound") : QStringLiteral("not bound"))
                 << f->lblVersion->caption();
    });
    QVERIFY(f.load());
    QCOMPARE(atTheBox, QStringList({"not bound", ""}));
    QCOMPARE(f.boxes.count(), 1);
    QCOMPARE(f.boxes.shown[0].title, QStringLiteral("Information"));
    QCOMPARE(f.boxes.shown[0].icon, MsgIcon::Information);
    QCOMPARE(f.boxes.shown[0].text,
             QStringLiteral("Local database is empty.\rPlease click 'Auto Discover' icon to probe the network."));

    QVERIFY(f.core().link.isBound());
    QUdpSocket other;
    QVERIFY(!other.bind(QHostAddress::AnyIPv4, f.consolePort()));
    QCOMPARE(f.core().probe.PingRetryCountdown, qint16(3));
    QCOMPARE(f->lblVersion->caption(), QStringLiteral("v.2.0.1"));
    // Right-aligned with its right edge where the layout puts it, the whole text visible.
    QCOMPARE(f->lblVersion->geometry().right() + 1, 385);
    QVERIFY(f->lblVersion->width() >= f->lblVersion->sizeHint().width());
    QVERIFY(!f->mask().contains(QPoint(0, 0)));
}

void TestShell::startUpWithThePortTaken()
{
    ConsoleFixture f;
    QUdpSocket holder;
    QVERIFY(holder.bind(QHostAddress::AnyIPv4, f.consolePort()));
    QVERIFY(!f.load());
    const ShownBox& last = f.boxes.shown.last();
    QCOMPARE(last.text, QStringLiteral("Unable to use UDP port 2976: occupied."));
    QCOMPARE(last.icon, MsgIcon::Error);
    QCOMPARE(last.title, ProgramTitle());
    QVERIFY(!f.core().link.isBound());
    QVERIFY(!f->tray->hasIcon());
    // The version step was never reached.
    QVERIFY(f->lblVersion->caption().isEmpty());
}

void TestShell::revertShowsNothingAndNoStalePingResult_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("countingDown"); // Revert during the countdown that follows a time-out
    QTest::newRow("answer on its way") << EchoSuccess << false;
    QTest::newRow("time-out on its way") << EchoTimedOut << false;
    QTest::newRow("countdown after a time-out") << EchoTimedOut << true;
}

void TestShell::revertShowsNothingAndNoStalePingResult()
{
    QFETCH(int, status);
    QFETCH(bool, countingDown);
    FakeEchoService echo;
    echo.setReply(status, 1);
    ConsoleOptions options;
    options.echo = &echo;
    options.timing.retryTickMs = 20;
    ConsoleFixture f(options);
    StoredElement second;
    second.name = QStringLiteral("SITE B");
    QVERIFY(f.writeElement(QStringLiteral("0000000000A1"), StoredElement {}));
    QVERIFY(f.writeElement(QStringLiteral("0000000000B2"), second));
    QVERIFY(f.load());
    // The probe's answer comes only when the test lets it.
    echo.setDelayMs(countingDown ? 0 : -1);
    QVERIFY(f.select(QStringLiteral("0000000000B2")));
    if (countingDown)
        QTRY_VERIFY(f->lblPing->caption().startsWith(QStringLiteral("Retrying in ")));
    else
        QVERIFY(echo.inFlight());
    f->txtElementName->setText(QStringLiteral("UNSAVED EDIT"));
    const QByteArray before = FileBytes(f.database());

    f->cmdRefresh->click();
    QCOMPARE(f->lstElements->currentIndex(), 1);
    QCOMPARE(f->lstElements->currentText(), QStringLiteral("SITE B [00:00:00:00:00:B2]"));
    QCOMPARE(Details(f.w()), kNothingShown);
    QVERIFY(!f.core().state.hasSelection());
    QCOMPARE(FileBytes(f.database()), before);

    QStringList captionsAfterRevert;
    QObject listening; // gone, and the connection with it, before the list is
    connect(f->lblPing, &Label::captionChanged, &listening,
            [&](const QString& caption) { captionsAfterRevert << caption; });
    const int probes = int(echo.addresses.size());
    // The answer of the probe sent before, if it is still on its way, then the time a whole
    // countdown and its new probe would take (the absence of both can only be waited for).
    echo.release();
    QTest::qWait(f.environment().timing.retryTickMs * 6);
    QCOMPARE(captionsAfterRevert, QStringList());
    QCOMPARE(Details(f.w()), kNothingShown);
    QCOMPARE(int(echo.addresses.size()), probes);
    QCOMPARE(f.boxes.count(), 0);
}

void TestShell::shutdownClosesTheSocketAndWritesNothing()
{
    ConsoleFixture f;
    QVERIFY(f.writeElement(QStringLiteral("0000000000A1"), StoredElement {}));
    QVERIFY(f.load());
    QVERIFY(f.select(QStringLiteral("0000000000A1")));
    QVERIFY(f.core().sender.SendToSelected(QByteArray(35, '\0'), f.element->configPort(), true));
    QVERIFY(f.core().sender.replyTimerActive());
    const QByteArray before = FileBytes(f.database());
    const QDateTime modified = QFileInfo(f.database()).lastModified();

    f->Form_Unload();
    QVERIFY(!f.core().link.isBound());
    QVERIFY(!f.core().sender.replyTimerActive());
    QCOMPARE(FileBytes(f.database()), before);
    QCOMPARE(QFileInfo(f.database()).lastModified(), modified);
    // The port is free again for the next start, and nothing more is shown.
    QUdpSocket next;
    QVERIFY(next.bind(QHostAddress::AnyIPv4, f.consolePort()));
    f->notices->post({NoticeIcon::Error, QString(), QStringLiteral("after the end")});
    f.showNotices();
    QCOMPARE(f.boxes.count(), 0);
}

void TestShell::minimiseWithoutANotificationArea()
{
    // The offscreen platform has no notification area: hiding would strand the window.
    QWidget window;
    TrayController tray(window, true);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    tray.MinimizeToTray();
    QVERIFY(window.isVisible());

    // A release over the icon brings a hidden window back, for the left and the right button.
    for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton}) {
        window.hide();
        tray.iconButtonReleased(Qt::MiddleButton);
        QVERIFY(window.isHidden());
        tray.iconButtonReleased(button);
        QVERIFY(window.isVisible());
    }

    ConsoleFixture f;
    QVERIFY(f.load());
    f->show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.w()));
    f->cmdMinimize->click();
    QVERIFY(f->isVisible());
}

void TestShell::dragMovesOnlyFromTheWindowSurface()
{
    ConsoleFixture f;
    QVERIFY(f.load());
    f->move(100, 100);
    f->show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.w()));

    auto drag = [&](QWidget* target, QPoint from, Qt::MouseButton button, QPoint by) {
        const QPoint origin = f->pos();
        const QPoint global = target->mapToGlobal(from);
        QMouseEvent press(QEvent::MouseButtonPress, from, global, button, button, Qt::NoModifier);
        QApplication::sendEvent(target, &press);
        QMouseEvent move(QEvent::MouseMove, from + by, global + by, Qt::NoButton, button, Qt::NoModifier);
        QApplication::sendEvent(target, &move);
        QMouseEvent release(QEvent::MouseButtonRelease, from + by, global + by, button, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(target, &release);
        if (f->mnuHidden1->isVisible())
            f->mnuHidden1->hide();
        return f->pos() - origin;
    };
    // The title band between the logo and the version, and a framed area: the window moves.
    QCOMPARE(drag(&f.w(), QPoint(250, 15), Qt::LeftButton, QPoint(30, 20)), QPoint(30, 20));
    QCOMPARE(drag(&f.w(), QPoint(20, 300), Qt::LeftButton, QPoint(-10, 5)), QPoint(-10, 5));
    // A label, a picture, the list and a text box take their own mouse events; the right button
    // never drags.
    for (QWidget* control : std::initializer_list<QWidget*> {f->Label12, f->Image1, f->lstElements, f->txtElementIP})
        QCOMPARE(drag(control, QPoint(5, 5), Qt::LeftButton, QPoint(30, 20)), QPoint(0, 0));
    QCOMPARE(drag(&f.w(), QPoint(250, 15), Qt::RightButton, QPoint(30, 20)), QPoint(0, 0));
}

void TestShell::popupMenu()
{
    ConsoleFixture f;
    QVERIFY(f.writeElement(QStringLiteral("0000000000A1"), StoredElement {}));
    QVERIFY(f.load());
    f->show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.w()));
    QTest::mouseClick(&f.w(), Qt::RightButton, Qt::NoModifier, QPoint(250, 15));
    QTRY_VERIFY(f->mnuHidden1->isVisible());
    const QList<QAction*> items = f->mnuHidden1->actions();
    // The status window's in tst_statuswindow, the configuration's in tst_configurationcommands.
    QCOMPARE(items.size(), 8);
    QCOMPARE(items[0]->text(), QStringLiteral("&Auto Discover..."));
    QCOMPARE(items[1]->text(), QStringLiteral("&Manual add..."));
    QVERIFY(items[2]->isSeparator());
    QCOMPARE(items[3]->text(), QStringLiteral("&Delete"));
    f->mnuHidden1->hide();

    // The first item starts a discovery with its question; No leaves everything as it was.
    f.boxes.clear();
    f->mnuDiscover->trigger();
    QCOMPARE(f.boxes.count(), 1);
    QCOMPARE(f.boxes.shown[0].title, QStringLiteral("Auto Discovery"));
    QCOMPARE(f->lstElements->count(), 1);
}

void TestShell::singleInstance_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<bool>("starts");
    QTest::newRow("the only copy") << "free" << true;
    QTest::newRow("another copy holds the lock") << "held" << false;
    // XDG_RUNTIME_DIR naming a file: the lock cannot be opened, which is no second copy.
    QTest::newRow("lock cannot be opened") << "unusable" << true;
}

void TestShell::singleInstance()
{
    QFETCH(QString, situation);
    QFETCH(bool, starts);
    TempDir dir;
    QFile regular(dir.file(QStringLiteral("runtime")));
    QVERIFY(regular.open(QIODevice::WriteOnly));
    regular.close();
    const QString path = dir.file(situation == QStringLiteral("unusable") ? QStringLiteral("runtime/nms.lock")
                                                                          : QStringLiteral("nms.lock"));
    InstanceLock other(path);
    if (situation == QStringLiteral("held"))
        QCOMPARE(other.tryLock(), InstanceLock::Result::Acquired);

    InstanceLock lock(path);
    ScriptedMessageBoxes boxes;
    QCOMPARE(CheckSingleInstance(lock, boxes), starts);

    if (situation == QStringLiteral("free")) {
        QCOMPARE(boxes.count(), 0);
        // This copy holds the lock now.
        QCOMPARE(other.tryLock(), InstanceLock::Result::HeldByOther);
    } else if (situation == QStringLiteral("held")) {
        QCOMPARE(boxes.count(), 1);
        QCOMPARE(boxes.shown[0].icon, MsgIcon::Information);
        QCOMPARE(boxes.shown[0].title, QStringLiteral("Kestrion NMS"));
        QCOMPARE(boxes.shown[0].text, kAlreadyRunning);
        QVERIFY(!boxes.shown[0].question);
    } else {
        QCOMPARE(boxes.count(), 1);
        const ShownBox box = boxes.shown[0];
        QCOMPARE(box.icon, MsgIcon::Error);
        QVERIFY2(box.text.contains(path), qPrintable(box.text));
        QVERIFY2(box.text.contains(QString::fromLocal8Bit(strerror(ENOTDIR))), qPrintable(box.text));
        QVERIFY(!box.text.contains(QStringLiteral("already running")));
    }
}

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
