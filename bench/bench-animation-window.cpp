#include "bench-animation-window.h"

#include "bench-time-code.h"

#include <QPaintEvent>
#include <QPainter>

#include <time.h>

const QPoint BenchAnimationWindow::TIME_CODE_ORIGIN(64, 64);

namespace {

const QColor BACKGROUND(24, 40, 64);
const int SQUARE_SIDE = 240;
// Pixels per second: fast enough that no two captured frames can look alike.
const int SQUARE_SPEED = 600;

} // namespace

BenchAnimationWindow::BenchAnimationWindow(const QRect &geometry)
{
    setFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint | Qt::WindowStaysOnTopHint);
    setGeometry(geometry);
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(16);
    connect(&m_timer, &QTimer::timeout, this, &BenchAnimationWindow::tick);
    m_clock.start();
    m_square = squareAt(0);
}

uint32_t BenchAnimationWindow::monotonicMs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint32_t(uint64_t(now.tv_sec) * 1000u + uint64_t(now.tv_nsec) / 1000000u);
}

QRect BenchAnimationWindow::squareAt(qint64 elapsedMs) const
{
    // Back and forth along the middle of the screen.
    const int travel = qMax(1, width() - SQUARE_SIDE);
    const qint64 distance = elapsedMs * SQUARE_SPEED / 1000 % (2 * travel);
    const int x = int(distance < travel ? distance : 2 * travel - distance);
    return QRect(x, (height() - SQUARE_SIDE) / 2, SQUARE_SIDE, SQUARE_SIDE);
}

void BenchAnimationWindow::tick()
{
    const QRect next = squareAt(m_clock.elapsed());
    update(QRegion(m_square) + QRegion(next) + BenchTimeCode::area(TIME_CODE_ORIGIN));
    m_square = next;
}

void BenchAnimationWindow::exposeEvent(QExposeEvent *event)
{
    QRasterWindow::exposeEvent(event);
    if (isExposed() && !m_shown) {
        m_shown = true;
        m_timer.start();
        emit firstFrameShown();
    }
}

void BenchAnimationWindow::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    for (const QRect &rect : event->region())
        painter.fillRect(rect, BACKGROUND);
    // The hue turns with time, so even a square standing still would change.
    const int hue = int(m_clock.elapsed() / 10 % 360);
    painter.fillRect(m_square, QColor::fromHsv(hue, 200, 230));
    BenchTimeCode::paint(painter, TIME_CODE_ORIGIN, monotonicMs());
}
