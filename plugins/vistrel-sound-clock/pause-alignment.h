#pragma once

#include <atomic>
#include <cstdint>

// The screen reader leaves a pause out on its own frame times, while libobs cuts the sound
// out on its video clock's, whose frames fall elsewhere: the two lengths may differ by a
// frame, and the sound after the resume would be that much off its picture. This tells how
// many samples the sound is to lose or to get as silence so that both leave out the same.
class PauseAlignment
{
public:
    explicit PauseAlignment(uint32_t sampleRate);

    // From the pictures' thread: all their pauses so far have ended, `pausedNs` in total.
    void picturesResumed(uint64_t pausedNs);

    // For each sound packet, with libobs's total pause time so far. Returns the samples to
    // leave out (< 0) or to add as silence (> 0) from here on.
    int64_t next(uint64_t soundPausedNs);

    uint64_t picturesPausedNs() const { return m_picturePaused.load(); }
    int soundResumes() const { return m_soundResumes; }
    int64_t shiftSamples() const { return m_shift; }

private:
    uint32_t m_rate;
    std::atomic<uint64_t> m_picturePaused {0};
    std::atomic<int> m_pictureResumes {0};
    // sound side, one thread
    uint64_t m_soundPaused = 0;
    int m_soundResumes = 0;
    int64_t m_shift = 0;
};
