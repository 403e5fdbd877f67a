#pragma once
// The "Ping response:" area: the probe's look as the fill of shpPing, its caption in lblPing.

#include <QColor>
#include <QObject>

#include "session/EchoProbe.h"

namespace nms {

class Label;
class Shape;

class PingPanel : public QObject {
    Q_OBJECT
public:
    PingPanel(Shape* shpPing, Label* lblPing, EchoProbe& probe, QObject* parent = nullptr);

    static QColor LookColour(EchoProbe::Look look);

private:
    void show(EchoProbe::Look look, const QString& caption);

    Shape* shpPing_;
    Label* lblPing_;
};

} // namespace nms
