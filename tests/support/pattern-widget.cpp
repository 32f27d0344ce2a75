#include "pattern-widget.h"

#include <QMouseEvent>
#include <QPainter>

QColor desktopColour(int x, int y)
{
    const int cx = x / 16;
    const int cy = y / 16;
    return QColor((cx * 29 + 40) % 256, (cy * 47 + 10) % 256, ((cx + cy) * 13 + 90) % 256);
}

int patternMismatches(const QImage &image, const QPoint &origin, int tolerance,
                      QColor (*colour)(int, int), const QRect &skip)
{
    int mismatches = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            if (skip.contains(x, y))
                continue;
            const QColor a = image.pixelColor(x, y);
            const QColor b = colour(origin.x() + x, origin.y() + y);
            mismatches += qAbs(a.red() - b.red()) + qAbs(a.green() - b.green())
                            + qAbs(a.blue() - b.blue())
                    > tolerance;
        }
    return mismatches;
}

PatternWidget::PatternWidget(QColor (*colour)(int, int), bool global, Qt::WindowFlags flags)
    : QWidget(nullptr, Qt::FramelessWindowHint | flags)
    , m_colour(colour)
    , m_global(global)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PatternWidget::mousePressEvent(QMouseEvent *event)
{
    presses << event->globalPosition().toPoint();
}

void PatternWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QPoint origin = m_global ? geometry().topLeft() : QPoint();
    // The patterns change colour only on multiples of 8 from the painted origin.
    for (int y = 0; y < height(); y += 8)
        for (int x = 0; x < width(); x += 8)
            painter.fillRect(x, y, 8, 8, m_colour(origin.x() + x, origin.y() + y));
}
