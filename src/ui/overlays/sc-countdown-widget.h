#pragma once

#include <QSettings>
#include <QWidget>

class QEventLoop;
class QLabel;
class QTimer;

// The 3-2-1 disc shown before a recording starts, with the start/stop hotkey below it.
class SCCountdownWidget : public QWidget
{
    Q_OBJECT

public:
    explicit SCCountdownWidget(QWidget *parent = nullptr);
    ~SCCountdownWidget() override;

    void startCountdown(int seconds);
    // Waits in a local event loop until the count ends or is stopped.
    void blockUntilFinished();
    void stopCountdown();

    // The part of the window that carries paint; the rest must stay see-through.
    QRegion paintedRegion() const;

signals:
    void countdownFinished();

public slots:
    void updateCountdown();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void updateShape();

    QLabel *m_numberLabel = nullptr;
    QLabel *m_hintLabel = nullptr;
    QLabel *m_hotkeyLabel = nullptr;
    QTimer *m_timer = nullptr;
    int m_remaining = 0;
    QEventLoop *m_eventLoop = nullptr;
    QSettings m_settings;
    QWidget *m_container = nullptr;
    QWidget *m_hint = nullptr;
};
