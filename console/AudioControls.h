#pragma once

#include <QObject>

namespace nms {

class FrmMain;

class AudioControls : public QObject {
    Q_OBJECT
public:
    explicit AudioControls(FrmMain& window);

private:
    FrmMain& w;
};

} // namespace nms
