#include "sc-window-tracker.h"

#include "sc-window-list.h"

SCWindowTracker::SCWindowTracker(QObject *parent)
    : QObject(parent)
{
    m_timer.setInterval(250);
    connect(&m_timer, &QTimer::timeout, this, &SCWindowTracker::check);
}

void SCWindowTracker::track(WId window, const QRect &frame)
{
    m_window = window;
    m_frame = frame;
    if (window)
        m_timer.start();
    else
        m_timer.stop();
}

void SCWindowTracker::stop()
{
    m_timer.stop();
    m_window = 0;
}

void SCWindowTracker::check()
{
    if (!SCWindowList::exists(m_window)) {
        stop();
        emit closed();
        return;
    }
    // A minimized window keeps its place; it comes back there.
    const QRect frame = SCWindowList::frameGeometry(m_window);
    if (frame.isNull() || frame == m_frame)
        return;
    m_frame = frame;
    emit moved(frame);
}
