#pragma once

#include <QWidget>

class QGraphicsOpacityEffect;
class QHBoxLayout;
class QLabel;
class QPropertyAnimation;
class QPushButton;
class QTimer;

// The strip at the top centre of the primary screen that controls a running recording.
class SCFullscreenToolbar : public QWidget
{
    Q_OBJECT

public:
    explicit SCFullscreenToolbar(QWidget *parent = nullptr);

    void showToolbar();
    void hideToolbar();
    void setAutoHide(bool on);
    bool autoHide() const { return m_autoHide; }
    void setRecordingState(bool isRecording);
    // The pause button shows what a click does; the time reads "Paused" while paused.
    void setPausedState(bool paused);
    void updateTimerLabel(const QString &text);

    // The cursor band at the top of the screen that brings the strip back, in pixels.
    static constexpr int REVEAL_BAND = 10 + 25;
    // Whether a cursor at global `y` lies in that band of a screen starting at `screenTop`.
    static bool inRevealBand(int y, int screenTop) { return y <= screenTop + REVEAL_BAND; }

signals:
    void recordingToggled(bool isRecording);
    void pauseToggled(bool pause);

protected:
    void leaveEvent(QEvent *event) override;

private slots:
    void onAutoHideToggled(bool checked);
    void checkMousePosition();
    void toggleRecording();

private:
    void loadStyleSheet();
    void setupUI();
    void setupFade();
    void applyRecordingLook();
    void showTime();
    bool cursorInside() const;

    QHBoxLayout *m_mainLayout = nullptr;
    QPushButton *m_recordButton = nullptr;
    QPushButton *m_pauseButton = nullptr;
    QPushButton *m_autoHideButton = nullptr;
    QLabel *m_timerLabel = nullptr;
    QGraphicsOpacityEffect *m_opacityEffect = nullptr;
    QPropertyAnimation *m_fadeAnimation = nullptr;
    bool m_autoHide = false;
    bool m_firstShow = true;
    bool m_shown = false;
    bool m_isRecording = false;
    bool m_paused = false;
    QString m_time = QStringLiteral("00:00:00");
    QTimer *m_mouseCheckTimer = nullptr;
};
