#pragma once

#include "sc-types.h"

#include <QByteArray>

// What each quality of each video format asks of its encoders: the one place that decides
// rates, quantisers and encoder speed.
struct EncoderPreset
{
    const char *container = "";
    const char *mime = "";
    const char *videoEncoder = "";
    int videoEncoderId = 0;
    const char *audioEncoder = "none";
    int audioEncoderId = 0;
    int audioBitrate = 0; // kbit/s
    // The video rate in percent of the caller's rate; 0 when a quantiser decides instead.
    int bitratePercent = 0;
    // Passed to the video encoder as they are (FFmpeg's "key=value" options).
    const char *videoOptions = "";
    // A ceiling for a quantiser's rate in percent of the caller's rate, over two seconds of
    // buffer; 0 for none.
    int maxRatePercent = 0;
    // Seconds between key pictures.
    int keySeconds = 10;
    // GIF: colours of the palette, how it is dithered, and whether every picture gets a
    // palette of its own (else the first picture's serves the whole file).
    int gifColors = 256;
    const char *gifDither = "";
    bool gifPalettePerPicture = false;
};

namespace SCEncoderPresets {

// Formats without the quality fall back to Balanced; audio-only formats have no preset.
EncoderPreset preset(OutputFormat format, RecordingQuality quality);
// The video side of a graphics card's H.264 encoder (VaApi or Nvenc) at a quality other than
// Lossless, which only the software encoder offers.
EncoderPreset hardwarePreset(VideoEncoderChoice kind, RecordingQuality quality);
// The preset's encoder options with its ceiling for `bitrate` (in units of 1024 kbit/s).
QByteArray videoOptions(const EncoderPreset &preset, int bitrate);
bool offers(OutputFormat format, RecordingQuality quality);

} // namespace SCEncoderPresets
