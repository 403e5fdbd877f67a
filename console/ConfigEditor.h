#pragma once

#include <QObject>

namespace nms {

class FrmMain;

class ConfigEditor : public QObject {
    Q_OBJECT
public:
    explicit ConfigEditor(FrmMain& window);

private:
    FrmMain& w;
};

} // namespace nms
