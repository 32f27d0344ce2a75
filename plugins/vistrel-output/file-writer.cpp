#include "file-writer.h"

#include "av-error-text.h"

#include "aac-frame-padding.h"
#include "gif-frame-store.h"
#include "gif-palette-filter.h"
#include "hardware-video-encoder.h"

#include <obs-defs.h>
#include <util/base.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <sys/prctl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <utility>

namespace {

// Every picture x264 holds costs about 6 MB at 1080p. Its default of 1.5 frame threads per
// core and a sync look-ahead of threads + B-frames hold a dozen more pictures than one thread
// per core without it, for no better picture: the capture shares those cores anyway.
void limitX264Buffers(AVDictionary **options)
{
    // x264 asks for huge pages, which round each of its pictures up to 2 MB steps (about
    // 20 MB in all at 1080p); the process gains nothing measurable from them.
    prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0);
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    av_dict_set(options, "threads", std::to_string(cores).c_str(), AV_DICT_DONT_OVERWRITE);
    const AVDictionaryEntry *params = av_dict_get(*options, "x264-params", nullptr, 0);
    if (!params) {
        av_dict_set(options, "x264-params", "sync-lookahead=0", 0);
    } else if (!strstr(params->value, "sync-lookahead")) {
        const std::string joined = std::string(params->value) + ":sync-lookahead=0";
        av_dict_set(options, "x264-params", joined.c_str(), 0);
    }
}

const AVCodec *findEncoder(const std::string &name, int id)
{
    const AVCodec *codec = nullptr;
    if (!name.empty() && name != "none")
        codec = avcodec_find_encoder_by_name(name.c_str());
    if (!codec && id > 0)
        codec = avcodec_find_encoder((AVCodecID)id);
    return codec;
}

AVPixelFormat pickPixelFormat(const AVCodec *codec)
{
    if (codec->id == AV_CODEC_ID_GIF)
        return AV_PIX_FMT_PAL8;
    if (!codec->pix_fmts)
        return AV_PIX_FMT_YUV420P;
    for (const AVPixelFormat *f = codec->pix_fmts; *f != AV_PIX_FMT_NONE; ++f) {
        if (*f == AV_PIX_FMT_YUV420P)
            return *f;
    }
    return codec->pix_fmts[0];
}

AVSampleFormat pickSampleFormat(const AVCodec *codec)
{
    if (!codec->sample_fmts)
        return AV_SAMPLE_FMT_FLTP;
    const AVSampleFormat preferred[]
            = {AV_SAMPLE_FMT_FLTP, AV_SAMPLE_FMT_S16P, AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S32};
    for (AVSampleFormat want : preferred) {
        for (const AVSampleFormat *f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f) {
            if (*f == want)
                return want;
        }
    }
    return codec->sample_fmts[0];
}

int pickSampleRate(const AVCodec *codec, int wanted)
{
    if (!codec->supported_samplerates)
        return wanted;
    int best = 0;
    for (const int *r = codec->supported_samplerates; *r; ++r) {
        if (*r == wanted)
            return wanted;
        if (!best || std::abs(*r - wanted) < std::abs(best - wanted))
            best = *r;
    }
    return best ? best : wanted;
}

bool isYuv(AVPixelFormat format)
{
    const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(format);
    return desc && !(desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL))
            && desc->nb_components >= 3;
}

bool isMp4(const AVOutputFormat *format)
{
    const std::string name = format->name;
    return name.find("mp4") != std::string::npos || name.find("mov") != std::string::npos;
}

// A hidden file beside the recording, on the same disk, so that a rename replaces it whole.
std::string hiddenSibling(const std::string &path, const char *suffix)
{
    const size_t slash = path.rfind('/');
    const size_t name = slash == std::string::npos ? 0 : slash + 1;
    std::string stem = path.substr(name);
    const size_t dot = stem.rfind('.');
    if (dot != std::string::npos && dot > 0)
        stem.resize(dot);
    return path.substr(0, name) + "." + stem + suffix;
}

void noteFirstPaletteKept(const std::string &why)
{
    blog(LOG_WARNING, "[vistrel-output] The GIF keeps its first picture's palette: %s",
         why.c_str());
}

