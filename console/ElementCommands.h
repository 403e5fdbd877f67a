#pragma once
// The window's pop-up menu commands for one element: Manual add (ask one address, wait for its
// answer with the paging window shown, then list and show the element) and Delete (confirmed,
// the selected element's section removed, the list reloaded and the details cleared).

#include <QObject>

class QAction;

namespace nms {

class ConsoleCore;
class FrmPaging;
class NoticePresenter;

class ElementCommands : public QObject {
    Q_OBJECT
public:
    // Delete is offered only while an element is shown.
    ElementCommands(ConsoleCore& core, NoticePresenter& notices, QAction* mnuAdd, QAction* mnuDelete,
                    QObject* parent = nullptr);

    void mnuAdd_Click();
    void mnuDelete_Click();

    // The paging window while an add waits for its answer, else null.
    FrmPaging* waiting() const { return waiting_; }

Q_SIGNALS:
    // The element was asked and the paging window is about to be shown.
    void addStarted();

private:
    ConsoleCore& core_;
    NoticePresenter& notices_;
    FrmPaging* waiting_ = nullptr;
};

} // namespace nms
