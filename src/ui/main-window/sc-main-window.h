#pragma once

#include "sc-control-request.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QSettings>
#include <QTime>

#include <functional>
#include <memory>

class AreaSelector;
class ObsCaptureArea;
class SCWindowTracker;
class DrawWindow;
class ObsWrapper;
class SCCameraWindow;
class QJsonObject;
class QMenu;
class QMessageBox;
class QSizeGrip;
class QTimer;
class SCCountdownWidget;
class SCDisplayChoice;
class SCSettingsWindow;
struct SCCaptureSpace;
class SCGlobalShortcutsPortal;
class SCFileManager;
class SCFullscreenToolbar;
class SCGlobalHotkey;
class SCNote;
class SCScreenShare;
class SCScreenshot;
class SCScreenshotCountdown;
class SCScreenshotWindow;
class SCTranslator;
class VolumeControl;
class WindowHighlighter;
namespace Ui {
class SCMainWindow;
}

// The program's main window and the hub between the user's choices, the recording engine,
// the overlays, the screenshot classes and the file library.
class SCMainWindow : public QMainWindow
{
    Q_OBJECT

public:
    enum RecordingMode { FullScreen = 0, Window = 1, Region = 2 };

    explicit SCMainWindow(QWidget *parent = nullptr);
    ~SCMainWindow() override;

    void setTranslator(std::shared_ptr<SCTranslator> translator);
    // Restored from the taskbar or tray and raised above the other windows.
    void bringToFront();
    void retranslateUi();

    void centerChildWindow(QWidget *child);
    void showModalOverThis(QWidget *window);
    QString loadMessageBoxStyle() const;
    void makeWindowRecordingTransparent(QWidget *widget);
    void makeWindowRecordingVisible(QWidget *widget);
    void updateFileTable(const QString &type);

    bool eventFilter(QObject *watched, QEvent *event) override;

    // Free bytes in a folder, -1 when unknown. Replaceable so that a full disk can be
    // simulated without filling one.
    using FreeSpaceProbe = std::function<qint64(const QString &folder)>;
    void setFreeSpaceProbe(FreeSpaceProbe probe);
    // The countdown before a recording, in seconds (3; tests shorten it).
    void setCountdownSeconds(int seconds) { m_countdownSeconds = seconds; }

    // Requests from the command line, the session bus and the tray (see
    // sc-main-window-control.cpp); they report through the signals below.
    // "idle", "countdown", "recording", "paused" or "stopping".
    QString controlState() const { return m_controlState; }
    bool isEngineReady() const { return m_obsReady; }
    // The time recorded so far, as the recording controls show it.
    QTime recordingTime() const { return m_recordingTime; }
    void startRequested(const SCRecordingRequest &request);
    // False when no recording runs.
    bool stopRequested();
    void toggleRequested();
    // Pauses or resumes the running recording; false when none runs or the engine refused.
    bool pauseRequested(bool pause);
    void screenshotRequested(const SCScreenshotRequest &request);
    void quitRequested();
    // The last region or window screenshot saved or copied, from the settings store; empty
    // when there is none.
    QRect lastScreenshotRegion() const;

Q_SIGNALS:
    // The window's first picture is painted (start-up time is measured to it).
    void firstPainted();
    void engineReady();
    void controlStateChanged(const QString &state);
    // The file the recording goes to.
    void recordingStarted(const QString &path);
    // The finished file, whole and in the library.
    void recordingFinished(const QString &path);
    // A start that was refused, cancelled or failed before the file existed; errorName is one
    // of SCControlErrors.
    void recordingStartFailed(const QString &errorName, const QString &reason);
    // A running recording failed in the engine.
    void recordingFailed(const QString &reason);
    // The recording was stopped for a reason other than the person (e.g. low disk space); its
    // file was saved and recordingFinished() came first.
    void recordingInterrupted(const QString &path, const QString &reason);
    // Every screenshot written to disk, however it was asked for.
    void screenshotSaved(const QString &path);
    // The end of a screenshotRequested(): the saved file, or "" when it went to the clipboard
    // only or the person cancelled the selection.
    void screenshotFinished(const QString &path);
    void screenshotFailed(const QString &reason);
    void lastScreenshotRegionChanged(bool stored);

public Q_SLOTS:
    // Ends the recording's file and waits until it is whole, without the event loop.
    void finishFilesNow();
    void initObsRecording();
    void startRecording(bool fromHotkey = false);
    void startRecordingHandler();
    void stopRecording();
    void onSidebarTabClicked();
    void onRecordingTabClicked();
    void onVideoTabClicked();
    void onAudioTabClicked();
    void onImageTabClicked();
    void onOpenTypeFolderClicked();
    void onChangeLocationClicked();
    void onChangeScreenshotLocationClicked();
    void onSaveLocationClicked();
    void onFullScreenClicked();
    void onSelectRegionClicked();
    void onSelectScreenClicked();
    void onRatioSelectionChanged(const QString &text);

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    // shell
    void loadStyleSheet();
    void setupDefaultSettings();
    void initUIStatus();
    void setupUIConnections();
    void initHotkeys();
    // Through the desktop's shortcut portal; key grabs where it has none or refuses.
    void bindDesktopShortcuts();
    void onDesktopShortcutsBound(int status);
    void onDesktopShortcut(const QString &id);
    void bindKeyGrabs();
    void releaseKeyGrabs();
    void onFullScreenshotHotkey();
    void reportHotkeyProblems(const QStringList &problems);
    bool handleTitleFrameEvent(QEvent *event);
    bool handleTileEvent(QWidget *tile, QEvent *event);
    void showFilesPage(const QString &type);
    void showWarning(const QString &title, const QString &text);
    void setTilePropertyAndRepolish(QWidget *tile, const char *name, bool value);

