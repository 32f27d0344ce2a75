#include "sc-media-reencode.h"

#include "sc-media-av.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <QFileInfo>

#include <algorithm>
#include <map>
#include <vector>

using Failure = SCMediaTrimResult::Failure;
using namespace SCMediaAv;

namespace {

// Decoders keep a few pictures back: packets this far past the end still matter.
constexpr int64_t TAIL_US = 1000000;

// One stream on its way through decoder, filters and encoder.
struct Lane
{
    AVStream *out = nullptr;
    Codec decoder;
    Codec encoder;
    Graph graph;
    AVFilterContext *source = nullptr;
    AVFilterContext *sink = nullptr;
    bool video = false;
    bool done = false;
};

const AVCodec *videoEncoder(const QString &suffix)
{
    if (suffix == QLatin1String("gif"))
        return avcodec_find_encoder(AV_CODEC_ID_GIF);
    if (suffix == QLatin1String("webm"))
        return avcodec_find_encoder_by_name("libvpx-vp9");
    // What the program's own AVI recordings hold.
    if (suffix == QLatin1String("avi"))
        return avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    if (suffix == QLatin1String("mp4") || suffix == QLatin1String("mkv")
        || suffix == QLatin1String("flv"))
        return avcodec_find_encoder_by_name("libx264");
    return nullptr;
}

// The sound keeps its codec where the container takes it.
const AVCodec *audioEncoder(const QString &suffix, AVCodecID codec, const AVOutputFormat *format)
{
    if (suffix == QLatin1String("gif"))
        return nullptr;
    if (suffix == QLatin1String("webm")) {
        const AVCodec *opus = avcodec_find_encoder_by_name("libopus");
        return opus ? opus : avcodec_find_encoder(AV_CODEC_ID_OPUS);
    }
    const AVCodec *same = avcodec_find_encoder(codec);
    if (same && avformat_query_codec(format, same->id, FF_COMPLIANCE_NORMAL) == 1)
        return same;
    return format->audio_codec != AV_CODEC_ID_NONE ? avcodec_find_encoder(format->audio_codec)
                                                   : nullptr;
}

QString seconds(int64_t us)
{
    return QString::number(double(us) / AV_TIME_BASE, 'f', 6);
}

int openDecoder(Lane &lane, const AVStream *in)
{
    const AVCodec *codec = avcodec_find_decoder(in->codecpar->codec_id);
    if (!codec)
        return AVERROR_DECODER_NOT_FOUND;
    lane.decoder.reset(avcodec_alloc_context3(codec));
    int error = avcodec_parameters_to_context(lane.decoder.get(), in->codecpar);
    if (error < 0)
        return error;
    lane.decoder->pkt_timebase = in->time_base;
    return avcodec_open2(lane.decoder.get(), codec, nullptr);
}

int buildGraph(Lane &lane, const QString &args, const QString &chain)
{
    lane.graph.reset(avfilter_graph_alloc());
    AVFilterGraph *graph = lane.graph.get();
    int error = avfilter_graph_create_filter(
            &lane.source, avfilter_get_by_name(lane.video ? "buffer" : "abuffer"), "in",
            args.toUtf8().constData(), nullptr, graph);
    if (error >= 0) {
        error = avfilter_graph_create_filter(
                &lane.sink, avfilter_get_by_name(lane.video ? "buffersink" : "abuffersink"), "out",
                nullptr, nullptr, graph);
    }
    if (error < 0)
        return error;
    AVFilterInOut *outputs = avfilter_inout_alloc();
    AVFilterInOut *inputs = avfilter_inout_alloc();
    outputs->name = av_strdup("in");
    outputs->filter_ctx = lane.source;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = lane.sink;
    error = avfilter_graph_parse_ptr(graph, chain.toUtf8().constData(), &inputs, &outputs, nullptr);
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    return error < 0 ? error : avfilter_graph_config(graph, nullptr);
}

int setUpVideo(Lane &lane, AVFormatContext *input, AVStream *in, const AVCodec *codec,
               const QString &range, bool gif)
{
    const AVCodecContext *decoder = lane.decoder.get();
    const AVRational aspect = decoder->sample_aspect_ratio.num > 0 ? decoder->sample_aspect_ratio
                                                                   : AVRational {1, 1};
    const QString args = QStringLiteral("video_size=%1x%2:pix_fmt=%3:time_base=%4/%5:"
                                        "pixel_aspect=%6/%7")
                                 .arg(decoder->width)
                                 .arg(decoder->height)
                                 .arg(int(decoder->pix_fmt))
                                 .arg(in->time_base.num)
                                 .arg(in->time_base.den)
                                 .arg(aspect.num)
                                 .arg(aspect.den);
    const QString chain = QStringLiteral("trim=%1,setpts=PTS-STARTPTS,").arg(range)
            + (gif ? QStringLiteral("split[a][b];[b]palettegen[p];[a][p]paletteuse")
                   : QStringLiteral("format=yuv420p"));
    int error = buildGraph(lane, args, chain);
    if (error < 0)
        return error;
    AVCodecContext *encoder = lane.encoder.get();
    encoder->width = av_buffersink_get_w(lane.sink);
    encoder->height = av_buffersink_get_h(lane.sink);
    encoder->pix_fmt = AVPixelFormat(av_buffersink_get_format(lane.sink));
    encoder->sample_aspect_ratio = av_buffersink_get_sample_aspect_ratio(lane.sink);
    encoder->framerate = av_guess_frame_rate(input, in, nullptr);
    encoder->time_base = av_buffersink_get_time_base(lane.sink);
    if (codec->id == AV_CODEC_ID_MPEG4) {
        // MPEG-4 part 2 takes no time base finer than 1/65535.
        if (encoder->framerate.num > 0)
            encoder->time_base = av_inv_q(encoder->framerate);
        encoder->flags |= AV_CODEC_FLAG_QSCALE;
        encoder->global_quality = FF_QP2LAMBDA * 3;
    } else if (codec->id == AV_CODEC_ID_H264) {
        av_opt_set(encoder->priv_data, "preset", "veryfast", 0);
        av_opt_set(encoder->priv_data, "crf", "20", 0);
    } else if (codec->id == AV_CODEC_ID_VP9) {
        av_opt_set(encoder->priv_data, "deadline", "realtime", 0);
        av_opt_set_int(encoder->priv_data, "cpu-used", 8, 0);
        av_opt_set_int(encoder->priv_data, "row-mt", 1, 0);
        av_opt_set_int(encoder->priv_data, "crf", 32, 0);
        encoder->bit_rate = 0;
    }
    return 0;
}

int setUpAudio(Lane &lane, const AVStream *in, const AVCodec *codec, const QString &range)
{
    const AVCodecContext *decoder = lane.decoder.get();
    AVCodecContext *encoder = lane.encoder.get();
    AVChannelLayout layout;
    if (decoder->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&layout, decoder->ch_layout.nb_channels);
    else
        av_channel_layout_copy(&layout, &decoder->ch_layout);
    char inLayout[128] = {};
    av_channel_layout_describe(&layout, inLayout, sizeof inLayout);
    if (codec->ch_layouts && av_channel_layout_check(&layout)) {
        bool listed = false;
        for (const AVChannelLayout *l = codec->ch_layouts; l->nb_channels; ++l)
            listed = listed || av_channel_layout_compare(l, &layout) == 0;
        if (!listed) {
            av_channel_layout_uninit(&layout);
            layout = AV_CHANNEL_LAYOUT_STEREO;
        }
    }
    av_channel_layout_copy(&encoder->ch_layout, &layout);
    char outLayout[128] = {};
    av_channel_layout_describe(&layout, outLayout, sizeof outLayout);
    av_channel_layout_uninit(&layout);

    encoder->sample_rate = decoder->sample_rate;
    if (codec->supported_samplerates) {
        int chosen = codec->supported_samplerates[0];
        for (const int *rate = codec->supported_samplerates; *rate; ++rate) {
            if (*rate == decoder->sample_rate)
                chosen = *rate;
        }
        encoder->sample_rate = chosen;
    }
    encoder->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : decoder->sample_fmt;
    for (const AVSampleFormat *format = codec->sample_fmts; format && *format != -1; ++format) {
        if (*format == decoder->sample_fmt)
            encoder->sample_fmt = *format;
    }
    encoder->time_base = AVRational {1, encoder->sample_rate};
    if (codec->id != AV_CODEC_ID_FLAC)
        encoder->bit_rate = 192000;

    const QString args
            = QStringLiteral("time_base=%1/%2:sample_rate=%3:sample_fmt=%4:"
                             "channel_layout=%5")
                      .arg(in->time_base.num)
                      .arg(in->time_base.den)
                      .arg(decoder->sample_rate)
                      .arg(QString::fromLatin1(av_get_sample_fmt_name(decoder->sample_fmt)))
                      .arg(QString::fromLatin1(inLayout));
    const QString chain
            = QStringLiteral("atrim=%1,asetpts=PTS-STARTPTS,"
                             "aformat=sample_fmts=%2:sample_rates=%3:"
                             "channel_layouts=%4")
                      .arg(range)
                      .arg(QString::fromLatin1(av_get_sample_fmt_name(encoder->sample_fmt)))
                      .arg(encoder->sample_rate)
                      .arg(QString::fromLatin1(outLayout));
    return buildGraph(lane, args, chain);
}

int encode(Lane &lane, AVFrame *frame, AVFormatContext *output, AVPacket *packet)
{
    AVCodecContext *encoder = lane.encoder.get();
    int error = avcodec_send_frame(encoder, frame);
    if (error < 0 && error != AVERROR_EOF)
        return error;
    while ((error = avcodec_receive_packet(encoder, packet)) >= 0) {
        av_packet_rescale_ts(packet, encoder->time_base, lane.out->time_base);
        packet->stream_index = lane.out->index;
        if ((error = av_interleaved_write_frame(output, packet)) < 0)
            return error;
    }
    return error == AVERROR(EAGAIN) || error == AVERROR_EOF ? 0 : error;
}

int drainFilters(Lane &lane, AVFormatContext *output, AVFrame *frame, AVPacket *packet)
{
    const AVRational timeBase = av_buffersink_get_time_base(lane.sink);
    for (;;) {
        int error = av_buffersink_get_frame(lane.sink, frame);
        if (error == AVERROR(EAGAIN) || error == AVERROR_EOF)
            return 0;
        if (error < 0)
            return error;
        frame->pts = av_rescale_q(frame->pts, timeBase, lane.encoder->time_base);
        frame->pict_type = AV_PICTURE_TYPE_NONE;
        error = encode(lane, frame, output, packet);
        av_frame_unref(frame);
        if (error < 0)
            return error;
    }
}

int decode(Lane &lane, const AVPacket *input, AVFormatContext *output, AVFrame *frame,
           AVPacket *packet)
{
    int error = avcodec_send_packet(lane.decoder.get(), input);
    // A damaged piece of the source costs its pictures, not the cut.
    if (error < 0 && error != AVERROR_EOF && error != AVERROR_INVALIDDATA)
        return error;
    while ((error = avcodec_receive_frame(lane.decoder.get(), frame)) >= 0) {
        frame->pts = frame->best_effort_timestamp;
        if ((error = av_buffersrc_add_frame_flags(lane.source, frame, 0)) < 0)
            return error;
        if ((error = drainFilters(lane, output, frame, packet)) < 0)
            return error;
    }
    return error == AVERROR(EAGAIN) || error == AVERROR_EOF || error == AVERROR_INVALIDDATA ? 0
                                                                                            : error;
}

} // namespace

