#include "flat-window.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

FlatWindow::FlatWindow(const QColor &colour, const QRect &geometry)
    : m_colour(colour)
{
    setFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint | Qt::WindowStaysOnTopHint);
    setGeometry(geometry.isValid() ? geometry : QGuiApplication::primaryScreen()->geometry());
}

void FlatWindow::fill(const QColor &colour)
{
    m_colour = colour;
    update();
}

void FlatWindow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(QRect(QPoint(0, 0), size()), m_colour);
}
