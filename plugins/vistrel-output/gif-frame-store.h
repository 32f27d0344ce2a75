#pragma once

extern "C" {
#include <libavutil/rational.h>
}

#include <functional>
#include <string>

struct AVCodecContext;
struct AVFilterContext;
struct AVFilterGraph;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;

// Keeps every picture of a GIF recording losslessly beside it, with the colours of what
// changes from picture to picture, so that at the end the GIF can be written once more with
// one palette made for the whole recording: what a second pass over a lossless capture gives,
// without waiting for one. QuickTime RLE in MOV: it stores only what changed, which for a
// screen is a few kB a picture, at a few ms a picture.
class GifFrameStore
{
public:
    GifFrameStore();
    ~GifFrameStore();
    GifFrameStore(const GifFrameStore &) = delete;
    GifFrameStore &operator=(const GifFrameStore &) = delete;

    // The pictures are RGB24 of this size; their index counts frames at frameRate.
    bool open(const std::string &path, int width, int height, AVRational frameRate, int colors,
              std::string &error);
    bool add(AVFrame *picture, int64_t index, std::string &error);
    // Ends the file and the colour count; the palette is a 16x16 RGB32 frame of the colours
    // that served what changed most, with one transparent entry.
    bool close(AVFrame *palette, std::string &error);
    // Hands every stored picture back in order, with its index, after close().
    bool replay(const std::function<bool(AVFrame *, int64_t)> &take, std::string &error);
    // Lets go of the file, whose space the system then takes back; also done when the
    // store goes.
    void remove();

private:
    bool encode(AVFrame *picture, std::string &error);
    bool openPaletteGraph(int colors, std::string &error);
    int countLastPicture();

    std::string m_path;
    std::string m_url;
    int m_fd = -1;
    AVRational m_frameRate = {15, 1};
    AVFormatContext *m_format = nullptr;
    AVCodecContext *m_encoder = nullptr;
    AVStream *m_stream = nullptr;
    AVPacket *m_packet = nullptr;
    AVFrame *m_last = nullptr;
    AVFilterGraph *m_graph = nullptr;
    AVFilterContext *m_source = nullptr;
    AVFilterContext *m_sink = nullptr;
    bool m_open = false;
};
