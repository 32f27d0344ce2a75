#pragma once

#include <obs.h>

#include <QString>

// The recording formats in OutputFormat's order, with the settings the engine writes for each.
enum class RecordFormat { Mp4, Avi, Flv, Gif, Mp3, Aac, Flac, Mkv, Webm };

// libobs brought up the way the program does: X11 over EGL on Qt's display, 640x360 at 30 fps,
// 48 kHz stereo, the screen on channel 0 and the computer's sound on channel 1.
class ObsTestSession
{
public:
    static constexpr int kWidth = 640;
    static constexpr int kHeight = 360;
    static constexpr int kFps = 30;

    static bool startUp(const QString &configDir, QString *error);
    static void shutDown();

    static QString extension(RecordFormat format);
    static QString name(RecordFormat format);
    static bool hasVideo(RecordFormat format);
    static bool hasAudio(RecordFormat format);
    // The settings object of one format, keys in the engine's order; path has no extension.
    static obs_data_t *settingsFor(RecordFormat format, const QString &path, int width, int height);
};
