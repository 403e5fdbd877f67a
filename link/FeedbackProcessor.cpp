#include "link/FeedbackProcessor.h"

#include "shell/FrmMain.h"

namespace nms {

FeedbackProcessor::FeedbackProcessor(FrmMain& window) : QObject(&window), w(window)
{
}

} // namespace nms
