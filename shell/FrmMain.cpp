#include "shell/FrmMain.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

#include "app/AlarmDigest.h"
#include "app/ConsoleCore.h"
#include "app/PortOwner.h"
#include "console/AudioPanel.h"
#include "console/ConfigurationCommands.h"
#include "console/DiscoveryCommand.h"
#include "console/EditorPanel.h"
#include "console/ElementCommands.h"
#include "console/ElementListPanel.h"
#include "console/PingPanel.h"
#include "notices/NoticePresenter.h"
#include "platform/MessageBoxes.h"
#include "services/AttachedNetworks.h"
#include "shell/Artwork.h"
#include "shell/Autostart.h"
#include "shell/TrayController.h"
#include "shell/WindowShape.h"
#include "status/AlarmActions.h"
#include "status/StatusWindow.h"

namespace nms {

QString TrayTipText()
{
    return QStringLiteral("Kestrion MPX IP STL - NMS version ") + VersionText();
}

namespace {

// The faces the window was drawn for, then the nearest ones a Linux desktop has.
QFont Face(const QStringList& families, qreal points, bool bold = false, bool italic = false)
{
    QFont font;
    font.setFamilies(families);
    font.setPointSizeF(points);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

QFont Tahoma(qreal points, bool bold = false)
{
    return Face({QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")}, points,
                bold);
}

QFont ArialNarrow(qreal points, bool bold, bool italic = false)
{
    return Face({QStringLiteral("Arial Narrow"), QStringLiteral("Liberation Sans Narrow"),
                 QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("Liberation Sans")},
                points, bold, italic);
}

QFont Arial(qreal points, bool bold)
{
    return Face({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")}, points,
                bold);
}

} // namespace

FrmMain::FrmMain(const ConsoleEnvironment& environment, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint), env_(environment)
{
    Q_ASSERT(env_.messages);
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(ProgramTitle());
    setWindowIcon(QIcon(Artwork::ApplicationIcon()));
    setFixedSize(458, 321);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::black);
    setPalette(palette);
    setFont(Tahoma(8.25));

    buildControls();
    setFocusOrder();

    if (!env_.networks) {
        ownNetworks_ = std::make_unique<SystemNetworks>();
        env_.networks = ownNetworks_.get();
    }
    notices = new NoticePresenter(*env_.messages, this);
    CoreEnvironment coreEnvironment = env_;
    coreEnvironment.notices = notices;
    core = new ConsoleCore(coreEnvironment, this);

    elementList = new ElementListPanel({lstElements, lblElementsList}, *core, this);
    editor =
        new EditorPanel({txtElementName, txtElementIP, txtElementMask, txtElementGW, txtRemoteIP, cmbAudioType,
                         cmbAudioInput, cmbAudioTX, lblElementType, lblElementMAC, lblSerialNumber, Label9, cmdSave},
                        *core, *notices, this);
    audio = new AudioPanel({scrlAtten, lblAttenDB, chkGetVolume, imgPlay, imgStop, VUMeter, lblVolume}, *core, this);
    ping = new PingPanel(shpPing, lblPing, core->probe, this);
    discovery = new DiscoveryCommand(*core, *notices, this);
    tray = new TrayController(*this, env_.useTray);

    mnuHidden1 = new QMenu(this);
    mnuDiscover = mnuHidden1->addAction(QStringLiteral("&Auto Discover..."));
    mnuAdd = mnuHidden1->addAction(QStringLiteral("&Manual add..."));
    mnuSep1 = mnuHidden1->addSeparator();
    mnuDelete = mnuHidden1->addAction(QStringLiteral("&Delete"));
    mnuSep2 = mnuHidden1->addSeparator();
    mnuStatus = mnuHidden1->addAction(QStringLiteral("Network &status..."));
    mnuSaveAs = mnuHidden1->addAction(QStringLiteral("Sa&ve configuration as..."));
    mnuApply = mnuHidden1->addAction(QStringLiteral("A&pply configuration from..."));
    tray->menu()->addAction(mnuStatus);
    connect(mnuStatus, &QAction::triggered, this, &FrmMain::showStatusWindow);
    mnuAutostart = tray->menu()->addAction(QStringLiteral("Start with the desktop session"));
    mnuAutostart->setCheckable(true);
    mnuAutostart->setChecked(AutostartEnabled());
    connect(mnuAutostart, &QAction::toggled, this, [this](bool on) {
        QString error;
        if (SetAutostart(on, QCoreApplication::applicationFilePath(), &error))
            return;
        notices->error(ProgramTitle(),
                       QStringLiteral("The autostart entry %1 could not be %2: %3.")
                           .arg(AutostartPath(), on ? QStringLiteral("written") : QStringLiteral("removed"), error));
        const QSignalBlocker blocker(mnuAutostart);
        mnuAutostart->setChecked(AutostartEnabled());
    });
    commands = new ElementCommands(*core, *notices, mnuAdd, mnuDelete, this);
    configurations = new ConfigurationCommands(*core, *notices, *editor, *audio, mnuSaveAs, mnuApply, this, this);
    connect(mnuDiscover, &QAction::triggered, discovery, &DiscoveryCommand::mnuDiscover_Click);
    connect(cmdDiscover, &QPushButton::clicked, discovery, &DiscoveryCommand::cmdDiscover_Click);

    alarms = new AlarmDigest(core->monitor, env_.timing.alarmBatchMs, this);
    // An element in maintenance raises nothing here either.
    alarms->setQuiet([this](const QString& key) { return core->notify.states().inMaintenance(key); });
    connect(&core->notify.states(), &AlarmStates::changed, alarms, &AlarmDigest::reconsider);
    connect(alarms, &AlarmDigest::alarm, tray, &TrayController::showAlarm);
    connect(alarms, &AlarmDigest::attentionChanged, tray, &TrayController::setAttention);
    tray->followSummary(core->monitor);

    connect(cmdExit, &QPushButton::clicked, this, &FrmMain::cmdExit_Click);
    connect(cmdRefresh, &QPushButton::clicked, this, &FrmMain::cmdRefresh_Click);
    connect(cmdMinimize, &QPushButton::clicked, this, &FrmMain::MinimizeToTray);
}

FrmMain::~FrmMain()
{
    Form_Unload();
    // The focus leaves while this is still a whole window: a control destroyed with the focus
    // would send its focus-out to the subsystems' filters once only its QWidget part is left.
    if (QWidget* focused = focusWidget())
        focused->clearFocus();
    // The panels and the core go before the controls they draw on: nothing may draw on a
    // control that is already gone.
    for (QObject* assembled :
         std::initializer_list<QObject*> {statusWindow, configurations, commands, discovery, ping, audio, editor,
                                          elementList, alarms, tray, core, notices}) {
        delete assembled;
    }
}

void FrmMain::buildControls()
{
    auto label = [this](const QString& caption, int x, int y) {
        auto* l = new Label(caption, this);
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, Qt::white);
        l->setPalette(p);
        l->move(x, y);
        return l;
    };
    auto outline = [this](int x, int y, int w, int h) {
        auto* s = new Shape(Shape::Kind::RoundedRectangle, this);
        s->setBorderColor(QColor(128, 128, 128));
        s->setGeometry(x, y, w, h);
        return s;
    };
    auto iconButton = [this](const QPixmap& picture, const QString& tip, int x, int y) {
        auto* b = new QPushButton(this);
        b->setIcon(QIcon(picture));
        b->setIconSize(picture.size());
        b->setToolTip(tip);
        b->setGeometry(x, y, 25, 25);
        return b;
    };
    auto textBox = [this](int x, int y, int maxLength) {
        auto* t = new QLineEdit(this);
        t->setGeometry(x, y, 97, 19);
        t->setMaxLength(maxLength);
        t->setFrame(true);
        return t;
    };
    auto list = [this](int x, int y, const QStringList& items) {
        auto* c = new QComboBox(this);
        c->setEditable(false);
        c->setGeometry(x, y, 97, 21);
        c->addItems(items);
        c->setCurrentIndex(-1);
        return c;
    };

    // Title bar
    Shape3 = new Shape(Shape::Kind::Rectangle, this);
    Shape3->setGeometry(0, 0, 465, 33);
    Shape3->setFilled(true);
    Shape3->setFillColor(QColor(0, 0, 64));
    Image1 = new Picture(Artwork::ApplicationIcon(), this);
    Image1->setGeometry(3, 3, 24, 24);
    Image1->setCursor(Qt::ArrowCursor);
    const QString logoTip = QStringLiteral("Visit www.kestrion.example");
    Label12 = label(QStringLiteral("Kestrion"), 32, 5);
    Label12->setFont(ArialNarrow(12, true));
    Label17 = label(QStringLiteral("Orbil"), 104, 5);
    Label17->setFont(ArialNarrow(12, false, true));
    Label18 = label(QStringLiteral("ane"), 136, 5);
    Label18->setFont(ArialNarrow(12, true));
    for (Label* logo : {Label12, Label17, Label18}) {
        logo->adjustSize();
        logo->setToolTip(logoTip);
    }
    // One word: the second part starts where the first part's text ends, whatever the face.
    Label18->move(Label17->x() + QFontMetrics(Label17->font()).horizontalAdvance(Label17->caption()), 5);
    lblVersion = new Label(QString(), this, false);
    QPalette versionPalette = lblVersion->palette();
    versionPalette.setColor(QPalette::WindowText, Qt::white);
    lblVersion->setPalette(versionPalette);
    lblVersion->setAlignment(Qt::AlignRight | Qt::AlignTop);
    // Right-aligned, its right edge at 385; it widens to the left so the version is never cut.
    connect(lblVersion, &Label::captionChanged, this, [this] {
        const int width = qMax(25, lblVersion->sizeHint().width());
        lblVersion->setGeometry(385 - width, 5, width, lblVersion->sizeHint().height());
    });
    lblVersion->setGeometry(360, 5, 25, 14);
    cmdMinimize = new QPushButton(QStringLiteral("-"), this);
    cmdMinimize->setGeometry(392, 8, 25, 17);
    cmdMinimize->setFont(Arial(9.75, true));
    cmdMinimize->setToolTip(QStringLiteral("Minimize to tray"));
    cmdMinimize->setFocusPolicy(Qt::NoFocus);
    cmdExit = new QPushButton(QStringLiteral("X"), this);
    cmdExit->setGeometry(424, 8, 25, 17);
    cmdExit->setFont(ArialNarrow(9.75, true));
    cmdExit->setToolTip(QStringLiteral("Close app"));
    cmdExit->setFocusPolicy(Qt::NoFocus);
    Line1 = new Line(Qt::white, this);
    Line1->setGeometry(-1, 32, 466, 1);

    // Element list row
    Shape4 = outline(8, 40, 441, 65);
    lblElementsList = label(QStringLiteral("Select element: (0 items)"), 32, 48);
    lstElements = new QComboBox(this);
    lstElements->setEditable(false);
    lstElements->setGeometry(32, 64, 289, 24);
    lstElements->setFont(Tahoma(9.75));
    cmdSave = iconButton(Artwork::SaveIcon(), QStringLiteral("Save and send this configuration..."), 336, 64);
    cmdRefresh = iconButton(Artwork::RefreshIcon(), QStringLiteral("Revert to last saved config"), 368, 64);
    cmdDiscover = iconButton(Artwork::DiscoverIcon(), QStringLiteral("Auto discover..."), 400, 64);

    // Element details
    Shape6 = outline(8, 112, 441, 201);
    Label2 = label(QStringLiteral("Element type:"), 32, 120);
    lblElementType = label(QStringLiteral("<Unknown>"), 112, 120);
    Label5 = label(QStringLiteral("MAC Address:"), 32, 136);
    lblElementMAC = label(QStringLiteral("<Unknown>"), 112, 136);
    Label13 = label(QStringLiteral("Serial number:"), 32, 152);
    lblSerialNumber = label(QStringLiteral("<Unknown>"), 112, 152);
    Label11 = label(QStringLiteral("Ping response:"), 256, 120);
    shpPing = new Shape(Shape::Kind::RoundedRectangle, this);
    shpPing->setGeometry(248, 136, 185, 29);
    shpPing->setFilled(true);
    shpPing->setFillColor(QColor(255, 255, 192));
    lblPing = new Label(QStringLiteral("<Unknown>"), this, false);
    lblPing->setFont(Tahoma(8.25, true));
    lblPing->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    QPalette pingPalette = lblPing->palette();
    pingPalette.setColor(QPalette::WindowText, Qt::black);
    lblPing->setPalette(pingPalette);
    // 70 wide as drawn; a long status text widens it about the same centre, within the shape.
    connect(lblPing, &Label::captionChanged, this, [this] {
        const int width = qBound(70, lblPing->sizeHint().width(), 181);
        lblPing->setGeometry(339 - width / 2, 143, width, lblPing->sizeHint().height());
    });
    lblPing->setGeometry(304, 143, 70, 16);
    VUMeter = new LevelBar(Artwork::LevelRamp(), this);
    VUMeter->setGeometry(32, 169, 140, 8);
    VUMeter->hide();
    imgPlay = new Picture(Artwork::PlayPicture(), this);
    imgPlay->setGeometry(200, 163, 17, 17);
    imgPlay->setToolTip(QStringLiteral("Click to begin monitoring audio level"));
    imgPlay->hide();
    imgStop = new Picture(Artwork::StopPicture(), this);
    imgStop->setGeometry(200, 163, 17, 17);
    imgStop->setToolTip(QStringLiteral("Click to stop monitoring audio level"));
    imgStop->hide();
    lblVolume = new Label(QStringLiteral("-"), this, false);
    lblVolume->setFont(Tahoma(6.75));
    lblVolume->setAlignment(Qt::AlignRight | Qt::AlignTop);
    QPalette volumePalette = lblVolume->palette();
    volumePalette.setColor(QPalette::WindowText, Qt::white);
    lblVolume->setPalette(volumePalette);
    // Right-aligned: its right edge stays where the drawn layout put it, before the play picture.
    connect(lblVolume, &Label::captionChanged, this, [this] {
        const int width = lblVolume->sizeHint().width();
        lblVolume->setGeometry(198 - width, 165, width, lblVolume->sizeHint().height());
    });
    lblVolume->setCaption(QStringLiteral("-"));
    lblVolume->hide();
    chkGetVolume = new QCheckBox(this);
    chkGetVolume->setGeometry(224, 288, 17, 17);
    chkGetVolume->setToolTip(QStringLiteral("Show audio level"));
    chkGetVolume->setFocusPolicy(Qt::NoFocus);
    chkGetVolume->hide();

    // Left group
    Shape2 = outline(16, 184, 209, 121);
    Label1 = label(QStringLiteral("System name:"), 32, 200);
    txtElementName = textBox(112, 200, 16);
    txtElementName->setToolTip(QStringLiteral("Max 12 chars"));
    Label3 = label(QStringLiteral("System IP:"), 32, 224);
    txtElementIP = textBox(112, 224, 15);
    Label6 = label(QStringLiteral("Gateway IP:"), 32, 248);
    txtElementGW = textBox(112, 248, 15);
    Label4 = label(QStringLiteral("Network mask:"), 32, 272);
    txtElementMask = textBox(112, 272, 15);

    // Right group. The "N/A" labels are made first so that the list and the box lie over them.
    Shape1 = outline(240, 184, 201, 121);
    Label15 = label(QStringLiteral("N/A"), 328, 248);
    Label16 = label(QStringLiteral("N/A"), 328, 272);
    Label8 = label(QStringLiteral("Audio type:"), 256, 200);
    cmbAudioType = list(328, 200, AudioTypeChoices());
    Label9 = label(QStringLiteral("Audio source:"), 256, 224);
    cmbAudioInput = list(328, 224, AudioInputChoices());
    scrlAtten = new QScrollBar(Qt::Horizontal, this);
    scrlAtten->setGeometry(328, 229, 65, 11);
    scrlAtten->setRange(AttenuationMinimum, AttenuationZeroDb);
    scrlAtten->setValue(AttenuationZeroDb);
    scrlAtten->setSingleStep(1);
    scrlAtten->setPageStep(10);
    scrlAtten->setFocusPolicy(Qt::StrongFocus);
    scrlAtten->hide();
    lblAttenDB = label(QStringLiteral("dB"), 397, 224);
    lblAttenDB->hide();
    Label10 = label(QStringLiteral("TX type:"), 256, 248);
    cmbAudioTX = list(328, 248, AudioTxChoices());
    Label7 = label(QStringLiteral("Remote IP:"), 256, 272);
    txtRemoteIP = textBox(328, 272, 15);
}

void FrmMain::setFocusOrder()
{
    const QList<QWidget*> order = {txtElementName, txtElementIP, txtElementGW, txtElementMask, cmbAudioType,
                                   cmbAudioInput,  cmbAudioTX,   txtRemoteIP,  cmdSave,        cmdRefresh,
                                   lstElements,    cmdDiscover,  scrlAtten};
    for (int i = 0; i + 1 < order.size(); ++i)
        setTabOrder(order[i], order[i + 1]);
    setFocusProxy(nullptr);
}

bool FrmMain::Form_Load()
{
    SetWindowShape(this, 1);
    // The title band reaches the rounded corners.
    if (DrawsOwnOutline())
        Shape3->setMask(mask().translated(-Shape3->pos()));
    tray->add();
    Load_Config();
    // What the database has to say is shown before the window is.
    notices->showAllNow();
    // Ended while a start-up message was open (SIGTERM): nothing more to start.
    if (unloaded_)
        return false;
    if (!core->start()) {
        const QString service = WatchServiceHoldsPortText(core->link.ports().console);
        notices->error(ProgramTitle(),
                       QStringLiteral("Unable to use UDP port 2976: occupied.")
                           + (service.isEmpty() ? QString() : QStringLiteral("\r") + service));
        notices->showAllNow();
        Form_Unload();
        return false;
    }
    core->probe.resetRetryCountdown();
    lblVersion->setCaption(QStringLiteral("v.") + VersionText());
    return true;
}

void FrmMain::Form_Unload()
{
    if (unloaded_)
        return;
    unloaded_ = true;
    notices->shutdown();
    core->shutdown();
    tray->remove();
    if (statusWindow)
        statusWindow->close();
}

void FrmMain::cmdExit_Click()
{
    Form_Unload();
    close();
    QCoreApplication::quit();
}

void FrmMain::cmdRefresh_Click()
{
    Load_Config();
    ClearElementFields();
}

void FrmMain::ClearElementFields()
{
    core->clearSelection();
}

void FrmMain::Load_Config()
{
    core->Load_Config();
}

void FrmMain::MinimizeToTray()
{
    tray->MinimizeToTray();
}

void FrmMain::showStatusWindow()
{
    if (!statusWindow) {
        statusWindow = new StatusWindow(core->monitor, *notices, &core->trends);
        AddAlarmActions(*statusWindow->table, core->notify.states(), core->monitor, *notices);
        statusWindow->setWindowIcon(QIcon(Artwork::ApplicationIcon()));
        statusWindow->placeBeside(frameGeometry());
        // The element asked for is picked in the list as the operator would, and shown.
        connect(statusWindow, &StatusWindow::elementChosen, this, [this](const QString& key) {
            if (!elementList->pick(key))
                return;
            show();
            raise();
            activateWindow();
        });
    }
    statusWindow->setWindowState(statusWindow->windowState() & ~Qt::WindowMinimized);
    statusWindow->show();
    statusWindow->raise();
    statusWindow->activateWindow();
}

void FrmMain::paintEvent(QPaintEvent* event)
{
    // Where the platform does not clip to the outline, the black background stops at it.
    if (!autoFillBackground()) {
        QPainter painter(this);
        painter.setClipRegion(mask().isEmpty() ? QRegion(rect()) : mask());
        painter.fillRect(rect(), Qt::black);
    }
    QWidget::paintEvent(event);
}

void FrmMain::closeEvent(QCloseEvent* event)
{
    // The platform closing the window (log-off, window manager) ends the program like the close button.
    Form_Unload();
    event->accept();
    QCoreApplication::quit();
}

void FrmMain::mousePressEvent(QMouseEvent* event)
{
    // Only presses on the window's own surface arrive here: controls take their own.
    dragPending_ = event->button() == Qt::LeftButton && event->buttons() == Qt::LeftButton;
    dragByHand_ = false;
    dragOffset_ = event->position().toPoint();
    event->accept();
}

void FrmMain::mouseMoveEvent(QMouseEvent* event)
{
    if (event->buttons() != Qt::LeftButton) {
        dragPending_ = dragByHand_ = false;
        return;
    }
    if (dragPending_) {
        dragPending_ = false;
        // The window manager's own move; on a bare X server there is none, so move by hand.
        if (!(windowHandle() && windowHandle()->startSystemMove()))
            dragByHand_ = true;
    }
    if (dragByHand_)
        move(event->globalPosition().toPoint() - dragOffset_);
}

void FrmMain::mouseReleaseEvent(QMouseEvent* event)
{
    dragPending_ = dragByHand_ = false;
    if (event->button() == Qt::RightButton)
        mnuHidden1->popup(event->globalPosition().toPoint());
}

} // namespace nms
