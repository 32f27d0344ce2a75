#include "sc-encoder-presets.h"

namespace {

// The rows follow RecordingQuality: Small, Balanced, High, Lossless.
struct Row
{
    OutputFormat format;
    EncoderPreset qualities[4];
};

// x264 at "veryfast" keeps 1080p at 60 pictures a second on two cores; "Lossless" needs
// "ultrafast" for the same, and is lossless against the 4:2:0 picture libobs composes.
// Balanced is the quantiser the x264 tool defaults to: a still screen costs almost nothing
// and a busy one gets the bits it needs, up to the caller's rate. Five pictures of look-ahead
// instead of ten keep 1080p recordings under 250 MB for a loss the eye does not see (SSIM
// 0.003 on the record bench's screen). On a screen, whose pictures move by whole pixels or
// not at all, one step of sub-pixel search and a fixed run of B-frames cost a fifth less
// than "veryfast" alone for the same size and SSIM (measured on the record bench's screen).
#define X264_LOOKAHEAD "rc-lookahead=5"
#define X264_SCREEN X264_LOOKAHEAD " x264-params=subme=1:b-adapt=0"
constexpr EncoderPreset H264_SMALL
        = {"", "", "libx264", 27, "aac", 86018, 192, 0, "preset=veryfast crf=28 " X264_SCREEN};
constexpr EncoderPreset H264_BALANCED
        = {"", "", "libx264", 27, "aac", 86018, 192, 0, "preset=veryfast crf=23 " X264_SCREEN, 100};
constexpr EncoderPreset H264_HIGH
        = {"", "", "libx264", 27, "aac", 86018, 192, 0, "preset=veryfast crf=18 " X264_SCREEN};
constexpr EncoderPreset H264_LOSSLESS
        = {"", "", "libx264", 27, "aac", 86018, 192, 0, "preset=ultrafast qp=0"};

#define MKV_DELAY X264_SCREEN ":sync-lookahead=0"
#define MKV_DELAY_LOSSLESS X264_LOOKAHEAD " x264-params=sync-lookahead=0"

EncoderPreset in(EncoderPreset preset, const char *container, const char *mime)
{
    preset.container = container;
    preset.mime = mime;
    return preset;
}

// Matroska promises a killed recording up to its last second: the encoder may hold back only
// a few pictures (x264 otherwise keeps about half a second for look-ahead and its threads).
EncoderPreset shortDelay(EncoderPreset preset, const char *options)
{
    preset.container = "matroska";
    preset.mime = "video/x-matroska";
    preset.videoOptions = options;
    return preset;
}

EncoderPreset rated(const char *container, const char *mime, const char *encoder, int encoderId,
                    const char *audio, int audioId, int percent)
{
    return {container, mime, encoder, encoderId, audio, audioId, 192, percent, ""};
}

// VP9 in real time: on two otherwise idle cores speed 6 encodes 1080p at 30 pictures a second
// 2.3 times faster than real time, speed 8 2.6 times; the capture needs the rest. Tiles and
// row threads let both cores work on one picture. Nothing is held back for
// look-ahead, so a picture is on disk as soon as it is encoded.
EncoderPreset vp9(int percent)
{
    return {"webm",
            "video/webm",
            "libvpx-vp9",
            167,
            "libopus",
            86076,
            128,
            percent,
            "deadline=realtime cpu-used=8 row-mt=1 tile-columns=2 lag-in-frames=0 threads=auto"};
}

EncoderPreset gif(int colors, const char *dither, bool palettePerPicture)
{
    EncoderPreset preset {"gif", "video/gif", "gif", 97, "none", 0, 0, 100, ""};
    preset.gifColors = colors;
    preset.gifDither = dither;
    preset.gifPalettePerPicture = palettePerPicture;
    return preset;
}

const Row *rows()
{
    static const Row table[] = {
            {OutputFormat::MP4,
             {in(H264_SMALL, "mp4", "video/mp4"), in(H264_BALANCED, "mp4", "video/mp4"),
              in(H264_HIGH, "mp4", "video/mp4"), in(H264_LOSSLESS, "mp4", "video/mp4")}},
            {OutputFormat::MKV,
             {shortDelay(H264_SMALL, "preset=veryfast crf=28 " MKV_DELAY),
              shortDelay(H264_BALANCED, "preset=veryfast crf=23 " MKV_DELAY),
              shortDelay(H264_HIGH, "preset=veryfast crf=18 " MKV_DELAY),
              shortDelay(H264_LOSSLESS, "preset=ultrafast qp=0 " MKV_DELAY_LOSSLESS)}},
            {OutputFormat::AVI,
             {rated("avi", "video/avi", "mpeg4", 12, "libmp3lame", 86017, 40),
              rated("avi", "video/avi", "mpeg4", 12, "libmp3lame", 86017, 100),
              rated("avi", "video/avi", "mpeg4", 12, "libmp3lame", 86017, 250),
              {}}},
            {OutputFormat::FLV,
             {rated("flv", "video/flv", "flv", 21, "libmp3lame", 86017, 40),
              rated("flv", "video/flv", "flv", 21, "libmp3lame", 86017, 100),
              rated("flv", "video/flv", "flv", 21, "libmp3lame", 86017, 250),
              {}}},
            {OutputFormat::WEBM, {vp9(40), vp9(100), vp9(250), {}}},
            // One palette for the file lets the GIF keep only what changed from picture to
            // picture: on the record bench's screen a thirtieth of the size of a palette per
            // picture, about as close to the screen (SSIM 0.987 against 0.989), and nothing
            // shimmers where the screen stands still. A palette per picture keeps every
            // colour of a screen that changes completely, at many times the size.
            {OutputFormat::GIF,
             {gif(128, "bayer:bayer_scale=5", false),
              gif(256, "sierra2_4a:diff_mode=rectangle", false),
              gif(256, "sierra2_4a", true),
              {}}},
    };
    return table;
}

constexpr int ROW_COUNT = 6;

const Row *rowOf(OutputFormat format)
{
    for (int i = 0; i < ROW_COUNT; ++i)
        if (rows()[i].format == format)
            return &rows()[i];
    return nullptr;
}

} // namespace

