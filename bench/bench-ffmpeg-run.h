#pragma once

#include "bench-figures.h"

#include <QString>

// Records the same screen with the ffmpeg tool (x11grab and libx264 veryfast) as a child
// process, and measures that child.
class BenchFfmpegRun
{
public:
    BenchFigures run(const QString &file, const QString &logFile, int seconds);
};
