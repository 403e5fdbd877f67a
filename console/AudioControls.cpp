#include "console/AudioControls.h"

#include "shell/FrmMain.h"

namespace nms {

AudioControls::AudioControls(FrmMain& window) : QObject(&window), w(window)
{
}

} // namespace nms