namespace SCEncoderPresets {

bool offers(OutputFormat format, RecordingQuality quality)
{
    const Row *row = rowOf(format);
    const int index = static_cast<int>(quality);
    return row && index >= 0 && index < 4 && row->qualities[index].videoEncoderId != 0;
}

EncoderPreset preset(OutputFormat format, RecordingQuality quality)
{
    const Row *row = rowOf(format);
    if (!row)
        return {};
    if (!offers(format, quality))
        quality = RecordingQuality::Balanced;
    return row->qualities[static_cast<int>(quality)];
}

} // namespace SCEncoderPresets

EncoderPreset SCEncoderPresets::hardwarePreset(VideoEncoderChoice kind, RecordingQuality quality)
{
    // The same quantisers as x264's; Balanced capped at the caller's rate where the encoder
    // can hold a ceiling (VA-API's constant quantiser cannot).
    EncoderPreset preset;
    if (kind == VideoEncoderChoice::VaApi) {
        preset.videoEncoder = "h264_vaapi";
        preset.videoOptions = quality == RecordingQuality::Small ? "rc_mode=CQP qp=28"
                : quality == RecordingQuality::High              ? "rc_mode=CQP qp=18"
                                                                 : "rc_mode=CQP qp=23";
    } else {
        preset.videoEncoder = "h264_nvenc";
        preset.videoOptions = quality == RecordingQuality::Small ? "preset=p4 rc=vbr cq=28"
                : quality == RecordingQuality::High              ? "preset=p4 rc=vbr cq=18"
                                                                 : "preset=p4 rc=vbr cq=23";
        if (quality == RecordingQuality::Balanced)
            preset.maxRatePercent = 100;
    }
    preset.videoEncoderId = 27;
    return preset;
}

QByteArray SCEncoderPresets::videoOptions(const EncoderPreset &preset, int bitrate)
{
    QByteArray options(preset.videoOptions);
    if (preset.maxRatePercent > 0) {
        const int ceiling = bitrate * 1024 * preset.maxRatePercent / 100;
        options += " maxrate=" + QByteArray::number(ceiling)
                + "k bufsize=" + QByteArray::number(2 * ceiling) + 'k';
    }
    return options.trimmed();
}