namespace SCMediaReencode {

SCMediaTrimResult run(const SCMediaTrimRequest &request, const QString &partPath,
                      const std::function<void(int)> &progress, const std::atomic<bool> &cancel)
{
    SCMediaTrimResult result;
    Input input = openInput(request.source, &result);
    if (!input)
        return result;
    Output output = openOutput(request.target, partPath, &result);
    if (!output)
        return result;
    const QString suffix = QFileInfo(request.target).suffix().toLower();
    const int64_t startUs = origin(input.get()) + request.startMs * 1000;
    const int64_t endUs = origin(input.get()) + request.endMs * 1000;
    const QString range = QStringLiteral("start=%1:end=%2").arg(seconds(startUs), seconds(endUs));

    std::vector<std::unique_ptr<Lane>> lanes;
    std::map<int, Lane *> byStream;
    for (const int index : {videoStream(input.get()), audioStream(input.get())}) {
        if (index < 0)
            continue;
        AVStream *in = input->streams[index];
        auto lane = std::make_unique<Lane>();
        lane->video = in->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
        const AVCodec *codec = lane->video
                ? videoEncoder(suffix)
                : audioEncoder(suffix, in->codecpar->codec_id, output->oformat);
        if (!codec)
            continue;
        lane->encoder.reset(avcodec_alloc_context3(codec));
        int error = openDecoder(*lane, in);
        if (error < 0)
            return failure(Failure::Unreadable, QStringLiteral("decoder: ") + errorText(error));
        error = lane->video
                ? setUpVideo(*lane, input.get(), in, codec, range, suffix == QLatin1String("gif"))
                : setUpAudio(*lane, in, codec, range);
        if (output->oformat->flags & AVFMT_GLOBALHEADER)
            lane->encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (error >= 0)
            error = avcodec_open2(lane->encoder.get(), codec, nullptr);
        if (error < 0) {
            return failure(Failure::Unsupported,
                           QStringLiteral("%1: %2").arg(QString::fromLatin1(codec->name),
                                                        errorText(error)));
        }
        if (!lane->video && !(codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE))
            av_buffersink_set_frame_size(lane->sink, lane->encoder->frame_size);
        lane->out = avformat_new_stream(output.get(), nullptr);
        if (!lane->out
            || avcodec_parameters_from_context(lane->out->codecpar, lane->encoder.get()) < 0)
            return failure(Failure::Failed, QStringLiteral("cannot add a stream"));
        lane->out->time_base = lane->encoder->time_base;
        byStream[index] = lane.get();
        lanes.push_back(std::move(lane));
    }
    if (lanes.empty())
        return failure(Failure::Unsupported, QStringLiteral("no stream to encode"));
    if (const int error = avformat_write_header(output.get(), nullptr); error < 0)
        return writeFailure(error, QStringLiteral("header"));

    if (av_seek_frame(input.get(), -1, startUs, AVSEEK_FLAG_BACKWARD) < 0)
        av_seek_frame(input.get(), -1, origin(input.get()), AVSEEK_FLAG_BACKWARD);
    Packet in(av_packet_alloc());
    Packet out(av_packet_alloc());
    Frame frame(av_frame_alloc());
    size_t done = 0;
    while (done < lanes.size() && av_read_frame(input.get(), in.get()) >= 0) {
        if (cancel)
            return failure(Failure::Cancelled, QString());
        const auto it = byStream.find(in->stream_index);
        Lane *lane = it != byStream.end() ? it->second : nullptr;
        if (!lane || lane->done) {
            av_packet_unref(in.get());
            continue;
        }
        const AVRational timeBase = input->streams[in->stream_index]->time_base;
        const int64_t ts = in->dts != AV_NOPTS_VALUE ? in->dts : in->pts;
        const int64_t at = ts != AV_NOPTS_VALUE ? toMicroseconds(ts, timeBase) : startUs;
        if (at > endUs + TAIL_US) {
            lane->done = true;
            ++done;
            av_packet_unref(in.get());
            continue;
        }
        const int error = decode(*lane, in.get(), output.get(), frame.get(), out.get());
        av_packet_unref(in.get());
        if (error < 0)
            return writeFailure(error, QStringLiteral("encoding"));
        progress(int(std::clamp<int64_t>((at - startUs) * 100 / (endUs - startUs), 0, 99)));
    }
    for (const auto &lane : lanes) {
        int error = decode(*lane, nullptr, output.get(), frame.get(), out.get());
        if (error >= 0)
            error = av_buffersrc_add_frame_flags(lane->source, nullptr, 0);
        if (error >= 0)
            error = drainFilters(*lane, output.get(), frame.get(), out.get());
        if (error >= 0)
            error = encode(*lane, nullptr, output.get(), out.get());
        if (error < 0)
            return writeFailure(error, QStringLiteral("encoding"));
    }
    result = finishOutput(output.get());
    result.startMs = request.startMs;
    return result;
}

} // namespace SCMediaReencode