bool isMatroska(const AVOutputFormat *format)
{
    const std::string name = format->name;
    return name == "matroska" || name == "webm";
}

} // namespace

FileWriter::FileWriter()
    : m_packet(av_packet_alloc())
{ }

FileWriter::~FileWriter()
{
    closeFile(false);
    avformat_free_context(m_format);
    avcodec_free_context(&m_videoEncoder);
    avcodec_free_context(&m_audioEncoder);
    sws_freeContext(m_scaler);
    swr_free(&m_resampler);
    if (m_fifo)
        av_audio_fifo_free(m_fifo);
    av_frame_free(&m_scaled);
    av_frame_free(&m_resampled);
    av_packet_free(&m_heldPacket);
    av_packet_free(&m_packet);
}

const char *FileWriter::videoCodecName() const
{
    return m_videoEncoder ? m_videoEncoder->codec->name : "none";
}

const char *FileWriter::audioCodecName() const
{
    return m_audioEncoder ? m_audioEncoder->codec->name : "none";
}

bool FileWriter::fail(int code, const std::string &message)
{
    if (!m_errorCode) {
        m_errorCode = code;
        m_errorMessage = message;
    }
    return false;
}

bool FileWriter::failWrite(int err)
{
    if (m_format && m_format->pb && m_format->pb->error < 0)
        err = m_format->pb->error;
    if (err == AVERROR(ENOSPC) || err == AVERROR(EDQUOT) || err == AVERROR(EFBIG))
        return fail(OBS_OUTPUT_NO_SPACE, "Not enough disk space to write '" + m_url + "'");
    return fail(OBS_OUTPUT_ERROR, "Cannot write '" + m_url + "': " + avErrorText(err));
}

bool FileWriter::open(const OutputSettings &settings, const VideoSource &video,
                      const AudioSource &audio)
{
    m_url = settings.url;
    if (m_url.empty())
        return fail(OBS_OUTPUT_BAD_PATH, "No file name given for the recording");

    const char *name = settings.formatName.empty() ? nullptr : settings.formatName.c_str();
    int ret = avformat_alloc_output_context2(&m_format, nullptr, name, m_url.c_str());
    if (ret < 0 || !m_format) {
        // Some names are file types rather than FFmpeg muxers ("aac" is written by "adts").
        const AVOutputFormat *guessed
                = av_guess_format(nullptr, m_url.c_str(), settings.mimeType.c_str());
        if (guessed)
            ret = avformat_alloc_output_context2(&m_format, guessed, nullptr, m_url.c_str());
    }
    if (ret < 0 || !m_format) {
        return fail(OBS_OUTPUT_ERROR,
                    "Unknown file format '" + settings.formatName + "' for '" + m_url + "'");
    }

    if (settings.wantsVideo() && m_format->oformat->video_codec != AV_CODEC_ID_NONE
        && !openVideo(settings, video)) {
        return false;
    }
    if (settings.wantsAudio() && m_format->oformat->audio_codec != AV_CODEC_ID_NONE
        && !openAudio(settings, audio)) {
        return false;
    }
    if (!m_videoEncoder && !m_audioEncoder)
        return fail(OBS_OUTPUT_ERROR, "The settings give neither video nor audio to record");

    return openFile(settings);
}

bool FileWriter::openVideo(const OutputSettings &settings, const VideoSource &video)
{
    if (openVideoEncoder(settings, video))
        return true;
    // Once its stream is in the file, another encoder cannot take its place.
    if (settings.videoFallbackEncoder.empty() || m_videoStream)
        return false;
    // A card's encoder that does not start must not cost the recording.
    blog(LOG_WARNING,
         "[vistrel-output] The video encoder %s cannot be used (%s): recording with %s",
         settings.videoEncoder.c_str(), m_errorMessage.c_str(),
         settings.videoFallbackEncoder.c_str());
    closeVideoEncoder();
    m_errorCode = 0;
    m_errorMessage.clear();
    OutputSettings fallback = settings;
    fallback.videoEncoder = settings.videoFallbackEncoder;
    fallback.videoEncoderId = 0;
    fallback.videoEncoderOptions = settings.videoFallbackOptions;
    fallback.videoBitrate = settings.videoFallbackBitrate;
    fallback.videoFallbackEncoder.clear();
    return openVideoEncoder(fallback, video);
}

