#include "sc-obs-wrapper.h"

#include "sc-logger.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLibrary>
#include <QScreen>
#include <QStandardPaths>
#include <QThread>

#include <obs-nix-platform.h>

#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace {

const char *const SCREEN_SOURCE_ID = "xshm_input";
const char *const SCREEN_SOURCE_NAME = "Display Capture";
const char *const WINDOW_SOURCE_ID = "xshm_input";
const char *const WINDOW_SOURCE_NAME = "Window_Capture";
const char *const MIC_SOURCE_ID = "pulse_input_capture";
const char *const PLAYER_SOURCE_ID = "pulse_output_capture";
const char *const OUTPUT_ID = "vistrel_output";
const char *const OUTPUT_NAME = "adv_ffmpeg_output";
const char *const AUDIO_ENCODER_ID = "ffmpeg_aac";
const char *const MOUSE_EFFECTS_ID = "vistrel_mouse_effects";
const char *const MOUSE_EFFECTS_NAME = "Mouse Effects";
const char *const SCENE_NAME = "CurrentDesktopCapture";
const char *const DISABLED_DEVICE = "disabled";

const int TRANSITION_CHANNEL = 0;
const int PLAYER_CHANNEL = 1;
const int MIC_CHANNEL = 2;
const int MAX_OUTPUT_CHANNELS = 64;

SCLogger *logger()
{
    return SCLogger::instance();
}

// libobs makes a placeholder for an unknown type id instead of failing: ask first.
bool typeRegistered(const char *id)
{
    return obs_source_get_display_name(id) != nullptr;
}

obs_source_t *createSource(const char *id, const char *name, obs_data_t *settings)
{
    return typeRegistered(id) ? obs_source_create(id, name, settings, nullptr) : nullptr;
}

// libobs refuses to start without DISPLAY even when handed a connection, and Qt may have been
// told its display on the command line: make both name the same server.
bool useQtDisplay()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->display()) {
        logger()->critical(QStringLiteral("No X11 display connection from Qt"));
        return false;
    }
    setenv("DISPLAY", DisplayString(x11->display()), 1);
    obs_set_nix_platform(OBS_NIX_PLATFORM_X11_EGL);
    obs_set_nix_platform_display(x11->display());
    return true;
}

void fillList(obs_properties_t *props, const char *key, QStringList &names, QStringList &ids,
              bool prepend, bool nameFromValue)
{
    obs_property_t *list = obs_properties_get(props, key);
    if (!list)
        return;
    const size_t count = obs_property_list_item_count(list);
    const obs_combo_format format = obs_property_list_format(list);
    for (size_t i = 0; i < count; ++i) {
        QString id;
        if (format == OBS_COMBO_FORMAT_STRING)
            id = QString::fromUtf8(obs_property_list_item_string(list, i));
        else if (format == OBS_COMBO_FORMAT_INT)
            id = QString::number(obs_property_list_item_int(list, i));
        const QString name
                = nameFromValue ? id : QString::fromUtf8(obs_property_list_item_name(list, i));
        if (prepend) {
            names.prepend(name);
            ids.prepend(id);
        } else {
            names.append(name);
            ids.append(id);
        }
    }
}

// Debian's module folder also holds front-end modules built on Qt 5, which abort a Qt 6
// process when loaded: take from it only what the engine uses, and all of our own.
const char *const SYSTEM_MODULES[]
        = {"linux-capture",   "linux-pulseaudio", "obs-ffmpeg",  "obs-filters",
           "obs-transitions", "obs-x264",         "image-source"};

struct ModuleLoad
{
    QString ownFolder;
    QStringList failed;
};

QStringList loadModules(const QString &ownFolder)
{
    ModuleLoad load {QDir(ownFolder).canonicalPath(), {}};
    obs_find_modules2(
            [](void *param, const obs_module_info2 *info) {
                auto *load = static_cast<ModuleLoad *>(param);
                const QString name = QString::fromUtf8(info->name);
                const QString folder = QFileInfo(QString::fromUtf8(info->bin_path))
                                               .absoluteDir()
                                               .canonicalPath();
                const bool own = !load->ownFolder.isEmpty() && folder == load->ownFolder;
                const bool wanted = own
                        || std::any_of(std::begin(SYSTEM_MODULES), std::end(SYSTEM_MODULES),
                                       [&name](const char *m) { return name == m; });
                if (!wanted || obs_get_module(info->name))
                    return;
                obs_module_t *module = nullptr;
                const int code = obs_open_module(&module, info->bin_path, info->data_path);
                if (code != MODULE_SUCCESS || !obs_init_module(module)) {
                    qWarning() << "Module" << name << "failed to load, code" << code;
                    load->failed.append(name);
                }
            },
            &load);
    return load.failed;
}

QString deviceIdFor(const QStringList &names, const QStringList &ids, const QString &name)
{
    const int index = names.indexOf(name);
    if (index < 0 || index >= ids.size())
        return QStringLiteral("default");
    return ids.at(index);
}

qint64 steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
}

