#include "resume-sound-check.h"

#include <cmath>

namespace {

// packets of 1024 samples: about a tenth of a second to measure, more to settle the lag
constexpr int kResumePackets = 6;
constexpr double kSmoothing = 1.0 / 16.0;
// the mixer's wake-ups jitter by a millisecond or two
constexpr double kToleranceNs = 5e6;

} // namespace

ResumeSoundCheck::ResumeSoundCheck(uint32_t sampleRate)
    : m_rate(sampleRate ? sampleRate : 48000)
{ }

int64_t ResumeSoundCheck::next(int64_t lagNs, uint64_t pauseOffsetNs)
{
    if (pauseOffsetNs != m_pauseOffset) {
        m_pauseOffset = pauseOffsetNs;
        // a resume before any sound came has nothing to be compared with
        m_resumeCount = m_haveLag ? 0 : -1;
        m_resumeSum = 0.0;
    }
    if (m_resumeCount >= 0) {
        m_resumeSum += double(lagNs);
        if (++m_resumeCount < kResumePackets)
            return 0;
        m_resumeCount = -1;
        const double after = m_resumeSum / kResumePackets;
        const double change = after - m_lag;
        // libobs's stamps go on counting what it handed over: this is the lag from now on
        m_lag = after;
        if (std::fabs(change) <= kToleranceNs)
            return 0;
        return std::llround(change * m_rate / 1e9);
    }
    if (!m_haveLag) {
        m_haveLag = true;
        m_lag = double(lagNs);
    } else {
        m_lag += (double(lagNs) - m_lag) * kSmoothing;
    }
    return 0;
}
