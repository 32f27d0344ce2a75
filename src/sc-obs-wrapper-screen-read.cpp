#include "sc-obs-wrapper.h"

#include "sc-logger.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

// A software adapter spends more on drawing, reading back and converting the screen than the
// encoder spends on it. The file output then reads the screen itself and draws the pointer
// and its highlight into it; sound files need no picture at all. The engine then draws a
// tiny empty canvas while it records, whose frames only pace the recording. The picture in the
// file is the same.

namespace {

int framesPerSecond(const obs_video_info &canvas)
{
    return int(canvas.fps_num / std::max(1u, canvas.fps_den));
}

} // namespace

void ObsWrapper::offerScreenRead(obs_data_t *settings, OutputFormat format)
{
    m_composeFree = false;
    if (!m_softwareRenderer)
        return;
    if (format == OutputFormat::MP3 || format == OutputFormat::AAC
        || format == OutputFormat::FLAC) {
        // Sound files take only the time from the engine's frames.
        m_composeFree = true;
        return;
    }
    const bool encodesI420 = format == OutputFormat::MP4 || format == OutputFormat::AVI
            || format == OutputFormat::FLV;
    if (!encodesI420 || !m_captureSource)
        return;
    // Kept as a way back should a display misbehave with the direct read.
    if (qEnvironmentVariableIsSet("VISTREL_COMPOSE_PICTURE"))
        return;
    // The capture source shows the first screen: its place is known only with one screen.
    const QList<QScreen *> screens = QGuiApplication::screens();
    obs_video_info canvas = {};
    if (screens.size() != 1 || !obs_get_video_info(&canvas))
        return;
    const qreal ratio = screens.first()->devicePixelRatio();
    const QRect geometry = screens.first()->geometry();
    int screenWidth = int(obs_source_get_base_width(m_captureSource));
    int screenHeight = int(obs_source_get_base_height(m_captureSource));
    if (screenWidth <= 0 || screenHeight <= 0) {
        screenWidth = int(geometry.width() * ratio);
        screenHeight = int(geometry.height() * ratio);
    }
    const int width = screenWidth - m_cropLeft - m_cropRight;
    const int height = screenHeight - m_cropTop - m_cropBottom;
    if (width <= 0 || height <= 0)
        return;

    OBSDataAutoRelease capture = obs_source_get_settings(m_captureSource);
    obs_data_set_bool(settings, "screen_capture", true);
    obs_data_set_int(settings, "screen_x", int(geometry.x() * ratio) + m_cropLeft);
    obs_data_set_int(settings, "screen_y", int(geometry.y() * ratio) + m_cropTop);
    obs_data_set_int(settings, "screen_width", width);
    obs_data_set_int(settings, "screen_height", height);
    obs_data_set_bool(settings, "screen_pointer", obs_data_get_bool(capture, "show_cursor"));
    if (m_mouseEffectsOn && m_mouseEffectFilter) {
        OBSDataAutoRelease effects = obs_source_get_settings(m_mouseEffectFilter);
        obs_data_set_obj(settings, "pointer_effects", effects);
    }
    // The canvas the engine would have drawn the area into becomes the file's picture.
    obs_data_set_int(settings, "picture_width", int(canvas.output_width));
    obs_data_set_int(settings, "picture_height", int(canvas.output_height));
    m_composeFree = true;
}

void ObsWrapper::enterComposeFree()
{
    obs_video_info canvas = {};
    if (!obs_get_video_info(&canvas))
        return;
    // The engine still paces the recording with its frames; a tiny canvas makes them free.
    const int tiny = 64;
    if (applyVideo(tiny, tiny, tiny, tiny, framesPerSecond(canvas)) != OBS_VIDEO_SUCCESS)
        return;
    // A reset makes a new video output: the prepared output must follow it.
    if (m_output)
        obs_output_set_media(m_output, obs_get_video(), obs_get_audio());
    m_restoreCanvas = true;
    m_canvasToRestore = canvas;
    SCLogger::instance()->info(QStringLiteral("The engine composes no picture while this "
                                              "recording runs"));
}

void ObsWrapper::leaveComposeFree()
{
    showCapturedPicture(true);
    if (!m_restoreCanvas)
        return;
    const obs_video_info &canvas = m_canvasToRestore;
    const int result
            = applyVideo(int(canvas.base_width), int(canvas.base_height), int(canvas.output_width),
                         int(canvas.output_height), framesPerSecond(canvas));
    if (result == OBS_VIDEO_SUCCESS) {
        m_restoreCanvas = false;
        if (m_output && !obs_output_active(m_output))
            obs_output_set_media(m_output, obs_get_video(), obs_get_audio());
    } else
        SCLogger::instance()->warning(
                QStringLiteral("The canvas could not be restored after the recording (%1)")
                        .arg(result));
}

bool ObsWrapper::dropScreenRead()
{
    OBSDataAutoRelease settings = obs_output_get_settings(m_output);
    if (!obs_data_get_bool(settings, "screen_capture"))
        return false;
    const char *error = obs_output_get_last_error(m_output);
    SCLogger::instance()->warning(
            QStringLiteral("%1; recording the engine's picture instead")
                    .arg(error && *error ? QString::fromUtf8(error)
                                         : QStringLiteral("The screen cannot be read directly")));
    obs_data_set_bool(settings, "screen_capture", false);
    obs_output_update(m_output, settings);
    return true;
}

void ObsWrapper::showCapturedPicture(bool show)
{
    if (m_pictureHidden == !show || !m_scene || !m_captureSource)
        return;
    // A hidden capture source is neither read nor drawn by the engine.
    obs_sceneitem_t *item = obs_scene_find_source(m_scene, obs_source_get_name(m_captureSource));
    if (!item)
        return;
    obs_sceneitem_set_visible(item, show);
    m_pictureHidden = !show;
}
