#pragma once

#include <QRect>
#include <QWidget>

// The window picker: a translucent red box that follows the window under the pointer,
// anywhere on the desktop, and reports the highlighted window's rectangle on a left click.
// It never takes the mouse itself, so the click also reaches the window below.
class WindowHighlighter : public QWidget
{
    Q_OBJECT

public:
    explicit WindowHighlighter(QWidget *parent = nullptr);
    ~WindowHighlighter() override;

    // The window whose rectangle windowClicked reported last.
    WId clickedWindow() const { return m_clickedWindow; }

signals:
    void windowClicked(const QRect &rect);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    static void removeMonitor();
    static void onPointerMoved(const QPoint &globalPos);
    static void onLeftButtonPressed(const QPoint &globalPos);
    void updateShape();

    static WindowHighlighter *s_instance;
    WId m_clickedWindow = 0;
};
