#include "gif-frame-store.h"

#include "av-error-text.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
}

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// A key picture now and then bounds what one damaged packet could take with it.
constexpr int kKeyInterval = 600;

// In the recording's folder, where there is room for the recording; a named file unlinked
// at once where the file system has no nameless files.
int openNameless(const std::string &path)
{
    const size_t slash = path.rfind('/');
    const std::string folder
            = slash == std::string::npos ? "." : path.substr(0, std::max<size_t>(slash, 1));
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0)
        return fd;
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::unlink(path.c_str());
    return fd;
}

} // namespace

GifFrameStore::GifFrameStore()
    : m_packet(av_packet_alloc())
    , m_last(av_frame_alloc())
{ }

GifFrameStore::~GifFrameStore()
{
    remove();
    av_packet_free(&m_packet);
    av_frame_free(&m_last);
}

bool GifFrameStore::open(const std::string &path, int width, int height, AVRational frameRate,
                         int colors, std::string &error)
{
    m_path = path;
    m_frameRate = frameRate;
    // Nameless on disk from the start: a process that is killed leaves nothing behind, and
    // the system takes the space back once the file is closed. FFmpeg reaches it through
    // the descriptor's own name.
    m_fd = openNameless(path);
    if (m_fd < 0) {
        error = "Cannot make the picture store '" + path + "': " + strerror(errno);
        return false;
    }
    m_url = "file:/proc/self/fd/" + std::to_string(m_fd);
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_QTRLE);
    if (!codec || !m_packet || !m_last) {
        error = "QuickTime RLE is not available";
        return false;
    }
    int ret = avformat_alloc_output_context2(&m_format, nullptr, "mov", m_url.c_str());
    if (ret < 0) {
        error = "Cannot make the picture store: " + avErrorText(ret);
        return false;
    }
    m_encoder = avcodec_alloc_context3(codec);
    m_encoder->width = width;
    m_encoder->height = height;
    m_encoder->pix_fmt = AV_PIX_FMT_RGB24;
    m_encoder->time_base = av_inv_q(frameRate);
    m_encoder->framerate = frameRate;
    m_encoder->gop_size = kKeyInterval;
    if (m_format->oformat->flags & AVFMT_GLOBALHEADER)
        m_encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    ret = avcodec_open2(m_encoder, codec, nullptr);
    if (ret >= 0) {
        m_stream = avformat_new_stream(m_format, nullptr);
        ret = m_stream ? avcodec_parameters_from_context(m_stream->codecpar, m_encoder)
                       : AVERROR(ENOMEM);
    }
    if (ret >= 0) {
        m_stream->time_base = m_encoder->time_base;
        ret = avio_open(&m_format->pb, m_url.c_str(), AVIO_FLAG_WRITE);
    }
    if (ret >= 0)
        ret = avformat_write_header(m_format, nullptr);
    if (ret < 0) {
        error = "Cannot start the picture store '" + path + "': " + avErrorText(ret);
        remove();
        return false;
    }
    m_open = true;
    return openPaletteGraph(colors, error);
}

bool GifFrameStore::openPaletteGraph(int colors, std::string &error)
{
    m_graph = avfilter_graph_alloc();
    if (!m_graph) {
        error = "Cannot allocate the palette count";
        return false;
    }
    m_graph->nb_threads = 1;
    char args[256];
    snprintf(args, sizeof(args), "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=1/1",
             m_encoder->width, m_encoder->height, (int)AV_PIX_FMT_RGB24, m_encoder->time_base.num,
             m_encoder->time_base.den);
    int ret = avfilter_graph_create_filter(&m_source, avfilter_get_by_name("buffer"), "in", args,
                                           nullptr, m_graph);
    AVFilterContext *count = nullptr;
    if (ret >= 0) {
        // Counting only what changed keeps a still background from taking every colour,
        // and the transparent entry lets the GIF leave unchanged pixels out.
        const std::string options
                = "stats_mode=diff:reserve_transparent=1:max_colors=" + std::to_string(colors);
        ret = avfilter_graph_create_filter(&count, avfilter_get_by_name("palettegen"), "count",
                                           options.c_str(), nullptr, m_graph);
    }
    if (ret >= 0) {
        ret = avfilter_graph_create_filter(&m_sink, avfilter_get_by_name("buffersink"), "out",
                                           nullptr, nullptr, m_graph);
    }
    if (ret >= 0)
        ret = avfilter_link(m_source, 0, count, 0);
    if (ret >= 0)
        ret = avfilter_link(count, 0, m_sink, 0);
    if (ret >= 0)
        ret = avfilter_graph_config(m_graph, nullptr);
    if (ret < 0) {
        error = "Cannot set up the palette count: " + avErrorText(ret);
        return false;
    }
    return true;
}

bool GifFrameStore::add(AVFrame *picture, int64_t index, std::string &error)
{
    if (!m_open) {
        error = "The picture store is closed";
        return false;
    }
    const int64_t pts = picture->pts;
    picture->pts = index;
    // Pushed through at once: nothing asks the graph for output until the end, and a
    // queued picture would stay in memory till then.
    int ret = av_buffersrc_add_frame_flags(m_source, picture,
                                           AV_BUFFERSRC_FLAG_KEEP_REF | AV_BUFFERSRC_FLAG_PUSH);
    const bool stored = ret >= 0 && encode(picture, error);
    av_frame_unref(m_last);
    if (ret >= 0)
        ret = av_frame_ref(m_last, picture);
    picture->pts = pts;
    if (ret < 0)
        error = "Cannot count the picture's colours: " + avErrorText(ret);
    return ret >= 0 && stored;
}

