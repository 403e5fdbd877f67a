#pragma once

#include <QObject>

namespace nms {

class FrmMain;

class FeedbackProcessor : public QObject {
    Q_OBJECT
public:
    explicit FeedbackProcessor(FrmMain& window);

private:
    FrmMain& w;
};

} // namespace nms