void FileWriter::closeVideoEncoder()
{
    avcodec_free_context(&m_videoEncoder);
    m_hardware.reset();
    sws_freeContext(m_scaler);
    m_scaler = nullptr;
    av_frame_free(&m_scaled);
    m_gifFilter.reset();
    m_videoStream = nullptr;
}

bool FileWriter::openVideoEncoder(const OutputSettings &settings, const VideoSource &video)
{
    const AVCodec *codec = findEncoder(settings.videoEncoder, settings.videoEncoderId);
    if (!codec) {
        return fail(OBS_OUTPUT_ENCODE_ERROR,
                    "Video encoder '" + settings.videoEncoder + "' is not available");
    }
    const bool gif = codec->id == AV_CODEC_ID_GIF;
    HardwareVideoEncoder::Kind hardwareKind;
    const bool hardware = HardwareVideoEncoder::kindOf(codec->name, &hardwareKind);
    // A card's encoder is handed I420 pictures and takes them over itself.
    const AVPixelFormat encoderFormat = hardware ? AV_PIX_FMT_YUV420P : pickPixelFormat(codec);

    m_width = settings.scaleWidth > 0 ? settings.scaleWidth : video.width;
    m_height = settings.scaleHeight > 0 ? settings.scaleHeight : video.height;
    const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(encoderFormat);
    if (desc && desc->log2_chroma_w)
        m_width += m_width & 1;
    if (desc && desc->log2_chroma_h)
        m_height += m_height & 1;
    m_frameRate = video.frameRate;

    m_videoEncoder = avcodec_alloc_context3(codec);
    AVCodecContext *enc = m_videoEncoder;
    enc->width = m_width;
    enc->height = m_height;
    enc->pix_fmt = encoderFormat;
    enc->framerate = m_frameRate;
    // GIF frame delays are hundredths of a second
    enc->time_base = gif ? AVRational {1, 100} : av_inv_q(m_frameRate);
    enc->sample_aspect_ratio = {1, 1};
    if (settings.videoBitrate > 0)
        enc->bit_rate = (int64_t)settings.videoBitrate * 1000;
    if (settings.gopSize > 0)
        enc->gop_size = settings.gopSize;
    if (isYuv(encoderFormat)) {
        enc->color_range = AVCOL_RANGE_MPEG;
        enc->colorspace = video.bt709 ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
        enc->color_primaries = video.bt709 ? AVCOL_PRI_BT709 : AVCOL_PRI_SMPTE170M;
        enc->color_trc = video.bt709 ? AVCOL_TRC_BT709 : AVCOL_TRC_SMPTE170M;
    }
    if (m_format->oformat->flags & AVFMT_GLOBALHEADER)
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (hardware) {
        m_hardware = std::make_unique<HardwareVideoEncoder>();
        std::string error;
        if (!m_hardware->prepare(enc, hardwareKind, error))
            return fail(OBS_OUTPUT_ENCODE_ERROR, std::string(codec->name) + ": " + error);
    }

    AVDictionary *options = nullptr;
    if (!settings.videoEncoderOptions.empty())
        av_dict_parse_string(&options, settings.videoEncoderOptions.c_str(), "=", " ", 0);
    if (codec->id == AV_CODEC_ID_H264 && std::string(codec->name) == "libx264") {
        av_dict_set(&options, "preset", "veryfast", AV_DICT_DONT_OVERWRITE);
        limitX264Buffers(&options);
    }
    // Every frame has a palette of its own, so differences against the previous frame's
    // indices would show stale colours.
    if (gif && settings.gifPalettePerPicture)
        av_dict_set(&options, "gifflags", "0", 0);
    int ret = avcodec_open2(enc, codec, &options);
    // An option the encoder does not know stays in the dictionary: worth a line, not a failure.
    for (const AVDictionaryEntry *left = nullptr;
         (left = av_dict_get(options, "", left, AV_DICT_IGNORE_SUFFIX));) {
        blog(LOG_WARNING, "[vistrel-output] '%s' ignores the option %s=%s", codec->name, left->key,
             left->value);
    }
    av_dict_free(&options);
    if (ret < 0) {
        return fail(OBS_OUTPUT_ENCODE_ERROR,
                    std::string("Cannot open the video encoder '") + codec->name
                            + "': " + avErrorText(ret));
    }

    m_videoStream = avformat_new_stream(m_format, nullptr);
    avcodec_parameters_from_context(m_videoStream->codecpar, enc);
    m_videoStream->time_base = enc->time_base;
    m_videoStream->avg_frame_rate = m_frameRate;

    const AVPixelFormat scaledFormat = gif ? AV_PIX_FMT_RGB24 : encoderFormat;
    const bool sourceYuv = isYuv(video.format);
    if (video.width != m_width || video.height != m_height || video.format != scaledFormat
        || (sourceYuv && video.fullRange)) {
        m_scaler = sws_getContext(video.width, video.height, video.format, m_width, m_height,
                                  scaledFormat, SWS_BICUBIC, nullptr, nullptr, nullptr);
        if (!m_scaler) {
            return fail(OBS_OUTPUT_ENCODE_ERROR,
                        "Cannot convert the picture for the video encoder");
        }
        const int space = video.bt709 ? SWS_CS_ITU709 : SWS_CS_ITU601;
        sws_setColorspaceDetails(m_scaler, sws_getCoefficients(space), video.fullRange ? 1 : 0,
                                 sws_getCoefficients(space), isYuv(scaledFormat) ? 0 : 1, 0,
                                 1 << 16, 1 << 16);
        m_scaled = av_frame_alloc();
        m_scaled->format = scaledFormat;
        m_scaled->width = m_width;
        m_scaled->height = m_height;
        if (av_frame_get_buffer(m_scaled, 0) < 0)
            return fail(OBS_OUTPUT_ERROR, "Out of memory");
    }

    if (gif) {
        m_gifFilter = std::make_unique<GifPaletteFilter>();
        std::string error;
        const bool opened = m_givenPalette
                ? m_gifFilter->open(m_width, m_height, scaledFormat, enc->time_base, m_givenPalette,
                                    settings.gifDither, error)
                : m_gifFilter->open(m_width, m_height, scaledFormat, enc->time_base,
                                    settings.gifColors, settings.gifDither,
                                    settings.gifPalettePerPicture, error);
        if (!opened)
            return fail(OBS_OUTPUT_ENCODE_ERROR, error);
        if (!m_givenPalette && !settings.gifPalettePerPicture)
            startGifStore(settings);
    }
    return true;
}

