#include "sc-obs-wrapper.h"

#include "sc-encoder-presets.h"
#include "sc-hardware-encoders.h"
#include "sc-obs-wrapper-internal.h"

#include <QDebug>

// The file output and the settings of each format.

using namespace ObsEngine;

bool ObsWrapper::createOutputMode()
{
    qDebug() << "Creating output mode...";
    if (m_output && obs_output_active(m_output)) {
        qWarning() << "A recording is running; its output stays";
        return true;
    }
    qDebug() << "Creating ffmpeg_output...";
    OBSOutputAutoRelease output = obs_output_create(OUTPUT_ID, OUTPUT_NAME, nullptr, nullptr);
    if (!output) {
        qDebug() << "Failed to create ffmpeg_output!";
        logger()->error(
                QStringLiteral("Output \"%1\" could not be created").arg(QLatin1String(OUTPUT_ID)));
        return false;
    }
    qDebug() << "ffmpeg_output created successfully";
    // The connection points into the old output's signal handler, which goes with it.
    m_stopConnection.Disconnect();
    m_output = output.Get();

    for (int i = 0; i < MAX_AUDIO_MIXES; ++i) {
        const QByteArray name = QStringLiteral("adv_aac%1").arg(i).toUtf8();
        OBSEncoderAutoRelease encoder = obs_audio_encoder_create(
                AUDIO_ENCODER_ID, name.constData(), nullptr, static_cast<size_t>(i), nullptr);
        if (!encoder) {
            qDebug() << "Failed to create AAC encoder for track" << i;
            return false;
        }
        m_trackAudioEncoders[i] = encoder.Get();
    }

    OBSEncoderAutoRelease stream
            = obs_audio_encoder_create(AUDIO_ENCODER_ID, "adv_stream_audio", nullptr, 0, nullptr);
    m_streamAudioEncoder = stream.Get();
    qDebug() << (stream ? "Stream audio encoder created successfully"
                        : "Failed to create stream audio encoder");
    OBSEncoderAutoRelease archive
            = obs_audio_encoder_create(AUDIO_ENCODER_ID, "adv_archive_audio", nullptr, 1, nullptr);
    m_archiveAudioEncoder = archive.Get();
    qDebug() << (archive ? "Stream archive encoder created successfully"
                         : "Failed to create stream archive encoder");

    qDebug() << "Output mode created successfully";
    return true;
}

obs_data_t *ObsWrapper::videoSettings(const EncoderPreset &preset, const QString &path, int fps,
                                      int bitrate, int width, int height)
{
    const QString extension = QLatin1String(preset.container) == QLatin1String("matroska")
            ? QStringLiteral("mkv")
            : QLatin1String(preset.container);
    const QString url = path + QLatin1Char('.') + extension;
    qDebug().noquote() << QStringLiteral("Output file path (%1):").arg(extension.toUpper()) << url;
    obs_data_t *s = obs_data_create();
    obs_data_set_string(s, "url", url.toUtf8().constData());
    obs_data_set_string(s, "format_name", preset.container);
    obs_data_set_string(s, "format_mime_type", preset.mime);
    obs_data_set_string(s, "muxer_settings", nullptr);
    obs_data_set_int(s, "gop_size", fps * preset.keySeconds);
    obs_data_set_bool(s, "video", true);
    obs_data_set_int(s, "video_bitrate", bitrate * 1024 * preset.bitratePercent / 100);
    obs_data_set_string(s, "video_encoder", preset.videoEncoder);
    obs_data_set_int(s, "video_encoder_id", preset.videoEncoderId);
    obs_data_set_string(s, "video_encoder_options",
                        SCEncoderPresets::videoOptions(preset, bitrate).constData());
    obs_data_set_int(s, "scale_width", width);
    obs_data_set_int(s, "scale_height", height);
    if (preset.audioEncoderId == 0) {
        obs_data_set_bool(s, "audio", false);
    } else {
        obs_data_set_int(s, "audio_bitrate", preset.audioBitrate);
    }
    obs_data_set_string(s, "audio_encoder", preset.audioEncoder);
    if (preset.audioEncoderId != 0)
        obs_data_set_int(s, "audio_encoder_id", preset.audioEncoderId);
    if (*preset.gifDither) {
        obs_data_set_int(s, "gif_colors", preset.gifColors);
        obs_data_set_string(s, "gif_dither", preset.gifDither);
        obs_data_set_bool(s, "gif_palette_per_picture", preset.gifPalettePerPicture);
    }
    return s;
}

