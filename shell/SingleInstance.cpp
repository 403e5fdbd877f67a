#include "shell/SingleInstance.h"

#include "platform/InstanceLock.h"
#include "platform/MessageBoxes.h"

namespace nms {

bool CheckSingleInstance(InstanceLock& lock, MessageBoxes& messages)
{
    if (lock.tryLock())
        return true;
    messages.show(MsgIcon::Information, QStringLiteral("Kestrion NMS"),
                  QStringLiteral("Kestrion MPX IP STL NMS is already running (check the icon in system tray)!"), false);
    return false;
}

} // namespace nms
