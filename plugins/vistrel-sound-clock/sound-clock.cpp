#include "sound-clock.h"

#include <algorithm>
#include <cmath>

namespace {

// libobs's own limit for laying packets end to end: past it, it re-times them itself.
constexpr double kRestartNs = 70e6;
// A sample, 21 us at 48 kHz, is let go or repeated past this error.
constexpr double kDeadBandNs = 0.5e6;
// The stamps jitter by a few ms with the wake-ups of the sound thread; seconds of smoothing
// leave the clock's slow drift.
constexpr double kSmoothingSeconds = 4.0;
// A step is seen over half a second, past the jitter of libobs's own readers' stamps.
constexpr double kFastSmoothingSeconds = 0.5;
constexpr double kStepNs = 12e6;

} // namespace

SoundClock::SoundClock(uint32_t sampleRate)
    : m_rate(sampleRate ? sampleRate : 48000)
{ }

uint64_t SoundClock::clockAt(int64_t samples) const
{
    return m_anchor + uint64_t(std::llround(double(samples) * 1e9 / double(m_rate)));
}

SoundClock::Step SoundClock::next(uint64_t timestamp, uint32_t frames)
{
    Step step;
    const double error = m_started ? double(int64_t(clockAt(m_samples) - timestamp)) : 0.0;
    if (!m_started || std::fabs(error) > kRestartNs) {
        step.restarted = m_started;
        m_started = true;
        m_anchor = timestamp;
        m_samples = 0;
        m_error = 0.0;
        m_fastError = 0.0;
        m_recentCount = 0;
        m_owed = 0;
    } else {
        const double seconds = double(frames) / m_rate;
        m_error += (error - m_error) * std::min(1.0, seconds / kSmoothingSeconds);
        m_fastError += (error - m_fastError) * std::min(1.0, seconds / kFastSmoothingSeconds);
        m_recent[m_recentCount++ % m_recent.size()] = error;
        // Outside a step, one sample a packet at most: packets come every 10-25 ms, far more
        // often than a clock off by even 0.1 % needs.
        if (frames < 2) {
            // too short to take a sample from or put one in
        } else if (takeStep(step, frames)) {
            step.timestamp = clockAt(m_samples);
            m_samples += int64_t(frames) + step.change;
            return step;
        } else if (m_error > kDeadBandNs) {
            step.change = -1;
            ++m_dropped;
        } else if (m_error < -kDeadBandNs) {
            step.change = 1;
            ++m_added;
        }
        // What the change does to the error shows at once, not only through the smoothing.
        m_error += step.change * 1e9 / m_rate;
        m_fastError += step.change * 1e9 / m_rate;
    }
    step.timestamp = clockAt(m_samples);
    m_samples += int64_t(frames) + step.change;
    return step;
}

bool SoundClock::takeStep(Step &step, uint32_t frames)
{
    if (m_owed == 0 && std::fabs(m_fastError) > kStepNs && m_recentCount >= m_recent.size()) {
        // The smoothed error lags the step; the last few packets lie past it.
        double recent = 0.0;
        for (double e : m_recent)
            recent += e / m_recent.size();
        m_owed = -std::llround(recent * m_rate / 1e9);
        m_fastError = m_error = recent;
        ++m_steps;
    }
    if (m_owed == 0)
        return false;
    // what is more than this packet can give goes with the next ones
    step.change = int(
            std::clamp<int64_t>(m_owed, -int64_t(frames - 1), int64_t(kRestartNs * m_rate / 1e9)));
    m_owed -= step.change;
    (step.change > 0 ? m_added : m_dropped) += std::abs(step.change);
    const double moved = step.change * 1e9 / m_rate;
    for (double &e : m_recent)
        e += moved;
    m_fastError += moved;
    m_error += moved;
    return true;
}
