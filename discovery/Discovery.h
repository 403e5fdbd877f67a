#pragma once

#include <QObject>

namespace nms {

class FrmMain;

class Discovery : public QObject {
    Q_OBJECT
public:
    explicit Discovery(FrmMain& window);

private:
    FrmMain& w;
};

} // namespace nms
