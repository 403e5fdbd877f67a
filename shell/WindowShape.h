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
// True where the platform does not clip a window to its mask (Wayland): the window then paints
// its background inside the outline only, and so must every child that reaches its edge.
bool DrawsOwnOutline();

} // namespace nms
