#pragma once

#include <QImage>
#include <QString>

#include <optional>

// Reads recorded files back with the ffmpeg and ffprobe tools.
class BenchMediaProbe
{
public:
    // Decoded video frames, counted by ffprobe.
    static std::optional<long> frameCount(const QString &file);
    // Frames left after mpdecimate drops each one that looks like the frame kept before it.
    static std::optional<long> distinctFrameCount(const QString &file);
    // Frames whose decoded picture differs in any pixel from every other frame's: an upper
    // bound, as encoder noise can make copies of one picture differ.
    static std::optional<long> uniqueFrameCount(const QString &file);
    static QImage firstFrame(const QString &file, const QString &pngPath);
    static QString pixelFormat(const QString &file);

private:
    static std::optional<QByteArray> run(const QString &program, const QStringList &arguments);
};