// A sound source delivers every few milliseconds, silence included: this long without any
// means its server or device is gone.
constexpr qint64 METER_STALE_MS = 300;
constexpr qint64 SOUND_LOST_MS = 1500;
// A new source takes a while to deliver its first sound.
constexpr qint64 SOUND_START_MS = 3000;

} // namespace

void ObsWrapper::AtomicLevels::store(const float *m, const float *p, const float *ip)
{
    for (int i = 0; i < LEVEL_CHANNELS; ++i) {
        magnitude[i].store(m[i], std::memory_order_relaxed);
        peak[i].store(p[i], std::memory_order_relaxed);
        inputPeak[i].store(ip[i], std::memory_order_relaxed);
    }
    lastSoundMs.store(steadyMs(), std::memory_order_relaxed);
}

void ObsWrapper::AtomicLevels::markFresh()
{
    createdMs.store(steadyMs(), std::memory_order_relaxed);
}

qint64 ObsWrapper::AtomicLevels::silentForMs() const
{
    return steadyMs()
            - std::max(lastSoundMs.load(std::memory_order_relaxed),
                       createdMs.load(std::memory_order_relaxed));
}

bool ObsWrapper::AtomicLevels::delivered() const
{
    return lastSoundMs.load(std::memory_order_relaxed) >= createdMs.load(std::memory_order_relaxed);
}

bool ObsWrapper::AtomicLevels::dead() const
{
    return silentForMs() > (delivered() ? SOUND_LOST_MS : SOUND_START_MS);
}

void ObsWrapper::AtomicLevels::clear()
{
    for (int i = 0; i < LEVEL_CHANNELS; ++i) {
        magnitude[i].store(0.0f, std::memory_order_relaxed);
        peak[i].store(0.0f, std::memory_order_relaxed);
        inputPeak[i].store(0.0f, std::memory_order_relaxed);
    }
}

ObsWrapper::ObsWrapper()
    : QObject(nullptr)
{
    connect(&m_meterTimer, &QTimer::timeout, this, &ObsWrapper::emitLevels);
    m_soundWatch.setInterval(1000);
    connect(&m_soundWatch, &QTimer::timeout, this, &ObsWrapper::watchSoundServer);
}

ObsWrapper::~ObsWrapper()
{
    m_meterTimer.stop();
    m_soundWatch.stop();
    // Let no libobs thread call back into a half-destroyed wrapper.
    if (m_micVolmeter && m_micIdentifier)
        obs_volmeter_remove_callback(m_micVolmeter.get(), oBSVolumeLevel, m_micIdentifier.get());
    if (m_playerVolmeter && m_playerIdentifier)
        obs_volmeter_remove_callback(m_playerVolmeter.get(), oBSVolumeLevel,
                                     m_playerIdentifier.get());
    m_stopConnection.Disconnect();
    for (auto &stopping : m_stoppingOutputs)
        stopping->stopSignal.Disconnect();

    if (m_output && obs_output_active(m_output)) {
        obs_output_stop(m_output);
        logger()->warning(
                QStringLiteral("Recording still running at shutdown: %1").arg(m_outputFile));
    }
    if (!obs_initialized())
        return;

    for (int channel = 0; channel < MAX_OUTPUT_CHANNELS; ++channel)
        obs_set_output_source(channel, nullptr);
    m_micVolmeter.reset();
    m_playerVolmeter.reset();
    // Releasing an output that is still finishing its file would force it to stop short:
    // give each one a bounded time to end on its own.
    std::vector<obs_output_t *> finishing;
    for (auto &stopping : m_stoppingOutputs)
        finishing.push_back(stopping->output);
    if (m_output)
        finishing.push_back(m_output);
    QElapsedTimer waited;
    waited.start();
    for (obs_output_t *output : finishing)
        while (obs_output_active(output) && waited.elapsed() < 10000)
            QThread::msleep(10);
    m_stoppingOutputs.clear();
    m_output = nullptr;
    m_archiveAudioEncoder = nullptr;
    m_streamAudioEncoder = nullptr;
    for (auto &encoder : m_trackAudioEncoders)
        encoder = nullptr;
    m_mouseEffectFilter = nullptr;
    m_scene = nullptr;
    m_transition = nullptr;
    m_captureSource = nullptr;
    m_playerSource = nullptr;
    m_micSource = nullptr;

    // The wrapper is the one owner of libobs: ending it here stops its threads before the
    // process tears down the objects they use.
    if (m_startedObs) {
        obs_shutdown();
        logger()->info(QStringLiteral("OBS shut down"));
    }
}

