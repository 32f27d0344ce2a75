#pragma once

#include <QElapsedTimer>
#include <QPixmap>
#include <QPoint>
#include <QWidget>

class QMenu;

// A picture kept on top of everything, to compare against or copy from later: moved by
// dragging, zoomed by the wheel, closed by Esc or a double-click. It deletes itself on close,
// so whoever opens it may forget it.
class SCPinWindow : public QWidget
{
    Q_OBJECT

public:
    // Shows `picture` (device pixels, with its devicePixelRatio) at `globalTopLeft` in logical
    // coordinates, at 100 %.
    explicit SCPinWindow(const QPixmap &picture, const QPoint &globalTopLeft,
                         QWidget *parent = nullptr);

    // 1.0 is the picture's logical size.
    qreal zoom() const;
    // Clamped; keeps the picture's point under the pointer still, or its centre when the
    // pointer is elsewhere.
    void setZoom(qreal zoom);

protected:
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void zoomAround(qreal zoom, const QPointF &globalAnchor);
    void place(const QPoint &topLeft, const QSize &size);
    QSize pictureSize(qreal zoom) const;
    // Where the window is, in global logical coordinates.
    QPoint topLeft();

    QPixmap m_picture;
    qreal m_zoom = 1.0;
    // Wheels with fine steps send parts of a notch.
    int m_wheelRest = 0;
    bool m_dragging = false;
    QPoint m_dragOffset;
    QPoint m_topLeft;
    QElapsedTimer m_placed;
    QMenu *m_menu = nullptr;
};
