#pragma once

// Small helpers shared by the engine tests: tones into the session's sound server, an
// isolated settings/app-data folder, and level capture from the engine's signals.

#include "sc-obs-wrapper.h"

#include <QProcess>
#include <QStandardPaths>
#include <QString>

#include <algorithm>
#include <limits>
#include <memory>

// Plays a 440 Hz sine for `seconds` into a PulseAudio sink (the default sink when empty).
inline std::unique_ptr<QProcess> playTone(double seconds, const QString &sink = QString())
{
    auto process = std::make_unique<QProcess>();
    const QString device = sink.isEmpty() ? QString() : QStringLiteral(" -d ") + sink;
    process->start(QStringLiteral("sh"),
                   {QStringLiteral("-c"),
                    QStringLiteral("sox -n -t wav - synth %1 sine 440 | paplay%2")
                            .arg(seconds)
                            .arg(device)});
    process->waitForStarted();
    return process;
}

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
