#include "sc-obs-wrapper.h"

#include "sc-obs-wrapper-internal.h"

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
#include <wayland-client.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>

// Bring-up and teardown of the one libobs instance.

using namespace ObsEngine;

namespace {

// libobs and the pointer filter call Xlib on Qt's connection from their own threads. When the
// server goes away Xlib (and Qt's handler for it) would end the process from whichever thread
// noticed first, in the middle of a frame; the connection is let go quietly instead, and the
// GUI thread ends the program once Qt sees the loss there.
int connectionBroke(Display *)
{
    static std::atomic<bool> told {false};
    if (!told.exchange(true))
        logger()->warning(QStringLiteral("The connection to the X server broke"));
    return 0;
}

void displayLost(Display *, void *) { }

// libobs refuses to start without DISPLAY even when handed a connection, and Qt may have been
// told its display on the command line: make both name the same server.
bool useQtDisplay()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if ((!x11 || !x11->display()) && QGuiApplication::platformName() == QLatin1String("wayland")) {
        // Windows on Wayland itself: libobs gets a connection of its own, which it only uses
        // for its key handling; pictures come from the desktop's screen cast.
        static wl_display *display = wl_display_connect(nullptr);
        if (!display) {
            logger()->critical(QStringLiteral("No connection to the Wayland display"));
            return false;
        }
        obs_set_nix_platform(static_cast<obs_nix_platform_type>(OBS_NIX_PLATFORM_X11_EGL + 1));
        obs_set_nix_platform_display(display);
        return true;
    }
    if (!x11 || !x11->display()) {
        logger()->critical(QStringLiteral("No X11 display connection from Qt"));
        return false;
    }
    setenv("DISPLAY", DisplayString(x11->display()), 1);
    XSetIOErrorHandler(connectionBroke);
    XSetIOErrorExitHandler(x11->display(), displayLost, nullptr);
    obs_set_nix_platform(OBS_NIX_PLATFORM_X11_EGL);
    obs_set_nix_platform_display(x11->display());
    return true;
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

// The folder holding the program's own modules (obs-plugins/) and its null graphics device:
// the binary's own folder in the build tree, lib/vistrel beside bin/ once installed.
QString ownModuleFolder()
{
    const QString binDir = QCoreApplication::applicationDirPath();
    const QStringList candidates {binDir,
                                  QDir::cleanPath(binDir + QStringLiteral("/../lib/vistrel"))};
    for (const QString &folder : candidates) {
        if (QFileInfo(folder + QStringLiteral("/obs-plugins")).isDir()) {
            logger()->info(QStringLiteral("The program's own modules are in %1").arg(folder));
            return folder;
        }
    }
    logger()->error(QStringLiteral("The program's own modules are missing: no obs-plugins "
                                   "folder in %1")
                            .arg(candidates.join(QStringLiteral(" or "))));
    return binDir;
}

} // namespace

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

    finishFilesNow();
    if (!obs_initialized())
        return;

    for (int channel = 0; channel < MAX_OUTPUT_CHANNELS; ++channel)
        obs_set_output_source(channel, nullptr);
    m_micVolmeter.reset();
    m_playerVolmeter.reset();
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

void ObsWrapper::finishFilesNow()
{
    if (m_output && obs_output_active(m_output)) {
        obs_output_stop(m_output);
        logger()->warning(
                QStringLiteral("Recording still running at shutdown: %1").arg(m_outputFile));
    }
    // Releasing an output that is still finishing its file would force it to stop short:
    // give each one a bounded time to end on its own.
    std::vector<obs_output_t *> finishing;
    for (auto &stopping : m_stoppingOutputs)
        finishing.push_back(stopping->output);
    if (m_output)
        finishing.push_back(m_output);
    QElapsedTimer waited;
    waited.start();
    for (obs_output_t *output : finishing) {
        while (obs_output_active(output) && waited.elapsed() < 10000)
            QThread::msleep(10);
        if (obs_output_active(output))
            logger()->error(QStringLiteral("A recording did not finish its file in time"));
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

        const QString ownFolder = ownModuleFolder();
        const QByteArray modules = (ownFolder + QStringLiteral("/obs-plugins")).toUtf8();
        const QByteArray data = (ownFolder + QStringLiteral("/obs-plugins/data/%module%")).toUtf8();
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
        if (!startVideo(ownFolder))
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
    m_micDevice = m_micSource ? QByteArrayLiteral("default") : QByteArray();
    m_playerDevice = m_playerSource ? QByteArrayLiteral("default") : QByteArray();

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
    // As often as a meter can repaint (25 a second): more wakes the program up for nothing
    // while it is idle.
    m_meterTimer.setInterval(40);
    m_meterTimer.start();
    m_soundWatch.start();
    return true;
}

bool ObsWrapper::resetAudio()
{
    obs_audio_info2 info = {};
    info.samples_per_sec = 48000;
    info.speakers = SPEAKERS_STEREO;
    // A fixed buffer: libobs grows a growing one while recording, and the sound mixed after
    // that came as much later than its picture. Three mixer packets leave the microphone's
    // 25 ms deliveries room, and a stop waits no longer than that for its last sound.
    info.max_buffering_ms = 64;
    info.fixed_buffering = true;
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
