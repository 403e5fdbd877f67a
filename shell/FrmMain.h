#pragma once
// The console's one permanent window. It owns every control under its own name, the timers, the
// element link socket and the window-level state; the behaviour lives in the subsystem objects
// below, each of which connects itself to the controls it handles.

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QStringList>
#include <QTimer>
#include <QUdpSocket>
#include <QWidget>

#include "shell/Controls.h"

namespace nms {

class MessageBoxes;
class EchoService;
class NeighbourTable;
class ElementList;
class LinkEndpoint;
class FeedbackProcessor;
class MacLookup;
class Discovery;
class ElementSelection;
class ConfigEditor;
class AudioControls;
class EchoProbe;
class TrayController;

// What the window needs from outside. The product passes the real services and the fixed
// ports; tests pass doubles, a private database folder and free ports.
struct ConsoleEnvironment {
    QString databasePath; // the nms.ini in the program's folder
    quint16 localPort = 2976; // every datagram leaves from and arrives at this port
    quint16 configPort = 2976; // elements take configuration here
    quint16 commandPort = 2977; // attenuation and level queries
    quint16 pagingPort = 1901; // the discovery broadcast
    QString pagingAddress = QStringLiteral("255.255.255.255");
    MessageBoxes* messages = nullptr;
    EchoService* echo = nullptr;
    NeighbourTable* neighbours = nullptr;
    bool useTray = true; // tests of the window alone run without a tray icon
};

QString VersionText(); // "2.0.1"
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

    const ConsoleEnvironment& environment() const { return env_; }
    const QString& databasePath() const { return env_.databasePath; }
    MessageBoxes& messages() const { return *env_.messages; }

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

    // --- Members that are never drawn
    QUdpSocket* udpClient;
    QStringList lstHidden;
    QTimer* tmrVolume;
    QTimer* tmrRetryPing;
    QTimer* timerGetMAC;
    QTimer* timerRemoteSent;
    // The pop-up menu of the window's surface (right button): discovery, and two items that
    // have no action and so are offered disabled.
    QMenu* mnuHidden1;
    QAction* mnuDiscover;
    QAction* mnuAdd;
    QAction* mnuSep1;
    QAction* mnuDelete;

    // --- Window-level state
    bool AutoDiscoverAwaiting = false;
    qint16 PingRetryCountdown = 3;

    // --- Subsystems
    ElementList* elementList = nullptr;
    LinkEndpoint* link = nullptr;
    FeedbackProcessor* feedback = nullptr;
    MacLookup* macLookup = nullptr;
    Discovery* discovery = nullptr;
    ElementSelection* selection = nullptr;
    ConfigEditor* editor = nullptr;
    AudioControls* audio = nullptr;
    EchoProbe* probe = nullptr;
    TrayController* tray = nullptr;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void setFocusOrder();

    ConsoleEnvironment env_;
    bool unloaded_ = false;
    // Window dragging: the platform's own move where the window manager offers it, else by hand.
    bool dragPending_ = false;
    bool dragByHand_ = false;
    QPoint dragOffset_;
};

} // namespace nms