    // menus, preferences, languages and the update check
    void setupUpgradeCheck();
    void checkForUpgrade();
    void setupNativeMenuBar();
    void onMenuClicked();
    void fillLanguageMenu(QMenu *languages);
    void fillHelpMenu(QMenu *help);
    void onSettingsClicked();
    void onAboutClicked();
    void onLanguageChanged(const QString &localeCode);
    void chooseLanguage(const QString &localeCode);
    void openUpgradeWindow(const QJsonObject &manifest);
    void openHelpPage(const QString &url);
    void openLogFolder();
    void retranslateCodeTexts();
    void fitWidthsToTexts();

    // recording
    void setupRecordingDevices();
    void setupOBSConnection();
    void setupMeterWidgets();
    bool prepareRecording();
    QString generateOutputPath() const;
    bool ensureSaveFolder(QString *message) const;
    void startRecordingToFile(const QString &path);
    void failRecordingStart(const QString &reason);
    // Wayland: the desktop's sharing of the screen or a window; see sc-main-window-sharing.cpp.
    bool shareScreenForRecording();
    void endScreenShare();
    void onScreenShareEnded();
    SCCaptureSpace sharedSpace(const SCCaptureSpace &space) const;
    bool confirmLowDiskSpace(const QString &folder);
    void checkDiskSpaceWhileRecording();
    QSize requestedVideoSize() const;
    void updateRecordingTimer();
    void scheduleClockTick();
    void initFullscreenToolbar();
    void showRecordingControls(bool recording);
    void onRecordStatusChanged(int status);
    void onRecordingFailed(const QString &message);
    void onRecordingHotkey();
    void onPauseHotkey();
    // Milliseconds recorded so far, paused time left out.
    qint64 recordedMs() const;

    // recording area and options
    void highlightActiveRecordingMode(QWidget *active);
    void selectAreaWithSelector();
    void showSelector(AreaSelector *selector, bool forScreenshot);
    void selectWindowForRecording();
    DrawWindow *ensureDrawWindowCreated();
    // Frames the chosen area with the region frame and makes it the recording area.
    void placeFrameAround(const QRect &area);
    void createDrawWindowWithDimensions(int width, int height);
    bool setupRecordingArea();
    void setupRecordingAreaWithoutUpdatingLineEdits();
    void resizeFrameFromEdits(int width, int height);
    void applyCrop(const ObsCaptureArea &area);
    int recordingFps() const;
    void followPickedWindow(const QRect &frame);
    void onFollowedWindowClosed();
    void changeFormatFromAudioToMP4();
    void onModeTileReleased(QWidget *tile);
    void onDrawWindowGeometryChanged(bool isMoving, const QPoint &topLeft,
                                     const QPoint &bottomRight);
    void onLockToggled(bool checked);
    void onWidthEdited(const QString &text);
    void onHeightEdited(const QString &text);
    void onRecordFormatChanged(int index);
    void onScreenSwitchChanged(bool on);
    using LevelSignal = void (ObsWrapper::*)(const float *, const float *, const float *);
    void followSoundSwitch(VolumeControl *meter, LevelSignal levels, bool on);
    void onSpeakerSwitchChanged(bool on);
    void onMicSwitchChanged(bool on);
    void onWebcamSwitchChanged(bool on);
    void onMouseSwitchChanged(bool on);

    // display and sound devices (sc-main-window-devices.cpp)
    void setupDisplayChoice();
    SCCaptureSpace fullScreenSpace() const;
    // Where the current area is measured: the chosen monitor in full screen, else the screen
    // holding the area.
    SCCaptureSpace recordingSpace() const;
    // The stored device of a sound source, or "default" (with a log line and a note, once)
    // when the sound server does not offer it now.
    QString soundDevice(bool mic);
    void applySoundGains();
    void connectSoundPage(SCSettingsWindow *window);

    // screenshots
    SCScreenshotWindow *ensureScreenshotWindowCreated();
    void onScreenshotTileReleased(QWidget *tile);
    void onScreenshotAreaSelected(const QRect &rect);
    void onScreenshotWindowClicked(const QRect &rect);
    void handleScreenshotError(const QString &message);
    void showScreenshotSaved(const QString &path);
    void handleScreenshotCancelled();
    void onScreenshotHotkey();
    void openScreenshotOverlay(const QRect &area, bool fullScreen);
    void restoreAfterScreenshot();
    void showScreenshotCopied();
    void showTextCopied(const QString &firstWords);
    void showScreenshotNote(const QString &text, const QString &path);
    void stepAsideForScreenshot();

