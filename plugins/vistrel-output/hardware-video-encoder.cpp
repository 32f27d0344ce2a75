#include "hardware-video-encoder.h"

#include "av-error-text.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/hwcontext.h>
}

#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// VA-API surfaces hold NV12: the chroma planes interleaved.
void i420ToNv12(const AVFrame *in, AVFrame *out)
{
    for (int y = 0; y < in->height; ++y)
        std::memcpy(out->data[0] + y * out->linesize[0], in->data[0] + y * in->linesize[0],
                    size_t(in->width));
    const int chromaWidth = (in->width + 1) / 2;
    for (int y = 0; y < (in->height + 1) / 2; ++y) {
        const uint8_t *u = in->data[1] + y * in->linesize[1];
        const uint8_t *v = in->data[2] + y * in->linesize[2];
        uint8_t *uv = out->data[1] + y * out->linesize[1];
        for (int x = 0; x < chromaWidth; ++x) {
            uv[2 * x] = u[x];
            uv[2 * x + 1] = v[x];
        }
    }
}

} // namespace

HardwareVideoEncoder::~HardwareVideoEncoder()
{
    av_frame_free(&m_onCard);
    av_frame_free(&m_nv12);
    av_buffer_unref(&m_frames);
    av_buffer_unref(&m_device);
}

const char *HardwareVideoEncoder::codecName(Kind kind)
{
    return kind == Kind::VaApi ? "h264_vaapi" : "h264_nvenc";
}

bool HardwareVideoEncoder::kindOf(const std::string &codecName, Kind *kind)
{
    for (Kind candidate : {Kind::VaApi, Kind::Nvenc}) {
        if (codecName == HardwareVideoEncoder::codecName(candidate)) {
            *kind = candidate;
            return true;
        }
    }
    return false;
}

std::string HardwareVideoEncoder::vaapiDevice()
{
    if (const char *chosen = std::getenv("VISTREL_VAAPI_DEVICE"))
        return chosen;
    std::vector<std::string> nodes;
    if (DIR *dir = opendir("/dev/dri")) {
        while (const dirent *entry = readdir(dir))
            if (std::strncmp(entry->d_name, "renderD", 7) == 0)
                nodes.push_back(std::string("/dev/dri/") + entry->d_name);
        closedir(dir);
    }
    std::sort(nodes.begin(), nodes.end());
    return nodes.empty() ? std::string() : nodes.front();
}

bool HardwareVideoEncoder::works(Kind kind, std::string *reason)
{
    const AVCodec *codec = avcodec_find_encoder_by_name(codecName(kind));
    if (!codec) {
        *reason = std::string("FFmpeg has no ") + codecName(kind);
        return false;
    }
    AVCodecContext *encoder = avcodec_alloc_context3(codec);
    encoder->width = 256;
    encoder->height = 256;
    encoder->time_base = {1, 30};
    encoder->framerate = {30, 1};
    encoder->pix_fmt = AV_PIX_FMT_YUV420P;
    HardwareVideoEncoder hardware;
    std::string error;
    bool ok = hardware.prepare(encoder, kind, error);
    if (ok) {
        const int ret = avcodec_open2(encoder, codec, nullptr);
        ok = ret >= 0;
        if (!ok)
            error = std::string("the encoder does not open: ") + avErrorText(ret);
    }
    avcodec_free_context(&encoder);
    if (!ok)
        *reason = error;
    return ok;
}

bool HardwareVideoEncoder::prepare(AVCodecContext *encoder, Kind kind, std::string &error)
{
    m_kind = kind;
    if (kind == Kind::Nvenc) {
        encoder->pix_fmt = AV_PIX_FMT_YUV420P;
        return true;
    }
    const std::string device = vaapiDevice();
    if (device.empty()) {
        error = "the machine has no render node (/dev/dri/renderD*)";
        return false;
    }
    int ret = av_hwdevice_ctx_create(&m_device, AV_HWDEVICE_TYPE_VAAPI, device.c_str(), nullptr, 0);
    if (ret < 0) {
        error = "VA-API does not open " + device + ": " + avErrorText(ret);
        return false;
    }
    m_frames = av_hwframe_ctx_alloc(m_device);
    if (!m_frames) {
        error = "out of memory";
        return false;
    }
    auto *frames = reinterpret_cast<AVHWFramesContext *>(m_frames->data);
    frames->format = AV_PIX_FMT_VAAPI;
    frames->sw_format = AV_PIX_FMT_NV12;
    frames->width = encoder->width;
    frames->height = encoder->height;
    frames->initial_pool_size = 8;
    ret = av_hwframe_ctx_init(m_frames);
    if (ret < 0) {
        error = "the card gives no picture pool of " + std::to_string(encoder->width) + "x"
                + std::to_string(encoder->height) + ": " + avErrorText(ret);
        return false;
    }
    encoder->pix_fmt = AV_PIX_FMT_VAAPI;
    encoder->hw_frames_ctx = av_buffer_ref(m_frames);
    m_nv12 = av_frame_alloc();
    m_nv12->format = AV_PIX_FMT_NV12;
    m_nv12->width = encoder->width;
    m_nv12->height = encoder->height;
    if (av_frame_get_buffer(m_nv12, 0) < 0) {
        error = "out of memory";
        return false;
    }
    m_onCard = av_frame_alloc();
    return true;
}

AVFrame *HardwareVideoEncoder::upload(AVFrame *picture, std::string &error)
{
    if (m_kind == Kind::Nvenc)
        return picture;
    av_frame_unref(m_onCard);
    if (av_frame_make_writable(m_nv12) < 0) {
        error = "out of memory";
        return nullptr;
    }
    i420ToNv12(picture, m_nv12);
    int ret = av_hwframe_get_buffer(m_frames, m_onCard, 0);
    if (ret >= 0)
        ret = av_hwframe_transfer_data(m_onCard, m_nv12, 0);
    if (ret < 0) {
        error = "the picture does not reach the card: " + avErrorText(ret);
        return nullptr;
    }
    m_onCard->pts = picture->pts;
    return m_onCard;
}
