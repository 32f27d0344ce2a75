// Before any libobs header: it brings the CPU intrinsics that libobs would otherwise emulate.
#include "sc-obs-wrapper.h"

#include "obs-test-session.h"

#include <QGuiApplication>

#include <obs-nix-platform.h>

#include <cstdlib>
#include <cstring>

namespace {

obs_source_t *g_screen = nullptr;
obs_source_t *g_sound = nullptr;

void loadWanted(void *, const obs_module_info2 *info)
{
    static const char *wanted[] = {"linux-capture", "linux-pulseaudio", "vistrel-output"};
    for (const char *name : wanted) {
        if (strcmp(info->name, name) != 0)
            continue;
        obs_module_t *module = nullptr;
        if (obs_open_module(&module, info->bin_path, info->data_path) == MODULE_SUCCESS)
            obs_init_module(module);
    }
}

} // namespace

bool ObsTestSession::startUp(const QString &configDir, QString *error)
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->display()) {
        *error = "no X11 display";
        return false;
    }
    obs_set_nix_platform(OBS_NIX_PLATFORM_X11_EGL);
    obs_set_nix_platform_display(x11->display());
    if (!obs_startup("en-US", configDir.toUtf8().constData(), nullptr)) {
        *error = "obs_startup failed";
        return false;
    }

    obs_video_info ovi = {};
    ovi.graphics_module = "libobs-opengl";
    ovi.fps_num = kFps;
    ovi.fps_den = 1;
    ovi.base_width = ovi.output_width = kWidth;
    ovi.base_height = ovi.output_height = kHeight;
    ovi.output_format = VIDEO_FORMAT_NV12;
    ovi.colorspace = VIDEO_CS_709;
    ovi.range = VIDEO_RANGE_PARTIAL;
    ovi.scale_type = OBS_SCALE_BICUBIC;
    ovi.gpu_conversion = true;
    if (obs_reset_video(&ovi) != OBS_VIDEO_SUCCESS) {
        *error = "obs_reset_video failed";
        return false;
    }
    obs_audio_info oai = {};
    oai.samples_per_sec = 48000;
    oai.speakers = SPEAKERS_STEREO;
    if (!obs_reset_audio(&oai)) {
        *error = "obs_reset_audio failed";
        return false;
    }

    obs_add_module_path(VISTREL_PLUGIN_DIR, VISTREL_PLUGIN_DIR "/data/%module%");
    // Only what the recording needs: Debian's folder also holds a Qt 5 module that aborts in a
    // Qt 6 process.
    obs_find_modules2(&loadWanted, nullptr);
    obs_post_load_modules();
    if (!obs_get_output_flags("vistrel_output")) {
        *error = "the vistrel-output module did not load from " VISTREL_PLUGIN_DIR;
        return false;
    }

    g_screen = obs_source_create("xshm_input", "screen", nullptr, nullptr);
    obs_data_t *soundSettings = obs_data_create();
    obs_data_set_string(soundSettings, "device_id", "default");
    g_sound = obs_source_create("pulse_output_capture", "sound", soundSettings, nullptr);
    obs_data_release(soundSettings);
    if (!g_screen || !g_sound) {
        *error = "cannot create the screen or sound source";
        return false;
    }
    obs_set_output_source(0, g_screen);
    obs_set_output_source(1, g_sound);
    return true;
}

void ObsTestSession::shutDown()
{
    obs_set_output_source(0, nullptr);
    obs_set_output_source(1, nullptr);
    obs_source_release(g_screen);
    obs_source_release(g_sound);
    g_screen = g_sound = nullptr;
    obs_shutdown();
}

QString ObsTestSession::extension(RecordFormat format)
{
    static const char *names[] = {"mp4", "avi", "flv", "gif", "mp3", "aac", "flac", "mkv", "webm"};
    return names[(int)format];
}

QString ObsTestSession::name(RecordFormat format)
{
    return extension(format).toUpper();
}

bool ObsTestSession::hasVideo(RecordFormat format)
{
    return !isAudioOnlyFormat(static_cast<OutputFormat>(format));
}

bool ObsTestSession::hasAudio(RecordFormat format)
{
    return format != RecordFormat::Gif;
}

obs_data_t *ObsTestSession::settingsFor(RecordFormat format, const QString &path, int width,
                                        int height)
{
    // What the program itself writes, so that these tests see the files people get.
    return ObsWrapper::formatSettings(static_cast<OutputFormat>(format), path, kFps, 4, width,
                                      height);
}
