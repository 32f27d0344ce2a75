#include "pause-alignment.h"

#include <cmath>

PauseAlignment::PauseAlignment(uint32_t sampleRate)
    : m_rate(sampleRate ? sampleRate : 48000)
{ }

void PauseAlignment::picturesResumed(uint64_t pausedNs)
{
    // the total first: the sound reads it once the count matches its own
    m_picturePaused = pausedNs;
    ++m_pictureResumes;
}

int64_t PauseAlignment::next(uint64_t soundPausedNs)
{
    if (soundPausedNs != m_soundPaused) {
        m_soundPaused = soundPausedNs;
        ++m_soundResumes;
    }
    // Until the pictures have seen the same resume, their total is not comparable.
    if (m_soundResumes == 0 || m_pictureResumes.load() != m_soundResumes)
        return 0;
    const double difference = double(m_picturePaused.load()) - double(m_soundPaused);
    const int64_t shift = std::llround(difference * m_rate / 1e9);
    const int64_t change = shift - m_shift;
    m_shift = shift;
    // pictures that left out more moved closer to the start than the sound did
    return -change;
}
