#pragma once

#include <QObject>
#include <QRect>
#include <QTimer>
#include <QtGui/qwindowdefs.h>

// Follows another program's window: reports where its frame moves and when it is closed.
// The X server is asked a few times a second, more often while a recording depends on it.
class SCWindowTracker : public QObject
{
    Q_OBJECT

public:
    explicit SCWindowTracker(QObject *parent = nullptr);

    // Starts following `window`, whose frame is now at `frame` (global logical pixels).
    void track(WId window, const QRect &frame);
    void stop();
    bool isTracking() const { return m_window != 0; }
    WId window() const { return m_window; }
    // How often to look, in milliseconds.
    void setInterval(int ms) { m_timer.setInterval(ms); }

Q_SIGNALS:
    void moved(const QRect &frame);
    void closed();

private:
    void check();

    QTimer m_timer;
    WId m_window = 0;
    QRect m_frame;
};
