#include "shell/TrayController.h"

#include <QApplication>
#include <QMouseEvent>

#include "shell/Artwork.h"
#include "shell/FrmMain.h"

namespace nms {

namespace {
// Qt draws an XEmbed tray icon with a widget of this class. Its button releases are what bring
// the window back; Qt's own activation signal fires on the press.
constexpr char kXEmbedIconClass[] = "QSystemTrayIconSys";
} // namespace

TrayController::TrayController(QWidget& window, bool enabled) : QObject(&window), window_(window), enabled_(enabled)
{
}

void TrayController::add()
{
    if (!enabled_)
        return;
    if (icon_) {
        // Already there: a second add changes nothing, but brings back an icon the tray lost.
        if (!icon_->isVisible())
            icon_->show();
        return;
    }
    icon_ = new QSystemTrayIcon(QIcon(Artwork::ApplicationIcon()), this);
    icon_->setToolTip(TrayTipText());
    connect(icon_, &QSystemTrayIcon::activated, this, &TrayController::onActivated);
    qApp->installEventFilter(this);
    icon_->show();
}

void TrayController::remove()
{
    if (!icon_)
        return;
    qApp->removeEventFilter(this);
    icon_->hide();
    delete icon_;
    icon_ = nullptr;
}

void TrayController::MinimizeToTray()
{
    // Where no notification area exists nothing could bring a hidden window back: it stays shown.
    if (!enabled_ || !QSystemTrayIcon::isSystemTrayAvailable())
        return;
    window_.hide();
    add();
}

void TrayController::iconButtonReleased(Qt::MouseButton button)
{
    if (window_.isHidden() && (button == Qt::LeftButton || button == Qt::RightButton))
        window_.show();
}

bool TrayController::iconHasOwnWidget() const
{
    const QWidgetList widgets = QApplication::topLevelWidgets();
    return std::any_of(widgets.begin(), widgets.end(),
                       [](QWidget* widget) { return widget->inherits(kXEmbedIconClass); });
}

void TrayController::onActivated(QSystemTrayIcon::ActivationReason reason)
{
    // With an XEmbed icon the release handler below decides; a tray that only reports
    // activations (the D-Bus kind) gets the same effect from its click reports.
    if (iconHasOwnWidget())
        return;
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context
        || reason == QSystemTrayIcon::DoubleClick)
        iconButtonReleased(reason == QSystemTrayIcon::Context ? Qt::RightButton : Qt::LeftButton);
}

bool TrayController::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease && watched->inherits(kXEmbedIconClass))
        iconButtonReleased(static_cast<QMouseEvent*>(event)->button());
    return QObject::eventFilter(watched, event);
}

} // namespace nms