void FileWriter::startGifStore(const OutputSettings &settings)
{
    m_gifSettings = settings;
    m_gifStore = std::make_unique<GifFrameStore>();
    std::string error;
    if (!m_gifStore->open(hiddenSibling(m_url, ".vistrel-frames.mov"), m_width, m_height,
                          m_frameRate, settings.gifColors, error)) {
        noteFirstPaletteKept(error);
        m_gifStore.reset();
    }
}

// The GIF written while recording stays the file until the one with the whole recording's
// palette is complete: a failure here costs the better picture, never the recording.
void FileWriter::writeGifAgain()
{
    const std::unique_ptr<GifFrameStore> store = std::move(m_gifStore);
    // The first file is complete: its filters' tables need not wait beside the next ones.
    m_gifFilter.reset();
    const std::string part = hiddenSibling(m_url, ".vistrel-part.gif");
    AVFrame *palette = av_frame_alloc();
    std::string error;
    bool ok = palette && store->close(palette, error);
    if (ok) {
        FileWriter again;
        again.m_givenPalette = palette;
        OutputSettings settings = m_gifSettings;
        settings.url = part;
        settings.audio = false;
        settings.scaleWidth = 0;
        settings.scaleHeight = 0;
        VideoSource source;
        source.width = m_width;
        source.height = m_height;
        source.format = AV_PIX_FMT_RGB24;
        source.frameRate = m_frameRate;
        ok = again.open(settings, source, AudioSource());
        ok = ok
                && store->replay(
                        [&again](AVFrame *picture, int64_t index) {
                            return again.writeVideo(picture, index);
                        },
                        error);
        ok = ok && again.finish();
        if (!ok && error.empty())
            error = again.errorMessage();
        if (ok && std::rename(part.c_str(), m_url.c_str()) != 0) {
            error = "Cannot put it in place of '" + m_url + "': " + strerror(errno);
            ok = false;
        }
        if (ok)
            m_bytesWritten = again.bytesWritten();
    }
    av_frame_free(&palette);
    if (!ok) {
        std::remove(part.c_str());
        noteFirstPaletteKept(error);
        return;
    }
    blog(LOG_INFO,
         "[vistrel-output] GIF written again with one palette for the recording: %lld bytes",
         (long long)m_bytesWritten.load());
}

