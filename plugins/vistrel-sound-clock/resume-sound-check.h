#pragma once

#include <cstdint>

// libobs cuts a pause out of the sound by the sound's times, but its mixer hands sound over
// its buffering later than it was taken, and a raw output gets that much more of it than the
// pause left: the sound after a resume came tens of ms after its picture. The time from a
// packet's stamp to its arrival is steady while recording; after a resume it is shorter by
// the sound that was too much (longer by what was missing). This tells how many samples the
// file is to lose or to get as silence, once, a few packets after each resume.
class ResumeSoundCheck
{
public:
    explicit ResumeSoundCheck(uint32_t sampleRate);

    // A packet that came `lagNs` after its stamp, with libobs's total pause time so far.
    // Returns the samples to leave out (< 0) or to add as silence (> 0) from here on.
    int64_t next(int64_t lagNs, uint64_t pauseOffsetNs);

private:
    uint32_t m_rate;
    bool m_haveLag = false;
    double m_lag = 0.0;
    uint64_t m_pauseOffset = 0;
    // packets measured since the last resume; -1 when not after one
    int m_resumeCount = -1;
    double m_resumeSum = 0.0;
};
