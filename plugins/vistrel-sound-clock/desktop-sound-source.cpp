#include "desktop-sound-source.h"

#include <obs-module.h>
#include <util/platform.h>

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

#define LOG_PREFIX "[vistrel-desktop-sound] "

// libobs's own reader asks for the same: short enough for the meters, few wake-ups.
constexpr pa_usec_t kFragmentUs = 25000;
// what handing the sound over from the server may take
constexpr int64_t kTransportNs = 5000000;

struct DesktopSound
{
    obs_source_t *source = nullptr;
    // "default" follows the default output; otherwise a monitor source's name
    std::string device;
    std::string reading;
    pa_threaded_mainloop *loop = nullptr;
    pa_context *context = nullptr;
    pa_stream *stream = nullptr;
    uint32_t rate = 48000;
    uint8_t channels = 2;
    speaker_layout speakers = SPEAKERS_STEREO;
    bool contextLost = false;
    uint64_t holes = 0;
};

void openStream(DesktopSound *sound, const std::string &name);

void closeStream(DesktopSound *sound)
{
    if (!sound->stream)
        return;
    pa_stream_set_read_callback(sound->stream, nullptr, nullptr);
    pa_stream_set_state_callback(sound->stream, nullptr, nullptr);
    pa_stream_disconnect(sound->stream);
    pa_stream_unref(sound->stream);
    sound->stream = nullptr;
}

int64_t framesToNs(size_t frames, uint32_t rate)
{
    return int64_t(util_mul_div64(frames, 1000000000ULL, rate));
}

void deliver(DesktopSound *sound, pa_stream *stream, const void *data, size_t bytes)
{
    const size_t frameBytes = sizeof(float) * sound->channels;
    const size_t frames = bytes / frameBytes;
    if (frames == 0)
        return;
    const uint64_t now = os_gettime_ns();
    // The first sample of what is read is heard at now - latency: later than now while the
    // sink still holds it, which is what a monitor's negative latency says.
    // Nothing waiting here was mixed before the oldest of it came: a larger latency is the
    // sink's timing catching up after it changed, and would make libobs hold all sound back
    // for as long.
    const int64_t waiting
            = framesToNs(std::max(frames, pa_stream_readable_size(stream) / frameBytes),
                         sound->rate)
            + kTransportNs;
    int64_t latency = waiting;
    pa_usec_t usec = 0;
    int negative = 0;
    if (pa_stream_get_latency(stream, &usec, &negative) == 0)
        latency = std::min(waiting, negative ? -int64_t(usec) * 1000 : int64_t(usec) * 1000);

    obs_source_audio out = {};
    out.data[0] = static_cast<const uint8_t *>(data);
    out.frames = uint32_t(frames);
    out.speakers = sound->speakers;
    out.format = AUDIO_FORMAT_FLOAT;
    out.samples_per_sec = sound->rate;
    out.timestamp = uint64_t(int64_t(now) - latency);
    obs_source_output_audio(sound->source, &out);
}

void streamRead(pa_stream *stream, size_t, void *data)
{
    auto *sound = static_cast<DesktopSound *>(data);
    for (;;) {
        const void *samples = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(stream, &samples, &bytes) < 0 || bytes == 0)
            break;
        if (samples)
            deliver(sound, stream, samples, bytes);
        else
            ++sound->holes;
        pa_stream_drop(stream);
    }
}

void streamState(pa_stream *stream, void *data)
{
    auto *sound = static_cast<DesktopSound *>(data);
    switch (pa_stream_get_state(stream)) {
    case PA_STREAM_READY:
        blog(LOG_INFO, LOG_PREFIX "'%s': reading '%s'", obs_source_get_name(sound->source),
             sound->reading.c_str());
        break;
    case PA_STREAM_FAILED:
        // an unplugged device: the sound stops, the recording goes on
        blog(LOG_WARNING, LOG_PREFIX "'%s': '%s' cannot be read: %s",
             obs_source_get_name(sound->source), sound->reading.c_str(),
             pa_strerror(pa_context_errno(sound->context)));
        break;
    default:
        break;
    }
}

void serverInfo(pa_context *, const pa_server_info *info, void *data)
{
    auto *sound = static_cast<DesktopSound *>(data);
    if (!info || !info->default_sink_name) {
        blog(LOG_WARNING, LOG_PREFIX "the sound server names no default output");
        return;
    }
    const std::string monitor = std::string(info->default_sink_name) + ".monitor";
    if (!sound->stream || monitor != sound->reading)
        openStream(sound, monitor);
}

void serverChanged(pa_context *context, pa_subscription_event_type_t event, uint32_t, void *data)
{
    // The default output was changed: follow it.
    if ((event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_SERVER)
        pa_operation_unref(pa_context_get_server_info(context, serverInfo, data));
}

void contextState(pa_context *context, void *data)
{
    auto *sound = static_cast<DesktopSound *>(data);
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
        if (sound->device == "default") {
            pa_context_set_subscribe_callback(context, serverChanged, sound);
            pa_operation_unref(
                    pa_context_subscribe(context, PA_SUBSCRIPTION_MASK_SERVER, nullptr, nullptr));
            pa_operation_unref(pa_context_get_server_info(context, serverInfo, sound));
        } else {
            openStream(sound, sound->device);
        }
        break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        if (!sound->contextLost)
            blog(LOG_WARNING, LOG_PREFIX "the sound server went away: %s",
                 pa_strerror(pa_context_errno(context)));
        sound->contextLost = true;
        break;
    default:
        break;
    }
}

