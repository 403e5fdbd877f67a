#pragma once

#include <QObject>

namespace nms {

class FrmMain;

class MacLookup : public QObject {
    Q_OBJECT
public:
    explicit MacLookup(FrmMain& window);

private:
    FrmMain& w;
};

} // namespace nms
