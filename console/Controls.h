#pragma once
// The window's own small control kinds: labels whose caption changes are events, drawn shapes
// that let the mouse through to the window (so the window can be dragged over them), clickable
// pictures and the level bar.

#include <QColor>
#include <QLabel>
#include <QPixmap>
#include <QWidget>

namespace nms {

// A label. setCaption() is the one way to change its text: it sizes an auto-sized label to its
// text and reports every setting through captionChanged, as the window's change handlers expect.
class Label : public QLabel {
    Q_OBJECT
public:
    explicit Label(const QString& caption, QWidget* parent, bool autoSize = true);
    QString caption() const { return text(); }
    void setCaption(const QString& caption);

Q_SIGNALS:
    void captionChanged(const QString& caption);

protected:
    // Labels take their own mouse events, so a drag that starts on one never moves the window.
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    bool autoSize_;
};

// A drawn shape: filled or outlined, square or rounded corners. Transparent for the mouse.
class Shape : public QWidget {
    Q_OBJECT
public:
    enum class Kind { Rectangle, RoundedRectangle };
    Shape(Kind kind, QWidget* parent);
    void setFillColor(const QColor& color);
    QColor fillColor() const { return fill_; }
    void setBorderColor(const QColor& color);
    void setFilled(bool filled);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Kind kind_;
    QColor fill_;
    QColor border_;
    bool filled_ = false;
};

// A horizontal line, transparent for the mouse.
class Line : public QWidget {
    Q_OBJECT
public:
    Line(QColor color, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor color_;
};

// A picture scaled into its box. Takes its own mouse events and reports a left click.
class Picture : public QWidget {
    Q_OBJECT
public:
    Picture(const QPixmap& pixmap, QWidget* parent);

Q_SIGNALS:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    QPixmap pixmap_;
};

// The level bar: a colour ramp that is never stretched; its width decides how much of the ramp
// shows, from the left edge.
class LevelBar : public QWidget {
    Q_OBJECT
public:
    LevelBar(const QPixmap& ramp, QWidget* parent);
    void setBarWidth(int pixels);
    int barWidth() const { return width(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QPixmap ramp_;
};

} // namespace nms
