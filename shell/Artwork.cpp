#include "shell/Artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace nms::Artwork {

namespace {

QPixmap Blank(int w, int h)
{
    QPixmap pixmap(w, h);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

} // namespace

void PaintApplicationIcon(QPainter& p, const QRectF& target)
{
    // A transmitter mast sending waves: the link's two ends. Drawn on a 32 x 32 grid.
    p.save();
    p.translate(target.topLeft());
    p.scale(target.width() / 32.0, target.height() / 32.0);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0, 0, 64));
    p.setPen(QPen(QColor(90, 140, 255), 1.5));
    p.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
    p.setPen(QPen(Qt::white, 2));
    p.drawLine(QPointF(16, 12), QPointF(10, 27));
    p.drawLine(QPointF(16, 12), QPointF(22, 27));
    p.drawLine(QPointF(12, 21), QPointF(20, 21));
    p.setBrush(QColor(255, 200, 0));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(16, 10), 2.5, 2.5);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 200, 0), 1.6));
    p.drawArc(QRectF(9, 3, 14, 14), 30 * 16, 120 * 16);
    p.drawArc(QRectF(5, -1, 22, 22), 35 * 16, 110 * 16);
    p.restore();
}

QPixmap ApplicationIcon()
{
    QPixmap pixmap = Blank(32, 32);
    QPainter p(&pixmap);
    PaintApplicationIcon(p, QRectF(0, 0, 32, 32));
    return pixmap;
}

QPixmap AttentionIcon()
{
    QPixmap pixmap = ApplicationIcon();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    // A white ring keeps the dot apart from the icon's dark ground at tray sizes.
    p.setPen(QPen(Qt::white, 1.5));
    p.setBrush(QColor(220, 20, 20));
    p.drawEllipse(QPointF(24, 24), 6.5, 6.5);
    return pixmap;
}

QPixmap SaveIcon()
{
    // A floppy disk.
    QPixmap pixmap = Blank(14, 14);
    QPainter p(&pixmap);
    p.fillRect(0, 0, 14, 14, QColor(30, 60, 150));
    p.fillRect(3, 1, 8, 5, QColor(230, 230, 230));
    p.fillRect(8, 2, 2, 3, QColor(30, 60, 150));
    p.fillRect(2, 8, 10, 6, QColor(250, 250, 250));
    p.setPen(QColor(150, 150, 150));
    p.drawLine(4, 10, 9, 10);
    p.drawLine(4, 12, 9, 12);
    return pixmap;
}

QPixmap RefreshIcon()
{
    // A circular arrow: back to what was saved.
    QPixmap pixmap = Blank(11, 12);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 120, 0), 1.8));
    p.drawArc(QRectF(1.5, 2.5, 8, 8), 60 * 16, 280 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 120, 0));
    QPolygonF head;
    head << QPointF(5.5, 0) << QPointF(9.5, 2.8) << QPointF(5.5, 5.6);
    p.drawPolygon(head);
    return pixmap;
}

QPixmap DiscoverIcon()
{
    // A magnifying glass over the network.
    QPixmap pixmap = Blank(16, 16);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(20, 20, 120), 2));
    p.setBrush(QColor(200, 230, 255));
    p.drawEllipse(QRectF(1.5, 1.5, 9, 9));
    p.setPen(QPen(QColor(120, 70, 20), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(10, 10), QPointF(14.5, 14.5));
    return pixmap;
}

QPixmap PlayPicture()
{
    QPixmap pixmap = Blank(48, 48);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0, 90, 0), 3));
    p.setBrush(QColor(40, 200, 40));
    p.drawEllipse(QRectF(2, 2, 44, 44));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    QPolygonF triangle;
    triangle << QPointF(18, 12) << QPointF(37, 24) << QPointF(18, 36);
    p.drawPolygon(triangle);
    return pixmap;
}

QPixmap StopPicture()
{
    QPixmap pixmap = Blank(48, 48);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(120, 0, 0), 3));
    p.setBrush(QColor(220, 40, 40));
    p.drawEllipse(QRectF(2, 2, 44, 44));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(15, 15, 18, 18));
    return pixmap;
}

QPixmap LevelRamp()
{
    QPixmap pixmap(140, 8);
    QPainter p(&pixmap);
    QLinearGradient ramp(0, 0, 140, 0);
    ramp.setColorAt(0.0, QColor(0, 0, 255));
    ramp.setColorAt(0.45, QColor(0, 220, 0));
    ramp.setColorAt(0.75, QColor(255, 255, 0));
    ramp.setColorAt(1.0, QColor(255, 140, 0));
    p.fillRect(pixmap.rect(), ramp);
    return pixmap;
}

} // namespace nms::Artwork
