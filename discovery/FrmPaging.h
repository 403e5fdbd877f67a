#pragma once
// The small modal window shown while the network is paged. Its load clears and recreates the
// database, aims the link at the broadcast address and sends the one paging request; its timer
// ends the paging three seconds later, puts the link's destination back and reloads the list.
// Only the timer closes it: Escape, Alt+F4 and the window manager are refused until then.

#include <QDialog>
#include <QString>

class QCloseEvent;
class QLabel;
class QTimer;

namespace nms {

class FrmMain;

class FrmPaging : public QDialog {
    Q_OBJECT
public:
    explicit FrmPaging(FrmMain& window);

    // Steps run before the window is drawn. False when paging could not start (the database file
    // or the broadcast failed): the operator has been told why, the link's destination is back,
    // the discovery flag is False, the list is reloaded and the window must not be shown.
    bool Form_Load();
    void Timer1_Timer();

    // The destination the link had when paging began.
    QString savedHost() const { return savedHost_; }
    quint16 savedPort() const { return savedPort_; }
    bool pagingEnded() const { return ended_; }

    QLabel* Label1;
    QTimer* Timer1;

    static constexpr int PagingMs = 3000;

public Q_SLOTS:
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    bool recreateDatabase();
    void endPaging();

    FrmMain& w;
    QString savedHost_;
    quint16 savedPort_ = 0;
    bool ended_ = false;
};

} // namespace nms
