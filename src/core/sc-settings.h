#pragma once

#include "sc-types.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <vector>

class QSettings;

// The persistent settings: identity of the store, every key and its default.
namespace SCSettings {

inline const QString ORGANIZATION = QStringLiteral("Ombrant");
inline const QString APPLICATION = QStringLiteral("Vistrel");

// Qt's INI store (the native one on Linux) files a group called "general" under
// "[%General]" and reads it back as "General": only this spelling survives a restart.
inline const QString GENERAL_LANGUAGE = QStringLiteral("General/language");
inline const QString GENERAL_FIRST_RUN = QStringLiteral("General/firstRun");
inline const QString HOTKEYS_RECORDING = QStringLiteral("hotkeys/recording");
inline const QString HOTKEYS_SCREENSHOT = QStringLiteral("hotkeys/screenshot");
inline const QString HOTKEYS_PAUSE = QStringLiteral("hotkeys/pause");
inline const QString HOTKEYS_FULL_SCREENSHOT = QStringLiteral("hotkeys/fullScreenshot");
inline const QString RECORDING_SCREEN_SWITCH = QStringLiteral("recording/screenSwitch");
inline const QString RECORDING_SPEAKER_SWITCH = QStringLiteral("recording/speakerSwitch");
inline const QString RECORDING_MIC_SWITCH = QStringLiteral("recording/micSwitch");
// The sound server's device each sound source records ("default" follows the system's
// choice) and its gain in percent.
inline const QString RECORDING_SPEAKER_DEVICE = QStringLiteral("recording/speakerDevice");
inline const QString RECORDING_MIC_DEVICE = QStringLiteral("recording/micDevice");
inline const QString RECORDING_SPEAKER_GAIN = QStringLiteral("recording/speakerGain");
inline const QString RECORDING_MIC_GAIN = QStringLiteral("recording/micGain");
// The monitor full-screen recordings take: a screen's name, "all" for the box around every
// screen, empty for the primary one.
inline const QString RECORDING_DISPLAY = QStringLiteral("recording/display");
inline const QString RECORDING_WEBCAM_SWITCH = QStringLiteral("recording/webcamSwitch");
inline const QString RECORDING_FORMAT = QStringLiteral("recording/format");
inline const QString RECORDING_SAVE_LOCATION = QStringLiteral("recording/saveLocation");
// Per video format: pictures a second and RECORDING_QUALITY_STRINGS, e.g. "recording/fps/MP4".
QString recordingFpsKey(OutputFormat format);
QString recordingQualityKey(OutputFormat format);
// What is stored, or the default where the stored value is not one of the format's choices.
int recordingFps(const QSettings &settings, OutputFormat format);
RecordingQuality recordingQuality(const QSettings &settings, OutputFormat format);
// Per H.264 format, e.g. "recording/encoder/MP4": VIDEO_ENCODER_STRINGS, Automatic when
// absent or unknown, Software for formats without a hardware encoder.
QString recordingEncoderKey(OutputFormat format);
VideoEncoderChoice recordingEncoder(const QSettings &settings, OutputFormat format);
inline const QString SCREENSHOT_FORMAT = QStringLiteral("screenshot/format");
inline const QString SCREENSHOT_SAVE_LOCATION = QStringLiteral("screenshot/saveLocation");
// The drawing tool, colour, thickness and fill the screenshot editor opens with.
inline const QString SCREENSHOT_TOOL = QStringLiteral("screenshot/tool");
inline const QString SCREENSHOT_COLOR = QStringLiteral("screenshot/color");
inline const QString SCREENSHOT_THICKNESS = QStringLiteral("screenshot/thickness");
inline const QString SCREENSHOT_FILLED = QStringLiteral("screenshot/filled");
// Seconds between the person's choice and the picture, for the page's tiles and the hotkey.
inline const QString SCREENSHOT_DELAY = QStringLiteral("screenshot/delay");
// The last region or window screenshot saved or copied (a QRect in global logical pixels);
// absent until there is one.
inline const QString SCREENSHOT_LAST_REGION = QStringLiteral("screenshot/lastRegion");
// The screen-sharing permission a Wayland desktop granted, one token per kind of capture;
// each is used once and replaced by the one the desktop gives back.
inline const QString SHARING_SCREEN_TOKEN = QStringLiteral("sharing/screenToken");
inline const QString SHARING_WINDOW_TOKEN = QStringLiteral("sharing/windowToken");
inline const QString MOUSE_SWITCH = QStringLiteral("mouse/switch");
inline const QString MOUSE_SHOW_CURSOR = QStringLiteral("mouse/showCursor");
inline const QString MOUSE_SHOW_HIGHLIGHT = QStringLiteral("mouse/showHighlight");
// How each list of the Files page is sorted, FILES_NEWEST_FIRST (when absent) or
// FILES_OLDEST_FIRST; written only when the person reverses a list.
inline const QString FILES_VIDEO_ORDER = QStringLiteral("files/videoOrder");
inline const QString FILES_AUDIO_ORDER = QStringLiteral("files/audioOrder");
inline const QString FILES_SCREENSHOT_ORDER = QStringLiteral("files/screenshotOrder");
inline const QString FILES_NEWEST_FIRST = QStringLiteral("newestFirst");
inline const QString FILES_OLDEST_FIRST = QStringLiteral("oldestFirst");
// The desktop around the program: its tray icon, closing the window to it, notifications.
inline const QString DESKTOP_TRAY_ICON = QStringLiteral("desktop/trayIcon");
inline const QString DESKTOP_CLOSE_TO_TRAY = QStringLiteral("desktop/closeToTray");
// Set once the person has been told that a closed window went to the tray.
inline const QString DESKTOP_CLOSE_TO_TRAY_TOLD = QStringLiteral("desktop/closeToTrayTold");
inline const QString DESKTOP_NOTIFICATIONS = QStringLiteral("desktop/notifications");

// "None" in a hotkey key means that no hotkey is registered.
inline const QString NO_HOTKEY = QStringLiteral("None");

struct Default
{
    QString key;
    QVariant value;
};

// Every key with its default, in table order. Folder defaults follow the user's standard
// locations at the moment of the call; nothing is created on disk.
std::vector<Default> defaults();

// Writes the default of every key the store does not hold yet; present keys are never
// touched, whatever their value. Returns the keys that were written.
QStringList applyDefaults(QSettings &settings);

} // namespace SCSettings
