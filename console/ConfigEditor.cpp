#include "console/ConfigEditor.h"

#include "shell/FrmMain.h"

namespace nms {

ConfigEditor::ConfigEditor(FrmMain& window) : QObject(&window), w(window)
{
}

} // namespace nms
