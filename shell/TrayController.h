#pragma once
// The notification-area icon: added at start-up, added again by every minimise (harmless when it
// is there), removed at every end. A left- or right-button release on it brings the window back;
// the right button then opens the tray's menu. It shows the monitor's alarms, its summary as the
// tooltip's second line, and a marked icon while anything is down or silent. Without a
// notification area all of this does nothing.

#include <QObject>
#include <QPoint>
#include <QSystemTrayIcon>

#include <memory>
#include <optional>

class QMenu;
class QWidget;

namespace nms {

class LinkMonitor;

class TrayController : public QObject {
    Q_OBJECT
public:
    // enabled false: no icon at all (tests of the window alone).
    TrayController(QWidget& window, bool enabled);
    ~TrayController() override;

    void add();
    void remove();
    bool hasIcon() const { return icon_ != nullptr && icon_->isVisible(); }
    QSystemTrayIcon* icon() const { return icon_; }
    // Opened by a right-button release; never while it is empty.
    QMenu* menu() const { return menu_.get(); }

    void MinimizeToTray();
    // A release of a mouse button over the icon (the tray's own event reports it), where the
    // pointer was; the menu opens there (at the cursor when unknown).
    void iconButtonReleased(Qt::MouseButton button, std::optional<QPoint> at = std::nullopt);

    // The tooltip's second line follows the monitor's summary, at most once per batch.
    void followSummary(const LinkMonitor& monitor, int batchMs = 250);
    void setAttention(bool attention);
    void showAlarm(const QString& title, const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onActivated(QSystemTrayIcon::ActivationReason reason);
    bool iconHasOwnWidget() const;
    QString toolTip() const;

    QWidget& window_;
    bool enabled_;
    QSystemTrayIcon* icon_ = nullptr;
    std::unique_ptr<QMenu> menu_;
    QString summary_;
    bool attention_ = false;
};

} // namespace nms