// MP3 and FLAC carry the table's 2 x 2 PNG video keys; the output writes no video stream.
obs_data_t *ObsWrapper::audioWithPngKeysSettings(const QString &path, const char *ext,
                                                 const char *mime, const char *audioEncoder,
                                                 int audioEncoderId)
{
    const QString url = path + QLatin1Char('.') + QLatin1String(ext);
    qDebug().noquote() << "Output file path:" << url;
    obs_data_t *s = obs_data_create();
    obs_data_set_string(s, "url", url.toUtf8().constData());
    obs_data_set_string(s, "format_name", ext);
    obs_data_set_string(s, "format_mime_type", mime);
    obs_data_set_string(s, "muxer_settings", nullptr);
    obs_data_set_int(s, "video_bitrate", 1024);
    obs_data_set_string(s, "video_encoder", "png");
    obs_data_set_int(s, "video_encoder_id", 61);
    obs_data_set_int(s, "scale_width", 2);
    obs_data_set_int(s, "scale_height", 2);
    obs_data_set_int(s, "audio_bitrate", 192);
    obs_data_set_string(s, "audio_encoder", audioEncoder);
    obs_data_set_int(s, "audio_encoder_id", audioEncoderId);
    return s;
}

obs_data_t *ObsWrapper::mp3Settings(const QString &path)
{
    return audioWithPngKeysSettings(path, "mp3", "audio/mpeg", "libmp3lame", 86017);
}

obs_data_t *ObsWrapper::aacSettings(const QString &path)
{
    const QString url = path + QStringLiteral(".aac");
    qDebug().noquote() << "Output file path (AAC):" << url;
    obs_data_t *s = obs_data_create();
    obs_data_set_string(s, "url", url.toUtf8().constData());
    obs_data_set_string(s, "format_name", "aac");
    obs_data_set_string(s, "format_mime_type", "audio/aac");
    obs_data_set_string(s, "muxer_settings", nullptr);
    obs_data_set_bool(s, "video", false);
    obs_data_set_string(s, "video_encoder", "none");
    obs_data_set_int(s, "audio_bitrate", 192);
    obs_data_set_string(s, "audio_encoder", "aac");
    obs_data_set_int(s, "audio_encoder_id", 86018);
    return s;
}

obs_data_t *ObsWrapper::flacSettings(const QString &path)
{
    return audioWithPngKeysSettings(path, "flac", "audio/flac", "flac", 86028);
}

void ObsWrapper::applyVideoEncoder(obs_data_t *settings, OutputFormat format,
                                   RecordingQuality quality, int bitrate, VideoEncoderChoice choice)
{
    if (!formatOffersHardwareEncoder(format))
        return;
    const QString software = QString::fromUtf8(obs_data_get_string(settings, "video_encoder"));
    VideoEncoderChoice kind = choice;
    if (choice == VideoEncoderChoice::Automatic) {
        kind = VideoEncoderChoice::Software;
        QStringList why;
        for (const SCHardwareEncoders::Probe &probe : SCHardwareEncoders::probes()) {
            if (probe.works) {
                kind = probe.kind;
                break;
            }
            why << QStringLiteral("%1: %2").arg(SCHardwareEncoders::encoderName(probe.kind),
                                                probe.reason);
        }
        if (kind == VideoEncoderChoice::Software)
            logger()->info(QStringLiteral("No hardware video encoder works on this machine (%1): "
                                          "recording with %2")
                                   .arg(why.join(QStringLiteral("; ")), software));
    }
    if (kind == VideoEncoderChoice::Software)
        return;
    if (quality == RecordingQuality::Lossless) {
        logger()->info(QStringLiteral("Hardware video encoders are not lossless: recording with %1")
                               .arg(software));
        return;
    }
    // The software encoder stays ready in case the card's does not start.
    obs_data_set_string(settings, "video_fallback_encoder", software.toUtf8().constData());
    obs_data_set_string(settings, "video_fallback_encoder_options",
                        obs_data_get_string(settings, "video_encoder_options"));
    obs_data_set_int(settings, "video_fallback_bitrate",
                     obs_data_get_int(settings, "video_bitrate"));
    const EncoderPreset preset = SCEncoderPresets::hardwarePreset(kind, quality);
    obs_data_set_string(settings, "video_encoder", preset.videoEncoder);
    obs_data_set_int(settings, "video_encoder_id", preset.videoEncoderId);
    obs_data_set_string(settings, "video_encoder_options",
                        SCEncoderPresets::videoOptions(preset, bitrate).constData());
    obs_data_set_int(settings, "video_bitrate", 0);
    logger()->info(QStringLiteral("Video encoder: %1 (%2), %3 if it does not start")
                           .arg(QLatin1String(preset.videoEncoder),
                                choice == VideoEncoderChoice::Automatic
                                        ? QStringLiteral("automatic")
                                        : QStringLiteral("chosen"),
                                software));
}

