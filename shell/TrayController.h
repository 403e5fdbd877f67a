#pragma once
// The notification-area icon: added at start-up, added again by every minimise (harmless when it
// is there), removed at every end. A left- or right-button release on it brings the window back.

#include <QObject>
#include <QSystemTrayIcon>

namespace nms {

class FrmMain;

class TrayController : public QObject {
    Q_OBJECT
public:
    explicit TrayController(FrmMain& window);

    void add();
    void remove();
    bool hasIcon() const { return icon_ != nullptr && icon_->isVisible(); }
    QSystemTrayIcon* icon() const { return icon_; }

    void MinimizeToTray();
    // A release of a mouse button over the icon (the tray's own event reports it).
    void iconButtonReleased(Qt::MouseButton button);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onActivated(QSystemTrayIcon::ActivationReason reason);
    bool iconHasOwnWidget() const;

    FrmMain& w;
    QSystemTrayIcon* icon_ = nullptr;
};

} // namespace nms