bool FileWriter::openAudio(const OutputSettings &settings, const AudioSource &audio)
{
    const AVCodec *codec = findEncoder(settings.audioEncoder, settings.audioEncoderId);
    if (!codec) {
        return fail(OBS_OUTPUT_ENCODE_ERROR,
                    "Audio encoder '" + settings.audioEncoder + "' is not available");
    }
    m_audioSource = audio;

    m_audioEncoder = avcodec_alloc_context3(codec);
    AVCodecContext *enc = m_audioEncoder;
    enc->sample_fmt = pickSampleFormat(codec);
    // FLV knows only 44.1 kHz and its fractions for MP3
    const int wantedRate = std::string(m_format->oformat->name) == "flv" ? 44100 : audio.sampleRate;
    enc->sample_rate = pickSampleRate(codec, wantedRate);
    av_channel_layout_default(&enc->ch_layout, std::min(audio.channels, 2));
    enc->time_base = {1, enc->sample_rate};
    if (settings.audioBitrate > 0)
        enc->bit_rate = (int64_t)settings.audioBitrate * 1000;
    if (m_format->oformat->flags & AVFMT_GLOBALHEADER)
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    int ret = avcodec_open2(enc, codec, nullptr);
    if (ret < 0) {
        return fail(OBS_OUTPUT_ENCODE_ERROR,
                    std::string("Cannot open the audio encoder '") + codec->name
                            + "': " + avErrorText(ret));
    }
    m_audioFrameSize = enc->frame_size > 0 ? enc->frame_size : 1024;
    // ADTS files are measured by their frames' size: each one gets the nominal size.
    if (std::string(m_format->oformat->name) == "adts" && enc->bit_rate > 0)
        m_aacFrameBytes = size_t(enc->bit_rate * m_audioFrameSize / (8 * enc->sample_rate));

    m_audioStream = avformat_new_stream(m_format, nullptr);
    avcodec_parameters_from_context(m_audioStream->codecpar, enc);
    m_audioStream->time_base = enc->time_base;

    AVChannelLayout inputLayout;
    av_channel_layout_default(&inputLayout, audio.channels);
    ret = swr_alloc_set_opts2(&m_resampler, &enc->ch_layout, enc->sample_fmt, enc->sample_rate,
                              &inputLayout, AV_SAMPLE_FMT_FLTP, audio.sampleRate, 0, nullptr);
    av_channel_layout_uninit(&inputLayout);
    if (ret < 0 || swr_init(m_resampler) < 0)
        return fail(OBS_OUTPUT_ENCODE_ERROR, "Cannot convert the sound for the audio encoder");

    m_fifo = av_audio_fifo_alloc(enc->sample_fmt, enc->ch_layout.nb_channels, m_audioFrameSize * 4);
    m_resampled = av_frame_alloc();
    return m_fifo && m_resampled ? true : fail(OBS_OUTPUT_ERROR, "Out of memory");
}

