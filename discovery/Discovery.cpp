#include "discovery/Discovery.h"

#include "shell/FrmMain.h"

namespace nms {

Discovery::Discovery(FrmMain& window) : QObject(&window), w(window)
{
}

} // namespace nms
