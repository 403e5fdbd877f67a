#include "console/PingPanel.h"

#include "console/Controls.h"

namespace nms {

PingPanel::PingPanel(Shape* shpPing, Label* lblPing, EchoProbe& probe, QObject* parent)
    : QObject(parent), shpPing_(shpPing), lblPing_(lblPing)
{
    connect(&probe, &EchoProbe::displayChanged, this, &PingPanel::show);
}

QColor PingPanel::LookColour(EchoProbe::Look look)
{
    switch (look) {
    case EchoProbe::Look::Answered: return QColor(0, 255, 0);
    case EchoProbe::Look::Failed: return QColor(255, 0, 0);
    case EchoProbe::Look::NotProbed: break;
    }
    return QColor(255, 255, 192);
}

void PingPanel::show(EchoProbe::Look look, const QString& caption)
{
    shpPing_->setFillColor(LookColour(look));
    lblPing_->setCaption(caption);
}

} // namespace nms
