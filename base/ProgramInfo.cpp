#include "base/ProgramInfo.h"

namespace nms {

QString ProgramTitle()
{
    return QStringLiteral("Orbilane NMS");
}

QString VersionText()
{
    return QStringLiteral("%1.%2.%3").arg(NMS_VERSION_MAJOR).arg(NMS_VERSION_MINOR).arg(NMS_VERSION_PATCH);
}

} // namespace nms
