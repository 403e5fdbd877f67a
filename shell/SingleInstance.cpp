#include "shell/SingleInstance.h"

#include "platform/MessageBoxes.h"
#include "services/InstanceLock.h"

namespace nms {

bool CheckSingleInstance(InstanceLock& lock, MessageBoxes& messages)
{
    switch (lock.tryLock()) {
    case InstanceLock::Result::Acquired: return true;
    case InstanceLock::Result::HeldByOther:
        messages.show(MsgIcon::Information, QStringLiteral("Kestrion NMS"),
                      QStringLiteral("Kestrion MPX IP STL NMS is already running (check the icon in system tray)!"),
                      false);
        return false;
    case InstanceLock::Result::Failed:
        // Not a second copy: the console starts, and binding its port still refuses a second one.
        messages.show(
            MsgIcon::Error, ProgramTitle(),
            QStringLiteral("The single-instance lock %1 could not be opened: %2.").arg(lock.path(), lock.errorString())
                + QStringLiteral("\rThe console starts anyway."),
            false);
        return true;
    }
    return true;
}

} // namespace nms
