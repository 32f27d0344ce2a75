#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QPoint>
#include <QRect>

#include <cstdint>

// An X11 input-only window: it takes pointer presses, moves and releases over a screen
// area without drawing anything, so the screen below stays visible without compositing.
class SCInputCatcher : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT

public:
    explicit SCInputCatcher(QObject *parent = nullptr);
    ~SCInputCatcher() override;

    // Global logical coordinates.
    void setGeometry(const QRect &rect);
    QRect geometry() const { return m_geometry; }
    void setVisible(bool visible);
    bool isVisible() const { return m_visible; }
    // Back on top of the windows it covers, after one of them was raised.
    void raise();

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

signals:
    // Global logical positions; only the left button is reported.
    void pressed(const QPoint &global);
    void moved(const QPoint &global);
    void released(const QPoint &global);

private:
    void applyGeometry();

    uint32_t m_window = 0;
    uint32_t m_cursor = 0;
    QRect m_geometry;
    bool m_visible = false;
    bool m_buttonDown = false;
};