bool ObsWrapper::initObs(int width, int height, int fps)
{
    if (!obs_initialized()) {
        const QString appData = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        QDir dir(appData);
        if (!dir.exists())
            dir.mkpath(QStringLiteral("."));
        // Modules write their configuration here; without it they fall back to the cwd.
        dir.mkpath(QStringLiteral("obs-cfg"));

        if (!useQtDisplay())
            return false;
        const QByteArray cfg = (appData + QStringLiteral("/obs-cfg")).toUtf8();
        if (!obs_startup("en-US", cfg.constData(), nullptr)) {
            logger()->critical(QStringLiteral("obs_startup failed!"));
            return false;
        }
        m_startedObs = true;

        const QString binDir = QCoreApplication::applicationDirPath();
        const QByteArray modules = (binDir + QStringLiteral("/obs-plugins")).toUtf8();
        const QByteArray data = (binDir + QStringLiteral("/obs-plugins/data/%module%")).toUtf8();
        obs_add_module_path(modules.constData(), data.constData());

        if (!resetAudio()) {
            logger()->critical(QStringLiteral("obs reset audio failed!"));
            return false;
        }
        // Which graphics device libobs gets: see sc-obs-wrapper-canvas.cpp.
        const int videoResult = resetVideo(width, height, width, height, fps);
        if (videoResult != OBS_VIDEO_SUCCESS) {
            logger()->critical(QStringLiteral("obs reset video failed!with %1").arg(videoResult));
            return false;
        }
        if (!startVideo(binDir))
            return false;

        const QStringList failed = loadModules(QString::fromUtf8(modules));
        if (!failed.isEmpty()) {
            logger()->critical(QStringLiteral("Failed to load %1 OBS modules:").arg(failed.size()));
            for (const QString &name : failed) {
                logger()->critical(QStringLiteral("  - Failed module: %1").arg(name));
                logger()->error(QStringLiteral("Failed to load OBS module: %1").arg(name));
            }
        } else {
            logger()->info(QStringLiteral("All OBS modules loaded successfully"));
        }
        obs_post_load_modules();
    } else {
        // Another wrapper brought libobs up; its picture, if it has one, is shared.
        resetVideo(width, height, width, height, fps);
        obs_video_info current;
        if (obs_get_video_info(&current)) {
            m_appliedCanvas = current;
            m_graphicsModule = QByteArray(current.graphics_module);
            m_appliedCanvas.graphics_module = m_graphicsModule.constData();
            m_drawsPicture = !m_graphicsModule.contains("vistrel-null-graphics");
            if (m_drawsPicture)
                m_softwareRenderer = isSoftwareRenderer(graphicsRenderer());
        }
    }

    if (!createOutputMode()) {
        logger()->critical(QStringLiteral("obs create output mode failed!"));
        return false;
    }

    // A second bring-up rebuilds the audio side: drop the old meters' callbacks first.
    if (m_micVolmeter && m_micIdentifier)
        obs_volmeter_remove_callback(m_micVolmeter.get(), oBSVolumeLevel, m_micIdentifier.get());
    if (m_playerVolmeter && m_playerIdentifier)
        obs_volmeter_remove_callback(m_playerVolmeter.get(), oBSVolumeLevel,
                                     m_playerIdentifier.get());

    m_micSource = getSoundSource(MIC_SOURCE_ID, "default", "Default Mic/Aux", MIC_CHANNEL);
    obs_source_release(m_micSource);
    m_playerSource
            = getSoundSource(PLAYER_SOURCE_ID, "default", "macOS Audio Capture", PLAYER_CHANNEL);
    obs_source_release(m_playerSource);

    m_micVolmeter.reset(obs_volmeter_create(OBS_FADER_LOG));
    m_playerVolmeter.reset(obs_volmeter_create(OBS_FADER_LOG));

    m_micIdentifier.reset(
            new SoundDeviceIdentifier {SoundDeviceIdentifier::Mic, this, m_micVolmeter.get()});
    m_playerIdentifier.reset(new SoundDeviceIdentifier {SoundDeviceIdentifier::Player, this,
                                                        m_playerVolmeter.get()});
    obs_volmeter_add_callback(m_micVolmeter.get(), oBSVolumeLevel, m_micIdentifier.get());
    obs_volmeter_add_callback(m_playerVolmeter.get(), oBSVolumeLevel, m_playerIdentifier.get());
    if (m_micSource)
        obs_volmeter_attach_source(m_micVolmeter.get(), m_micSource);
    if (m_playerSource)
        obs_volmeter_attach_source(m_playerVolmeter.get(), m_playerSource);

    obs_set_output_source(MIC_CHANNEL, m_micSource);
    obs_set_output_source(PLAYER_CHANNEL, m_playerSource);

    m_micDevice = m_micSource ? QByteArray("default") : QByteArray();
    m_playerDevice = m_playerSource ? QByteArray("default") : QByteArray();
    m_micLevels.markFresh();
    m_playerLevels.markFresh();
    m_meterTimer.setInterval(16);
    m_meterTimer.start();
    m_soundWatch.start();
    return true;
}

bool ObsWrapper::resetAudio()
{
    obs_audio_info2 info = {};
    info.samples_per_sec = 48000;
    info.speakers = SPEAKERS_STEREO;
    info.max_buffering_ms = 960;
    info.fixed_buffering = false;
    return obs_reset_audio2(&info);
}

int ObsWrapper::audioChannel()
{
    return static_cast<int>(audio_output_get_channels(obs_get_audio()));
}

