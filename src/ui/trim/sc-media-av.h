#pragma once

#include "sc-media-trimmer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
}

#include <QString>

#include <memory>

// Owners of FFmpeg's objects and the few steps both ways of cutting share.
namespace SCMediaAv {

struct InputCloser
{
    void operator()(AVFormatContext *context) const { avformat_close_input(&context); }
};
using Input = std::unique_ptr<AVFormatContext, InputCloser>;

struct OutputCloser
{
    void operator()(AVFormatContext *context) const
    {
        if (context->pb)
            avio_closep(&context->pb);
        avformat_free_context(context);
    }
};
using Output = std::unique_ptr<AVFormatContext, OutputCloser>;

struct CodecCloser
{
    void operator()(AVCodecContext *context) const { avcodec_free_context(&context); }
};
using Codec = std::unique_ptr<AVCodecContext, CodecCloser>;

struct PacketFree
{
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};
using Packet = std::unique_ptr<AVPacket, PacketFree>;

struct FrameFree
{
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};
using Frame = std::unique_ptr<AVFrame, FrameFree>;

struct GraphFree
{
    void operator()(AVFilterGraph *graph) const { avfilter_graph_free(&graph); }
};
using Graph = std::unique_ptr<AVFilterGraph, GraphFree>;

QString errorText(int error);
SCMediaTrimResult failure(SCMediaTrimResult::Failure failure, const QString &detail);
// A write that failed: a full disk and a refused folder are told apart from the rest.
SCMediaTrimResult writeFailure(int error, const QString &step);

Input openInput(const QString &path, SCMediaTrimResult *result);
// The muxer for the target's suffix, opened on `path`.
Output openOutput(const QString &target, const QString &path, SCMediaTrimResult *result);
// Writes the trailer and closes the file, reporting what the disk said.
SCMediaTrimResult finishOutput(AVFormatContext *output);

// Where the file's own time starts, in AV_TIME_BASE units.
int64_t origin(const AVFormatContext *input);
// The picture stream to cut (cover pictures do not count), or -1.
int videoStream(const AVFormatContext *input);
int audioStream(const AVFormatContext *input);
int64_t toMicroseconds(int64_t ts, AVRational timeBase);

} // namespace SCMediaAv
