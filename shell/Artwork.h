#pragma once
// The pictures the window shows, drawn by the program itself.

#include <QIcon>
#include <QPixmap>
#include <QRectF>

class QPainter;

namespace nms::Artwork {

QPixmap ApplicationIcon(); // 32 x 32
// The application icon with a red dot in its lower right corner: something is down or silent.
QPixmap AttentionIcon(); // 32 x 32
// The same picture at any size, for the installed icons: drawn scaled into target.
void PaintApplicationIcon(QPainter& p, const QRectF& target);
QPixmap SaveIcon(); // 14 x 14
QPixmap RefreshIcon(); // 11 x 12
QPixmap DiscoverIcon(); // 16 x 16
QPixmap PlayPicture(); // 48 x 48
QPixmap StopPicture(); // 48 x 48
QPixmap LevelRamp(); // 140 x 8: blue at the left through green to yellow and orange

} // namespace nms::Artwork
