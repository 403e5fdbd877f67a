#include "console/Controls.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace nms {

Label::Label(const QString& caption, QWidget* parent, bool autoSize) : QLabel(caption, parent), autoSize_(autoSize)
{
    setTextFormat(Qt::PlainText);
    if (autoSize_)
        adjustSize();
}

void Label::setCaption(const QString& caption)
{
    setText(caption);
    if (autoSize_)
        adjustSize();
    Q_EMIT captionChanged(caption);
}

void Label::mousePressEvent(QMouseEvent* event)
{
    event->accept();
}

void Label::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
}

Shape::Shape(Kind kind, QWidget* parent) : QWidget(parent), kind_(kind)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void Shape::setFillColor(const QColor& color)
{
    fill_ = color;
    update();
}

void Shape::setBorderColor(const QColor& color)
{
    border_ = color;
    update();
}

void Shape::setFilled(bool filled)
{
    filled_ = filled;
    update();
}

void Shape::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, kind_ == Kind::RoundedRectangle);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(border_.isValid() ? QPen(border_) : QPen(Qt::NoPen));
    painter.setBrush(filled_ ? QBrush(fill_) : QBrush(Qt::NoBrush));
    if (kind_ == Kind::RoundedRectangle)
        painter.drawRoundedRect(box, 8, 8);
    else
        painter.drawRect(box);
}

Line::Line(QColor color, QWidget* parent) : QWidget(parent), color_(color)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void Line::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), color_);
}

Picture::Picture(const QPixmap& pixmap, QWidget* parent) : QWidget(parent), pixmap_(pixmap)
{
    setCursor(Qt::PointingHandCursor);
}

void Picture::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(rect(), pixmap_);
}

void Picture::mousePressEvent(QMouseEvent* event)
{
    event->accept();
}

void Picture::mouseMoveEvent(QMouseEvent* event)
{
    event->accept();
}

void Picture::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Q_EMIT clicked();
}

LevelBar::LevelBar(const QPixmap& ramp, QWidget* parent) : QWidget(parent), ramp_(ramp)
{
}

void LevelBar::setBarWidth(int pixels)
{
    resize(qMax(0, pixels), height());
    update();
}

void LevelBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    // Reveal the ramp from the left at its own size: never stretched.
    painter.drawPixmap(QPoint(0, 0), ramp_, QRect(0, 0, width(), height()));
}

void LevelBar::mousePressEvent(QMouseEvent* event)
{
    event->accept();
}

} // namespace nms
