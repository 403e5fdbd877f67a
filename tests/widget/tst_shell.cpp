// The window itself: control inventory, outline, start-up, revert, clearing, minimising, dragging
// and the single-instance test.

#include <QtTest>

#include <QMouseEvent>
#include <QUdpSocket>

#include "discovery/Discovery.h"
#include "services/InstanceLock.h"
#include "shell/SingleInstance.h"
#include "shell/TrayController.h"
#include "shell/WindowShape.h"
#include "support/ConsoleFixture.h"

using namespace nms;
using namespace nms::test;

class TestShell : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void inventoryPositionsAndInitialContent();
    void fontsTooltipsAndFocusOrder();
    void windowShapes();
    void startupBindsAndShowsVersion();
    void startupWithPortTakenEndsCleanly();
    void revertKeepsElementChosenAndClearsDetails();
    void clearElementFieldsResetsEveryDetail();
    void minimiseWithoutNotificationAreaKeepsWindowShown();
    void dragMovesOnlyFromTheWindowSurface();
    void popupMenuOffersDiscovery();
    void secondInstanceIsToldAndLeavesFirstAlone();
    void shutdownClosesSocketAndWritesNothing();
};

void TestShell::inventoryPositionsAndInitialContent()
{
    ConsoleFixture console;
    FrmMain& w = console.w();
    QCOMPARE(w.size(), QSize(458, 321));
    QVERIFY(w.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(w.windowFlags() & Qt::Tool); // no taskbar entry
    QCOMPARE(w.palette().color(QPalette::Window), QColor(Qt::black));

    struct Place {
        QWidget* control;
        QRect geometry;
    };
    const QList<Place> places = {
        {w.Shape3, {0, 0, 465, 33}},
        {w.Image1, {3, 3, 24, 24}},
        {w.cmdMinimize, {392, 8, 25, 17}},
        {w.cmdExit, {424, 8, 25, 17}},
        {w.Shape4, {8, 40, 441, 65}},
        {w.lstElements, {32, 64, 289, 24}},
        {w.cmdSave, {336, 64, 25, 25}},
        {w.cmdRefresh, {368, 64, 25, 25}},
        {w.cmdDiscover, {400, 64, 25, 25}},
        {w.Shape6, {8, 112, 441, 201}},
        {w.shpPing, {248, 136, 185, 29}},
        {w.VUMeter, {32, 169, 140, 8}},
        {w.imgPlay, {200, 163, 17, 17}},
        {w.imgStop, {200, 163, 17, 17}},
        {w.chkGetVolume, {224, 288, 17, 17}},
        {w.Shape2, {16, 184, 209, 121}},
        {w.txtElementName, {112, 200, 97, 19}},
        {w.txtElementIP, {112, 224, 97, 19}},
        {w.txtElementGW, {112, 248, 97, 19}},
        {w.txtElementMask, {112, 272, 97, 19}},
        {w.Shape1, {240, 184, 201, 121}},
        {w.cmbAudioType, {328, 200, 97, 21}},
        {w.cmbAudioInput, {328, 224, 97, 21}},
        {w.scrlAtten, {328, 229, 65, 11}},
        {w.cmbAudioTX, {328, 248, 97, 21}},
        {w.txtRemoteIP, {328, 272, 97, 19}},
    };
    for (const Place& place : places)
        QCOMPARE(place.control->geometry(), place.geometry);

    struct Caption {
        Label* label;
        QPoint at;
        QString text;
    };
    const QList<Caption> captions = {
        {w.Label12, {32, 5}, "Kestrion"},          {w.lblElementsList, {32, 48}, "Select element: (0 items)"},
        {w.Label2, {32, 120}, "Element type:"},    {w.lblElementType, {112, 120}, "<Unknown>"},
        {w.Label5, {32, 136}, "MAC Address:"},     {w.lblElementMAC, {112, 136}, "<Unknown>"},
        {w.Label13, {32, 152}, "Serial number:"},  {w.lblSerialNumber, {112, 152}, "<Unknown>"},
        {w.Label11, {256, 120}, "Ping response:"}, {w.Label1, {32, 200}, "System name:"},
        {w.Label3, {32, 224}, "System IP:"},       {w.Label6, {32, 248}, "Gateway IP:"},
        {w.Label4, {32, 272}, "Network mask:"},    {w.Label8, {256, 200}, "Audio type:"},
        {w.Label9, {256, 224}, "Audio source:"},   {w.lblAttenDB, {397, 224}, "dB"},
        {w.Label10, {256, 248}, "TX type:"},       {w.Label15, {328, 248}, "N/A"},
        {w.Label7, {256, 272}, "Remote IP:"},      {w.Label16, {328, 272}, "N/A"},
    };
    for (const Caption& caption : captions) {
        QCOMPARE(caption.label->caption(), caption.text);
        QCOMPARE(caption.label->pos(), caption.at);
        QCOMPARE(caption.label->palette().color(QPalette::WindowText), QColor(Qt::white));
    }
    QCOMPARE(w.Label17->pos(), QPoint(104, 5));
    QCOMPARE(w.Label18->pos(), QPoint(136, 5));
    QCOMPARE(w.Label17->caption() + w.Label18->caption(), QStringLiteral("Orbilane"));
    QCOMPARE(w.lblPing->caption(), QStringLiteral("<Unknown>"));
    QCOMPARE(w.lblPing->palette().color(QPalette::WindowText), QColor(Qt::black));
    QCOMPARE(w.shpPing->fillColor(), QColor(255, 255, 192));
    QCOMPARE(w.Shape3->fillColor(), QColor(0, 0, 64));

    // The "N/A" labels lie under the list and the box that cover them.
    QVERIFY(w.children().indexOf(w.Label15) < w.children().indexOf(w.cmbAudioTX));
    QVERIFY(w.children().indexOf(w.Label16) < w.children().indexOf(w.txtRemoteIP));

    // Hidden at start, and the lists without a choice.
    for (QWidget* hidden :
         {static_cast<QWidget*>(w.VUMeter), static_cast<QWidget*>(w.imgPlay), static_cast<QWidget*>(w.imgStop),
          static_cast<QWidget*>(w.lblVolume), static_cast<QWidget*>(w.chkGetVolume), static_cast<QWidget*>(w.scrlAtten),
          static_cast<QWidget*>(w.lblAttenDB)})
        QVERIFY(hidden->isHidden());
    QCOMPARE(w.cmbAudioType->currentIndex(), -1);
    QCOMPARE(w.cmbAudioInput->currentIndex(), -1);
    QCOMPARE(w.cmbAudioTX->currentIndex(), -1);
    QCOMPARE(w.cmbAudioType->itemText(1), QStringLiteral("MPX"));
    QCOMPARE(w.cmbAudioInput->itemText(0), QStringLiteral("Digital"));
    QCOMPARE(w.cmbAudioTX->itemText(1), QStringLiteral("Multicast"));
    QVERIFY(!w.lstElements->isEditable());
    QCOMPARE(w.txtElementName->maxLength(), 16);
    for (QLineEdit* box : {w.txtElementIP, w.txtElementMask, w.txtElementGW, w.txtRemoteIP})
        QCOMPARE(box->maxLength(), 15);
    QCOMPARE(w.scrlAtten->minimum(), 14);
    QCOMPARE(w.scrlAtten->maximum(), 255);
    QCOMPARE(w.scrlAtten->value(), 255);
    QCOMPARE(w.scrlAtten->singleStep(), 1);
    QCOMPARE(w.scrlAtten->pageStep(), 10);
    for (QTimer* timer : {w.tmrVolume, w.tmrRetryPing, w.timerGetMAC, w.timerRemoteSent})
        QVERIFY(!timer->isActive());
    QCOMPARE(w.tmrVolume->interval(), 50);
    QCOMPARE(w.tmrRetryPing->interval(), 1000);
    QCOMPARE(w.timerGetMAC->interval(), 5000);
    QCOMPARE(w.timerRemoteSent->interval(), 3000);
    QVERIFY(!w.AutoDiscoverAwaiting);
}

void TestShell::fontsTooltipsAndFocusOrder()
{
    ConsoleFixture console;
    FrmMain& w = console.w();
    QCOMPARE(w.font().families().value(0), QStringLiteral("Tahoma"));
    QCOMPARE(w.font().pointSizeF(), 8.25);
    QCOMPARE(w.Label12->font().families().value(0), QStringLiteral("Arial Narrow"));
    QVERIFY(w.Label12->font().bold());
    QVERIFY(w.Label17->font().italic() && !w.Label17->font().bold());
    QVERIFY(w.Label18->font().bold());
    QCOMPARE(w.lstElements->font().pointSizeF(), 9.75);
    QVERIFY(w.lblPing->font().bold());
    QCOMPARE(w.lblVolume->font().pointSizeF(), 6.75);
    QCOMPARE(w.cmdMinimize->text(), QStringLiteral("-"));
    QCOMPARE(w.cmdExit->text(), QStringLiteral("X"));

    QCOMPARE(w.cmdMinimize->toolTip(), QStringLiteral("Minimize to tray"));
    QCOMPARE(w.cmdExit->toolTip(), QStringLiteral("Close app"));
    QCOMPARE(w.cmdSave->toolTip(), QStringLiteral("Save and send this configuration..."));
    QCOMPARE(w.cmdRefresh->toolTip(), QStringLiteral("Revert to last saved config"));
    QCOMPARE(w.cmdDiscover->toolTip(), QStringLiteral("Auto discover..."));
    QCOMPARE(w.txtElementName->toolTip(), QStringLiteral("Max 12 chars"));
    QCOMPARE(w.imgPlay->toolTip(), QStringLiteral("Click to begin monitoring audio level"));
    QCOMPARE(w.imgStop->toolTip(), QStringLiteral("Click to stop monitoring audio level"));
    QCOMPARE(w.chkGetVolume->toolTip(), QStringLiteral("Show audio level"));
    QVERIFY(w.Label12->toolTip().startsWith(QStringLiteral("Visit ")));
    QCOMPARE(w.Label17->toolTip(), w.Label12->toolTip());
    QCOMPARE(w.Label18->toolTip(), w.Label12->toolTip());

    const QList<QWidget*> order = {w.txtElementName, w.txtElementIP, w.txtElementGW, w.txtElementMask, w.cmbAudioType,
                                   w.cmbAudioInput,  w.cmbAudioTX,   w.txtRemoteIP,  w.cmdSave,        w.cmdRefresh,
                                   w.lstElements,    w.cmdDiscover,  w.scrlAtten};
    for (int i = 0; i + 1 < order.size(); ++i) {
        QWidget* next = order[i]->nextInFocusChain();
        while (next && !(next->focusPolicy() & Qt::TabFocus))
            next = next->nextInFocusChain();
        QCOMPARE(next, order[i + 1]);
    }
}

void TestShell::windowShapes()
{
    const QSize size(458, 321);
    const QRegion rounded = WindowShapeRegion(size, 1);
    QVERIFY(!rounded.contains(QPoint(0, 0)));
    QVERIFY(!rounded.contains(QPoint(457, 320)));
    QVERIFY(rounded.contains(QPoint(10, 0)));
    QVERIFY(rounded.contains(QPoint(0, 10)));
    QVERIFY(rounded.contains(QPoint(229, 160)));
    QVERIFY(rounded.contains(QPoint(229, 0)));

    const QRegion ellipse = WindowShapeRegion(size, 0);
    QVERIFY(!ellipse.contains(QPoint(20, 20)));
    QVERIFY(ellipse.contains(QPoint(229, 5)));

    const QRegion diamond = WindowShapeRegion(size, 2);
    QVERIFY(diamond.contains(QPoint(229, 160)));
    QVERIFY(!diamond.contains(QPoint(50, 50)));
    QVERIFY(!diamond.contains(QPoint(400, 280)));

    QVERIFY(WindowShapeRegion(size, 3).isEmpty());
    QVERIFY(WindowShapeRegion(size, -1).isEmpty());

    ConsoleFixture console;
    SetWindowShape(&console.w(), 1);
    QVERIFY(!console->mask().isEmpty());
    QVERIFY(!console->mask().contains(QPoint(0, 0)));
    SetWindowShape(&console.w(), 7);
    QVERIFY(console->mask().isEmpty());
}

void TestShell::startupBindsAndShowsVersion()
{
    QCOMPARE(VersionText(), QStringLiteral("2.0.1"));
    QCOMPARE(TrayTipText(), QStringLiteral("Kestrion MPX IP STL - NMS version 2.0.1"));

    ConsoleFixture console;
    console->PingRetryCountdown = 0;
    QVERIFY(console.load());
    QCOMPARE(console->udpClient->state(), QAbstractSocket::BoundState);
    QCOMPARE(console->udpClient->localPort(), console.consolePort());
    QCOMPARE(console->lblVersion->caption(), QStringLiteral("v.2.0.1"));
    // Right-aligned with its right edge where the layout puts it, the whole text visible.
    QCOMPARE(console->lblVersion->geometry().right() + 1, 385);
    QVERIFY(console->lblVersion->width() >= console->lblVersion->sizeHint().width());
    QCOMPARE(console->PingRetryCountdown, qint16(3));
    QCOMPARE(console->mask().contains(QPoint(0, 0)), false);
    // No database yet: the missing-file message came during start-up.
    QCOMPARE(console.boxes.count(), 1);
    QCOMPARE(console.boxes.shown[0].title, QStringLiteral("Information"));
    QCOMPARE(console.boxes.shown[0].icon, MsgIcon::Information);
    QCOMPARE(console.boxes.shown[0].text,
             QStringLiteral("Local database is empty.\rPlease click 'Auto Discover' icon to probe the network."));
}

void TestShell::startupWithPortTakenEndsCleanly()
{
    ConsoleFixture console;
    QUdpSocket holder;
    QVERIFY(holder.bind(QHostAddress::AnyIPv4, console.consolePort()));
    QVERIFY(!console.load());
    const ShownBox& last = console.boxes.shown.last();
    QCOMPARE(last.text, QStringLiteral("Unable to use UDP port 2976: occupied."));
    QCOMPARE(last.icon, MsgIcon::Error);
    QCOMPARE(last.title, ProgramTitle());
    QCOMPARE(console->udpClient->state(), QAbstractSocket::UnconnectedState);
    QVERIFY(!console->tray->hasIcon());
    // The version step was never reached.
    QVERIFY(console->lblVersion->caption().isEmpty());
}

void TestShell::revertKeepsElementChosenAndClearsDetails()
{
    ConsoleFixture console;
    StoredElement first;
    StoredElement second;
    second.name = QStringLiteral("SITE B");
    second.ip = QStringLiteral("127.0.0.2");
    QVERIFY(console.writeElement(QStringLiteral("0000000000A1"), first));
    QVERIFY(console.writeElement(QStringLiteral("0000000000B2"), second));
    QVERIFY(console.load());
    QVERIFY(console.select(QStringLiteral("0000000000B2")));
    QCOMPARE(console->lblElementMAC->caption(), QStringLiteral("00:00:00:00:00:B2"));
    QCOMPARE(console->txtElementIP->text(), QStringLiteral("127.0.0.2"));
    console->txtElementName->setText(QStringLiteral("UNSAVED EDIT"));
    const QByteArray before = [&] {
        QFile file(console.database());
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }();

    console->cmdRefresh->click();

    QCOMPARE(console->lstElements->currentIndex(), 1);
    QCOMPARE(console->lstElements->currentText(), QStringLiteral("SITE B [00:00:00:00:00:B2]"));
    QCOMPARE(console->lblElementMAC->caption(), QStringLiteral("<Unknown>"));
    QCOMPARE(console->lblElementType->caption(), QStringLiteral("<Unknown>"));
    QCOMPARE(console->lblSerialNumber->caption(), QStringLiteral("<Unknown>"));
    QCOMPARE(console->lblPing->caption(), QStringLiteral("<Unknown>"));
    QVERIFY(console->txtElementName->text().isEmpty());
    QVERIFY(console->txtElementIP->text().isEmpty());
    QCOMPARE(console->cmbAudioType->currentIndex(), -1);
    QFile file(console.database());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), before);
}

