#pragma once

#include <QColor>
#include <QList>
#include <QPixmap>
#include <QPolygonF>
#include <QRect>
#include <QWidget>

class QPushButton;
class SCScreenshot;

// The on-screen selection of a screenshot: a blue frame that is resized by its edges, drawn
// on with a red pen, and captured or dismissed from a small button bar beside it.
class SCScreenshotWindow : public QWidget
{
    Q_OBJECT

public:
    explicit SCScreenshotWindow(SCScreenshot *screenshot, QWidget *parent = nullptr);
    ~SCScreenshotWindow() override;

    void setArea(const QRect &area);
    QRect getArea() const;

    // The picture inside the frame as it would be saved: screen pixels and pen strokes.
    QPixmap grabSelection();

signals:
    void screenshotSaved(const QString &path);
    void screenshotCancelled();
    // Ctrl+C put the picture on the clipboard and closed the selection.
    void screenshotCopied();

public slots:
    void hide();
    void show();
    void saveScreenshot();
    void cancelScreenshot();
    void drawOnScreenshot();
    void clearDraw();
    void setFullScreen(bool fullScreen = false);
    void copyToClipboard();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showNow();
    void createButtonBar();
    void loadStyleSheet();
    void updateButtonBarPosition();
    int getDragMode(const QPoint &pos) const;
    void updateCursor(const QPoint &pos);
    void updateInputShape();
    void onCompositingChanged(bool compositing);
    void freezeBackground();
    QRect captureRect() const;
    void paintStrokes(QPainter &painter) const;

    QPushButton *m_captureButton = nullptr;
    QPushButton *m_closeButton = nullptr;
    QPushButton *m_penButton = nullptr;
    QPushButton *m_clearButton = nullptr;
    QWidget *m_buttonBar = nullptr;
    QRect m_area;
    QPoint m_pressPosition;
    QRect m_geometryAtPress;
    int m_dragMode = 0;
    bool m_pressed = false;
    bool m_fullScreen = false;
    bool m_drawingMode = false;
    QColor m_penColor = Qt::red;
    int m_penWidth = 3;
    QList<QPolygonF> m_strokes;
    QPolygonF m_currentStroke;
    SCScreenshot *m_screenshot = nullptr;

    // Without a compositing manager the window cannot be see-through, so it shows the screen
    // as it was when it opened (global logical coordinates of the grab's top-left).
    QPixmap m_background;
    QPoint m_backgroundOrigin;
    bool m_showPending = false;
};
