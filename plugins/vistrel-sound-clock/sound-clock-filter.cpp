#include "sound-clock-filter.h"

#include "sound-clock.h"

#include <obs-module.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Filter
{
    obs_source_t *context = nullptr;
    std::unique_ptr<SoundClock> clock;
    size_t channels = 2;
    std::vector<float> planes[MAX_AV_PLANES];
    obs_audio_data out {};
    uint64_t packets = 0;
    // the source's name, for the log: at the end, the source is gone before its filter
    std::string source;
};

const char *filterName(void *)
{
    return "Sound clock";
}

void *create(obs_data_t *, obs_source_t *context)
{
    auto *filter = new Filter;
    filter->context = context;
    const audio_output_info *info = audio_output_get_info(obs_get_audio());
    filter->channels
            = std::clamp<size_t>(audio_output_get_channels(obs_get_audio()), 1, MAX_AV_PLANES);
    filter->clock = std::make_unique<SoundClock>(info ? info->samples_per_sec : 48000);
    return filter;
}

void destroy(void *data)
{
    auto *filter = static_cast<Filter *>(data);
    blog(LOG_INFO,
         "[vistrel-sound-clock] '%s': %lld samples repeated, %lld let go over %llu packets, "
         "%d steps",
         filter->source.c_str(), (long long)filter->clock->samplesAdded(),
         (long long)filter->clock->samplesDropped(), (unsigned long long)filter->packets,
         filter->clock->steps());
    delete filter;
}

// A repeated or dropped sample sits in the middle of the packet, between neighbours that
// differ least from it, so that the change is as small as the sound allows. A step repeats
// the stretch before the middle or leaves out the stretch around it.
obs_audio_data *filterAudio(void *data, obs_audio_data *audio)
{
    auto *filter = static_cast<Filter *>(data);
    if (filter->packets++ == 0) {
        const char *name = obs_source_get_name(obs_filter_get_parent(filter->context));
        filter->source = name ? name : "";
    }
    const SoundClock::Step step = filter->clock->next(audio->timestamp, audio->frames);
    if (step.restarted) {
        blog(LOG_INFO, "[vistrel-sound-clock] '%s': the source's time jumped, clock restarted",
             filter->source.c_str());
    }
    if (step.change == 0) {
        audio->timestamp = step.timestamp;
        return audio;
    }
    const uint32_t frames = audio->frames;
    const uint32_t outFrames = uint32_t(int64_t(frames) + step.change);
    for (size_t c = 0; c < filter->channels; ++c) {
        const float *in = reinterpret_cast<const float *>(audio->data[c]);
        std::vector<float> &plane = filter->planes[c];
        plane.resize(outFrames);
        if (!in) {
            std::fill(plane.begin(), plane.end(), 0.0f);
        } else if (step.change == 1) {
            const uint32_t at = frames / 2;
            std::memcpy(plane.data(), in, at * sizeof(float));
            // a sample between its neighbours, so no step is added to the wave
            plane[at] = at > 0 ? 0.5f * (in[at - 1] + in[at]) : in[at];
            std::memcpy(plane.data() + at + 1, in + at, (frames - at) * sizeof(float));
        } else if (step.change > 0) {
            const uint32_t added = uint32_t(step.change);
            const uint32_t at = frames / 2;
            std::memcpy(plane.data(), in, at * sizeof(float));
            for (uint32_t i = 0; i < added; ++i)
                plane[at + i] = in[at >= added ? at - added + i : std::min(i, at)];
            std::memcpy(plane.data() + at + added, in + at, (frames - at) * sizeof(float));
        } else {
            const uint32_t dropped = uint32_t(-step.change);
            const uint32_t at = (frames - dropped) / 2;
            std::memcpy(plane.data(), in, at * sizeof(float));
            std::memcpy(plane.data() + at, in + at + dropped,
                        (frames - at - dropped) * sizeof(float));
        }
        filter->out.data[c] = reinterpret_cast<uint8_t *>(plane.data());
    }
    for (size_t c = filter->channels; c < MAX_AV_PLANES; ++c)
        filter->out.data[c] = nullptr;
    filter->out.frames = outFrames;
    filter->out.timestamp = step.timestamp;
    return &filter->out;
}

} // namespace

const obs_source_info &soundClockFilterInfo()
{
    static const obs_source_info info = [] {
        obs_source_info i = {};
        i.id = "vistrel_sound_clock";
        i.type = OBS_SOURCE_TYPE_FILTER;
        i.output_flags = OBS_SOURCE_AUDIO;
        i.get_name = filterName;
        i.create = create;
        i.destroy = destroy;
        i.filter_audio = filterAudio;
        return i;
    }();
    return info;
}
