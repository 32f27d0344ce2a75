#pragma once

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libavutil/rational.h>
}

#include <string>

struct AVFilterGraph;
struct AVFilterContext;

// Quantises the frames to GIF's palette: the first frame's for the whole recording, so that
// what stands still keeps its colour indices and the GIF encoder writes only what changed, a
// palette made for each frame alone, which keeps every colour of a screen that changes
// completely, or a palette given (one made from the whole recording).
class GifPaletteFilter
{
public:
    GifPaletteFilter() = default;
    ~GifPaletteFilter();
    GifPaletteFilter(const GifPaletteFilter &) = delete;
    GifPaletteFilter &operator=(const GifPaletteFilter &) = delete;

    // dither is paletteuse's: a method name with its options, e.g. "bayer:bayer_scale=3".
    bool open(int width, int height, AVPixelFormat format, AVRational timeBase, int colors,
              const std::string &dither, bool perFrame, std::string &error);
    // With the palette given, a 16x16 frame as palettegen makes it.
    bool open(int width, int height, AVPixelFormat format, AVRational timeBase,
              const AVFrame *palette, const std::string &dither, std::string &error);
    // A null frame ends the stream.
    int push(AVFrame *frame);
    // 0 with a PAL8 frame, AVERROR(EAGAIN) when none is ready, AVERROR_EOF at the end.
    int pull(AVFrame *frame);

private:
    bool build(int width, int height, AVPixelFormat format, AVRational timeBase,
               const AVFrame *palette, const std::string &description, std::string &error);

    AVFilterGraph *m_graph = nullptr;
    AVFilterContext *m_source = nullptr;
    AVFilterContext *m_sink = nullptr;
};