bool FileWriter::openFile(const OutputSettings &settings)
{
    int ret = avio_open2(&m_format->pb, m_url.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr);
    if (ret < 0) {
        const int code = ret == AVERROR(ENOSPC) ? OBS_OUTPUT_NO_SPACE : OBS_OUTPUT_BAD_PATH;
        return fail(code, "Cannot create the file '" + m_url + "': " + avErrorText(ret));
    }
    // Every packet goes to disk at once, so a killed program leaves what it recorded.
    m_format->flush_packets = 1;

    AVDictionary *options = nullptr;
    if (isMp4(m_format->oformat) && m_videoEncoder) {
        // Fragments of at most a quarter second: a killed program leaves a file playable up to
        // its last fragment.
        av_dict_set(&options, "movflags", "frag_keyframe+empty_moov+default_base_moof", 0);
        av_dict_set(&options, "frag_duration", "250000", 0);
    }
    if (isMatroska(m_format->oformat)) {
        // A cluster reaches the file only when it is closed: short ones leave a killed
        // recording readable to within half a second.
        av_dict_set(&options, "cluster_time_limit", "100", 0);
        av_dict_set(&options, "cluster_size_limit", "1048576", 0);
    }
    if (!settings.muxerSettings.empty())
        av_dict_parse_string(&options, settings.muxerSettings.c_str(), "=", " ", 0);

    ret = avformat_write_header(m_format, &options);
    av_dict_free(&options);
    if (ret < 0) {
        closeFile(false);
        return fail(OBS_OUTPUT_ERROR, "Cannot start the file '" + m_url + "': " + avErrorText(ret));
    }
    m_headerWritten = true;
    noteSize();
    return true;
}

bool FileWriter::writeVideo(const AVFrame *frame, int64_t index)
{
    if (!m_videoEncoder || m_errorCode)
        return false;

    AVFrame *picture = const_cast<AVFrame *>(frame);
    if (m_scaler) {
        if (av_frame_make_writable(m_scaled) < 0)
            return fail(OBS_OUTPUT_ERROR, "Out of memory");
        sws_scale(m_scaler, frame->data, frame->linesize, 0, frame->height, m_scaled->data,
                  m_scaled->linesize);
        picture = m_scaled;
    }

    int64_t pts = av_rescale_q(index, av_inv_q(m_frameRate), m_videoEncoder->time_base);
    if (pts <= m_lastVideoPts)
        return true; // two frames in one tick of the file's clock
    m_lastVideoPts = pts;
    picture->pts = pts;

    if (m_hardware) {
        std::string error;
        AVFrame *onCard = m_hardware->upload(picture, error);
        if (!onCard)
            return fail(OBS_OUTPUT_ENCODE_ERROR, error);
        return encodeVideo(onCard);
    }
    if (!m_gifFilter)
        return encodeVideo(picture);

    if (m_gifStore) {
        std::string error;
        if (!m_gifStore->add(picture, index, error)) {
            noteFirstPaletteKept(error);
            m_gifStore.reset();
        }
    }

    if (m_gifFilter->push(picture) < 0)
        return fail(OBS_OUTPUT_ENCODE_ERROR, "The GIF palette filter failed");
    AVFrame *quantised = av_frame_alloc();
    bool ok = true;
    while (ok && m_gifFilter->pull(quantised) >= 0) {
        ok = encodeVideo(quantised);
        av_frame_unref(quantised);
    }
    av_frame_free(&quantised);
    return ok;
}

bool FileWriter::encodeVideo(AVFrame *frame)
{
    if (!encode(m_videoEncoder, m_videoStream, frame))
        return false;
    if (frame)
        ++m_videoFramesWritten;
    return true;
}

bool FileWriter::writeAudio(const AVFrame *frame)
{
    if (!m_audioEncoder || m_errorCode)
        return false;

    const int room = swr_get_out_samples(m_resampler, frame->nb_samples);
    av_frame_unref(m_resampled);
    m_resampled->format = m_audioEncoder->sample_fmt;
    m_resampled->nb_samples = std::max(room, 1);
    av_channel_layout_copy(&m_resampled->ch_layout, &m_audioEncoder->ch_layout);
    if (av_frame_get_buffer(m_resampled, 0) < 0)
        return fail(OBS_OUTPUT_ERROR, "Out of memory");
    const int converted = swr_convert(m_resampler, m_resampled->data, m_resampled->nb_samples,
                                      (const uint8_t **)frame->extended_data, frame->nb_samples);
    if (converted < 0)
        return fail(OBS_OUTPUT_ENCODE_ERROR, "Cannot convert the sound for the audio encoder");
    if (converted > 0 && av_audio_fifo_write(m_fifo, (void **)m_resampled->data, converted) < 0)
        return fail(OBS_OUTPUT_ERROR, "Out of memory");

    while (av_audio_fifo_size(m_fifo) >= m_audioFrameSize) {
        if (!encodeAudioChunk(m_audioFrameSize))
            return false;
    }
    return true;
}

