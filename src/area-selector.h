#pragma once

#include <QPixmap>
#include <QRect>
#include <QWidget>

// Full-screen rubber band over the primary screen with which the user drags out a region.
class AreaSelector : public QWidget
{
    Q_OBJECT

public:
    explicit AreaSelector(QWidget *parent = nullptr);

    // The band between two dragged corners, both included, in either order.
    static QRect selectionRect(const QPoint &a, const QPoint &b);
    // The size caption drawn in the band, in physical pixels.
    static QString sizeLabel(const QRect &area, double devicePixelRatio);

signals:
    void areaSelected(const QRect &area);

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

    QPoint m_startPoint;
    QPoint m_endPoint;
    QRect m_selectedArea;
    bool m_selecting = false;
    double m_devicePixelRatio = 1.0;
    // Without a compositing manager the veil cannot be translucent; the screen as it was
    // when the selector opened is drawn under it instead.
    QPixmap m_background;
    int m_grabAttempts = 0;
};
