#pragma once

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libavutil/rational.h>
}

#include <string>

struct AVFilterGraph;
struct AVFilterContext;

// Quantises every frame with a palette made for that frame alone, so a GIF keeps the colours
// of whatever is on screen at the moment instead of one palette for the whole recording.
class GifPaletteFilter
{
public:
    GifPaletteFilter() = default;
    ~GifPaletteFilter();
    GifPaletteFilter(const GifPaletteFilter &) = delete;
    GifPaletteFilter &operator=(const GifPaletteFilter &) = delete;

    // dither is paletteuse's: a method name with its options, e.g. "bayer:bayer_scale=3".
    bool open(int width, int height, AVPixelFormat format, AVRational timeBase, int colors,
              const std::string &dither, std::string &error);
    // A null frame ends the stream.
    int push(AVFrame *frame);
    // 0 with a PAL8 frame, AVERROR(EAGAIN) when none is ready, AVERROR_EOF at the end.
    int pull(AVFrame *frame);

private:
    AVFilterGraph *m_graph = nullptr;
    AVFilterContext *m_source = nullptr;
    AVFilterContext *m_sink = nullptr;
};
