#include "shell/TrayController.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>

#include "monitor/LinkMonitor.h"
#include "shell/Artwork.h"
#include "shell/FrmMain.h"

namespace nms {

namespace {
// Qt draws an XEmbed tray icon with a widget of this class. Its button releases are what bring
// the window back; Qt's own activation signal fires on the press.
constexpr char kXEmbedIconClass[] = "QSystemTrayIconSys";
} // namespace

TrayController::TrayController(QWidget& window, bool enabled)
    : QObject(&window), window_(window), enabled_(enabled), menu_(std::make_unique<QMenu>())
{
}

TrayController::~TrayController() = default;

QString TrayController::toolTip() const
{
    return summary_.isEmpty() ? TrayTipText() : TrayTipText() + QLatin1Char('\n') + summary_;
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
    icon_ = new QSystemTrayIcon(QIcon(attention_ ? Artwork::AttentionIcon() : Artwork::ApplicationIcon()), this);
    icon_->setToolTip(toolTip());
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

void TrayController::iconButtonReleased(Qt::MouseButton button, std::optional<QPoint> at)
{
    if (button != Qt::LeftButton && button != Qt::RightButton)
        return;
    if (window_.isHidden())
        window_.show();
    // After the window, so that the menu opens over it.
    if (button == Qt::RightButton && !menu_->isEmpty())
        menu_->popup(at.value_or(QCursor::pos()));
}

void TrayController::followSummary(const LinkMonitor& monitor, int batchMs)
{
    auto* batch = new QTimer(this);
    batch->setSingleShot(true);
    batch->setInterval(batchMs);
    connect(batch, &QTimer::timeout, this, [this, &monitor] {
        // Nothing watched (watching is off): no second line rather than "0 elements".
        summary_ = monitor.elements().isEmpty() ? QString() : SummaryText(monitor.summary());
        if (icon_)
            icon_->setToolTip(toolTip());
    });
    const auto changed = [batch] {
        if (!batch->isActive())
            batch->start();
    };
    connect(&monitor, &LinkMonitor::elementsReset, batch, changed);
    connect(&monitor, &LinkMonitor::stateChanged, batch, changed);
    // What it says now, too.
    batch->start();
}

void TrayController::setAttention(bool attention)
{
    attention_ = attention;
    if (icon_)
        icon_->setIcon(QIcon(attention_ ? Artwork::AttentionIcon() : Artwork::ApplicationIcon()));
}

void TrayController::showAlarm(const QString& title, const QString& text)
{
    // Never a box of our own where the desktop has no notifications.
    if (hasIcon() && QSystemTrayIcon::isSystemTrayAvailable() && QSystemTrayIcon::supportsMessages())
        icon_->showMessage(title, text, QSystemTrayIcon::Warning);
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
    if (event->type() == QEvent::MouseButtonRelease && watched->inherits(kXEmbedIconClass)) {
        const auto* release = static_cast<QMouseEvent*>(event);
        iconButtonReleased(release->button(), release->globalPosition().toPoint());
    }
    return QObject::eventFilter(watched, event);
}

} // namespace nms