void TestShell::clearElementFieldsResetsEveryDetail()
{
    ConsoleFixture console;
    QVERIFY(console.writeElement(QStringLiteral("0000000000A1"), StoredElement()));
    QVERIFY(console.load());
    QVERIFY(console.select(QStringLiteral("0000000000A1")));
    console->txtElementIP->setText(QStringLiteral("300.1.1.1"));
    console->shpPing->setFillColor(QColor(255, 0, 0));
    QStringList roleCaptions;
    connect(console->lblElementType, &Label::captionChanged, [&](const QString& text) { roleCaptions << text; });

    console->ClearElementFields();

    for (Label* label : {console->lblElementType, console->lblElementMAC, console->lblSerialNumber, console->lblPing})
        QCOMPARE(label->caption(), QStringLiteral("<Unknown>"));
    QCOMPARE(console->shpPing->fillColor(), QColor(255, 255, 192));
    for (QLineEdit* box : {console->txtElementName, console->txtElementIP, console->txtElementMask,
                           console->txtElementGW, console->txtRemoteIP})
        QVERIFY(box->text().isEmpty());
    for (QComboBox* list : {console->cmbAudioInput, console->cmbAudioType, console->cmbAudioTX})
        QCOMPARE(list->currentIndex(), -1);
    // The role caption's change handler ran (the layout falls back to its non-decoder column).
    QCOMPARE(roleCaptions, QStringList {QStringLiteral("<Unknown>")});
}

