#include "sc-obs-wrapper.h"

#include "sc-obs-wrapper-internal.h"

#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>

#include <cstring>

// The scene with its capture source, its crop and pointer options: what a recording that
// takes the engine's picture draws.

using namespace ObsEngine;

int ObsWrapper::addSceneSource(REC_TYPE type)
{
    // Only a recording that takes the engine's picture needs the scene; it is built for the
    // first one. What it will need is checked now.
    if (!typeRegistered("fade_transition"))
        return -1;
    const bool screen = type == REC_SCREEN;
    if (!typeRegistered(screen ? SCREEN_SOURCE_ID : WINDOW_SOURCE_ID))
        return -3;
    m_sceneType = type;
    m_sceneWanted = true;
    return 0;
}

int ObsWrapper::buildScene()
{
    if (m_scene)
        return 0;
    const char *id = nullptr;
    for (size_t i = 0; obs_enum_transition_types(i, &id); ++i) {
        if (obs_is_source_configurable(id))
            continue;
        OBSSourceAutoRelease transition
                = obs_source_create_private(id, obs_source_get_display_name(id), nullptr);
        if (transition && strcmp(id, "fade_transition") == 0)
            m_transition = transition.Get();
    }
    if (!m_transition)
        return -1;

    OBSSceneAutoRelease scene = obs_scene_create(SCENE_NAME);
    if (!scene)
        return -2;
    m_scene = scene.Get();

    obs_set_output_source(TRANSITION_CHANNEL, m_transition);
    obs_transition_set(m_transition, obs_scene_get_source(m_scene));

    const bool screen = m_sceneType == REC_SCREEN;
    OBSDataAutoRelease settings = obs_data_create();
    obs_data_set_bool(settings, "show_cursor", m_showCursor);
    OBSSourceAutoRelease capture
            = createSource(screen ? SCREEN_SOURCE_ID : WINDOW_SOURCE_ID,
                           screen ? SCREEN_SOURCE_NAME : WINDOW_SOURCE_NAME, settings);
    if (!capture)
        return -3;
    m_captureSource = capture.Get();

    // The pointer highlight comes before any crop so that it sees whole-screen coordinates.
    OBSSourceAutoRelease effects = typeRegistered(MOUSE_EFFECTS_ID)
            ? obs_source_create_private(MOUSE_EFFECTS_ID, MOUSE_EFFECTS_NAME, nullptr)
            : nullptr;
    if (effects) {
        m_mouseEffectFilter = effects.Get();
        obs_source_filter_add(m_captureSource, m_mouseEffectFilter);
        applyMouseEffectSettings(m_mouseEffectsOn);
    } else {
        logger()->warning(QStringLiteral("Mouse effects filter \"%1\" is not available; "
                                         "recording without pointer highlight")
                                  .arg(QLatin1String(MOUSE_EFFECTS_ID)));
    }
    chooseDrawnScreen();
    applyCrop();

    struct AddData
    {
        obs_source_t *source;
    } addData {m_captureSource};
    // Hidden until a recording takes the engine's picture: a hidden source is not read.
    obs_scene_atomic_update(
            m_scene,
            [](void *data, obs_scene_t *scene) {
                obs_sceneitem_t *item = obs_scene_add(scene, static_cast<AddData *>(data)->source);
                if (item)
                    obs_sceneitem_set_visible(item, false);
            },
            &addData);
    m_pictureHidden = true;
    return 0;
}

void ObsWrapper::searchRecTargets(REC_TYPE type)
{
    m_targetNames.clear();
    m_targetIds.clear();
    const char *key = type == REC_SCREEN ? "screen" : "window";
    if (!m_captureSource && m_drawsPicture && m_sceneWanted)
        bringUpPicture();
    if (!m_captureSource) {
        // Read from the screen, the picture needs no capture source: the screens are Qt's.
        const QList<QScreen *> screens = QGuiApplication::screens();
        for (int i = 0; i < screens.size(); ++i) {
            const QRect g = screens.at(i)->geometry();
            m_targetNames.append(QStringLiteral("Screen %1 (%2x%3 @ %4,%5)")
                                         .arg(i)
                                         .arg(g.width())
                                         .arg(g.height())
                                         .arg(g.x())
                                         .arg(g.y()));
            m_targetIds.append(QString::number(i));
        }
        return;
    }
    obs_properties_t *props = obs_source_properties(m_captureSource);
    if (!props)
        return;
    fillList(props, key, m_targetNames, m_targetIds, true, type == REC_WINDOW);
    obs_properties_destroy(props);
}

bool ObsWrapper::updateRecItem(const char *target, REC_TYPE type, bool region, int left, int right,
                               int top, int bottom)
{
    Q_UNUSED(region);
    if (!target)
        return false;
    const QString name = QString::fromUtf8(target);
    if (!m_targetNames.contains(name))
        return false;
    if (type == REC_WINDOW && m_captureSource) {
        OBSDataAutoRelease settings = obs_source_get_settings(m_captureSource);
        obs_data_set_string(settings, "window", target);
        obs_source_update(m_captureSource, settings);
    }
    m_cropLeft = left;
    m_cropRight = right;
    m_cropTop = top;
    m_cropBottom = bottom;
    applyCrop();
    followAreaWhileRecording();
    return true;
}

