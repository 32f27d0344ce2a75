#include "sc-obs-wrapper.h"

#include "sc-obs-wrapper-internal.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QLibrary>
#include <QThread>

#include <malloc.h>

#include <algorithm>

// libobs hands out outputs only while its video runs, and its video runs only on a graphics
// device. Where the file output reads the picture from the screen itself, libobs gets a device
// of our own that draws nothing, so that the process never loads the graphics adapter's
// driver (Mesa's software rasteriser alone maps some 70 MB) and libobs's graphics loop costs
// nothing. Where the engine must draw the picture, it gets the real OpenGL device; its loop
// never pauses, so between recordings it draws a tiny canvas with the capture source hidden:
// nothing is read from the screen and nearly nothing is drawn.

using ObsEngine::logger;

namespace {

obs_video_info videoInfo(int baseWidth, int baseHeight, int outputWidth, int outputHeight, int fps)
{
    obs_video_info ovi = {};
    ovi.fps_num = static_cast<uint32_t>(fps);
    ovi.fps_den = 1;
    ovi.base_width = static_cast<uint32_t>(baseWidth);
    ovi.base_height = static_cast<uint32_t>(baseHeight);
    ovi.output_width = static_cast<uint32_t>(outputWidth);
    ovi.output_height = static_cast<uint32_t>(outputHeight);
    ovi.adapter = 0;
    ovi.colorspace = VIDEO_CS_709;
    ovi.range = VIDEO_RANGE_FULL;
    ovi.scale_type = OBS_SCALE_BICUBIC;
    return ovi;
}

bool sameCanvas(const obs_video_info &a, const obs_video_info &b)
{
    return a.base_width == b.base_width && a.base_height == b.base_height
            && a.output_width == b.output_width && a.output_height == b.output_height
            && a.fps_num == b.fps_num && a.fps_den == b.fps_den
            && a.output_format == b.output_format;
}

// libobs dereferences its video without checking it is there.
bool videoBusy()
{
    obs_video_info ovi;
    return obs_initialized() && obs_get_video_info(&ovi) && obs_video_active();
}

// libobs takes textures up to this side on every adapter it supports.
constexpr int MAX_CANVAS_SIDE = 16384;

} // namespace

int ObsWrapper::resetVideo(int baseWidth, int baseHeight, int outputWidth, int outputHeight,
                           int fps)
{
    qDebug() << "reset video with srcWidth" << baseWidth << "srcHeight" << baseHeight
             << "outPutWidth" << outputWidth << "outOutHeight" << outputHeight << "fps" << fps;
    const auto valid = [](int side) { return side > 0 && side <= MAX_CANVAS_SIDE; };
    if (!valid(baseWidth) || !valid(baseHeight) || !valid(outputWidth) || !valid(outputHeight)
        || fps <= 0 || fps > 240)
        return OBS_VIDEO_INVALID_PARAM;
    if (videoBusy())
        return OBS_VIDEO_CURRENTLY_ACTIVE;
    m_canvas = videoInfo(baseWidth, baseHeight, outputWidth, outputHeight, fps);
    return OBS_VIDEO_SUCCESS;
}

int ObsWrapper::applyVideo(const obs_video_info &canvas)
{
    obs_video_info ovi = canvas;
    ovi.graphics_module = m_graphicsModule.constData();
    // A software rasteriser spends more on the three conversion passes and their read-back
    // than one conversion on the processor costs: it hands over the composed picture as it
    // is, and the output converts it. The file's picture is the same either way (BT.709,
    // limited range).
    ovi.output_format = m_softwareRenderer ? VIDEO_FORMAT_BGRA : VIDEO_FORMAT_I420;
    ovi.gpu_conversion = !m_softwareRenderer;
    if (m_appliedCanvas.graphics_module && sameCanvas(ovi, m_appliedCanvas))
        return OBS_VIDEO_SUCCESS;
    if (!obs_initialized())
        qDebug() << "obs not initialized!";

    const int result = obs_reset_video(&ovi);
    if (result != OBS_VIDEO_SUCCESS)
        return result;
    m_appliedCanvas = ovi;
    if (m_scene && m_captureSource) {
        obs_sceneitem_t *item
                = obs_scene_find_source(m_scene, obs_source_get_name(m_captureSource));
        if (item) {
            const vec2 pos = {{{0.0f, 0.0f}}};
            obs_sceneitem_set_pos(item, &pos);
            obs_sceneitem_set_alignment(item, OBS_ALIGN_LEFT | OBS_ALIGN_TOP);
            obs_sceneitem_set_bounds_type(item, OBS_BOUNDS_STRETCH);
            obs_sceneitem_set_bounds_alignment(item, OBS_ALIGN_CENTER);
            vec2 bounds;
            vec2_set(&bounds, static_cast<float>(ovi.output_width),
                     static_cast<float>(ovi.output_height));
            obs_sceneitem_set_bounds(item, &bounds);
        }
    }
    // A reset makes a new video output: a prepared file output must follow it.
    if (m_output && !obs_output_active(m_output))
        obs_output_set_media(m_output, obs_get_video(), obs_get_audio());
    return result;
}

int ObsWrapper::applyIdleCanvas()
{
    const int fps = int(m_canvas.fps_num / std::max(1u, m_canvas.fps_den));
    return applyVideo(
            videoInfo(IDLE_CANVAS, IDLE_CANVAS, IDLE_CANVAS, IDLE_CANVAS, std::max(1, fps)));
}

