#pragma once

#include "bench-figures.h"

#include <QString>

// Records the same screen with the ffmpeg tool (x11grab and libx264 veryfast, or for WebM
// libvpx-vp9 in real time as the program sets it up) as a child process, and measures that
// child.
class BenchFfmpegRun
{
public:
    BenchFigures run(const QString &file, const QString &logFile, const BenchSetup &setup);
};
