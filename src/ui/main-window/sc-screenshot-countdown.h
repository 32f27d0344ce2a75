#pragma once

#include <QWidget>

class QTimer;
class SCGlobalHotkey;

// The seconds before a delayed screenshot: a small disc near a corner of the screen, out of
// the way of what the person arranges meanwhile, and never in the picture. It takes neither
// the focus nor the keyboard; Esc, held only while it counts, or a click on it calls the
// screenshot off.
class SCScreenshotCountdown : public QWidget
{
    Q_OBJECT

public:
    explicit SCScreenshotCountdown(QWidget *parent = nullptr);
    ~SCScreenshotCountdown() override;

    // Counts `seconds` down in the bottom-right corner of the screen that holds `area`.
    void start(int seconds, const QRect &area);
    // Ends the count without either signal.
    void stop();
    bool isCounting() const;

signals:
    // The count is over and the disc is off the screen.
    void finished();
    void cancelled();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void tick();
    void cancel();
    void updateShape();

    QTimer *m_timer = nullptr;
    SCGlobalHotkey *m_escape = nullptr;
    int m_remaining = 0;
};
