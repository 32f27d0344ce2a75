#include "gif-palette-filter.h"

#include "av-error-text.h"

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/opt.h>
}

GifPaletteFilter::~GifPaletteFilter()
{
    avfilter_graph_free(&m_graph);
}

bool GifPaletteFilter::open(int width, int height, AVPixelFormat format, AVRational timeBase,
                            int colors, const std::string &dither, bool perFrame,
                            std::string &error)
{
    // The palette of the first frame alone: palettegen gives it once its input ends, which
    // the trim does after one frame; paletteuse keeps it for every later frame.
    const std::string description = std::string("split[a][b];[a]")
            + (perFrame ? "" : "trim=end_frame=1,")
            + "palettegen=stats_mode=single:reserve_transparent=0:max_colors="
            + std::to_string(colors) + "[p];[b][p]paletteuse=" + (perFrame ? "new=1:" : "")
            + "dither=" + dither;
    return build(width, height, format, timeBase, nullptr, description, error);
}

bool GifPaletteFilter::open(int width, int height, AVPixelFormat format, AVRational timeBase,
                            const AVFrame *palette, const std::string &dither, std::string &error)
{
    return build(width, height, format, timeBase, palette,
                 "[in][palette]paletteuse=dither=" + dither, error);
}

bool GifPaletteFilter::build(int width, int height, AVPixelFormat format, AVRational timeBase,
                             const AVFrame *palette, const std::string &description,
                             std::string &error)
{
    m_graph = avfilter_graph_alloc();
    if (!m_graph) {
        error = "Cannot allocate the GIF palette filter";
        return false;
    }
    // Scaling and colour conversion happen before; the graph only makes and applies palettes.
    m_graph->nb_threads = 1;

    char args[256];
    snprintf(args, sizeof(args), "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=1/1",
             width, height, (int)format, timeBase.num, timeBase.den);
    int ret = avfilter_graph_create_filter(&m_source, avfilter_get_by_name("buffer"), "in", args,
                                           nullptr, m_graph);
    AVFilterContext *paletteSource = nullptr;
    if (ret >= 0 && palette) {
        snprintf(args, sizeof(args), "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=1/1",
                 palette->width, palette->height, palette->format, timeBase.num, timeBase.den);
        ret = avfilter_graph_create_filter(&paletteSource, avfilter_get_by_name("buffer"),
                                           "palette", args, nullptr, m_graph);
    }
    if (ret >= 0) {
        ret = avfilter_graph_create_filter(&m_sink, avfilter_get_by_name("buffersink"), "out",
                                           nullptr, nullptr, m_graph);
    }
    if (ret >= 0) {
        const AVPixelFormat formats[] = {AV_PIX_FMT_PAL8, AV_PIX_FMT_NONE};
        ret = av_opt_set_int_list(m_sink, "pix_fmts", formats, AV_PIX_FMT_NONE,
                                  AV_OPT_SEARCH_CHILDREN);
    }
    if (ret < 0) {
        error = "Cannot create the GIF palette filter: " + avErrorText(ret);
        return false;
    }

    AVFilterInOut *outputs = avfilter_inout_alloc();
    AVFilterInOut *inputs = avfilter_inout_alloc();
    outputs->name = av_strdup("in");
    outputs->filter_ctx = m_source;
    outputs->pad_idx = 0;
    outputs->next = nullptr;
    if (paletteSource) {
        AVFilterInOut *second = avfilter_inout_alloc();
        second->name = av_strdup("palette");
        second->filter_ctx = paletteSource;
        second->pad_idx = 0;
        second->next = nullptr;
        outputs->next = second;
    }
    inputs->name = av_strdup("out");
    inputs->filter_ctx = m_sink;
    inputs->pad_idx = 0;
    inputs->next = nullptr;

    ret = avfilter_graph_parse_ptr(m_graph, description.c_str(), &inputs, &outputs, nullptr);
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    if (ret >= 0)
        ret = avfilter_graph_config(m_graph, nullptr);
    // paletteuse keeps the last palette it got for every later frame; one that came later
    // than a frame would end the stream before that frame.
    if (ret >= 0 && paletteSource) {
        AVFrame *first = av_frame_clone(palette);
        ret = first ? 0 : AVERROR(ENOMEM);
        if (first) {
            first->pts = 0;
            ret = av_buffersrc_add_frame(paletteSource, first);
            av_frame_free(&first);
        }
        if (ret >= 0)
            ret = av_buffersrc_add_frame(paletteSource, nullptr);
    }
    if (ret < 0) {
        error = "Cannot set up the GIF palette filter: " + avErrorText(ret);
        return false;
    }
    return true;
}

int GifPaletteFilter::push(AVFrame *frame)
{
    return av_buffersrc_add_frame_flags(m_source, frame, AV_BUFFERSRC_FLAG_KEEP_REF);
}

int GifPaletteFilter::pull(AVFrame *frame)
{
    return av_buffersink_get_frame(m_sink, frame);
}
