#include "output-settings.h"

#include <algorithm>

namespace {

std::string stringOf(obs_data_t *data, const char *key)
{
    const char *value = obs_data_get_string(data, key);
    return value ? value : "";
}

bool boolOf(obs_data_t *data, const char *key, bool fallback)
{
    return obs_data_has_user_value(data, key) ? obs_data_get_bool(data, key) : fallback;
}

bool isNone(const std::string &name)
{
    return name.empty() || name == "none";
}

} // namespace

OutputSettings OutputSettings::fromData(obs_data_t *data)
{
    OutputSettings s;
    s.url = stringOf(data, "url");
    s.formatName = stringOf(data, "format_name");
    s.mimeType = stringOf(data, "format_mime_type");
    s.muxerSettings = stringOf(data, "muxer_settings");

    s.video = boolOf(data, "video", true);
    s.videoEncoder = stringOf(data, "video_encoder");
    s.videoEncoderId = (int)obs_data_get_int(data, "video_encoder_id");
    s.videoBitrate = (int)obs_data_get_int(data, "video_bitrate");
    s.gopSize = (int)obs_data_get_int(data, "gop_size");
    s.videoEncoderOptions = stringOf(data, "video_encoder_options");
    s.videoFallbackEncoder = stringOf(data, "video_fallback_encoder");
    s.videoFallbackOptions = stringOf(data, "video_fallback_encoder_options");
    s.videoFallbackBitrate = (int)obs_data_get_int(data, "video_fallback_bitrate");
    if (obs_data_has_user_value(data, "gif_colors"))
        s.gifColors = std::clamp((int)obs_data_get_int(data, "gif_colors"), 2, 256);
    if (!stringOf(data, "gif_dither").empty())
        s.gifDither = stringOf(data, "gif_dither");
    s.gifPalettePerPicture = obs_data_get_bool(data, "gif_palette_per_picture");
    s.scaleWidth = (int)obs_data_get_int(data, "scale_width");
    s.scaleHeight = (int)obs_data_get_int(data, "scale_height");

    s.audio = boolOf(data, "audio", true);
    s.audioEncoder = stringOf(data, "audio_encoder");
    s.audioEncoderId = (int)obs_data_get_int(data, "audio_encoder_id");
    s.audioBitrate = (int)obs_data_get_int(data, "audio_bitrate");

    s.screenCapture = boolOf(data, "screen_capture", false);
    s.screenX = (int)obs_data_get_int(data, "screen_x");
    s.screenY = (int)obs_data_get_int(data, "screen_y");
    s.screenWidth = (int)obs_data_get_int(data, "screen_width");
    s.screenHeight = (int)obs_data_get_int(data, "screen_height");
    s.pictureWidth = (int)obs_data_get_int(data, "picture_width");
    s.pictureHeight = (int)obs_data_get_int(data, "picture_height");
    s.pictureFps = (int)obs_data_get_int(data, "picture_fps");
    if (obs_data_t *effects = obs_data_get_obj(data, "pointer_effects")) {
        s.pointerEffects = mergeConfig(PartialEffectConfig::fromUserValues(effects), {});
        obs_data_release(effects);
    }
    s.screenPointer = boolOf(data, "screen_pointer", true);
    s.streamFd = obs_data_has_user_value(data, "screen_stream_fd")
            ? (int)obs_data_get_int(data, "screen_stream_fd")
            : -1;
    s.streamNode = (uint32_t)obs_data_get_int(data, "screen_stream_node");
    return s;
}

bool OutputSettings::wantsVideo() const
{
    if (!video || (isNone(videoEncoder) && videoEncoderId == 0))
        return false;
    return mimeType.rfind("audio/", 0) != 0;
}

bool OutputSettings::wantsAudio() const
{
    return audio && !(isNone(audioEncoder) && audioEncoderId == 0);
}
