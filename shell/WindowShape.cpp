#include "shell/WindowShape.h"

#include <QGuiApplication>

#include <QPainterPath>
#include <QPolygon>
#include <QWidget>

namespace nms {

QRegion WindowShapeRegion(QSize size, int shape)
{
    const int w = size.width();
    const int h = size.height();
    switch (shape) {
    case 0: return QRegion(0, 0, w, h, QRegion::Ellipse);
    case 1: {
        // Corner ellipses 20 x 20: radius 10. The polygon of the path is exact enough at this size.
        QPainterPath path;
        path.addRoundedRect(QRectF(0, 0, w, h), 10, 10);
        return QRegion(path.toFillPolygon().toPolygon(), Qt::WindingFill);
    }
    case 2: {
        QPolygon diamond;
        diamond << QPoint(w / 2, 0) << QPoint(0, h / 2) << QPoint(w / 2, h) << QPoint(w, h / 2);
        return QRegion(diamond, Qt::OddEvenFill);
    }
    default: return QRegion();
    }
}

void SetWindowShape(QWidget* window, int shape)
{
    const QRegion region = WindowShapeRegion(window->frameGeometry().size(), shape);
    if (region.isEmpty())
        window->clearMask();
    else
        window->setMask(region);
    // X clips a window to its mask; a Wayland compositor takes it only as the input region. There
    // the window is made translucent and draws nothing outside the outline (see DrawsOwnOutline).
    if (DrawsOwnOutline()) {
        window->setAttribute(Qt::WA_TranslucentBackground, !region.isEmpty());
        window->setAutoFillBackground(region.isEmpty());
    }
}

bool DrawsOwnOutline()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

} // namespace nms
