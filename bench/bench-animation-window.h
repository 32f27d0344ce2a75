#pragma once

#include <QRasterWindow>
#include <QRect>
#include <QTimer>

// Full-screen moving content for the recorders to chew on: a page of text-like marks, a
// square crossing it, a band of it scrolling like a terminal, and the monotonic clock as a
// time code, repainted about 60 times a second. Only what changed is repainted, so the
// window costs little next to the recorders it feeds. Each picture is a function of its time
// code alone, so a recorded frame can be compared with the picture the screen showed.
class BenchAnimationWindow : public QRasterWindow
{
    Q_OBJECT

public:
    // Where the time code sits on screen.
    static const QPoint TIME_CODE_ORIGIN;
    // A second, smaller one above the middle of the screen, inside every centred region of
    // at least 544x336 pixels.
    static constexpr int SMALL_CODE_CELL = 16;
    static QPoint smallCodeOrigin(const QSize &screen);
    // A region of `size` in the middle of the screen.
    static QRect centredArea(const QSize &screen, const QSize &size);

    explicit BenchAnimationWindow(const QRect &geometry);

    // CLOCK_MONOTONIC in milliseconds, shared by every process of the machine.
    static uint32_t monotonicMs();
    uint32_t startMs() const { return m_startMs; }
    // The whole picture of a screen of `size` at `timeMs` of an animation begun at `startMs`.
    static void paintPicture(QPainter &painter, const QSize &size, uint32_t startMs,
                             uint32_t timeMs);

Q_SIGNALS:
    void firstFrameShown();

protected:
    void paintEvent(QPaintEvent *event) override;
    void exposeEvent(QExposeEvent *event) override;

private:
    void tick();
    static QRect squareAt(const QSize &size, uint32_t elapsedMs);
    static QColor squareColor(uint32_t elapsedMs);
    static QRect bandAt(const QSize &size);
    static void paintMoving(QPainter &painter, const QSize &size, uint32_t elapsedMs);

    QTimer m_timer;
    QTimer m_raiseTimer;
    uint32_t m_startMs = 0;
    uint32_t m_frameMs = 0;
    QRect m_square;
    bool m_shown = false;
};
