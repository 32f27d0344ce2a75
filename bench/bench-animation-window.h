#pragma once

#include <QElapsedTimer>
#include <QRasterWindow>
#include <QRect>
#include <QTimer>

// Full-screen moving content for the recorders to chew on: a square crossing the screen and
// the monotonic clock as a time code, repainted about 60 times a second. Only what changed
// is repainted, so the window costs little next to the recorders it feeds.
class BenchAnimationWindow : public QRasterWindow
{
    Q_OBJECT

public:
    // Where the time code sits on screen.
    static const QPoint TIME_CODE_ORIGIN;

    explicit BenchAnimationWindow(const QRect &geometry);

    // CLOCK_MONOTONIC in milliseconds, shared by every process of the machine.
    static uint32_t monotonicMs();

Q_SIGNALS:
    void firstFrameShown();

protected:
    void paintEvent(QPaintEvent *event) override;
    void exposeEvent(QExposeEvent *event) override;

private:
    void tick();
    QRect squareAt(qint64 elapsedMs) const;

    QTimer m_timer;
    QElapsedTimer m_clock;
    QRect m_square;
    bool m_shown = false;
};
