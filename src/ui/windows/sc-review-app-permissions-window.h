#pragma once

#include <QMainWindow>

class QLabel;
class QPushButton;

// Lists what the program needs from the session (screen capture, camera, sound server,
// global keys) when something is missing; shown before the main window, never blocking it.
class SCReviewAppPermissionsWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit SCReviewAppPermissionsWindow(QWidget *parent = nullptr);

    bool checkScreenRecordingPermission() const;
    bool checkCameraPermission() const;
    bool checkMicrophonePermission() const;
    bool checkAccessibilityPermission() const;
    bool allGranted() const;

    void updatePermissionStates();

Q_SIGNALS:
    void closed();

public Q_SLOTS:
    void onOpenScreenRecordingPreferences();
    void onRequestCameraAccess();
    void onRequestMicrophoneAccess();
    void onOpenAccessibilityPreferences();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    struct Row
    {
        QPushButton *button = nullptr;
        QLabel *state = nullptr;
        QString buttonText;
    };
    Row addGroup(QWidget *parent, const char *group, const QString &title,
                 const QString &description, const char *buttonName, const QString &buttonText);
    void showState(Row &row, bool granted, const QString &why);
    void loadStyleSheet();

    Row m_screen;
    Row m_camera;
    Row m_microphone;
    Row m_accessibility;
};
