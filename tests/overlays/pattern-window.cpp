#include "pattern-window.h"

#include <QMouseEvent>
#include <QPainter>

namespace {
constexpr int TILE = 40;
const QColor COLOURS[]
        = {QColor(230, 40, 40), QColor(40, 200, 60), QColor(250, 220, 30), QColor(200, 60, 220)};
} // namespace

PatternWindow::PatternWindow(QWidget *parent)
    : QWidget(parent)
{
    setWindowTitle(QStringLiteral("pattern"));
}

QColor PatternWindow::colourAt(const QPoint &pos)
{
    const int index = ((pos.x() / TILE) + 2 * (pos.y() / TILE)) % 4;
    return COLOURS[index];
}

void PatternWindow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    for (int y = 0; y < height(); y += TILE)
        for (int x = 0; x < width(); x += TILE)
            painter.fillRect(x, y, TILE, TILE, colourAt(QPoint(x, y)));
}

void PatternWindow::mousePressEvent(QMouseEvent *event)
{
    ++m_presses;
    event->accept();
}