bool ObsWrapper::startVideo(const QString &ownFolder)
{
    QString reason;
    if (qEnvironmentVariableIsSet("VISTREL_COMPOSE_PICTURE"))
        reason = QStringLiteral("VISTREL_COMPOSE_PICTURE is set");
    else if (!m_screenCastOnly && !screenReadable(&reason))
        reason = QStringLiteral("the screen cannot be read directly: %1").arg(reason);
    m_drawsPicture = !reason.isEmpty();
    if (!m_drawsPicture) {
        m_graphicsModule = (ownFolder + QStringLiteral("/vistrel-null-graphics")).toUtf8();
        if (applyIdleCanvas() == OBS_VIDEO_SUCCESS) {
            logger()->info(QStringLiteral("The picture is read from the screen; libobs draws "
                                          "nothing"));
            return true;
        }
        m_drawsPicture = true;
        reason = QStringLiteral("the null graphics device did not load");
    }
    logger()->info(QStringLiteral("The engine draws the picture (%1)").arg(reason));
    m_graphicsModule = "libobs-opengl";
    int result = applyIdleCanvas();
    // The adapter is known once libobs has opened it.
    if (result == OBS_VIDEO_SUCCESS)
        result = chooseVideoPath();
    if (result != OBS_VIDEO_SUCCESS)
        logger()->critical(QStringLiteral("obs reset video failed!with %1").arg(result));
    return result == OBS_VIDEO_SUCCESS;
}

bool ObsWrapper::bringUpPicture()
{
    if (!m_drawsPicture) {
        logger()->error(QStringLiteral("This display's picture is read from the screen; the "
                                       "engine cannot draw it"));
        return false;
    }
    if (m_sceneWanted && !m_scene) {
        const int result = buildScene();
        if (result != 0) {
            logger()->error(
                    QStringLiteral("The capture scene could not be built (%1)").arg(result));
            return false;
        }
    }
    return true;
}

bool ObsWrapper::waitForStoppingOutputs()
{
    // A file that is still being finished keeps libobs's video busy; its end comes soon.
    QElapsedTimer waited;
    waited.start();
    while (videoBusy() && waited.elapsed() < 5000)
        QThread::msleep(5);
    return !videoBusy();
}

bool ObsWrapper::prepareCanvas(bool composeFree)
{
    if (composeFree) {
        // The output takes only the sound from libobs.
        showCapturedPicture(false);
        logger()->info(QStringLiteral("The engine composes no picture while this recording runs"));
        return true;
    }
    if (!bringUpPicture())
        return false;
    if (!waitForStoppingOutputs()) {
        logger()->warning(QStringLiteral("An earlier recording is still being finished"));
        return false;
    }
    const int result = applyVideo(m_canvas);
    if (result == OBS_VIDEO_SUCCESS)
        showCapturedPicture(true);
    if (result != OBS_VIDEO_SUCCESS)
        logger()->error(QStringLiteral("The recording canvas %1x%2 could not be set up (%3)")
                                .arg(m_canvas.output_width)
                                .arg(m_canvas.output_height)
                                .arg(result));
    return result == OBS_VIDEO_SUCCESS;
}

void ObsWrapper::enterIdle()
{
    // A recording started meanwhile, or another file is still being finished: the last end
    // report brings the engine to rest.
    if (m_recording || !pictureUp() || videoBusy())
        return;
    showCapturedPicture(false);
    const int result = pictureUp() ? applyIdleCanvas() : OBS_VIDEO_SUCCESS;
    if (result != OBS_VIDEO_SUCCESS)
        logger()->warning(QStringLiteral("The idle canvas could not be set up (%1)").arg(result));
    // The recording's buffers were freed; give their pages back to the system.
    malloc_trim(0);
}

bool ObsWrapper::isSoftwareRenderer(const QString &renderer)
{
    // Mesa's rasterisers, as named by their GL_RENDERER strings.
    static const char *const names[] = {"llvmpipe", "softpipe", "swrast", "software rasterizer"};
    return std::any_of(std::begin(names), std::end(names), [&](const char *name) {
        return renderer.contains(QLatin1String(name), Qt::CaseInsensitive);
    });
}

QString ObsWrapper::graphicsRenderer()
{
    // libobs names the adapter only in its log; OpenGL says it to the thread that holds the
    // context. Resolved at run time so that the engine does not link OpenGL for one string.
    using GetString = const unsigned char *(*)(unsigned int);
    const unsigned int GL_RENDERER_NAME = 0x1F01;
    QLibrary gl(QStringLiteral("OpenGL"), 0);
    auto getString = reinterpret_cast<GetString>(gl.resolve("glGetString"));
    if (!getString) {
        QLibrary legacy(QStringLiteral("GL"), 1);
        getString = reinterpret_cast<GetString>(legacy.resolve("glGetString"));
    }
    if (!getString)
        return QString();
    obs_enter_graphics();
    const unsigned char *name = getString(GL_RENDERER_NAME);
    const QString renderer
            = name ? QString::fromUtf8(reinterpret_cast<const char *>(name)) : QString();
    obs_leave_graphics();
    return renderer;
}

int ObsWrapper::chooseVideoPath()
{
    const QString renderer = graphicsRenderer();
    const bool software = isSoftwareRenderer(renderer);
    logger()->info(QStringLiteral("Graphics adapter \"%1\": %2")
                           .arg(renderer.isEmpty() ? QStringLiteral("unknown") : renderer,
                                software ? QStringLiteral("software rendering, colour conversion "
                                                          "on the processor")
                                         : QStringLiteral("colour conversion on the adapter")));
    m_softwareRenderer = software;
    return applyIdleCanvas();
}
