#pragma once

#include <QRect>
#include <QString>

#include <optional>

// What both recorders are asked for: seconds, pictures a second, the file type ("mp4",
// "mkv", "webm" with the same encoder for both, or "gif") and the part of the screen, in
// device pixels (the whole screen when empty).
struct BenchSetup
{
    int seconds = 20;
    int fps = 30;
    QString format = QStringLiteral("mp4");
    QRect area;
};

// What one recorder achieved in one run; unknown figures stay empty.
struct BenchFigures
{
    QString name;
    QString file;
    QString error;
    double cpuSeconds = 0.0;
    double wallSeconds = 0.0;
    double peakMemoryMb = 0.0;
    int expectedFrames = 0;
    std::optional<long> frames;
    std::optional<long> distinctFrames;
    std::optional<long> uniqueFrames;
    std::optional<long> droppedFrames;
    std::optional<long> duplicatedFrames;
    std::optional<long> laggedFrames;
    // Signed: a file may begin with a picture from just before the start call.
    std::optional<double> startLatencyMs;
    std::optional<double> stopLatencyMs;
    // Processor seconds of libobs's picture threads (the graphics thread and the software
    // rasteriser's) and of its frame hand-over thread, while recording.
    std::optional<double> renderCpuSeconds;
    std::optional<double> videoIoCpuSeconds;
    // Pictures libobs composed while recording: the ticks it did not miss.
    std::optional<long> renderedFrames;
    QString pixelFormat;
    std::optional<qint64> fileBytes;
    // Mean SSIM of the file's luma against the screen's pictures, and how many were compared.
    std::optional<double> ssim;
    int ssimFrames = 0;
    // Monotonic milliseconds at the start call; turns the first frame's time code into a
    // latency.
    uint32_t startCallMs = 0;
};
