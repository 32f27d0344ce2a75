#pragma once

struct obs_source_info;

// The desktop's sound, read from the monitor of a PulseAudio (or PipeWire) sink and stamped
// with the time it is heard. A monitor hands the sound over when the sink mixes it, which is
// the sink's latency (tens of ms, changing with every block it mixes) before it is played;
// a player shows its picture when its sound is played. The stream's own latency, negative on
// a monitor, gives that time; libobs's reader stamps the sound when it arrives, so a
// recording's sound came 40-60 ms before its picture.
const obs_source_info &desktopSoundSourceInfo();
