#include "link/LinkEndpoint.h"

#include "shell/FrmMain.h"

namespace nms {

LinkEndpoint::LinkEndpoint(FrmMain& window) : QObject(&window), w(window)
{
}

} // namespace nms
