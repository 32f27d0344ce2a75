#include "bench-animation-window.h"

#include "bench-time-code.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QRandomGenerator>

#include <time.h>

const QPoint BenchAnimationWindow::TIME_CODE_ORIGIN(64, 64);

namespace {

const QColor BACKGROUND(24, 40, 64);
const int SQUARE_SIDE = 240;
// Pixels per second: fast enough that no two captured frames can look alike.
const int SQUARE_SPEED = 600;
const int SCROLL_SPEED = 120;
const int TEXTURE_HEIGHT = 1024;

// Lines of word-sized marks in a few greys, the same in every process: fine detail that a
// recorder must keep legible, as on a real desktop.
QImage textPage(int width, int height, const QColor &paper)
{
    QImage page(qMax(1, width), qMax(1, height), QImage::Format_RGB32);
    page.fill(paper);
    QPainter painter(&page);
    QRandomGenerator random(20261208);
    for (int y = 6; y + 10 < height; y += 20) {
        for (int x = 8; x < width;) {
            const int word = 12 + int(random.bounded(80));
            const int grey = 150 + int(random.bounded(100));
            painter.fillRect(QRect(x, y, qMin(word, width - x), 10), QColor(grey, grey, grey));
            // letters: thin gaps in the mark
            for (int gap = x + 5; gap < x + word; gap += 6 + int(random.bounded(4)))
                painter.fillRect(QRect(gap, y, 1, 10), paper);
            x += word + 6 + int(random.bounded(10));
        }
    }
    return page;
}

const QImage &background(const QSize &size)
{
    static QImage page;
    if (page.size() != size)
        page = textPage(size.width(), size.height(), BACKGROUND);
    return page;
}

const QPixmap &scrollTexture(int width)
{
    static QPixmap texture;
    if (texture.width() != width)
        texture = QPixmap::fromImage(textPage(width, TEXTURE_HEIGHT, QColor(12, 12, 12)));
    return texture;
}

} // namespace

BenchAnimationWindow::BenchAnimationWindow(const QRect &geometry)
{
    setFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint | Qt::WindowStaysOnTopHint);
    setGeometry(geometry);
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(16);
    connect(&m_timer, &QTimer::timeout, this, &BenchAnimationWindow::tick);
    // A recorder's own windows must not cover the picture both recorders are given.
    m_raiseTimer.setInterval(500);
    connect(&m_raiseTimer, &QTimer::timeout, this, &QWindow::raise);
    m_startMs = monotonicMs();
    m_frameMs = m_startMs;
    m_square = squareAt(size(), 0);
}

uint32_t BenchAnimationWindow::monotonicMs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint32_t(uint64_t(now.tv_sec) * 1000u + uint64_t(now.tv_nsec) / 1000000u);
}

QRect BenchAnimationWindow::squareAt(const QSize &size, uint32_t elapsedMs)
{
    // Back and forth along the middle of the screen.
    const int travel = qMax(1, size.width() - SQUARE_SIDE);
    const qint64 distance = qint64(elapsedMs) * SQUARE_SPEED / 1000 % (2 * travel);
    const int x = int(distance < travel ? distance : 2 * travel - distance);
    return QRect(x, (size.height() - SQUARE_SIDE) / 2, SQUARE_SIDE, SQUARE_SIDE);
}

QColor BenchAnimationWindow::squareColor(uint32_t elapsedMs)
{
    // The hue turns with time, so even a square standing still would change.
    return QColor::fromHsv(int(elapsedMs / 10 % 360), 200, 230);
}

QRect BenchAnimationWindow::centredArea(const QSize &screen, const QSize &size)
{
    return QRect(QPoint((screen.width() - size.width()) / 2, (screen.height() - size.height()) / 2),
                 size);
}

QPoint BenchAnimationWindow::smallCodeOrigin(const QSize &screen)
{
    const QRect code = BenchTimeCode::area(QPoint(0, 0), SMALL_CODE_CELL);
    return QPoint((screen.width() - code.width()) / 2,
                  (screen.height() - SQUARE_SIDE) / 2 - code.height() - 8);
}

QRect BenchAnimationWindow::bandAt(const QSize &size)
{
    const int height = size.height() / 5;
    return QRect(0, size.height() - height - 20, size.width(), height);
}

void BenchAnimationWindow::paintMoving(QPainter &painter, const QSize &size, uint32_t elapsedMs)
{
    painter.fillRect(squareAt(size, elapsedMs), squareColor(elapsedMs));
    const int scrolled = int(qint64(elapsedMs) * SCROLL_SPEED / 1000 % TEXTURE_HEIGHT);
    painter.drawTiledPixmap(bandAt(size), scrollTexture(size.width()), QPoint(0, scrolled));
}

void BenchAnimationWindow::paintPicture(QPainter &painter, const QSize &size, uint32_t startMs,
                                        uint32_t timeMs)
{
    painter.drawImage(QPoint(0, 0), background(size));
    paintMoving(painter, size, timeMs - startMs);
    BenchTimeCode::paint(painter, TIME_CODE_ORIGIN, timeMs);
    BenchTimeCode::paint(painter, smallCodeOrigin(size), timeMs, SMALL_CODE_CELL);
}

void BenchAnimationWindow::tick()
{
    m_frameMs = monotonicMs();
    const QRect next = squareAt(size(), m_frameMs - m_startMs);
    update(QRegion(m_square) + QRegion(next) + BenchTimeCode::area(TIME_CODE_ORIGIN)
           + BenchTimeCode::area(smallCodeOrigin(size()), SMALL_CODE_CELL) + bandAt(size()));
    m_square = next;
}

void BenchAnimationWindow::exposeEvent(QExposeEvent *event)
{
    QRasterWindow::exposeEvent(event);
    if (isExposed() && !m_shown) {
        m_shown = true;
        m_timer.start();
        m_raiseTimer.start();
        emit firstFrameShown();
    }
}

void BenchAnimationWindow::paintEvent(QPaintEvent *event)
{
    // Everything outside the repainted region is the page already; the region holds the old
    // square, the new one, the band and the time code.
    QPainter painter(this);
    for (const QRect &rect : event->region())
        painter.drawImage(rect, background(size()), rect);
    paintMoving(painter, size(), m_frameMs - m_startMs);
    BenchTimeCode::paint(painter, TIME_CODE_ORIGIN, m_frameMs);
    BenchTimeCode::paint(painter, smallCodeOrigin(size()), m_frameMs, SMALL_CODE_CELL);
}
