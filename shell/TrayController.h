#pragma once
// The notification-area icon: added at start-up, added again by every minimise (harmless when it
// is there), removed at every end. A left- or right-button release on it brings the window back.

#include <QObject>
#include <QSystemTrayIcon>

class QWidget;

namespace nms {

class TrayController : public QObject {
    Q_OBJECT
public:
    // enabled false: no icon at all (tests of the window alone).
    TrayController(QWidget& window, bool enabled);

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

    QWidget& window_;
    bool enabled_;
    QSystemTrayIcon* icon_ = nullptr;
};

} // namespace nms