bool FileWriter::writeSilence(int samples)
{
    if (samples <= 0)
        return true;
    AVFrame *silence = av_frame_alloc();
    silence->format = AV_SAMPLE_FMT_FLTP;
    silence->nb_samples = samples;
    av_channel_layout_default(&silence->ch_layout, m_audioSource.channels);
    bool ok = av_frame_get_buffer(silence, 0) >= 0;
    if (ok) {
        av_samples_set_silence(silence->extended_data, 0, samples, m_audioSource.channels,
                               AV_SAMPLE_FMT_FLTP);
        ok = writeAudio(silence);
    } else {
        fail(OBS_OUTPUT_ERROR, "Out of memory");
    }
    av_frame_free(&silence);
    return ok;
}

bool FileWriter::encodeAudioChunk(int samples)
{
    const bool padded = samples < m_audioFrameSize
            && !(m_audioEncoder->codec->capabilities
                 & (AV_CODEC_CAP_SMALL_LAST_FRAME | AV_CODEC_CAP_VARIABLE_FRAME_SIZE));
    AVFrame *chunk = av_frame_alloc();
    chunk->format = m_audioEncoder->sample_fmt;
    chunk->sample_rate = m_audioEncoder->sample_rate;
    chunk->nb_samples = padded ? m_audioFrameSize : samples;
    av_channel_layout_copy(&chunk->ch_layout, &m_audioEncoder->ch_layout);
    bool ok = av_frame_get_buffer(chunk, 0) >= 0;
    if (ok) {
        if (padded) {
            av_samples_set_silence(chunk->extended_data, 0, chunk->nb_samples,
                                   chunk->ch_layout.nb_channels, (AVSampleFormat)chunk->format);
        }
        av_audio_fifo_read(m_fifo, (void **)chunk->extended_data, samples);
        chunk->pts = m_audioPts;
        m_audioPts += samples;
        ok = encode(m_audioEncoder, m_audioStream, chunk);
    } else {
        fail(OBS_OUTPUT_ERROR, "Out of memory");
    }
    av_frame_free(&chunk);
    return ok;
}

bool FileWriter::drainAudio()
{
    // what the resampler still holds, then the short last chunk, then the encoder's delay
    if (m_resampled) {
        av_frame_unref(m_resampled);
        m_resampled->format = m_audioEncoder->sample_fmt;
        m_resampled->nb_samples = std::max(swr_get_out_samples(m_resampler, 0), 1);
        av_channel_layout_copy(&m_resampled->ch_layout, &m_audioEncoder->ch_layout);
        if (av_frame_get_buffer(m_resampled, 0) >= 0) {
            const int converted = swr_convert(m_resampler, m_resampled->data,
                                              m_resampled->nb_samples, nullptr, 0);
            if (converted > 0)
                av_audio_fifo_write(m_fifo, (void **)m_resampled->data, converted);
        }
    }
    while (av_audio_fifo_size(m_fifo) > 0) {
        if (!encodeAudioChunk(std::min(av_audio_fifo_size(m_fifo), m_audioFrameSize)))
            return false;
    }
    return encode(m_audioEncoder, m_audioStream, nullptr);
}

bool FileWriter::encode(AVCodecContext *encoder, AVStream *stream, AVFrame *frame)
{
    int ret = avcodec_send_frame(encoder, frame);
    if (ret < 0 && ret != AVERROR_EOF) {
        return fail(OBS_OUTPUT_ENCODE_ERROR,
                    std::string("Encoding with '") + encoder->codec->name
                            + "' failed: " + avErrorText(ret));
    }
    for (;;) {
        ret = avcodec_receive_packet(encoder, m_packet);
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return true;
        if (ret < 0) {
            return fail(OBS_OUTPUT_ENCODE_ERROR,
                        std::string("Encoding with '") + encoder->codec->name
                                + "' failed: " + avErrorText(ret));
        }
        if (stream == m_videoStream && m_packet->duration <= 0 && !m_gifFilter)
            m_packet->duration = av_rescale_q(1, av_inv_q(m_frameRate), encoder->time_base);
        av_packet_rescale_ts(m_packet, encoder->time_base, stream->time_base);
        m_packet->stream_index = stream->index;
        if (!writePacket(m_packet, stream))
            return false;
    }
}