void ObsWrapper::setCaptureSpace(const QRect &deviceRect)
{
    if (deviceRect == m_captureSpace)
        return;
    m_captureSpace = deviceRect;
    chooseDrawnScreen();
}

void ObsWrapper::chooseDrawnScreen()
{
    const QRect deviceRect = m_captureSpace;
    if (!m_captureSource || m_sceneType != REC_SCREEN || deviceRect.isEmpty())
        return;
    // The drawn picture is one of the X server's screens as the capture source lists them
    // ("Screen 1 (1920x1080 @ 1920,0)"): take the one at this place.
    static const QRegularExpression geometry(
            QStringLiteral("\\((\\d+)x(\\d+) @ (-?\\d+),(-?\\d+)\\)"));
    for (int i = 0; i < m_targetNames.size() && i < m_targetIds.size(); ++i) {
        const QRegularExpressionMatch m = geometry.match(m_targetNames.at(i));
        if (!m.hasMatch())
            continue;
        const QRect screen(m.captured(3).toInt(), m.captured(4).toInt(), m.captured(1).toInt(),
                           m.captured(2).toInt());
        if (screen.contains(deviceRect)) {
            OBSDataAutoRelease settings = obs_source_get_settings(m_captureSource);
            obs_data_set_int(settings, "screen", m_targetIds.at(i).toInt());
            obs_source_update(m_captureSource, settings);
            m_drawnScreen = screen;
            applyCrop();
            return;
        }
    }
    m_drawnScreen = QRect();
    logger()->warning(QStringLiteral("No capture screen holds %1x%2 at %3,%4; the drawn picture "
                                     "keeps its screen")
                              .arg(deviceRect.width())
                              .arg(deviceRect.height())
                              .arg(deviceRect.x())
                              .arg(deviceRect.y()));
}

void ObsWrapper::applyCrop()
{
    if (!m_captureSource)
        return;
    // The crop is measured in the capture space; the source draws the whole screen around it.
    QMargins around;
    if (m_drawnScreen.contains(m_captureSpace) && !m_captureSpace.isEmpty())
        around = QMargins(m_captureSpace.left() - m_drawnScreen.left(),
                          m_captureSpace.top() - m_drawnScreen.top(),
                          m_drawnScreen.right() - m_captureSpace.right(),
                          m_drawnScreen.bottom() - m_captureSpace.bottom());
    const int left = m_cropLeft + around.left();
    const int top = m_cropTop + around.top();
    const int right = m_cropRight + around.right();
    const int bottom = m_cropBottom + around.bottom();
    OBSDataAutoRelease crop = obs_data_create();
    obs_data_set_bool(crop, "relative", true);
    obs_data_set_int(crop, "left", left);
    obs_data_set_int(crop, "top", top);
    obs_data_set_int(crop, "right", right);
    obs_data_set_int(crop, "bottom", bottom);
    obs_data_set_int(crop, "cx", 0);
    obs_data_set_int(crop, "cy", 0);

    // A crop filter always draws the whole picture once more, even when it cuts nothing.
    const bool cropping = left != 0 || right != 0 || top != 0 || bottom != 0;
    const char *cropName = obs_source_get_display_name("crop_filter");
    OBSSourceAutoRelease filter = obs_source_get_filter_by_name(m_captureSource, cropName);
    if (!filter) {
        filter = createSource("crop_filter", cropName, nullptr);
        if (!filter) {
            logger()->warning(QStringLiteral("crop_filter could not be created"));
            return;
        }
        obs_source_filter_add(m_captureSource, filter);
    }
    obs_source_set_enabled(filter, cropping);
    obs_source_update(filter, crop);
}

void ObsWrapper::captureMouseCursor(bool show)
{
    m_showCursor = show;
    if (!m_captureSource)
        return;
    OBSDataAutoRelease settings = obs_source_get_settings(m_captureSource);
    obs_data_set_bool(settings, "show_cursor", show);
    obs_source_update(m_captureSource, settings);
}

void ObsWrapper::enableMouseEffect(bool enable)
{
    applyMouseEffectSettings(enable);
}

obs_data_t *ObsWrapper::mouseEffectSettings(bool enable)
{
    obs_data_t *settings = obs_data_create();
    obs_data_set_bool(settings, "show_fixed_circle", enable);
    obs_data_set_string(settings, "fixed_circle_color", "0.0, 1.0, 0.5, 0.3");
    obs_data_set_bool(settings, "show_click_animation", enable);
    obs_data_set_string(settings, "left_click_color", "0.0, 0.0, 1.0, 0.7");
    obs_data_set_string(settings, "right_click_color", "1.0, 0.0, 0.0, 0.7");
    return settings;
}

void ObsWrapper::applyMouseEffectSettings(bool enable)
{
    // The filter is there, or the screen reader draws the same; only a missing module
    // leaves the pointer plain.
    m_mouseEffectsOn = enable && typeRegistered(MOUSE_EFFECTS_ID);
    if (!m_mouseEffectFilter)
        return;
    OBSDataAutoRelease settings = mouseEffectSettings(enable);
    obs_source_update(m_mouseEffectFilter, settings);
}
