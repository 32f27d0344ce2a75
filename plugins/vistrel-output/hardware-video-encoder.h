#pragma once

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include <string>

struct AVBufferRef;
struct AVCodecContext;

// H.264 on the graphics card through FFmpeg: VA-API (Intel, AMD and others through Mesa) takes
// its pictures in the card's memory, NVENC takes ours as they are. One recording at a time.
class HardwareVideoEncoder
{
public:
    enum class Kind { VaApi, Nvenc };

    HardwareVideoEncoder() = default;
    ~HardwareVideoEncoder();
    HardwareVideoEncoder(const HardwareVideoEncoder &) = delete;
    HardwareVideoEncoder &operator=(const HardwareVideoEncoder &) = delete;

    static const char *codecName(Kind kind);
    // The kind behind an FFmpeg encoder name, false for software encoders.
    static bool kindOf(const std::string &codecName, Kind *kind);
    // VISTREL_VAAPI_DEVICE, or the first render node of the machine; empty when there is none.
    static std::string vaapiDevice();
    // Whether this machine opens the encoder for a small picture; why not otherwise.
    static bool works(Kind kind, std::string *reason);

    // Readies `encoder` (size and rates set) for the card: the device and a pool of the card's
    // pictures for VA-API. The pictures handed to upload() are then I420.
    bool prepare(AVCodecContext *encoder, Kind kind, std::string &error);
    // The encoder's picture for an I420 one, with its time: `picture` itself for NVENC, a
    // copy in the card's memory for VA-API (unref'd by the next call). Null on failure.
    AVFrame *upload(AVFrame *picture, std::string &error);

private:
    Kind m_kind = Kind::Nvenc;
    AVBufferRef *m_device = nullptr;
    AVBufferRef *m_frames = nullptr;
    AVFrame *m_nv12 = nullptr;
    AVFrame *m_onCard = nullptr;
};