void TestShell::minimiseWithoutNotificationAreaKeepsWindowShown()
{
    // The offscreen platform has no notification area: hiding would strand the window.
    ConsoleFixture console;
    QVERIFY(console.load());
    console->show();
    QVERIFY(QTest::qWaitForWindowExposed(&console.w()));
    console->cmdMinimize->click();
    console->cmdMinimize->click();
    QVERIFY(console->isVisible());
}

void TestShell::dragMovesOnlyFromTheWindowSurface()
{
    ConsoleFixture console;
    QVERIFY(console.load());
    console->move(100, 100);
    console->show();
    QVERIFY(QTest::qWaitForWindowExposed(&console.w()));

    auto drag = [&](QWidget* target, QPoint from, Qt::MouseButton button, QPoint by) {
        const QPoint origin = console->pos();
        const QPoint global = target->mapToGlobal(from);
        QMouseEvent press(QEvent::MouseButtonPress, from, global, button, button, Qt::NoModifier);
        QApplication::sendEvent(target, &press);
        QMouseEvent move(QEvent::MouseMove, from + by, global + by, Qt::NoButton, button, Qt::NoModifier);
        QApplication::sendEvent(target, &move);
        QMouseEvent release(QEvent::MouseButtonRelease, from + by, global + by, button, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(target, &release);
        return console->pos() - origin;
    };
    // The title band between the logo and the version, and a framed area: the window moves.
    QCOMPARE(drag(&console.w(), QPoint(250, 15), Qt::LeftButton, QPoint(30, 20)), QPoint(30, 20));
    QCOMPARE(drag(&console.w(), QPoint(20, 300), Qt::LeftButton, QPoint(-10, 5)), QPoint(-10, 5));
    // A label, a picture, the list and a text box take their own mouse events; the right button never drags.
    QCOMPARE(drag(console->Label12, QPoint(5, 5), Qt::LeftButton, QPoint(30, 20)), QPoint(0, 0));
    QCOMPARE(drag(console->Image1, QPoint(5, 5), Qt::LeftButton, QPoint(30, 20)), QPoint(0, 0));
    QCOMPARE(drag(console->lstElements, QPoint(5, 5), Qt::LeftButton, QPoint(30, 20)), QPoint(0, 0));
    QCOMPARE(drag(console->txtElementIP, QPoint(5, 5), Qt::LeftButton, QPoint(30, 20)), QPoint(0, 0));
    QCOMPARE(drag(&console.w(), QPoint(250, 15), Qt::RightButton, QPoint(30, 20)), QPoint(0, 0));
}

void TestShell::popupMenuOffersDiscovery()
{
    ConsoleFixture console;
    QVERIFY(console.writeElement(QStringLiteral("0000000000A1"), StoredElement()));
    QVERIFY(console.load());
    console->show();
    QVERIFY(QTest::qWaitForWindowExposed(&console.w()));
    QTest::mouseClick(&console.w(), Qt::RightButton, Qt::NoModifier, QPoint(250, 15));
    QTRY_VERIFY(console->mnuHidden1->isVisible());
    const QList<QAction*> items = console->mnuHidden1->actions();
    QCOMPARE(items.size(), 4);
    QCOMPARE(items[0]->text(), QStringLiteral("&Auto Discover..."));
    QCOMPARE(items[1]->text(), QStringLiteral("&Manual add..."));
    QVERIFY(items[2]->isSeparator());
    QCOMPARE(items[3]->text(), QStringLiteral("&Delete"));
    QVERIFY(items[0]->isEnabled() && !items[1]->isEnabled() && !items[3]->isEnabled());
    console->mnuHidden1->hide();

    // The item asks the discovery question; No leaves the database as it was.
    console.boxes.clear();
    console->mnuDiscover->trigger();
    QCOMPARE(console.boxes.count(), 1);
    QCOMPARE(console.boxes.shown[0].title, QStringLiteral("Auto Discovery"));
    QVERIFY(console.boxes.shown[0].question);
    QCOMPARE(console->lstElements->count(), 1);
}

void TestShell::secondInstanceIsToldAndLeavesFirstAlone()
{
    TempDir dir;
    const QString path = dir.file(QStringLiteral("nms.lock"));
    InstanceLock first(path);
    ScriptedMessageBoxes boxes;
    QVERIFY(CheckSingleInstance(first, boxes));
    QCOMPARE(boxes.count(), 0);

    InstanceLock second(path);
    QVERIFY(!CheckSingleInstance(second, boxes));
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(boxes.shown[0].title, QStringLiteral("Kestrion NMS"));
    QCOMPARE(boxes.shown[0].icon, MsgIcon::Information);
    QCOMPARE(boxes.shown[0].text,
             QStringLiteral("Kestrion MPX IP STL NMS is already running (check the icon in system tray)!"));

    // The first copy still holds it; once it ends, a new start is free.
    InstanceLock third(path);
    QVERIFY(!third.tryLock());
    first.unlock();
    QVERIFY(third.tryLock());
}

void TestShell::shutdownClosesSocketAndWritesNothing()
{
    ConsoleFixture console;
    QVERIFY(console.writeElement(QStringLiteral("0000000000A1"), StoredElement()));
    QVERIFY(console.load());
    const QDateTime modified = QFileInfo(console.database()).lastModified();
    const quint16 port = console.consolePort();
    console->timerRemoteSent->start();
    console->Form_Unload();
    QCOMPARE(console->udpClient->state(), QAbstractSocket::UnconnectedState);
    QVERIFY(!console->timerRemoteSent->isActive());
    QCOMPARE(QFileInfo(console.database()).lastModified(), modified);
    // The port is free again for the next start.
    QUdpSocket next;
    QVERIFY(next.bind(QHostAddress::AnyIPv4, port));
}

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