// A meter knows its channel count only after its first audio; until then the mix's count
// is the best answer for whoever sizes a meter widget.
int ObsWrapper::micChannelCount()
{
    const int count = m_micVolmeter ? obs_volmeter_get_nr_channels(m_micVolmeter.get()) : 0;
    return count > 0 ? count : audioChannel();
}

int ObsWrapper::playerChannelCount()
{
    const int count = m_playerVolmeter ? obs_volmeter_get_nr_channels(m_playerVolmeter.get()) : 0;
    return count > 0 ? count : audioChannel();
}

void ObsWrapper::release()
{
    if (m_output)
        obs_output_stop(m_output);
    if (m_micVolmeter && m_micIdentifier)
        obs_volmeter_remove_callback(m_micVolmeter.get(), oBSVolumeLevel, m_micIdentifier.get());
    if (m_playerVolmeter && m_playerIdentifier)
        obs_volmeter_remove_callback(m_playerVolmeter.get(), oBSVolumeLevel,
                                     m_playerIdentifier.get());
    obs_set_output_source(TRANSITION_CHANNEL, nullptr);
    obs_set_output_source(MIC_CHANNEL, nullptr);
    obs_set_output_source(PLAYER_CHANNEL, nullptr);
    for (int channel = 0; channel < MAX_OUTPUT_CHANNELS; ++channel)
        obs_set_output_source(channel, nullptr);
    obs_enum_scenes(
            [](void *, obs_source_t *source) {
                obs_source_remove(source);
                return true;
            },
            nullptr);
    obs_enum_sources(
            [](void *, obs_source_t *source) {
                obs_source_remove(source);
                return true;
            },
            nullptr);
    m_meterTimer.stop();
}

void ObsWrapper::oBSVolumeLevel(void *data, const float magnitude[LEVEL_CHANNELS],
                                const float peak[LEVEL_CHANNELS],
                                const float inputPeak[LEVEL_CHANNELS])
{
    auto *id = static_cast<SoundDeviceIdentifier *>(data);
    if (!id || !id->wrapper)
        return;
    if (id->type == SoundDeviceIdentifier::Mic)
        id->wrapper->m_micLevels.store(magnitude, peak, inputPeak);
    else
        id->wrapper->m_playerLevels.store(magnitude, peak, inputPeak);
}

void ObsWrapper::emitLevels()
{
    emitPlayerLevels();
    emitMicLevels();
}

void ObsWrapper::emitMicLevels()
{
    // Without sound coming in, the last level would stay on the meter.
    if (m_micLevels.silentForMs() > METER_STALE_MS)
        m_micLevels.clear();
    for (int i = 0; i < LEVEL_CHANNELS; ++i) {
        m_micSnapshot.magnitude[i] = m_micLevels.magnitude[i].load(std::memory_order_relaxed);
        m_micSnapshot.peak[i] = m_micLevels.peak[i].load(std::memory_order_relaxed);
        m_micSnapshot.inputPeak[i] = m_micLevels.inputPeak[i].load(std::memory_order_relaxed);
    }
    emit micVolumeDataChange(m_micSnapshot.magnitude, m_micSnapshot.peak, m_micSnapshot.inputPeak);
}

void ObsWrapper::emitPlayerLevels()
{
    if (m_playerLevels.silentForMs() > METER_STALE_MS)
        m_playerLevels.clear();
    for (int i = 0; i < LEVEL_CHANNELS; ++i) {
        m_playerSnapshot.magnitude[i] = m_playerLevels.magnitude[i].load(std::memory_order_relaxed);
        m_playerSnapshot.peak[i] = m_playerLevels.peak[i].load(std::memory_order_relaxed);
        m_playerSnapshot.inputPeak[i] = m_playerLevels.inputPeak[i].load(std::memory_order_relaxed);
    }
    emit playerVolumeDataChange(m_playerSnapshot.magnitude, m_playerSnapshot.peak,
                                m_playerSnapshot.inputPeak);
}

// --- scene and sources ------------------------------------------------------------------

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

