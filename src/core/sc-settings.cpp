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
            {HOTKEYS_FULL_SCREENSHOT, QStringLiteral("Shift+F10")},
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
            {recordingFpsKey(OutputFormat::MP4), 30},
            {recordingFpsKey(OutputFormat::AVI), 30},
            {recordingFpsKey(OutputFormat::FLV), 30},
            {recordingFpsKey(OutputFormat::GIF), 15},
            {recordingFpsKey(OutputFormat::MKV), 30},
            {recordingFpsKey(OutputFormat::WEBM), 30},
            {recordingQualityKey(OutputFormat::MP4), QStringLiteral("Balanced")},
            {recordingQualityKey(OutputFormat::AVI), QStringLiteral("Balanced")},
            {recordingQualityKey(OutputFormat::FLV), QStringLiteral("Balanced")},
            {recordingQualityKey(OutputFormat::GIF), QStringLiteral("Balanced")},
            {recordingQualityKey(OutputFormat::MKV), QStringLiteral("Balanced")},
            {recordingQualityKey(OutputFormat::WEBM), QStringLiteral("Balanced")},
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

QString recordingFpsKey(OutputFormat format)
{
    return QStringLiteral("recording/fps/") + OUTPUT_FORMAT_STRINGS.at(format);
}

QString recordingQualityKey(OutputFormat format)
{
    return QStringLiteral("recording/quality/") + OUTPUT_FORMAT_STRINGS.at(format);
}

int recordingFps(const QSettings &settings, OutputFormat format)
{
    bool ok = false;
    const int fps = settings.value(recordingFpsKey(format)).toInt(&ok);
    return ok && recordingFpsChoices(format).contains(fps) ? fps : defaultRecordingFps(format);
}

RecordingQuality recordingQuality(const QSettings &settings, OutputFormat format)
{
    const auto found
            = RECORDING_QUALITY_MAP.find(settings.value(recordingQualityKey(format)).toString());
    if (found == RECORDING_QUALITY_MAP.end()
        || (found->second == RecordingQuality::Lossless && !formatOffersLossless(format)))
        return RecordingQuality::Balanced;
    return found->second;
}

QString recordingEncoderKey(OutputFormat format)
{
    return QStringLiteral("recording/encoder/") + OUTPUT_FORMAT_STRINGS.at(format);
}

VideoEncoderChoice recordingEncoder(const QSettings &settings, OutputFormat format)
{
    if (!formatOffersHardwareEncoder(format))
        return VideoEncoderChoice::Software;
    const auto found
            = VIDEO_ENCODER_MAP.find(settings.value(recordingEncoderKey(format)).toString());
    return found == VIDEO_ENCODER_MAP.end() ? VideoEncoderChoice::Automatic : found->second;
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
