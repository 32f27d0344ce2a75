#pragma once

// Level capture from the engine's signals, shared by the engine and sound-server tests.

#include "sc-obs-wrapper.h"
#include "tone-player.h"

#include <QProcess>
#include <QStandardPaths>
#include <QString>

#include <algorithm>
#include <limits>
#include <memory>

// Keeps what the level signals carried: pointers are valid only during the emission.
struct LevelRecorder
{
    float maxMagnitude = -std::numeric_limits<float>::infinity();
    int count = 0;
    int nonZero = 0;
    void record(const float *magnitude, const float *peak, const float *inputPeak)
    {
        ++count;
        // All zeros is "no audio measured yet" or "switched off", not a 0 dB level.
        if (magnitude[0] != 0.0f || peak[0] != 0.0f || inputPeak[0] != 0.0f) {
            ++nonZero;
            maxMagnitude = std::max(maxMagnitude, magnitude[0]);
        }
    }
    void reset() { *this = LevelRecorder(); }
};
