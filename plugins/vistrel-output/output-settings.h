#pragma once

#include "effect-config.h"

#include <obs-data.h>

#include <optional>
#include <string>

// The keys the engine writes for one recording, read once at start.
struct OutputSettings
{
    std::string url;
    std::string formatName;
    std::string mimeType;
    std::string muxerSettings;

    bool video = true;
    std::string videoEncoder;
    int videoEncoderId = 0;
    int videoBitrate = 0; // kbit/s
    int gopSize = 0;
    // FFmpeg's "key=value ..." options for the video encoder: preset, quantiser, speed.
    std::string videoEncoderOptions;
    // Taken, with its options and rate, when the video encoder does not open (a hardware
    // encoder without its card or driver); empty for none.
    std::string videoFallbackEncoder;
    std::string videoFallbackOptions;
    int videoFallbackBitrate = 0; // kbit/s
    // GIF: colours of the palette, paletteuse's dither, and a palette for each picture (else
    // the first picture's for the whole file).
    int gifColors = 256;
    std::string gifDither = "bayer:bayer_scale=3";
    bool gifPalettePerPicture = false;
    int scaleWidth = 0;
    int scaleHeight = 0;

    bool audio = true;
    std::string audioEncoder;
    int audioEncoderId = 0;
    int audioBitrate = 0; // kbit/s

    // The picture read from this rectangle of the X screen instead of the engine's.
    bool screenCapture = false;
    int screenX = 0;
    int screenY = 0;
    int screenWidth = 0;
    int screenHeight = 0;
    // The size of the file's picture then; the engine's own frames only keep the time.
    int pictureWidth = 0;
    int pictureHeight = 0;
    int pictureFps = 0;
    // Drawn over the picture read from the screen, as the engine's filter would.
    std::optional<EffectConfig> pointerEffects;
    bool screenPointer = true;
    // A desktop's screen-cast stream to read instead of the X screen: its PipeWire connection
    // (the engine's descriptor, copied at the start) and node. The rectangle above is then
    // one inside the stream's picture; an empty one is all of it.
    int streamFd = -1;
    uint32_t streamNode = 0;

    static OutputSettings fromData(obs_data_t *data);

    // Audio containers still get a tiny picture encoder from the engine; it is never written.
    bool wantsVideo() const;
    bool wantsAudio() const;
};
