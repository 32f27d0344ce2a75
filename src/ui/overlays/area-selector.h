#pragma once

#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QWidget>

// Full-screen rubber band over the primary screen with which the user drags out a region.
class AreaSelector : public QWidget
{
    Q_OBJECT

public:
    // How a drag becomes a rectangle: with both corner pixels (the recording region), or
    // exactly the distance dragged, so that a 600 x 400 drag gives 600 x 400 pixels.
    enum class Extent { InclusiveCorners, DraggedDistance };

    explicit AreaSelector(QWidget *parent = nullptr);

    void setExtent(Extent extent);
    // The picture to choose on, for the next show only: the whole desktop in its own pixels,
    // as a Wayland desktop gives it. Without one the live screen shows through the veil.
    void setStill(const QImage &picture);
    // The band between two dragged corners, both included, in either order.
    static QRect selectionRect(const QPoint &a, const QPoint &b);
    // The band from one dragged corner to the other, as long as the drag, in either order.
    static QRect draggedRect(const QPoint &a, const QPoint &b);
    // The size caption drawn in the band, in physical pixels.
    static QString sizeLabel(const QRect &area, double devicePixelRatio);

signals:
    void areaSelected(const QRect &area);
    // Escape ended the selection without an area.
    void cancelled();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void grabKeyboardWhenMapped();
    QRect currentRect() const;

    QPoint m_startPoint;
    QPoint m_endPoint;
    QRect m_selectedArea;
    bool m_selecting = false;
    Extent m_extent = Extent::InclusiveCorners;
    double m_devicePixelRatio = 1.0;
    // Without a compositing manager the veil cannot be translucent; the screen as it was
    // when the selector opened is drawn under it instead.
    QPixmap m_background;
    QImage m_still;
    int m_grabAttempts = 0;
};
