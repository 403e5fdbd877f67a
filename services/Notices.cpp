#include "services/Notices.h"

namespace nms {

QString ProgramTitle()
{
    return QStringLiteral("Orbilane NMS");
}

} // namespace nms