void FileWriter::padAacPacket(AVPacket *packet)
{
    std::vector<uint8_t> frame(packet->data, packet->data + packet->size);
    if (!padAacFrame(frame, m_aacFrameBytes)) {
        if (size_t(packet->size) > m_aacFrameBytes)
            ++m_aacFramesOversize;
        return;
    }
    if (av_grow_packet(packet, int(frame.size()) - packet->size) < 0)
        return;
    memcpy(packet->data, frame.data(), frame.size());
}

bool FileWriter::writePacket(AVPacket *packet, AVStream *stream)
{
    if (stream == m_videoStream && m_gifFilter) {
        // A GIF frame's delay is known only once the next frame's time is.
        AVPacket *next = av_packet_clone(packet);
        av_packet_unref(packet);
        if (m_heldPacket) {
            m_heldPacket->duration = next->pts - m_heldPacket->pts;
            if (!flushHeldPacket()) {
                av_packet_free(&next);
                return false;
            }
        }
        m_heldPacket = next;
        return true;
    }

    if (stream == m_audioStream && m_aacFrameBytes > 0)
        padAacPacket(packet);
    const double end
            = (packet->pts + std::max<int64_t>(packet->duration, 0)) * av_q2d(stream->time_base);
    const int ret = av_interleaved_write_frame(m_format, packet);
    if (ret < 0 || m_format->pb->error < 0)
        return failWrite(ret);
    m_duration = std::max(m_duration, end);
    noteSize();
    return true;
}

bool FileWriter::flushHeldPacket()
{
    AVPacket *held = m_heldPacket;
    m_heldPacket = nullptr;
    AVStream *stream = m_videoStream;
    const double end = (held->pts + held->duration) * av_q2d(stream->time_base);
    const int ret = av_interleaved_write_frame(m_format, held);
    av_packet_free(&held);
    if (ret < 0 || m_format->pb->error < 0)
        return failWrite(ret);
    m_duration = std::max(m_duration, end);
    noteSize();
    return true;
}

bool FileWriter::finishVideo()
{
    if (m_errorCode)
        return false;
    if (!m_videoEncoder || std::exchange(m_videoFinished, true))
        return true;
    bool ok = true;
    if (m_gifFilter) {
        m_gifFilter->push(nullptr);
        AVFrame *quantised = av_frame_alloc();
        while (ok && m_gifFilter->pull(quantised) >= 0) {
            ok = encodeVideo(quantised);
            av_frame_unref(quantised);
        }
        av_frame_free(&quantised);
    }
    ok = ok && encodeVideo(nullptr);
    if (ok && m_heldPacket) {
        m_heldPacket->duration = av_rescale_q(1, av_inv_q(m_frameRate), AVRational {1, 100});
        ok = flushHeldPacket();
    }
    return ok;
}

bool FileWriter::finish()
{
    if (m_errorCode) {
        abandon();
        return false;
    }
    bool ok = finishVideo();
    if (ok && m_audioEncoder)
        ok = drainAudio();
    if (!ok) {
        abandon();
        return false;
    }

    const int ret = av_write_trailer(m_format);
    m_headerWritten = false;
    if (ret < 0 || m_format->pb->error < 0) {
        failWrite(ret);
        closeFile(false);
        return false;
    }
    noteSize();
    closeFile(false);
    if (m_errorCode)
        return false;
    if (m_gifStore)
        writeGifAgain();
    return true;
}

void FileWriter::noteSize()
{
    // the muxer may seek back to patch a header, so the position alone is not the size
    const int64_t size = avio_size(m_format->pb);
    m_bytesWritten = std::max<int64_t>(size, avio_tell(m_format->pb));
}

void FileWriter::abandon()
{
    m_gifStore.reset();
    closeFile(m_headerWritten);
}

void FileWriter::closeFile(bool writeTrailer)
{
    if (!m_format || !m_format->pb)
        return;
    if (writeTrailer) {
        // best effort: an index makes the part already written easier to play
        av_write_trailer(m_format);
    }
    m_headerWritten = false;
    const int ret = avio_closep(&m_format->pb);
    if (ret < 0)
        failWrite(ret);
}
