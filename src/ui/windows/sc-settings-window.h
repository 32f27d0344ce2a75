#pragma once

#include "sc-types.h"

#include <QKeySequence>
#include <QMainWindow>
#include <QSettings>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class SCHotkeyEdit;
class SCHotkeyCommandsPanel;
class SCPathField;
class SCRecordingQualityFields;
class SCSettingsSoundPage;

// The preferences: formats, folders, hotkeys, mouse options, the tray and notifications. Edits stay
// in a cache until Save; only the folder choices are stored at once.
class SCSettingsWindow : public QMainWindow
{
    Q_OBJECT

public:
    // Why the pointer highlight and click rings are off on Wayland.
    static QString pointerEffectsUnavailableText();
    struct SettingsCache
    {
        QString language;
        QString recordingHotkey;
        QString screenshotHotkey;
        QString pauseHotkey;
        QString fullScreenshotHotkey;
        QString recordingFormat;
        QString recordingSaveLocation;
        QString screenshotFormat;
        QString screenshotSaveLocation;
        bool showCursor = true;
        bool showHighlight = false;
        bool trayIcon = true;
        bool closeToTray = false;
        bool notifications = true;
    };

    explicit SCSettingsWindow(QWidget *parent = nullptr);
    ~SCSettingsWindow() override;

    // Its devices and meters come from whoever owns the sound sources.
    SCSettingsSoundPage *soundPage() const { return m_soundPage; }
    // The graphics card's encoders the engine found working.
    void setHardwareEncoders(const QList<VideoEncoderChoice> &kinds);

Q_SIGNALS:
    void updateSettings();

public Q_SLOTS:
    void onTabChanged(int index);
    void onCloseClicked();
    void onButtonBoxClicked(QAbstractButton *button);
    void on_changeRecordingFileLocationBtn_clicked();
    void on_changeScreenshotFileLocationBtn_clicked();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void setupUi();
    void setupConnections();
    void loadSettings();
    void saveSettings();
    void loadStyleSheet();
    // Keeps `edit`'s new combination, or refuses it with the reason on the page: the same as
    // another action's, a plain key that every program needs, or one the X server will not
    // let this program grab.
    void checkHotkeyChoice(SCHotkeyEdit *edit, const QKeySequence &sequence);
    QString hotkeyAction(const SCHotkeyEdit *edit) const;
    void showHotkeyCommands();
    QWidget *buildRecordingPage();
    QWidget *buildScreenshotPage();
    QWidget *buildMousePage();
    QWidget *buildHotkeysPage();
    QWidget *buildDesktopPage();

    QButtonGroup *m_tabGroup = nullptr;
    QSettings m_settings;
    SettingsCache m_cache;

    QWidget *m_titleWidget = nullptr;
    QLabel *m_settingLabel = nullptr;
    QPushButton *m_closeBtn = nullptr;
    QStackedWidget *m_settingsPages = nullptr;
    QComboBox *m_recordingFormatComboBox = nullptr;
    SCRecordingQualityFields *m_recordingQuality = nullptr;
    SCPathField *m_recordingFileLocationLE = nullptr;
    QComboBox *m_screenshotFormatComboBox = nullptr;
    SCPathField *m_screenshotFileLocationLE = nullptr;
    QCheckBox *m_showCursorCheckBox = nullptr;
    QCheckBox *m_highlightCursorCheckBox = nullptr;
    SCHotkeyEdit *m_recordingHotkeyEdit = nullptr;
    SCHotkeyEdit *m_screenshotHotkeyEdit = nullptr;
    SCHotkeyEdit *m_pauseHotkeyEdit = nullptr;
    SCHotkeyEdit *m_fullScreenshotHotkeyEdit = nullptr;
    SCHotkeyCommandsPanel *m_hotkeyCommands = nullptr;
    QLabel *m_hotkeyProblemLabel = nullptr;
    QCheckBox *m_trayIconCheckBox = nullptr;
    QCheckBox *m_closeToTrayCheckBox = nullptr;
    QLabel *m_noTrayLabel = nullptr;
    QCheckBox *m_notificationsCheckBox = nullptr;
    QDialogButtonBox *m_buttonBox = nullptr;
    SCSettingsSoundPage *m_soundPage = nullptr;
};