OutputFormat ObsWrapper::knownFormat(OutputFormat format)
{
    const int value = static_cast<int>(format);
    return value >= 0 && value < OUTPUT_FORMAT_COUNT ? format : OutputFormat::MP4;
}

obs_data_t *ObsWrapper::formatSettings(OutputFormat format, const QString &path, int fps,
                                       int bitrate, int width, int height, RecordingQuality quality)
{
    switch (knownFormat(format)) {
    case OutputFormat::MP3:
        return mp3Settings(path);
    case OutputFormat::AAC:
        return aacSettings(path);
    case OutputFormat::FLAC:
        return flacSettings(path);
    default:
        return videoSettings(SCEncoderPresets::preset(knownFormat(format), quality), path, fps,
                             bitrate, width, height);
    }
}

void ObsWrapper::setupFFmpeg(const QString &path, int width, int height, int fps, int bitrate,
                             OutputFormat format, RecordingQuality quality)
{
    qDebug() << "Setting up FFmpeg...";
    // Reconfiguring or replacing a running output would cut its file short.
    if (m_output && obs_output_active(m_output)) {
        qWarning() << "A recording is running; setupFFmpeg leaves its output alone";
        return;
    }
    createOutputMode();
    if (!m_output) {
        qDebug() << "Error: fileOutput is null!";
        return;
    }
    for (auto &encoder : m_trackAudioEncoders)
        if (encoder)
            obs_encoder_set_audio(encoder, obs_get_audio());
    if (m_streamAudioEncoder)
        obs_encoder_set_audio(m_streamAudioEncoder, obs_get_audio());
    if (m_archiveAudioEncoder)
        obs_encoder_set_audio(m_archiveAudioEncoder, obs_get_audio());

    qDebug() << "setupFFmpeg path" << path << "width" << width << "height" << height << "fps" << fps
             << "bitrate" << bitrate << "format" << static_cast<int>(format) << "quality"
             << static_cast<int>(quality);

    if (width % 2 != 0)
        width += 1;
    if (height % 2 != 0)
        height += 1;

    const OutputFormat effective = knownFormat(format);
    obs_data_t *settings = formatSettings(effective, path, fps, bitrate, width, height, quality);
    applyVideoEncoder(settings, effective, quality, bitrate, m_videoEncoderChoice);
    m_outputFile = QString::fromUtf8(obs_data_get_string(settings, "url"));
    m_outputFormat = OUTPUT_FORMAT_STRINGS.at(effective);

    qDebug() << "Setting mixer and media...";
    size_t mixers = 0;
    if (m_micSource && obs_source_active(m_micSource))
        mixers |= 1;
    if (m_playerSource && obs_source_active(m_playerSource))
        mixers |= 2;
    obs_output_set_mixers(m_output, mixers);

    offerScreenRead(settings, effective);
    obs_output_set_media(m_output, obs_get_video(), obs_get_audio());
    obs_output_update(m_output, settings);
    qDebug() << "FFmpeg setup completed";
    obs_data_release(settings);
}
