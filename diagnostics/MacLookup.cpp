#include "diagnostics/MacLookup.h"

#include "shell/FrmMain.h"

namespace nms {

MacLookup::MacLookup(FrmMain& window) : QObject(&window), w(window)
{
}

} // namespace nms
