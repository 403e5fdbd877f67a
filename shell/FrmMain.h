#pragma once
// The console's one permanent window. It owns every control under its own name, and assembles:
// it builds the console's core and the panels, hands each panel its own controls, and starts and
// shuts everything down. The behaviour lives in the core and the panels.

#include <QCheckBox>
#include <QComboBox>
#include <QHostAddress>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QWidget>

#include <memory>

#include "app/ConsoleCore.h"
#include "base/ProgramInfo.h"
#include "console/Controls.h"

namespace nms {

class AlarmDigest;
class AttachedNetworks;
class AudioPanel;
class ConfigurationCommands;
class ConsoleCore;
class DiscoveryCommand;
class EchoService;
class EditorPanel;
class ElementCommands;
class ElementListPanel;
class MessageBoxes;
class NeighbourTable;
class NoticePresenter;
class PingPanel;
class StatusWindow;
class TrayController;

// What the window needs from outside. The product passes the real services and the fixed
// ports; tests pass doubles, a private database folder, free ports and short periods.
// The core's own (its notices are the window's presenter, made here), plus the desktop's.
struct ConsoleEnvironment : CoreEnvironment {
    MessageBoxes* messages = nullptr;
    bool useTray = true; // tests of the window alone run without a tray icon
};

QString TrayTipText(); // "Kestrion MPX IP STL - NMS version 2.0.1"

class FrmMain : public QWidget {
    Q_OBJECT
public:
    explicit FrmMain(const ConsoleEnvironment& environment, QWidget* parent = nullptr);
    ~FrmMain() override;

    // Start-up after the single-instance test: shape, tray icon, Load_Config, binding udpClient,
    // the ping countdown and the version label. False when the program must end (port taken).
    bool Form_Load();
    // Shutdown on every end: tray icon removed, socket closed, nothing written.
    void Form_Unload();

    void cmdExit_Click();
    void cmdRefresh_Click();
    void ClearElementFields();
    void Load_Config();
    void MinimizeToTray();
    // The network status window, made at its first opening; opened again, it comes to the front.
    void showStatusWindow();

    const ConsoleEnvironment& environment() const { return env_; }

    // --- Title bar
    Shape* Shape3;
    Picture* Image1;
    Label* Label12;
    Label* Label17;
    Label* Label18;
    Label* lblVersion;
    QPushButton* cmdMinimize;
    QPushButton* cmdExit;
    Line* Line1;

    // --- Element list row
    Shape* Shape4;
    Label* lblElementsList;
    QComboBox* lstElements;
    QPushButton* cmdSave;
    QPushButton* cmdRefresh;
    QPushButton* cmdDiscover;

    // --- Element details
    Shape* Shape6;
    Label* Label2;
    Label* lblElementType;
    Label* Label5;
    Label* lblElementMAC;
    Label* Label13;
    Label* lblSerialNumber;
    Label* Label11;
    Shape* shpPing;
    Label* lblPing;
    LevelBar* VUMeter;
    Picture* imgPlay;
    Picture* imgStop;
    Label* lblVolume;
    QCheckBox* chkGetVolume;

    // --- Left group
    Shape* Shape2;
    Label* Label1;
    QLineEdit* txtElementName;
    Label* Label3;
    QLineEdit* txtElementIP;
    Label* Label6;
    QLineEdit* txtElementGW;
    Label* Label4;
    QLineEdit* txtElementMask;

    // --- Right group
    Shape* Shape1;
    Label* Label8;
    QComboBox* cmbAudioType;
    Label* Label9;
    QComboBox* cmbAudioInput;
    QScrollBar* scrlAtten;
    Label* lblAttenDB;
    Label* Label10;
    QComboBox* cmbAudioTX;
    Label* Label15;
    Label* Label7;
    QLineEdit* txtRemoteIP;
    Label* Label16;

    // --- The pop-up menu of the window's surface (right button)
    QMenu* mnuHidden1;
    QAction* mnuDiscover;
    QAction* mnuAdd;
    QAction* mnuSep1;
    QAction* mnuDelete;
    QAction* mnuSep2;
    QAction* mnuStatus; // also in the tray's menu
    QAction* mnuSaveAs;
    QAction* mnuApply;
    QAction* mnuAutostart; // the tray's menu: "Start with the desktop session", checkable

    // --- What the window assembles
    NoticePresenter* notices = nullptr;
    ConsoleCore* core = nullptr;
    ElementListPanel* elementList = nullptr;
    EditorPanel* editor = nullptr;
    AudioPanel* audio = nullptr;
    PingPanel* ping = nullptr;
    DiscoveryCommand* discovery = nullptr;
    ElementCommands* commands = nullptr;
    ConfigurationCommands* configurations = nullptr;
    TrayController* tray = nullptr;
    AlarmDigest* alarms = nullptr;
    StatusWindow* statusWindow = nullptr; // a top-level window of its own

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void buildControls();
    void setFocusOrder();

    ConsoleEnvironment env_;
    std::unique_ptr<AttachedNetworks> ownNetworks_;
    bool unloaded_ = false;
    // Window dragging: the platform's own move where the window manager offers it, else by hand.
    bool dragPending_ = false;
    bool dragByHand_ = false;
    QPoint dragOffset_;
};

} // namespace nms
