#pragma once

#include <QMainWindow>
#include <QSettings>
#include <QStringList>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;

// The preferences: formats, folders, hotkeys and mouse options. Edits stay in a cache until
// Save; only the folder choices are stored at once.
class SCSettingsWindow : public QMainWindow
{
    Q_OBJECT

public:
    struct SettingsCache
    {
        QString language;
        QString recordingHotkey;
        QString screenshotHotkey;
        QString recordingFormat;
        QString recordingSaveLocation;
        QString screenshotFormat;
        QString screenshotSaveLocation;
        bool showCursor = true;
        bool showHighlight = false;
    };

    explicit SCSettingsWindow(QWidget *parent = nullptr);
    ~SCSettingsWindow() override;

Q_SIGNALS:
    void updateSettings();

public Q_SLOTS:
    void onTabChanged(int index);
    void onCloseClicked();
    void onButtonBoxClicked(QAbstractButton *button);
    void onRecordingHotkeyChanged(int index);
    void onScreenshotHotkeyChanged(int index);
    void on_changeRecordingFileLocationBtn_clicked();
    void on_changeScreenshotFileLocationBtn_clicked();

protected:
private:
    void setupUi();
    void setupConnections();
    void loadSettings();
    void saveSettings();
    void loadStyleSheet();
    void initRecordingComboBox();
    void initScreenshotComboBox();
    void resetAvailableHotkeys();
    // Fills one hotkey combo with the keys the other action has not taken.
    void fillHotkeyComboBox(QComboBox *combo, const QString &current, const QString &taken);
    QWidget *buildRecordingPage();
    QWidget *buildScreenshotPage();
    QWidget *buildMousePage();
    QWidget *buildHotkeysPage();

    QButtonGroup *m_tabGroup = nullptr;
    QSettings m_settings;
    SettingsCache m_cache;
    QStringList m_availableHotkeys;

    QWidget *m_titleWidget = nullptr;
    QLabel *m_settingLabel = nullptr;
    QPushButton *m_closeBtn = nullptr;
    QStackedWidget *m_settingsPages = nullptr;
    QComboBox *m_recordingFormatComboBox = nullptr;
    QLineEdit *m_recordingFileLocationLE = nullptr;
    QComboBox *m_screenshotFormatComboBox = nullptr;
    QLineEdit *m_screenshotFileLocationLE = nullptr;
    QCheckBox *m_showCursorCheckBox = nullptr;
    QCheckBox *m_highlightCursorCheckBox = nullptr;
    QComboBox *m_recordingComboBox = nullptr;
    QComboBox *m_screenshotComboBox = nullptr;
    QDialogButtonBox *m_buttonBox = nullptr;
};
