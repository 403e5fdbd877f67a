#pragma once
// Auto discovery: after the operator confirms, the database is rebuilt from the elements that
// answer one broadcast paging request within three seconds.

#include <QObject>

namespace nms {

class FrmMain;
class FrmPaging;

class Discovery : public QObject {
    Q_OBJECT
public:
    explicit Discovery(FrmMain& window);

    void cmdDiscover_Click();
    // The confirmation and, on Yes, the modal paging window; returns when that window has closed.
    void mnuDiscover_Click();

    // The paging window while it is open, else null.
    FrmPaging* paging() const { return paging_; }

Q_SIGNALS:
    // The paging window has started paging and is about to be shown.
    void pagingStarted();

private:
    FrmMain& w;
    FrmPaging* paging_ = nullptr;
};

} // namespace nms
