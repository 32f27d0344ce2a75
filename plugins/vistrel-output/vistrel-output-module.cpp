#include "vistrel-output.h"

#include <obs-module.h>

extern "C" {
#include <libavutil/log.h>
}

OBS_DECLARE_MODULE()

namespace {

const char *outputName(void *)
{
    return "Vistrel file output";
}

void *createOutput(obs_data_t *, obs_output_t *output)
{
    auto *vistrel = new VistrelOutput(output);
    // libobs counts only the pictures it hands over itself; this one counts what it wrote.
    proc_handler_add(
            obs_output_get_proc_handler(output), "void get_written_frames(out int frames)",
            [](void *data, calldata_t *cd) {
                calldata_set_int(cd, "frames", static_cast<VistrelOutput *>(data)->framesWritten());
            },
            vistrel);
    // The shared screen went away under a recording (the desktop stopped the sharing): the
    // engine ends the recording as an ordinary stop.
    signal_handler_add(obs_output_get_signal_handler(output), "void picture_lost(ptr output)");
    return vistrel;
}

void destroyOutput(void *data)
{
    delete static_cast<VistrelOutput *>(data);
}

bool startOutput(void *data)
{
    return static_cast<VistrelOutput *>(data)->start();
}

void stopOutput(void *data, uint64_t ts)
{
    static_cast<VistrelOutput *>(data)->stop(ts);
}

void updateOutput(void *data, obs_data_t *settings)
{
    static_cast<VistrelOutput *>(data)->update(settings);
}

void rawVideo(void *data, struct video_data *frame)
{
    static_cast<VistrelOutput *>(data)->receiveVideo(frame);
}

void rawAudio(void *data, struct audio_data *frames)
{
    static_cast<VistrelOutput *>(data)->receiveAudio(frames);
}

uint64_t totalBytes(void *data)
{
    return static_cast<VistrelOutput *>(data)->totalBytes();
}

int droppedFrames(void *data)
{
    return static_cast<VistrelOutput *>(data)->framesDropped();
}

} // namespace

MODULE_EXPORT const char *obs_module_description(void)
{
    return "Vistrel's file output: encodes and writes recordings with FFmpeg";
}

bool obs_module_load(void)
{
    // palettegen and the encoders report every frame at info level on stderr
    if (av_log_get_level() > AV_LOG_WARNING)
        av_log_set_level(AV_LOG_WARNING);

    obs_output_info info = {};
    info.id = "vistrel_output";
    info.flags = OBS_OUTPUT_AV | OBS_OUTPUT_CAN_PAUSE;
    info.get_name = outputName;
    info.create = createOutput;
    info.destroy = destroyOutput;
    info.start = startOutput;
    info.stop = stopOutput;
    info.update = updateOutput;
    info.raw_video = rawVideo;
    info.raw_audio = rawAudio;
    info.get_total_bytes = totalBytes;
    info.get_dropped_frames = droppedFrames;
    obs_register_output(&info);
    return true;
}
