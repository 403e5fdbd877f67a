#include "app/PortOwner.h"

#include "services/WatchPresence.h"

namespace nms {

QString WatchServiceHoldsPortText(quint16 port)
{
    if (!WatchServiceRunning())
        return QString();
    return QStringLiteral("The watch service (orbilane-watch) is running on this machine and holds port %1.").arg(port)
        + QStringLiteral("\rStop it with: sudo systemctl stop orbilane-watch")
        + QStringLiteral("\rorbilanectl list and orbilanectl show still work beside it.");
}

} // namespace nms
