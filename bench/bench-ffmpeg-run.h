#pragma once

#include "bench-figures.h"

#include <QString>

// Records the same screen with the ffmpeg tool (x11grab and libx264 veryfast, for WebM
// libvpx-vp9 in real time as the program sets it up, for GIF a lossless capture followed by
// a palette pass and a dithering pass) as child processes, and measures them all.
class BenchFfmpegRun
{
public:
    BenchFigures run(const QString &file, const QString &logFile, const BenchSetup &setup);
};