bool GifFrameStore::encode(AVFrame *picture, std::string &error)
{
    int ret = avcodec_send_frame(m_encoder, picture);
    while (ret >= 0) {
        ret = avcodec_receive_packet(m_encoder, m_packet);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return true;
        if (ret < 0)
            break;
        av_packet_rescale_ts(m_packet, m_encoder->time_base, m_stream->time_base);
        m_packet->stream_index = m_stream->index;
        ret = av_interleaved_write_frame(m_format, m_packet);
        if (ret >= 0 && m_format->pb->error < 0)
            ret = m_format->pb->error;
    }
    error = "Cannot store the picture in '" + m_path + "': " + avErrorText(ret);
    return false;
}

bool GifFrameStore::close(AVFrame *palette, std::string &error)
{
    if (!m_open) {
        error = "The picture store is closed";
        return false;
    }
    m_open = false;
    bool ok = encode(nullptr, error);
    int ret = av_write_trailer(m_format);
    if (ok && (ret < 0 || m_format->pb->error < 0)) {
        error = "Cannot end the picture store: " + avErrorText(ret < 0 ? ret : m_format->pb->error);
        ok = false;
    }
    avio_closep(&m_format->pb);
    avformat_free_context(m_format);
    m_format = nullptr;
    m_stream = nullptr;
    avcodec_free_context(&m_encoder);
    if (!ok)
        return false;

    ret = countLastPicture();
    if (ret >= 0)
        ret = av_buffersrc_add_frame(m_source, nullptr);
    if (ret >= 0)
        ret = av_buffersink_get_frame(m_sink, palette);
    avfilter_graph_free(&m_graph);
    if (ret < 0) {
        error = "No palette came out of the colour count: " + avErrorText(ret);
        return false;
    }
    return true;
}

// palettegen counts what changed by the colour it had before the change, so what the last
// picture shows, if it came after the first, would never count: a colour that appeared and
// stayed would be missing from the palette. A picture unlike the last in every pixel, pushed
// after it, has all of the last counted.
int GifFrameStore::countLastPicture()
{
    if (!m_last->data[0])
        return 0;
    AVFrame *unlike = av_frame_alloc();
    if (!unlike)
        return AVERROR(ENOMEM);
    unlike->format = m_last->format;
    unlike->width = m_last->width;
    unlike->height = m_last->height;
    int ret = av_frame_get_buffer(unlike, 0);
    for (int y = 0; ret >= 0 && y < unlike->height; ++y) {
        const uint8_t *from = m_last->data[0] + y * m_last->linesize[0];
        uint8_t *to = unlike->data[0] + y * unlike->linesize[0];
        for (int x = 0; x < 3 * unlike->width; ++x)
            to[x] = from[x] ^ 0xff;
    }
    if (ret >= 0) {
        unlike->pts = m_last->pts + 1;
        ret = av_buffersrc_add_frame_flags(m_source, unlike, AV_BUFFERSRC_FLAG_PUSH);
    }
    av_frame_free(&unlike);
    av_frame_unref(m_last);
    return ret;
}

bool GifFrameStore::replay(const std::function<bool(AVFrame *, int64_t)> &take, std::string &error)
{
    AVFormatContext *input = nullptr;
    int ret = avformat_open_input(&input, m_url.c_str(), nullptr, nullptr);
    if (ret >= 0)
        ret = avformat_find_stream_info(input, nullptr);
    if (ret < 0 || input->nb_streams < 1) {
        error = "Cannot read the picture store back: " + avErrorText(ret);
        avformat_close_input(&input);
        return false;
    }
    AVStream *stream = input->streams[0];
    const AVCodec *codec = avcodec_find_decoder(stream->codecpar->codec_id);
    AVCodecContext *decoder = codec ? avcodec_alloc_context3(codec) : nullptr;
    ret = decoder ? avcodec_parameters_to_context(decoder, stream->codecpar) : AVERROR(ENOMEM);
    if (ret >= 0) {
        decoder->thread_count = 1;
        ret = avcodec_open2(decoder, codec, nullptr);
    }
    AVFrame *frame = av_frame_alloc();
    if (ret >= 0 && !frame)
        ret = AVERROR(ENOMEM);
    // The caller's own failure leaves error to the caller.
    bool taken = true;
    bool draining = false;
    const double framesPerTick = av_q2d(stream->time_base) * av_q2d(m_frameRate);
    while (ret >= 0 && taken) {
        if (!draining) {
            ret = av_read_frame(input, m_packet);
            if (ret == AVERROR_EOF) {
                draining = true;
                ret = avcodec_send_packet(decoder, nullptr);
            } else if (ret >= 0) {
                ret = avcodec_send_packet(decoder, m_packet);
                av_packet_unref(m_packet);
            }
            if (ret < 0)
                break;
        }
        while (taken && (ret = avcodec_receive_frame(decoder, frame)) >= 0) {
            const int64_t index
                    = std::llround(double(frame->best_effort_timestamp) * framesPerTick);
            taken = take(frame, index);
            av_frame_unref(frame);
        }
        if (ret == AVERROR(EAGAIN))
            ret = 0;
    }
    const bool ok = taken && (ret >= 0 || ret == AVERROR_EOF);
    if (taken && !ok)
        error = "Cannot read the picture store back: " + avErrorText(ret);
    av_frame_free(&frame);
    avcodec_free_context(&decoder);
    avformat_close_input(&input);
    return ok;
}

void GifFrameStore::remove()
{
    av_frame_unref(m_last);
    avfilter_graph_free(&m_graph);
    avcodec_free_context(&m_encoder);
    if (m_format) {
        avio_closep(&m_format->pb);
        avformat_free_context(m_format);
        m_format = nullptr;
    }
    m_open = false;
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_url.clear();
}
