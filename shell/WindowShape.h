#pragma once
// The window outline: 0 ellipse, 1 rounded rectangle (20-pixel corner ellipses), 2 diamond,
// any other code no outline.

#include <QRegion>
#include <QSize>

class QWidget;

namespace nms {

// The region for a window of the given outer size, in window coordinates; empty for no outline.
QRegion WindowShapeRegion(QSize size, int shape);
// Clips the window to the region (an empty region removes the clipping).
void SetWindowShape(QWidget* window, int shape);

} // namespace nms