void ObsWrapper::applyCrop()
{
    if (!m_captureSource)
        return;
    OBSDataAutoRelease crop = obs_data_create();
    obs_data_set_bool(crop, "relative", true);
    obs_data_set_int(crop, "left", m_cropLeft);
    obs_data_set_int(crop, "top", m_cropTop);
    obs_data_set_int(crop, "right", m_cropRight);
    obs_data_set_int(crop, "bottom", m_cropBottom);
    obs_data_set_int(crop, "cx", 0);
    obs_data_set_int(crop, "cy", 0);

    // A crop filter always draws the whole picture once more, even when it cuts nothing.
    const bool cropping
            = m_cropLeft != 0 || m_cropRight != 0 || m_cropTop != 0 || m_cropBottom != 0;
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

void ObsWrapper::searchMicDevice()
{
    obs_properties_t *props = obs_get_source_properties(MIC_SOURCE_ID);
    if (!props)
        return;
    fillList(props, "device_id", m_micNames, m_micIds, false, false);
    obs_properties_destroy(props);
    if (m_micNames.isEmpty()) {
        m_micNames.append(QStringLiteral("No Device"));
        m_micIds.append(QStringLiteral("default"));
    }
}

void ObsWrapper::searchPlayerDevice()
{
    obs_properties_t *props = obs_get_source_properties(PLAYER_SOURCE_ID);
    if (!props)
        return;
    fillList(props, "device_id", m_playerNames, m_playerIds, false, false);
    obs_properties_destroy(props);
    if (m_playerNames.isEmpty()) {
        m_playerNames.append(QStringLiteral("No Device"));
        m_playerIds.append(QStringLiteral("default"));
    }
}

QStringList ObsWrapper::micphoneDeviceName() const
{
    return m_micSource ? m_micNames : QStringList {QStringLiteral("No Device")};
}

QStringList ObsWrapper::playerDeviceName() const
{
    return m_playerSource ? m_playerNames : QStringList {QStringLiteral("No Device")};
}

bool ObsWrapper::hasMicDevice() const
{
    return m_micNames.size() > 1;
}

QString ObsWrapper::micDeviceId(const QString &name) const
{
    return deviceIdFor(m_micNames, m_micIds, name);
}

QString ObsWrapper::playerDeviceId(const QString &name) const
{
    return deviceIdFor(m_playerNames, m_playerIds, name);
}

bool ObsWrapper::soundSilent() const
{
    return (m_micSource && m_micLevels.dead()) || (m_playerSource && m_playerLevels.dead());
}

void ObsWrapper::watchSoundServer()
{
    if (soundSilent()) {
        if (!m_soundWarned) {
            logger()->warning(
                    QStringLiteral("No sound from the sound server (microphone %1, "
                                   "speakers %2); recordings go on with silence")
                            .arg(m_micSource && m_micLevels.dead() ? "silent" : "ok",
                                 m_playerSource && m_playerLevels.dead() ? "silent" : "ok"));
            m_soundWarned = true;
        }
        // A running recording keeps its sources; the next one gets new ones.
        if (!m_recording)
            reconnectSound();
    } else if (m_soundWarned && (!m_micSource || m_micLevels.delivered())
               && (!m_playerSource || m_playerLevels.delivered())) {
        logger()->info(QStringLiteral("Sound is coming in again"));
        m_soundWarned = false;
    }
}

void ObsWrapper::reconnectSound()
{
    const QByteArray mic = m_micSource ? m_micDevice : QByteArray();
    const QByteArray player = m_playerSource ? m_playerDevice : QByteArray();
    // libobs's PulseAudio sources share one server connection, made anew only once no
    // source is left: drop both before creating either.
    ResetAudioDevice(MIC_SOURCE_ID, DISABLED_DEVICE, "Mic/Aux", MIC_CHANNEL);
    ResetAudioDevice(PLAYER_SOURCE_ID, DISABLED_DEVICE, "Desktop Audio", PLAYER_CHANNEL);
    // Sources are destroyed on a libobs thread of their own.
    obs_wait_for_destroy_queue();
    if (!mic.isEmpty())
        ResetAudioDevice(MIC_SOURCE_ID, mic.constData(), "Mic/Aux", MIC_CHANNEL);
    if (!player.isEmpty())
        ResetAudioDevice(PLAYER_SOURCE_ID, player.constData(), "Desktop Audio", PLAYER_CHANNEL);
}

void ObsWrapper::recMicAudio(bool enable, const QString &deviceId)
{
    if (!m_recording && (m_soundWarned || soundSilent()))
        reconnectSound();
    if (!HasAudioDevices(MIC_SOURCE_ID))
        return;
    const QByteArray id = enable ? deviceId.toUtf8() : QByteArray(DISABLED_DEVICE);
    ResetAudioDevice(MIC_SOURCE_ID, id.constData(), "Mic/Aux", MIC_CHANNEL);
}

void ObsWrapper::recPlayerAudio(bool enable, const QString &deviceId)
{
    if (!m_recording && (m_soundWarned || soundSilent()))
        reconnectSound();
    if (!HasAudioDevices(PLAYER_SOURCE_ID))
        return;
    const QByteArray id = enable ? deviceId.toUtf8() : QByteArray(DISABLED_DEVICE);
    ResetAudioDevice(PLAYER_SOURCE_ID, id.constData(), "Desktop Audio", PLAYER_CHANNEL);
}

void ObsWrapper::setMixerBit(int channel, bool on)
{
    if (!m_output)
        return;
    const size_t bit = channel == MIC_CHANNEL ? 1 : 2;
    size_t mixers = obs_output_get_mixers(m_output);
    mixers = on ? (mixers | bit) : (mixers & ~bit);
    obs_output_set_mixers(m_output, mixers);
}

void ObsWrapper::ResetAudioDevice(const char *sourceType, const char *deviceId,
                                  const char *deviceName, int channel)
{
    {
        OBSSourceAutoRelease current = obs_get_output_source(static_cast<uint32_t>(channel));
        if (current)
            obs_set_output_source(static_cast<uint32_t>(channel), nullptr);
    }
    const bool mic = channel == MIC_CHANNEL;
    OBSSource &source = mic ? m_micSource : m_playerSource;
    obs_volmeter_t *meter = mic ? m_micVolmeter.get() : m_playerVolmeter.get();
    SoundDeviceIdentifier *identifier = mic ? m_micIdentifier.get() : m_playerIdentifier.get();

    if (strcmp(deviceId, DISABLED_DEVICE) == 0) {
        setMixerBit(channel, false);
        if (source) {
            if (meter) {
                obs_volmeter_detach_source(meter);
                obs_volmeter_remove_callback(meter, oBSVolumeLevel, identifier);
            }
            obs_source_set_enabled(source, false);
            source = nullptr;
            if (mic) {
                m_micLevels.clear();
                emitMicLevels();
            } else {
                m_playerLevels.clear();
                emitPlayerLevels();
            }
        }
        return;
    }

    OBSDataAutoRelease settings = obs_data_create();
    obs_data_set_string(settings, "device_id", deviceId);
    OBSSourceAutoRelease created = createSource(sourceType, deviceName, settings);
    if (!created)
        return;

    obs_set_output_source(static_cast<uint32_t>(channel), created);
    setMixerBit(channel, true);
    source = created.Get();
    (mic ? m_micDevice : m_playerDevice) = deviceId;
    (mic ? m_micLevels : m_playerLevels).markFresh();
    obs_source_set_enabled(source, true);
    if (meter) {
        // Removing first keeps a repeated switch-on from registering the callback twice.
        obs_volmeter_remove_callback(meter, oBSVolumeLevel, identifier);
        obs_volmeter_attach_source(meter, source);
        obs_volmeter_add_callback(meter, oBSVolumeLevel, identifier);
    }
}

obs_source_t *ObsWrapper::getSoundSource(const char *sourceType, const char *deviceId,
                                         const char *name, int channel)
{
    obs_source_t *existing = obs_get_output_source(static_cast<uint32_t>(channel));
    if (existing)
        return existing;
    OBSDataAutoRelease settings = obs_data_create();
    obs_data_set_string(settings, "device_id", deviceId);
    return createSource(sourceType, name, settings);
}

bool ObsWrapper::HasAudioDevices(const char *sourceType)
{
    obs_properties_t *props = obs_get_source_properties(sourceType);
    if (!props)
        return false;
    bool found = false;
    if (obs_property_t *list = obs_properties_get(props, "device_id"))
        found = obs_property_list_item_count(list) > 0;
    obs_properties_destroy(props);
    return found;
}

void ObsWrapper::resetMicphoneVolumeLevelCallback(const QString &deviceId)
{
    if (m_micSource) {
        obs_volmeter_detach_source(m_micVolmeter.get());
        obs_set_output_source(MIC_CHANNEL, nullptr);
        m_micSource = nullptr;
        obs_volmeter_remove_callback(m_micVolmeter.get(), oBSVolumeLevel, m_micIdentifier.get());
    }
    if (!m_micVolmeter)
        return;
    obs_volmeter_add_callback(m_micVolmeter.get(), oBSVolumeLevel, m_micIdentifier.get());
    const QByteArray id = deviceId.toUtf8();
    m_micSource = getSoundSource(MIC_SOURCE_ID, id.constData(), "Mic/Aux", MIC_CHANNEL);
    obs_source_release(m_micSource);
    if (m_micSource)
        obs_volmeter_attach_source(m_micVolmeter.get(), m_micSource);
    obs_set_output_source(MIC_CHANNEL, m_micSource);
    m_micDevice = id;
    m_micLevels.markFresh();
    emitMicLevels();
}

void ObsWrapper::resetPlayerVolumeLevelCallback(const QString &deviceId)
{
    if (m_playerSource) {
        obs_volmeter_detach_source(m_playerVolmeter.get());
        obs_set_output_source(PLAYER_CHANNEL, nullptr);
        m_playerSource = nullptr;
        obs_volmeter_remove_callback(m_playerVolmeter.get(), oBSVolumeLevel,
                                     m_playerIdentifier.get());
    }
    if (!m_playerVolmeter)
        return;
    obs_volmeter_add_callback(m_playerVolmeter.get(), oBSVolumeLevel, m_playerIdentifier.get());
    const QByteArray id = deviceId.toUtf8();
    m_playerSource
            = getSoundSource(PLAYER_SOURCE_ID, id.constData(), "Desktop Audio", PLAYER_CHANNEL);
    obs_source_release(m_playerSource);
    if (m_playerSource)
        obs_volmeter_attach_source(m_playerVolmeter.get(), m_playerSource);
    obs_set_output_source(PLAYER_CHANNEL, m_playerSource);
    m_playerDevice = id;
    m_playerLevels.markFresh();
    emitPlayerLevels();
}

// --- output ------------------------------------------------------------------------------

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

obs_data_t *ObsWrapper::videoSettings(const char *ext, const char *mime, const QString &path,
                                      int fps, int bitrate, int width, int height,
                                      const char *videoEncoder, int videoEncoderId,
                                      const char *audioEncoder, int audioEncoderId)
{
    const QString url = path + QLatin1Char('.') + QLatin1String(ext);
    qDebug().noquote() << QStringLiteral("Output file path (%1):").arg(QString(ext).toUpper())
                       << url;
    obs_data_t *s = obs_data_create();
    obs_data_set_string(s, "url", url.toUtf8().constData());
    obs_data_set_string(s, "format_name", ext);
    obs_data_set_string(s, "format_mime_type", mime);
    obs_data_set_string(s, "muxer_settings", nullptr);
    obs_data_set_int(s, "gop_size", fps * 10);
    obs_data_set_bool(s, "video", true);
    obs_data_set_int(s, "video_bitrate", bitrate * 1024);
    obs_data_set_string(s, "video_encoder", videoEncoder);
    obs_data_set_int(s, "video_encoder_id", videoEncoderId);
    obs_data_set_int(s, "scale_width", width);
    obs_data_set_int(s, "scale_height", height);
    if (audioEncoderId == 0) {
        obs_data_set_bool(s, "audio", false);
    } else {
        obs_data_set_int(s, "audio_bitrate", 192);
    }
    obs_data_set_string(s, "audio_encoder", audioEncoder);
    if (audioEncoderId != 0)
        obs_data_set_int(s, "audio_encoder_id", audioEncoderId);
    return s;
}

obs_data_t *ObsWrapper::mp4Settings(const QString &path, int fps, int bitrate, int width,
                                    int height)
{
    return videoSettings("mp4", "video/mp4", path, fps, bitrate, width, height, "libx264", 27,
                         "aac", 86018);
}

obs_data_t *ObsWrapper::aviSettings(const QString &path, int fps, int bitrate, int width,
                                    int height)
{
    return videoSettings("avi", "video/avi", path, fps, bitrate, width, height, "mpeg4", 12,
                         "libmp3lame", 86017);
}

obs_data_t *ObsWrapper::flvSettings(const QString &path, int fps, int bitrate, int width,
                                    int height)
{
    return videoSettings("flv", "video/flv", path, fps, bitrate, width, height, "flv", 21,
                         "libmp3lame", 86017);
}

obs_data_t *ObsWrapper::gifSettings(const QString &path, int fps, int bitrate, int width,
                                    int height)
{
    return videoSettings("gif", "video/gif", path, fps, bitrate, width, height, "gif", 97, "none",
                         0);
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

void ObsWrapper::setupFFmpeg(const QString &path, int width, int height, int fps, int bitrate,
                             OutputFormat format)
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
             << "bitrate" << bitrate << "format" << static_cast<int>(format);

    if (width % 2 != 0)
        width += 1;
    if (height % 2 != 0)
        height += 1;

    obs_data_t *settings = nullptr;
    OutputFormat effective = format;
    switch (format) {
    case OutputFormat::AVI:
        settings = aviSettings(path, fps, bitrate, width, height);
        break;
    case OutputFormat::FLV:
        settings = flvSettings(path, fps, bitrate, width, height);
        break;
    case OutputFormat::GIF:
        settings = gifSettings(path, fps, bitrate, width, height);
        break;
    case OutputFormat::MP3:
        settings = mp3Settings(path);
        break;
    case OutputFormat::AAC:
        settings = aacSettings(path);
        break;
    case OutputFormat::FLAC:
        settings = flacSettings(path);
        break;
    case OutputFormat::MP4:
    default:
        effective = OutputFormat::MP4;
        settings = mp4Settings(path, fps, bitrate, width, height);
        break;
    }
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

// --- recording control -------------------------------------------------------------------

int ObsWrapper::startRecording()
{
    emit recordStatusChanged(0);
    qDebug() << "Starting recording...";
    logger()->info(QStringLiteral("Recording to %1 (format %2)").arg(m_outputFile, m_outputFormat));

    const bool composeFree = m_composeFree && m_output;
    const bool started = m_output && prepareCanvas(composeFree) && obs_output_start(m_output);
    if (started) {
        qDebug() << "Recording started successfully";
        m_stopConnection.Connect(obs_output_get_signal_handler(m_output), "stop",
                                 outPutStopedCallback, this);
        m_liveOutput = m_output.Get();
        m_recording = true;
        m_paused = false;
        m_recordClock.start();
        m_laggedAtStart = obs_get_lagged_frames();
        m_readingScreen = composeFree && screenReadOffered();
        const QRect area = screenArea();
        m_areaWidthAtStart = area.width();
        m_areaHeightAtStart = area.height();
        return 0;
    }

    const char *lastError = m_output ? obs_output_get_last_error(m_output) : nullptr;
    const QString error = lastError && *lastError
            ? QString::fromUtf8(lastError)
            : (m_output ? QStringLiteral("No error message")
                        : QStringLiteral("No output configured"));
    qDebug().noquote() << "Failed to start recording. Error:" << error;
    logger()->error(QStringLiteral("Failed to start recording %1: %2").arg(m_outputFile, error));
    enterIdle();
    emit recordStatusChanged(2);
    emit recordingFailed(error);
    return -1;
}

int ObsWrapper::pauseRecording()
{
    if (!m_recording)
        return -1;
    m_paused = !m_paused;
    obs_output_pause(m_output, m_paused);
    emit recordStatusChanged(m_paused ? 1 : 0);
    return 0;
}

int ObsWrapper::stopRecording(bool force)
{
    if (m_output) {
        // Its end report may still be on the way even when libobs calls it inactive.
        const bool active = obs_output_active(m_output) || m_recording.load();
        if (active) {
            auto stopping = std::make_unique<StoppingOutput>();
            stopping->output = m_output;
            stopping->stopSignal = std::move(m_stopConnection);
            stopping->file = m_outputFile;
            stopping->format = m_outputFormat;
            stopping->elapsedMs = m_recordClock.elapsed();
            m_stoppingOutputs.push_back(std::move(stopping));
        }
        m_liveOutput = nullptr;
        if (force)
            obs_output_force_stop(m_output);
        else
            obs_output_stop(m_output);
        m_output = nullptr;
    }
    m_recording = false;
    m_paused = false;
    m_readingScreen = false;
    return 0;
}

void ObsWrapper::outPutStopedCallback(void *data, calldata_t *params)
{
    auto *wrapper = static_cast<ObsWrapper *>(data);
    if (!wrapper)
        return;
    auto *output = static_cast<obs_output_t *>(calldata_ptr(params, "output"));
    const int code = static_cast<int>(calldata_int(params, "code"));
    QString error;
    int dropped = 0;
    int total = 0;
    if (output) {
        const char *lastError = obs_output_get_last_error(output);
        if (lastError)
            error = QString::fromUtf8(lastError);
        dropped = obs_output_get_frames_dropped(output);
        total = obs_output_get_total_frames(output);
        // Pictures read from the screen never pass through libobs: the output counts them.
        calldata_t written;
        calldata_init(&written);
        if (proc_handler_call(obs_output_get_proc_handler(output), "get_written_frames", &written))
            total = std::max(total, int(calldata_int(&written, "frames")));
        calldata_free(&written);
    }
    // libobs counts lagged frames for the whole session: report this recording's share.
    const quint32 lagged = obs_get_lagged_frames() - wrapper->m_laggedAtStart.load();
    // An earlier file that ends while the next recording runs must not end that one.
    obs_output_t *live = output;
    if (wrapper->m_liveOutput.compare_exchange_strong(live, nullptr))
        wrapper->m_recording = false;
    // Widgets and the holders live on the GUI thread; finish there.
    QMetaObject::invokeMethod(
            wrapper,
            [wrapper, output, code, error, dropped, total, lagged]() {
                wrapper->onOutputStopped(output, code, error, dropped, total, lagged);
            },
            Qt::QueuedConnection);
}

void ObsWrapper::onOutputStopped(obs_output_t *output, int code, const QString &error, int dropped,
                                 int total, quint32 lagged)
{
    QString file;
    QString format;
    qint64 elapsedMs = 0;
    auto it = std::find_if(m_stoppingOutputs.begin(), m_stoppingOutputs.end(),
                           [output](const auto &s) { return s->output == output; });
    if (it != m_stoppingOutputs.end()) {
        file = (*it)->file;
        format = (*it)->format;
        elapsedMs = (*it)->elapsedMs;
        m_stoppingOutputs.erase(it);
    } else if (m_output == output) {
        // Ended by itself (an error while recording): the output stays until the next set-up.
        file = m_outputFile;
        format = m_outputFormat;
        elapsedMs = m_recordClock.elapsed();
        m_stopConnection.Disconnect();
        m_readingScreen = false;
    }
    enterIdle();
    // Every report belongs to a started recording: never swallow its end.
    logRecordingEnd(file, format, code, error, elapsedMs, dropped, total, lagged);
    emit recordStatusChanged(2);
    if (code != OBS_OUTPUT_SUCCESS) {
        emit recordingFailed(
                error.isEmpty() ? QStringLiteral("Recording ended with error code %1").arg(code)
                                : error);
    }
}

void ObsWrapper::logRecordingEnd(const QString &file, const QString &format, int code,
                                 const QString &error, qint64 elapsedMs, int dropped, int total,
                                 quint32 lagged)
{
    const QFileInfo info(file);
    // The frames written give the file's length; audio-only files have none.
    double seconds = double(elapsedMs) / 1000.0;
    if (total > 0 && m_canvas.fps_num > 0)
        seconds = double(total) * m_canvas.fps_den / m_canvas.fps_num;
    const QString line
            = QStringLiteral("Recording stopped: %1, format %2, size %3 bytes, duration %4 s, "
                             "frames %5, dropped %6, lagged %7, code %8")
                      .arg(file, format)
                      .arg(info.exists() ? info.size() : -1)
                      .arg(seconds, 0, 'f', 2)
                      .arg(total)
                      .arg(dropped)
                      .arg(lagged)
                      .arg(code);
    if (code == OBS_OUTPUT_SUCCESS)
        logger()->info(line);
    else
        logger()->error(line + QStringLiteral(", error: ") + error);
}
