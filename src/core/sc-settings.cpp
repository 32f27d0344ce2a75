#include "sc-settings.h"

#include <QSettings>
#include <QStandardPaths>

namespace SCSettings {

std::vector<Default> defaults()
{
    const QString movies = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    return {
            {GENERAL_LANGUAGE, QStringLiteral("en_US")},
            {GENERAL_FIRST_RUN, true},
            {HOTKEYS_RECORDING, QStringLiteral("F9")},
            {HOTKEYS_SCREENSHOT, QStringLiteral("F10")},
            {HOTKEYS_PAUSE, QStringLiteral("F8")},
            {RECORDING_SCREEN_SWITCH, true},
            {RECORDING_SPEAKER_SWITCH, true},
            {RECORDING_MIC_SWITCH, false},
            {RECORDING_SPEAKER_DEVICE, QStringLiteral("default")},
            {RECORDING_MIC_DEVICE, QStringLiteral("default")},
            {RECORDING_SPEAKER_GAIN, 100},
            {RECORDING_MIC_GAIN, 100},
            {RECORDING_DISPLAY, QString()},
            {RECORDING_WEBCAM_SWITCH, false},
            {RECORDING_FORMAT, QStringLiteral("MP4")},
            {RECORDING_SAVE_LOCATION, movies + QStringLiteral("/Vistrel")},
            {SCREENSHOT_FORMAT, QStringLiteral("PNG")},
            {SCREENSHOT_SAVE_LOCATION, pictures + QStringLiteral("/Vistrel")},
            {SCREENSHOT_DELAY, 0},
            {MOUSE_SWITCH, true},
            {MOUSE_SHOW_CURSOR, true},
            {MOUSE_SHOW_HIGHLIGHT, true},
            {DESKTOP_TRAY_ICON, true},
            {DESKTOP_CLOSE_TO_TRAY, false},
            {DESKTOP_NOTIFICATIONS, true},
    };
}

QStringList applyDefaults(QSettings &settings)
{
    QStringList written;
    for (const Default &d : defaults()) {
        if (!settings.contains(d.key)) {
            settings.setValue(d.key, d.value);
            written << d.key;
        }
    }
    return written;
}

} // namespace SCSettings
