#pragma once

#include <QColor>
#include <QList>
#include <QPixmap>
#include <QPolygonF>
#include <QRect>
#include <QWidget>

#include <functional>

class QPainter;
class QPushButton;
class SCScreenshot;

// The on-screen selection of a screenshot: a blue frame with handles around exactly the
// area that is saved. It is moved by dragging inside, resized by its handles and edges,
// drawn on with a red pen, and captured, copied or dismissed from a small button bar.
// None of the program's own windows is in the picture.
class SCScreenshotWindow : public QWidget
{
    Q_OBJECT

public:
    explicit SCScreenshotWindow(SCScreenshot *screenshot, QWidget *parent = nullptr);
    ~SCScreenshotWindow() override;

    // The selection in global logical coordinates; the window reaches a little beyond it
    // for the frame and the handles.
    void setArea(const QRect &area);
    QRect getArea() const;
    // Whether the keys go to the selection now (it holds the keyboard while it is shown).
    bool hasKeyboard() const;

signals:
    void screenshotSaved(const QString &path);
    void screenshotCancelled();
    // The picture went to the clipboard and the selection closed; no file was written.
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
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showNow();
    void grabKeyboardWhenMapped();
    void releaseKeyboard();
    void createButtonBar();
    void loadStyleSheet();
    void updateButtonBarPosition();
    bool handleKey(QKeyEvent *event);
    void updateCursor(const QPoint &globalPos);
    void updateButtonIcon(QPushButton *button, bool hovered);
    void onCompositingChanged(bool compositing);
    QRect screenGeometry() const;
    void startDrag(int mode, const QPoint &globalPos);
    void dragTo(const QPoint &globalPos);
    // Hands the picture of the selection to `done`, with the pen strokes, once it is free
    // of the program's own windows; a null picture when the screen could not be read.
    void captureSelection(std::function<void(const QPixmap &)> done);
    QPixmap withStrokes(QPixmap picture) const;
    void paintStrokes(QPainter &painter) const;
    void paintFrame(QPainter &painter) const;

    QPushButton *m_captureButton = nullptr;
    QPushButton *m_copyButton = nullptr;
    QPushButton *m_closeButton = nullptr;
    QPushButton *m_penButton = nullptr;
    QPushButton *m_clearButton = nullptr;
    QWidget *m_buttonBar = nullptr;
    QRect m_area;
    QPoint m_pressPosition;
    QRect m_areaAtPress;
    QRect m_boundsAtPress;
    int m_dragMode = 0;
    bool m_pressed = false;
    bool m_fullScreen = false;
    bool m_drawingMode = false;
    QColor m_penColor = Qt::red;
    int m_penWidth = 3;
    // Global coordinates: strokes stay on what they were drawn on when the selection moves.
    QList<QPolygonF> m_strokes;
    QPolygonF m_currentStroke;
    SCScreenshot *m_screenshot = nullptr;

    // Without a compositing manager the window cannot be see-through, so it shows the screen
    // as it was when it opened (global logical coordinates of the grab's top-left).
    QPixmap m_background;
    QPoint m_backgroundOrigin;
    bool m_showPending = false;
    bool m_capturing = false;
    bool m_keyboardGrabbed = false;
    int m_grabAttempts = 0;
};
