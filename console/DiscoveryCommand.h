#pragma once
// Auto discovery from the window: the operator's confirmation, the detail fields cleared, the
// paging window shown while the discovery collects answers, and the list rebuilt at its end.

#include <QObject>

namespace nms {

class ConsoleCore;
class FrmPaging;
class NoticePresenter;

class DiscoveryCommand : public QObject {
    Q_OBJECT
public:
    DiscoveryCommand(ConsoleCore& core, NoticePresenter& notices, QObject* parent = nullptr);

    void cmdDiscover_Click();
    // The confirmation and, on Yes, the modal paging window; returns when that window has closed.
    void mnuDiscover_Click();

    // The paging window while it is open, else null.
    FrmPaging* paging() const { return paging_; }

Q_SIGNALS:
    // The paging window has started paging and is about to be shown.
    void pagingStarted();

private:
    bool Form_Load(FrmPaging& window);

    ConsoleCore& core_;
    NoticePresenter& notices_;
    FrmPaging* paging_ = nullptr;
};

} // namespace nms
