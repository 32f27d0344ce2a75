#pragma once

#include <obs-data.h>

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
    int scaleWidth = 0;
    int scaleHeight = 0;

    bool audio = true;
    std::string audioEncoder;
    int audioEncoderId = 0;
    int audioBitrate = 0; // kbit/s

    static OutputSettings fromData(obs_data_t *data);

    // Audio containers still get a tiny picture encoder from the engine; it is never written.
    bool wantsVideo() const;
    bool wantsAudio() const;
};