    // delayed screenshots and the last region (sc-main-window-delay.cpp)
    void setupScreenshotDelay();
    int screenshotDelay() const;
    // Runs `then` after `seconds` of countdown, with this window out of the way; a cancelled
    // countdown ends the screenshot as the overlay's Esc does.
    void afterScreenshotDelay(int seconds, const QRect &area, std::function<void()> then);
    // The overlay, or the picture a request asked for, on `area` after the delay.
    void openRegionAfterDelay(const QRect &area);
    void repeatLastRegion();
    void rememberScreenshotRegion(const QRect &area);
    void rememberOverlayRegion();
    // The stored region on the screens there are now; empty when none is stored or it is
    // on none.
    QRect lastRegionOnScreen() const;
    void updateRepeatRegionButton();

    Ui::SCMainWindow *ui;
    bool m_isRecording = false;
    QTimer *m_upgradeTimer = nullptr;
    std::shared_ptr<SCTranslator> m_translator;
    std::unique_ptr<ObsWrapper> m_obs;
    std::unique_ptr<WindowHighlighter> m_windowHighlighter;
    QPointer<DrawWindow> m_drawWindow;
    QPointer<SCScreenshotWindow> m_screenshotWindow;
    QPointer<SCCameraWindow> m_cameraWindow;
    QPoint m_startPoint {-1, -1};
    QPoint m_endPoint {-1, -1};
    // Whether the user or bring-up chose an area; (0, y) is a valid corner, not "unset".
    bool m_areaSet = false;
    QString m_saveLocation;
    std::unique_ptr<SCScreenshot> m_screenshot;
    std::unique_ptr<AreaSelector> m_areaSelector;
    std::unique_ptr<AreaSelector> m_recordingAreaSelector;
    std::unique_ptr<SCFileManager> m_fileManager;
    std::unique_ptr<SCFullscreenToolbar> m_fullscreenToolbar;
    QTimer *m_recordingTimer = nullptr;
    QTime m_recordingTime;
    // Runs while recording, not while paused; m_recordedMs holds the stretches before.
    QElapsedTimer m_runClock;
    qint64 m_recordedMs = 0;
    bool m_paused = false;
    QSettings m_settings;
    bool m_screenEnabled = true;
    SCCountdownWidget *m_countdownWidget = nullptr;
    bool m_countdownCancelled = false;
    int m_recordingMode = FullScreen;
    SCGlobalHotkey *m_recordingHotkey = nullptr;
    SCGlobalHotkey *m_screenshotHotkey = nullptr;
    SCGlobalHotkey *m_pauseHotkey = nullptr;
    SCGlobalHotkey *m_fullScreenshotHotkey = nullptr;
    SCGlobalShortcutsPortal *m_shortcutsPortal = nullptr;
    SCNote *m_screenshotNote = nullptr;
    SCNote *m_deviceNote = nullptr;
    SCNote *m_shareNote = nullptr;
    SCScreenShare *m_screenShare = nullptr;
    SCDisplayChoice *m_displayChoice = nullptr;
    QString m_reportedMissingMic;
    QString m_reportedMissingSpeaker;
    // The window stepped aside for the screenshot and comes back when it ends.
    bool m_restoreAfterScreenshot = false;
    bool m_activateAfterScreenshot = false;
    bool m_syncingFromEdits = false;
    bool m_obsReady = false;
    bool m_painted = false;
    QPoint m_lastTitleDragPosition;
    FreeSpaceProbe m_freeSpaceProbe;
    bool m_stoppedForLowDisk = false;
    // Set once the engine took the file, so a refused start does not open the Files page.
    bool m_recordingFileListed = false;
    QStringList m_reportedHotkeyProblems;
    // State and pending requests of the control interface.
    void setControlState(const QString &state);
    bool isBusyRecording() const;
    bool takeRequestedScreenshotDirectly(const QRect &area);
    QString lowDiskStopText() const;
    void finishRequestedScreenshot(const QPixmap &picture, const QRect &region = {});
    QString m_controlState = QStringLiteral("idle");
    QString m_recordingFile;
    QRect m_lastRegion;
    bool m_skipNextCountdown = false;
    bool m_startAfterWindowPick = false;
    // A region to be dragged out before a recording asked from outside starts.
    bool m_startAfterRegionPick = false;
    bool m_screenshotRequested = false;
    SCScreenshotRequest m_screenshotRequest;
    std::unique_ptr<SCScreenshotCountdown> m_screenshotCountdown;
    bool m_overlayFullScreen = false;
    // The window a window recording follows.
    SCWindowTracker *m_windowTracker = nullptr;
    int m_countdownSeconds = 3;
    // The message or question on screen, so that a second one is not stacked on it.
    QPointer<QMessageBox> m_openDialog;
    bool m_applyingPreset = false;
    QSizeGrip *m_sizeGrip = nullptr;
};
