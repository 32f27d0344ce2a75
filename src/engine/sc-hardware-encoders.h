#pragma once

#include "sc-types.h"

#include <QList>
#include <QString>

// Which of the graphics card's H.264 encoders work on this machine, found by opening each for
// a small picture once per process (a few milliseconds without a card, more with one).
class SCHardwareEncoders
{
public:
    struct Probe
    {
        VideoEncoderChoice kind;
        bool works = false;
        QString reason; // why not, when it does not
    };

    // VA-API first, then NVENC.
    static const QList<Probe> &probes();
    static QList<VideoEncoderChoice> available();
    // FFmpeg's name of the encoder for a hardware kind, empty for the others.
    static QString encoderName(VideoEncoderChoice kind);
};
