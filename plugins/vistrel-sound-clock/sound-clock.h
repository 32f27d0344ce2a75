#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Keeps a sound source on the system clock. A sound card (or a sound server's sink) counts
// its samples on a clock of its own, a few tens of parts per million off the system's; libobs
// lays the samples end to end and only re-times them once they are 70 ms off, so over an hour
// the sound wanders against the picture and then jumps. This follows the error between the
// samples' own time and the time the source stamped on them, and lets one sample go or
// repeats one whenever the error, smoothed, passes a fraction of a millisecond: a change
// nobody hears, which keeps the sound within about a millisecond of the system clock.
// A lasting step of the stamps below libobs's limit (a sink whose latency changed when a
// player started) is taken at once, by as many samples as it is long: slewed one sample at
// a time it would leave the sound off for a minute.
class SoundClock
{
public:
    struct Step
    {
        // where the packet starts on the kept clock, in ns
        uint64_t timestamp = 0;
        // samples to repeat (> 0) or to drop (< 0, fewer than the packet has), 0: as it is
        int change = 0;
        // the source jumped (a new device, a pause): taken as it is, the clock starts again
        bool restarted = false;
    };

    explicit SoundClock(uint32_t sampleRate);

    // A packet of `frames` samples that the source stamped with `timestamp` (ns).
    Step next(uint64_t timestamp, uint32_t frames);

    // The smoothed error: positive when the samples run ahead of the stamps.
    double errorNs() const { return m_error; }
    int64_t samplesAdded() const { return m_added; }
    int64_t samplesDropped() const { return m_dropped; }
    int steps() const { return m_steps; }

private:
    uint64_t clockAt(int64_t samples) const;
    bool takeStep(Step &step, uint32_t frames);

    uint32_t m_rate;
    bool m_started = false;
    uint64_t m_anchor = 0;
    int64_t m_samples = 0;
    double m_error = 0.0;
    // the same error over a fraction of a second: sees a step long before m_error does
    double m_fastError = 0.0;
    // the last packets' errors: once a step is seen, they say how long it is
    std::array<double, 4> m_recent {};
    size_t m_recentCount = 0;
    // samples of a step still to repeat (> 0) or drop (< 0)
    int64_t m_owed = 0;
    int64_t m_added = 0;
    int64_t m_dropped = 0;
    int m_steps = 0;
};
