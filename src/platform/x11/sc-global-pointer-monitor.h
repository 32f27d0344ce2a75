#pragma once

#include <QObject>
#include <QPoint>

class QSocketNotifier;
class QTimer;
struct xcb_connection_t;

// Pointer motion and left clicks anywhere on the X11 desktop, also over other
// applications, without taking them away: XInput2 raw events on a connection of its own.
class SCGlobalPointerMonitor : public QObject
{
    Q_OBJECT

public:
    explicit SCGlobalPointerMonitor(QObject *parent = nullptr);
    ~SCGlobalPointerMonitor() override;

    bool start();
    void stop();
    bool isActive() const;
    // How often the position is also polled, for pointers that are warped rather than
    // moved (no raw events). 0 relies on raw events alone. Takes effect at start().
    void setPollInterval(int ms);
    int pollInterval() const;
    QString errorString() const;

signals:
    // Global logical coordinates. Motion is reported once per batch of events, and only
    // when the position changed.
    void moved(const QPoint &globalPos);
    void leftButtonPressed(const QPoint &globalPos);

private:
    void readEvents();
    void poll();
    QPoint pointerPosition() const;

    xcb_connection_t *m_connection = nullptr;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_pollTimer = nullptr;
    QPoint m_lastPos;
    int m_pollInterval;
    bool m_pollDue = false;
    uint8_t m_xinputOpcode = 0;
    QString m_errorString;
};
