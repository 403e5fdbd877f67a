#pragma once
// The small modal window shown while a discovery collects answers. Only the end of the discovery
// closes it: Escape, Alt+F4 and the window manager are refused until then.

#include <QDialog>

class QCloseEvent;
class QLabel;

namespace nms {

class FrmPaging : public QDialog {
    Q_OBJECT
public:
    FrmPaging();

    // The discovery is over: the window may close, and does.
    void endPaging();
    bool pagingEnded() const { return ended_; }

    QLabel* Label1;

public Q_SLOTS:
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    bool ended_ = false;
};

} // namespace nms
