#pragma once

#include "output-settings.h"

extern "C" {
#include <libavutil/pixfmt.h>
#include <libavutil/rational.h>
}

#include <atomic>
#include <memory>
#include <string>

struct AVAudioFifo;
struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct SwrContext;
struct SwsContext;
class GifFrameStore;
class GifPaletteFilter;
class HardwareVideoEncoder;

// What libobs hands the output: frames of this size and format at this rate.
struct VideoSource
{
    int width = 0;
    int height = 0;
    AVPixelFormat format = AV_PIX_FMT_NONE;
    AVRational frameRate = {30, 1};
    bool fullRange = false;
    bool bt709 = true;
};

// Planar float samples.
struct AudioSource
{
    int sampleRate = 48000;
    int channels = 2;
};

// Encodes and muxes one file with FFmpeg. Used from one thread at a time; only bytesWritten()
// may be read from elsewhere.
class FileWriter
{
public:
    FileWriter();
    ~FileWriter();
    FileWriter(const FileWriter &) = delete;
    FileWriter &operator=(const FileWriter &) = delete;

    bool open(const OutputSettings &settings, const VideoSource &video, const AudioSource &audio);

    bool hasVideo() const { return m_videoEncoder != nullptr; }
    bool hasAudio() const { return m_audioEncoder != nullptr; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    const char *videoCodecName() const;
    const char *audioCodecName() const;

    // index counts frames at the source rate from the start of the file
    bool writeVideo(const AVFrame *frame, int64_t index);
    // appended right after the samples written before
    bool writeAudio(const AVFrame *frame);
    bool writeSilence(int samples);

    // Drains the picture encoder once the last picture is in, while sound may still come.
    bool finishVideo();
    // Drains every encoder and closes the file.
    bool finish();
    // After a failure: keeps what is on disk and closes the file.
    void abandon();

    int errorCode() const { return m_errorCode; }
    const std::string &errorMessage() const { return m_errorMessage; }
    int64_t bytesWritten() const { return m_bytesWritten.load(); }
    int64_t videoFramesWritten() const { return m_videoFramesWritten; }
    // AAC frames larger than the ADTS frame size, which stay as they are.
    int64_t aacFramesOversize() const { return m_aacFramesOversize; }
    double duration() const { return m_duration; }

private:
    bool openVideo(const OutputSettings &settings, const VideoSource &video);
    bool openVideoEncoder(const OutputSettings &settings, const VideoSource &video);
    void closeVideoEncoder();
    bool openAudio(const OutputSettings &settings, const AudioSource &audio);
    bool openFile(const OutputSettings &settings);
    bool encodeVideo(AVFrame *frame);
    bool encodeAudioChunk(int samples);
    bool drainAudio();
    bool encode(AVCodecContext *encoder, AVStream *stream, AVFrame *frame);
    bool writePacket(AVPacket *packet, AVStream *stream);
    bool flushHeldPacket();
    void padAacPacket(AVPacket *packet);
    bool fail(int code, const std::string &message);
    bool failWrite(int err);
    void closeFile(bool writeTrailer);
    void noteSize();
    void startGifStore(const OutputSettings &settings);
    void writeGifAgain();

    AVFormatContext *m_format = nullptr;
    bool m_headerWritten = false;
    bool m_videoFinished = false;
    std::string m_url;

    AVCodecContext *m_videoEncoder = nullptr;
    AVStream *m_videoStream = nullptr;
    SwsContext *m_scaler = nullptr;
    AVFrame *m_scaled = nullptr;
    std::unique_ptr<GifPaletteFilter> m_gifFilter;
    // GIF: every picture kept for writing the file again at the end, with a palette made
    // from the whole recording; and that palette, for the writer that does so.
    std::unique_ptr<GifFrameStore> m_gifStore;
    OutputSettings m_gifSettings;
    const AVFrame *m_givenPalette = nullptr;
    std::unique_ptr<HardwareVideoEncoder> m_hardware;
    AVPacket *m_heldPacket = nullptr;
    // ADTS: the size every AAC frame is padded to, 0 for other containers.
    size_t m_aacFrameBytes = 0;
    int64_t m_aacFramesOversize = 0;
    AVRational m_frameRate = {30, 1};
    int m_width = 0;
    int m_height = 0;
    int64_t m_lastVideoPts = -1;
    int64_t m_videoFramesWritten = 0;

    AVCodecContext *m_audioEncoder = nullptr;
    AVStream *m_audioStream = nullptr;
    SwrContext *m_resampler = nullptr;
    AVAudioFifo *m_fifo = nullptr;
    AVFrame *m_resampled = nullptr;
    AudioSource m_audioSource;
    int m_audioFrameSize = 1024;
    int64_t m_audioPts = 0;

    AVPacket *m_packet = nullptr;
    std::atomic<int64_t> m_bytesWritten {0};
    double m_duration = 0.0;
    int m_errorCode = 0;
    std::string m_errorMessage;
};