void openStream(DesktopSound *sound, const std::string &name)
{
    closeStream(sound);
    sound->reading = name;
    const pa_sample_spec format = {PA_SAMPLE_FLOAT32LE, sound->rate, sound->channels};
    pa_channel_map map;
    pa_channel_map_init_extend(&map, sound->channels, PA_CHANNEL_MAP_WAVEEX);
    sound->stream = pa_stream_new(sound->context, "Desktop sound", &format, &map);
    if (!sound->stream) {
        blog(LOG_WARNING, LOG_PREFIX "no stream for '%s': %s", name.c_str(),
             pa_strerror(pa_context_errno(sound->context)));
        return;
    }
    pa_stream_set_read_callback(sound->stream, streamRead, sound);
    pa_stream_set_state_callback(sound->stream, streamState, sound);
    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = uint32_t(-1);
    attr.prebuf = uint32_t(-1);
    attr.minreq = uint32_t(-1);
    attr.fragsize = uint32_t(pa_usec_to_bytes(kFragmentUs, &format));
    // Not monotonic: when the sink's latency changes, the time moves at once instead of
    // creeping back to it over seconds.
    const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING
                                         | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_NOT_MONOTONIC);
    if (pa_stream_connect_record(sound->stream, name.c_str(), &attr, flags) < 0) {
        blog(LOG_WARNING, LOG_PREFIX "'%s' cannot be read: %s", name.c_str(),
             pa_strerror(pa_context_errno(sound->context)));
        closeStream(sound);
    }
}

void stop(DesktopSound *sound)
{
    if (!sound->loop)
        return;
    pa_threaded_mainloop_lock(sound->loop);
    closeStream(sound);
    if (sound->context) {
        pa_context_set_state_callback(sound->context, nullptr, nullptr);
        pa_context_set_subscribe_callback(sound->context, nullptr, nullptr);
        pa_context_disconnect(sound->context);
        pa_context_unref(sound->context);
        sound->context = nullptr;
    }
    pa_threaded_mainloop_unlock(sound->loop);
    pa_threaded_mainloop_stop(sound->loop);
    pa_threaded_mainloop_free(sound->loop);
    sound->loop = nullptr;
    if (sound->holes)
        blog(LOG_INFO, LOG_PREFIX "%llu holes in the sound", (unsigned long long)sound->holes);
    sound->holes = 0;
}

void start(DesktopSound *sound)
{
    sound->contextLost = false;
    sound->loop = pa_threaded_mainloop_new();
    if (!sound->loop)
        return;
    pa_threaded_mainloop_lock(sound->loop);
    sound->context = pa_context_new(pa_threaded_mainloop_get_api(sound->loop), "Vistrel");
    if (sound->context) {
        pa_context_set_state_callback(sound->context, contextState, sound);
        if (pa_context_connect(sound->context, nullptr, PA_CONTEXT_NOFLAGS, nullptr) < 0)
            blog(LOG_WARNING, LOG_PREFIX "no sound server: %s",
                 pa_strerror(pa_context_errno(sound->context)));
    }
    pa_threaded_mainloop_unlock(sound->loop);
    if (pa_threaded_mainloop_start(sound->loop) < 0)
        blog(LOG_WARNING, LOG_PREFIX "the sound server's thread did not start");
}

const char *sourceName(void *)
{
    return "Desktop sound";
}

void update(void *data, obs_data_t *settings)
{
    auto *sound = static_cast<DesktopSound *>(data);
    const char *device = obs_data_get_string(settings, "device_id");
    const std::string wanted = device && *device ? device : "default";
    if (sound->loop && wanted == sound->device)
        return;
    stop(sound);
    sound->device = wanted;
    start(sound);
}

void *create(obs_data_t *settings, obs_source_t *source)
{
    auto *sound = new DesktopSound;
    sound->source = source;
    if (const audio_output_info *info = audio_output_get_info(obs_get_audio())) {
        sound->rate = info->samples_per_sec;
        sound->speakers = info->speakers;
        sound->channels = uint8_t(
                std::clamp<size_t>(get_audio_channels(info->speakers), 1, PA_CHANNELS_MAX));
    }
    update(sound, settings);
    return sound;
}

void destroy(void *data)
{
    auto *sound = static_cast<DesktopSound *>(data);
    stop(sound);
    delete sound;
}

void defaults(obs_data_t *settings)
{
    obs_data_set_default_string(settings, "device_id", "default");
}

} // namespace

const obs_source_info &desktopSoundSourceInfo()
{
    static const obs_source_info info = [] {
        obs_source_info i = {};
        i.id = "vistrel_desktop_sound";
        i.type = OBS_SOURCE_TYPE_INPUT;
        i.output_flags = OBS_SOURCE_AUDIO | OBS_SOURCE_DO_NOT_DUPLICATE;
        i.get_name = sourceName;
        i.create = create;
        i.destroy = destroy;
        i.update = update;
        i.get_defaults = defaults;
        i.icon_type = OBS_ICON_TYPE_AUDIO_OUTPUT;
        return i;
    }();
    return info;
}
