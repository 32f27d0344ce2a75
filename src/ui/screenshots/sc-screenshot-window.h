#pragma once

#include "sc-annotation-bar.h"

#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <functional>

class QPainter;
class SCAnnotationDocument;
class SCAnnotationEditor;
class SCAnnotationTextEdit;
class SCScreenshot;
class SCTextRecognizer;

// The on-screen selection of a screenshot over a still picture of the screen: a blue frame
// with handles around exactly the area that is saved. It is moved by dragging inside,
// resized by its handles and edges, drawn on with the editor's tools, and saved, copied,
// pinned, read as text or dismissed from its button bar. None of the program's own windows
// is in the picture.
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
    SCAnnotationEditor *editor() const { return m_editor; }
    SCAnnotationBar *bar() const { return m_bar; }
    // The picture as it would be saved now; null before the screen has been read.
    QPixmap composedPicture() const;

signals:
    void screenshotSaved(const QString &path);
    void screenshotCancelled();
    // The picture went to the clipboard and the selection closed; no file was written.
    void screenshotCopied();
    // The picture went into a window of its own on the screen.
    void screenshotPinned();
    // The selection's text went to the clipboard.
    void textCopied(const QString &text);

public slots:
    void hide();
    void show();
    void saveScreenshot();
    void saveScreenshotAs();
    void cancelScreenshot();
    void drawOnScreenshot();
    void clearDraw();
    void setFullScreen(bool fullScreen = false);
    void copyToClipboard();
    void pinScreenshot();
    void copyText();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showNow();
    void grabKeyboardWhenMapped();
    void releaseKeyboard();
    void loadStyleSheet();
    void loadToolSettings();
    void saveToolSettings() const;
    void connectBar();
    void updateButtonBarPosition();
    bool handleKey(QKeyEvent *event);
    void updateCursor(const QPoint &globalPos);
    QRect screenGeometry() const;
    void startDrag(int mode, const QPoint &globalPos);
    void dragTo(const QPoint &globalPos);
    void onBarAction(SCAnnotationBar::Action action);
    void chooseCustomColor();
    void openTextEdit(int index, const QPointF &topLeft);
    void finishTextEdit();
    // Runs a dialog of the desktop, which would open under the selection: the selection
    // steps aside until it closes.
    void withSelectionAside(const std::function<void()> &dialog);
    void showMessage(const QString &text);
    // Hands the picture of the selection to `done`, with the marks, once it is free of the
    // program's own windows; when the screen could not be read, `done` is not called.
    void captureSelection(std::function<void(const QPixmap &)> done);
    void invalidateRendering();
    const QImage &renderedBackground() const;
    void paintFrame(QPainter &painter) const;

    SCAnnotationBar *m_bar = nullptr;
    SCAnnotationDocument *m_document = nullptr;
    SCAnnotationEditor *m_editor = nullptr;
    SCTextRecognizer *m_recognizer = nullptr;
    QPointer<SCAnnotationTextEdit> m_textEdit;
    QRect m_area;
    QPoint m_pressPosition;
    QRect m_areaAtPress;
    QRect m_boundsAtPress;
    int m_dragMode = 0;
    bool m_pressed = false;
    bool m_editing = false;
    bool m_fullScreen = false;
    SCScreenshot *m_screenshot = nullptr;

    // The screen as it was when the selection opened (global logical coordinates of its
    // top-left): what is shown, drawn on and saved.
    QImage m_background;
    QPoint m_backgroundOrigin;
    mutable QImage m_rendered;
    QString m_message;
    QPointF m_wheelPreview;
    bool m_showPending = false;
    bool m_capturing = false;
    bool m_keyboardGrabbed = false;
    bool m_aside = false;
    int m_grabAttempts = 0;
};
