#include "noise-window.h"

#include <QPainter>
#include <QRandomGenerator>

NoiseWindow::NoiseWindow()
    : m_image(640, 360, QImage::Format_RGB32)
{
    setFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    setGeometry(0, 0, m_image.width(), m_image.height());
    connect(&m_timer, &QTimer::timeout, this, [this] { update(); });
    m_timer.start(33);
}

void NoiseWindow::paintEvent(QPaintEvent *)
{
    auto *pixels = reinterpret_cast<quint32 *>(m_image.bits());
    QRandomGenerator::global()->fillRange(pixels, m_image.sizeInBytes() / sizeof(quint32));
    QPainter painter(this);
    painter.drawImage(0, 0, m_image);
}
