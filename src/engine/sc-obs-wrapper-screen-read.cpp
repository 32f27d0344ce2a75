#include "sc-obs-wrapper.h"

#include "sc-logger.h"
#include "screen-grabber.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

// Drawing the screen through libobs's graphics, reading it back and converting it costs more
// than the encoder spends on it, and a software adapter's driver alone takes tens of
// megabytes. Video files whose encoders take I420 therefore get their picture from the file
// output, which reads the screen itself on its own frame clock and draws the pointer and its
// highlight into it; sound files need no picture at all. libobs then only mixes the sound.

QRect ObsWrapper::screenArea() const
{
    // The X root holds every screen at its place: the area is read where it is.
    QRect space = m_captureSpace;
    if (m_castNode && space.isEmpty())
        space = QRect(QPoint(0, 0), m_castSize);
    if (space.isEmpty()) {
        QScreen *screen = QGuiApplication::primaryScreen();
        if (!screen)
            return {};
        const qreal ratio = screen->devicePixelRatio();
        const QRect geometry = screen->geometry();
        space = QRect(int(geometry.x() * ratio), int(geometry.y() * ratio),
                      int(geometry.width() * ratio), int(geometry.height() * ratio));
    }
    const int width = space.width() - m_cropLeft - m_cropRight;
    const int height = space.height() - m_cropTop - m_cropBottom;
    if (width <= 0 || height <= 0)
        return {};
    return {space.x() + m_cropLeft, space.y() + m_cropTop, width, height};
}

bool ObsWrapper::screenReadable(QString *reason)
{
    ScreenGrabber probe;
    if (probe.open({0, 0, 16, 16}, 16, 16, false))
        return true;
    *reason = QString::fromStdString(probe.errorMessage());
    return false;
}

bool ObsWrapper::composesPicture(OutputFormat format) const
{
    // A desktop's screen-cast stream is read by the output alone.
    return !isAudioOnlyFormat(format) && m_drawsPicture && m_castNode == 0;
}

void ObsWrapper::setScreenCastStream(int fd, quint32 node, const QSize &size)
{
    m_castFd = node ? fd : -1;
    m_castNode = node;
    m_castSize = node ? size : QSize();
    if (node)
        SCLogger::instance()->info(
                QStringLiteral("Recording from the shared screen: node %1, %2x%3")
                        .arg(node)
                        .arg(size.width())
                        .arg(size.height()));
}

void ObsWrapper::offerScreenRead(obs_data_t *settings, OutputFormat format)
{
    m_composeFree = !composesPicture(format);
    if (!m_composeFree || isAudioOnlyFormat(format))
        return;
    const QRect area = screenArea();

    obs_data_set_bool(settings, "screen_capture", true);
    obs_data_set_int(settings, "screen_x", area.x());
    obs_data_set_int(settings, "screen_y", area.y());
    obs_data_set_int(settings, "screen_width", area.width());
    obs_data_set_int(settings, "screen_height", area.height());
    obs_data_set_bool(settings, "screen_pointer", m_showCursor);
    if (m_castNode) {
        // The desktop draws the pointer into the stream when asked to; it tells nobody
        // where the pointer is, so there are no pointer effects.
        obs_data_set_int(settings, "screen_stream_fd", m_castFd);
        obs_data_set_int(settings, "screen_stream_node", m_castNode);
        obs_data_set_int(settings, "picture_width", int(m_canvas.output_width));
        obs_data_set_int(settings, "picture_height", int(m_canvas.output_height));
        obs_data_set_int(settings, "picture_fps",
                         int(m_canvas.fps_num / std::max(1u, m_canvas.fps_den)));
        return;
    }
    if (m_mouseEffectsOn) {
        OBSDataAutoRelease effects = mouseEffectSettings(true);
        obs_data_set_obj(settings, "pointer_effects", effects);
    }
    // The canvas the engine would have drawn the area into becomes the file's picture.
    obs_data_set_int(settings, "picture_width", int(m_canvas.output_width));
    obs_data_set_int(settings, "picture_height", int(m_canvas.output_height));
    obs_data_set_int(settings, "picture_fps",
                     int(m_canvas.fps_num / std::max(1u, m_canvas.fps_den)));
}

bool ObsWrapper::screenReadOffered() const
{
    if (!m_output)
        return false;
    OBSDataAutoRelease settings = obs_output_get_settings(m_output);
    return obs_data_get_bool(settings, "screen_capture");
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

void ObsWrapper::followAreaWhileRecording()
{
    if (!m_recording || !m_output)
        return;
    const QRect area = screenArea();
    if (area.isEmpty())
        return;
    // The file keeps its size: an area of another size is fitted into it whole, centred,
    // keeping its proportions; one of the first size fills it as it did at the start.
    const bool resized = area.width() != m_areaWidthAtStart || area.height() != m_areaHeightAtStart;
    if (m_readingScreen) {
        OBSDataAutoRelease settings = obs_output_get_settings(m_output);
        obs_data_set_int(settings, "screen_x", area.x());
        obs_data_set_int(settings, "screen_y", area.y());
        obs_data_set_int(settings, "screen_width", area.width());
        obs_data_set_int(settings, "screen_height", area.height());
        obs_output_update(m_output, settings);
        return;
    }
    obs_sceneitem_t *item = m_scene && m_captureSource
            ? obs_scene_find_source(m_scene, obs_source_get_name(m_captureSource))
            : nullptr;
    if (item)
        obs_sceneitem_set_bounds_type(item, resized ? OBS_BOUNDS_SCALE_INNER : OBS_BOUNDS_STRETCH);
}
