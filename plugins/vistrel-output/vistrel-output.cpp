#include "vistrel-output.h"

#include "pipewire-grabber.h"
#include "screen-grabber.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
}

#include <util/platform.h>

#include <fcntl.h>
#include <pthread.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#define LOG_PREFIX "[vistrel-output] "

namespace {

// libobs and FFmpeg names of the same layouts; anything else is converted to I420 by libobs.
AVPixelFormat pixelFormatOf(enum video_format format)
{
    switch (format) {
    case VIDEO_FORMAT_I420:
        return AV_PIX_FMT_YUV420P;
    case VIDEO_FORMAT_NV12:
        return AV_PIX_FMT_NV12;
    case VIDEO_FORMAT_I444:
        return AV_PIX_FMT_YUV444P;
    case VIDEO_FORMAT_I422:
        return AV_PIX_FMT_YUV422P;
    case VIDEO_FORMAT_YUY2:
        return AV_PIX_FMT_YUYV422;
    case VIDEO_FORMAT_UYVY:
        return AV_PIX_FMT_UYVY422;
    case VIDEO_FORMAT_RGBA:
        return AV_PIX_FMT_RGBA;
    case VIDEO_FORMAT_BGRA:
        return AV_PIX_FMT_BGRA;
    case VIDEO_FORMAT_BGRX:
        return AV_PIX_FMT_BGR0;
    case VIDEO_FORMAT_BGR3:
        return AV_PIX_FMT_BGR24;
    case VIDEO_FORMAT_Y800:
        return AV_PIX_FMT_GRAY8;
    default:
        return AV_PIX_FMT_NONE;
    }
}

// How long a stop waits for libobs to deliver the frames up to the stop time.
constexpr auto kStopGrace = std::chrono::seconds(3);

} // namespace

VistrelOutput::VistrelOutput(obs_output_t *output)
    : m_output(output)
{ }

bool VistrelOutput::openScreenGrabber(const OutputSettings &settings,
                                      PictureGrabber::PictureFormat format)
{
    PictureGrabber::Area area;
    area.x = settings.screenX;
    area.y = settings.screenY;
    area.width = settings.screenWidth;
    area.height = settings.screenHeight;
    std::unique_ptr<PictureGrabber> grabber;
    const char *what = "the screen";
    if (settings.streamNode != 0) {
        auto stream = std::make_unique<PipeWireGrabber>();
        // The engine keeps its descriptor until the desktop's session ends.
        const int fd = settings.streamFd >= 0 ? fcntl(settings.streamFd, F_DUPFD_CLOEXEC, 3) : -1;
        if (stream->open(fd, settings.streamNode, area, m_videoSource.width, m_videoSource.height,
                         format)) {
            if (area.width <= 0 || area.height <= 0)
                area = {0, 0, stream->streamWidth(), stream->streamHeight()};
            grabber = std::move(stream);
        } else {
            m_grabber.reset();
            const std::string error = "The shared screen cannot be read: " + stream->errorMessage();
            blog(LOG_WARNING, LOG_PREFIX "%s", error.c_str());
            obs_output_set_last_error(m_output, error.c_str());
            return false;
        }
        what = "the shared screen";
    } else {
        auto screen = std::make_unique<ScreenGrabber>();
        if (!screen->open(area, m_videoSource.width, m_videoSource.height, settings.screenPointer,
                          format)) {
            const std::string error
                    = "The screen cannot be read directly: " + screen->errorMessage();
            blog(LOG_WARNING, LOG_PREFIX "%s", error.c_str());
            obs_output_set_last_error(m_output, error.c_str());
            return false;
        }
        grabber = std::move(screen);
    }
    if (settings.pointerEffects)
        grabber->showPointerEffects(*settings.pointerEffects);
    blog(LOG_INFO, LOG_PREFIX "picture read from %s at %d,%d, %dx%d into %dx%d%s", what, area.x,
         area.y, area.width, area.height, m_videoSource.width, m_videoSource.height,
         settings.pointerEffects ? ", with pointer effects" : "");
    m_grabber = std::move(grabber);
    m_grabFailureLogged = false;
    return true;
}

void VistrelOutput::update(obs_data_t *data)
{
    if (!m_grabbing)
        return;
    const OutputSettings settings = OutputSettings::fromData(data);
    std::lock_guard<std::mutex> lock(m_areaMutex);
    m_nextArea = {settings.screenX, settings.screenY, settings.screenWidth, settings.screenHeight};
    m_areaChanged = true;
}

bool VistrelOutput::grabPicture(AVFrame *copy)
{
    bool changed = false;
    PictureGrabber::Area area;
    {
        std::lock_guard<std::mutex> lock(m_areaMutex);
        changed = std::exchange(m_areaChanged, false);
        area = m_nextArea;
    }
    if (changed) {
        if (m_grabber->moveTo(area))
            blog(LOG_INFO, LOG_PREFIX "picture read from %d,%d, %dx%d", area.x, area.y, area.width,
                 area.height);
        else
            blog(LOG_WARNING, LOG_PREFIX "cannot read %dx%d at %d,%d: %s", area.width, area.height,
                 area.x, area.y, m_grabber->errorMessage().c_str());
    }
    if (m_grabber->grab(copy))
        return true;
    if (!m_grabFailureLogged) {
        m_grabFailureLogged = true;
        blog(LOG_WARNING, LOG_PREFIX "%s; pictures are dropped until it can be",
             m_grabber->errorMessage().c_str());
    }
    return false;
}

VistrelOutput::~VistrelOutput()
{
    if (m_worker.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopNow = true;
        }
        m_wake.notify_all();
        m_worker.join();
    }
    endScreenCapture();
    clearQueue();
    // Buffers still held by frames go when those frames do.
    av_buffer_pool_uninit(&m_picturePool);
}

bool VistrelOutput::attachPictureBuffer(AVFrame *frame)
{
    const AVPixelFormat format = m_videoSource.format;
    const int size
            = av_image_get_buffer_size(format, m_videoSource.width, m_videoSource.height, 64);
    if (size <= 0)
        return false;
    if (!m_picturePool || size != m_pictureBufferSize) {
        av_buffer_pool_uninit(&m_picturePool);
        m_picturePool = av_buffer_pool_init((size_t)size, nullptr);
        m_pictureBufferSize = size;
    }
    frame->buf[0] = m_picturePool ? av_buffer_pool_get(m_picturePool) : nullptr;
    if (!frame->buf[0])
        return false;
    return av_image_fill_arrays(frame->data, frame->linesize, frame->buf[0]->data, format,
                                m_videoSource.width, m_videoSource.height, 64)
            >= 0;
}

bool VistrelOutput::start()
{
    if (m_worker.joinable())
        m_worker.join();
    if (m_captureThread.joinable())
        m_captureThread.join();

    obs_data_t *data = obs_output_get_settings(m_output);
    const OutputSettings settings = OutputSettings::fromData(data);
    obs_data_release(data);

    // The picture read from the screen comes from a thread of this output, on its own frame
    // clock; sound files take none. libobs's frames are taken all the same: libobs lets the
    // sound through only from its first frame on, and pausing needs its picture clock.
    const bool readScreen = settings.screenCapture && settings.wantsVideo();
    if (!obs_output_can_begin_data_capture(m_output, 0)) {
        obs_output_set_last_error(m_output, "The recording is already running");
        return false;
    }

    video_t *video = obs_output_video(m_output);
    audio_t *audio = obs_output_audio(m_output);
    if (!video || !audio) {
        obs_output_set_last_error(m_output, "The recording cannot start: no video or audio");
        return false;
    }

    const video_output_info *vi = video_output_get_info(video);
    m_videoSource = VideoSource();
    m_videoSource.width = (int)vi->width;
    m_videoSource.height = (int)vi->height;
    m_videoSource.format = pixelFormatOf(vi->format);
    m_videoSource.frameRate = {(int)vi->fps_num, (int)vi->fps_den};
    m_videoSource.fullRange = vi->range == VIDEO_RANGE_FULL;
    m_videoSource.bt709 = vi->colorspace != VIDEO_CS_601;
    if (readScreen && settings.pictureFps > 0)
        m_videoSource.frameRate = {settings.pictureFps, 1};
    // A picture composed in RGB (a software adapter's) is converted once, on libobs's video
    // thread, straight to the limited-range I420 these encoders take: the queue then holds
    // frames of less than half the size and the worker converts nothing.
    const bool rgbSource = m_videoSource.format == AV_PIX_FMT_BGRA
            || m_videoSource.format == AV_PIX_FMT_RGBA || m_videoSource.format == AV_PIX_FMT_BGR0;
    const bool takesI420 = settings.videoEncoder == "libx264" || settings.videoEncoder == "mpeg4"
            || settings.videoEncoder == "flv" || settings.videoEncoder == "libvpx-vp9";
    m_grabber.reset();
    m_grabbing = false;
    {
        std::lock_guard<std::mutex> lock(m_areaMutex);
        m_areaChanged = false;
    }
    if (readScreen) {
        m_videoSource.width = settings.pictureWidth;
        m_videoSource.height = settings.pictureHeight;
        // GIF makes its own palette from the screen's colours; the others take I420.
        const bool gif = settings.videoEncoder == "gif";
        if (!takesI420 && !gif) {
            obs_output_set_last_error(m_output, "The screen is read directly only for I420 or GIF");
            return false;
        }
        const auto format
                = gif ? PictureGrabber::PictureFormat::Bgrx : PictureGrabber::PictureFormat::I420;
        if (!openScreenGrabber(settings, format))
            return false;
        m_grabbing = true;
        m_videoSource.format = gif ? AV_PIX_FMT_BGR0 : AV_PIX_FMT_YUV420P;
        m_videoSource.fullRange = gif;
        m_videoSource.bt709 = true;
    } else if (m_videoSource.format == AV_PIX_FMT_NONE || (rgbSource && takesI420)) {
        video_scale_info conversion = {};
        conversion.format = VIDEO_FORMAT_I420;
        conversion.width = vi->width;
        conversion.height = vi->height;
        conversion.range = rgbSource ? VIDEO_RANGE_PARTIAL : vi->range;
        conversion.colorspace = vi->colorspace;
        obs_output_set_video_conversion(m_output, &conversion);
        m_videoSource.format = AV_PIX_FMT_YUV420P;
        m_videoSource.fullRange = conversion.range == VIDEO_RANGE_FULL;
    }
    m_frameInterval = (uint64_t)(1000000000.0 * m_videoSource.frameRate.den
                                 / std::max(1, m_videoSource.frameRate.num));

    const audio_output_info *ai = audio_output_get_info(audio);
    m_audioSource.sampleRate = (int)ai->samples_per_sec;
    m_audioSource.channels = (int)get_audio_channels(ai->speakers);
    audio_convert_info audioConversion = {};
    audioConversion.samples_per_sec = ai->samples_per_sec;
    audioConversion.format = AUDIO_FORMAT_FLOAT_PLANAR;
    audioConversion.speakers = ai->speakers;
    obs_output_set_audio_conversion(m_output, &audioConversion);

    m_writer = std::make_unique<FileWriter>();
    if (!m_writer->open(settings, m_videoSource, m_audioSource)) {
        blog(LOG_ERROR, LOG_PREFIX "cannot start '%s': %s", settings.url.c_str(),
             m_writer->errorMessage().c_str());
        obs_output_set_last_error(m_output, m_writer->errorMessage().c_str());
        m_writer.reset();
        m_grabbing = false;
        return false;
    }

    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.clear();
        m_queuedVideo = 0;
        m_queuedAudioFrames = 0;
        m_takeVideo = m_writer->hasVideo();
        m_takeAudio = m_writer->hasAudio();
        m_stopRequested = false;
        m_stopNow = false;
        m_stopTs = 0;
        m_videoComplete = false;
        m_audioComplete = false;
        // about a second of pictures; sound is small, so it may wait much longer
        m_maxQueuedVideo
                = std::max<size_t>(8, (size_t)std::lround(av_q2d(m_videoSource.frameRate)));
        // GIF's palette per picture rarely keeps pace: a long queue would only hold pictures
        // a killed program loses, and they would be dropped a little later anyway.
        if (std::strcmp(m_writer->videoCodecName(), "gif") == 0)
            m_maxQueuedVideo = 8;
        m_maxQueuedAudioFrames = (size_t)m_audioSource.sampleRate * 10;
        m_capturing = true;
    }
    m_framesDropped = 0;
    m_framesWritten = 0;
    m_framesLagged = 0;
    m_audioDropped = 0;
    m_totalBytes = (uint64_t)m_writer->bytesWritten();
    m_haveOrigin = false;
    m_originTs = 0;
    m_soundOriginDelay = 0;
    m_readDelayChange = 0.0;
    m_pictureShift = 0;
    m_pictureShifts = 0;
    m_lastVideoIndex = -1;
    m_audioPlaced = false;
    m_resumeCheck = std::make_unique<ResumeSoundCheck>((uint32_t)m_audioSource.sampleRate);
    m_audioOwed = 0;
    m_pauseAlignment = std::make_unique<PauseAlignment>((uint32_t)m_audioSource.sampleRate);

    {
        std::lock_guard<std::recursive_mutex> endLock(m_endMutex);
        m_running = true;
    }
    if (!obs_output_begin_data_capture(m_output, 0)) {
        {
            std::lock_guard<std::recursive_mutex> endLock(m_endMutex);
            m_running = false;
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_capturing = false;
        }
        clearQueue();
        m_writer->abandon();
        m_writer.reset();
        std::remove(settings.url.c_str());
        obs_output_set_last_error(m_output, "The recording cannot start: libobs refused");
        return false;
    }
    // Named, so that a look at the process tells where its time goes.
    m_worker = std::thread(&VistrelOutput::run, this);
    pthread_setname_np(m_worker.native_handle(), "vistrel-writer");
    if (m_grabbing) {
        m_captureThread = std::thread(&VistrelOutput::captureLoop, this);
        pthread_setname_np(m_captureThread.native_handle(), "vistrel-capture");
    }

    blog(LOG_INFO,
         LOG_PREFIX "recording to '%s': format %s, %dx%d, video %s %d kbit/s, audio %s %d kbit/s",
         settings.url.c_str(), settings.formatName.c_str(), m_writer->width(), m_writer->height(),
         m_writer->videoCodecName(), m_writer->hasVideo() ? settings.videoBitrate : 0,
         m_writer->audioCodecName(), m_writer->hasAudio() ? settings.audioBitrate : 0);
    return true;
}

void VistrelOutput::stop(uint64_t ts)
{
    std::lock_guard<std::recursive_mutex> endLock(m_endMutex);
    if (!m_running) {
        // libobs waits for the end of capture even when nothing was recording
        obs_output_end_data_capture(m_output);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (ts == 0) {
            // a pending ordinary stop still gets its frames; release after stop lands here
            if (!m_stopRequested) {
                // nothing more comes in, or a slow encoder would never see the queue empty
                m_stopNow = true;
                m_capturing = false;
            }
        } else if (!m_stopRequested) {
            m_stopRequested = true;
            m_stopTs = ts;
            m_stopDeadline = std::chrono::steady_clock::now() + kStopGrace;
        }
    }
    m_wake.notify_all();
}

bool VistrelOutput::acceptsPicture(uint64_t timestamp)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_capturing || !m_takeVideo)
        return false;
    if (m_stopRequested && timestamp >= m_stopTs) {
        m_videoComplete = true;
        m_wake.notify_all();
        return false;
    }
    if (m_queuedVideo >= m_maxQueuedVideo) {
        ++m_framesDropped;
        return false;
    }
    return true;
}

AVFrame *VistrelOutput::newPicture()
{
    AVFrame *copy = av_frame_alloc();
    if (copy) {
        copy->format = m_videoSource.format;
        copy->width = m_videoSource.width;
        copy->height = m_videoSource.height;
    }
    if (!copy || !attachPictureBuffer(copy)) {
        av_frame_free(&copy);
        ++m_framesDropped;
        return nullptr;
    }
    return copy;
}

void VistrelOutput::queuePicture(AVFrame *copy, uint64_t timestamp, uint64_t readDelay,
                                 uint64_t paused)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_capturing || (m_stopRequested && timestamp >= m_stopTs)) {
        if (m_capturing)
            m_videoComplete = true;
        av_frame_free(&copy);
        m_wake.notify_all();
        return;
    }
    Item item;
    item.frame = copy;
    item.video = true;
    item.timestamp = timestamp - std::min(paused, timestamp);
    item.readDelay = readDelay;
    m_queue.push_back(item);
    ++m_queuedVideo;
    m_wake.notify_all();
}

void VistrelOutput::receiveVideo(struct video_data *frame)
{
    // Only the engine's composed picture comes this way.
    if (m_grabbing || !acceptsPicture(frame->timestamp))
        return;
    // The copy happens outside the lock so the worker is never held up by it.
    AVFrame *copy = newPicture();
    if (!copy)
        return;
    int linesizes[4] = {};
    const uint8_t *planes[4] = {};
    for (int i = 0; i < 4; ++i) {
        planes[i] = frame->data[i];
        linesizes[i] = (int)frame->linesize[i];
    }
    av_image_copy(copy->data, copy->linesize, planes, linesizes, m_videoSource.format,
                  m_videoSource.width, m_videoSource.height);
    // libobs holds back composed pictures while paused and knows the pauses' length.
    queuePicture(copy, frame->timestamp, 0, obs_output_get_pause_offset(m_output));
}

void VistrelOutput::endScreenCapture()
{
    if (!m_captureThread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_capturing = false;
    }
    m_wake.notify_all();
    m_captureThread.join();
}

uint64_t VistrelOutput::followStream(uint64_t next, uint64_t shown) const
{
    // A stream at the file's rate read just as its pictures come would see some twice and
    // miss the next ones with every bit of jitter. The reads move, a little each time, to
    // half-way between two of its pictures, the farthest from both.
    const uint64_t now = os_gettime_ns();
    if (shown > now || now - shown > m_frameInterval)
        return next;
    const int64_t interval = (int64_t)m_frameInterval;
    const int64_t since = (int64_t)next - (int64_t)shown;
    const int64_t phase = (since % interval + interval) % interval;
    const int64_t error = interval / 2 - phase;
    const int64_t step = std::clamp<int64_t>(error / 8, -interval / 32, interval / 32);
    return (uint64_t)((int64_t)next + step);
}

void VistrelOutput::captureLoop()
{
    // Each picture is read at its own frame time, so the time a picture shows is the time
    // it carries, however busy libobs or the encoder are.
    uint64_t next = os_gettime_ns();
    uint64_t pausedSince = 0;
    uint64_t pausedFor = 0;
    uint64_t lastShown = 0;
    bool lossReported = false;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            const auto wait
                    = std::chrono::nanoseconds((int64_t)(next - std::min(next, os_gettime_ns())));
            m_wake.wait_for(lock, wait, [this, next] {
                return !m_capturing || m_videoComplete || os_gettime_ns() >= next;
            });
            if (!m_capturing || m_videoComplete)
                break;
        }
        // The screen is not read while paused, and the pictures after it close the gap;
        // libobs's own pause offset follows its composed frames, which may come later than
        // the first picture read after a resume.
        const bool paused = obs_output_paused(m_output);
        if (paused && pausedSince == 0)
            pausedSince = next;
        else if (!paused && pausedSince != 0) {
            pausedFor += next - pausedSince;
            pausedSince = 0;
            m_pauseAlignment->picturesResumed(pausedFor);
        }
        if (paused) {
            std::lock_guard<std::mutex> lock(m_mutex);
            // no picture will come before the end
            if (m_stopRequested) {
                m_videoComplete = true;
                m_wake.notify_all();
            }
        } else if (acceptsPicture(next)) {
            if (AVFrame *copy = newPicture()) {
                if (grabPicture(copy)) {
                    const uint64_t readAt = os_gettime_ns();
                    const uint64_t shown = m_grabber->pictureTime();
                    if (shown != 0) {
                        // A stream's picture carries the time it came; one seen before
                        // holds the next frame's place.
                        lastShown = shown > lastShown ? shown : lastShown + m_frameInterval;
                        queuePicture(copy, lastShown, 0, pausedFor);
                        next = followStream(next, shown);
                    } else {
                        queuePicture(copy, next, readAt > next ? readAt - next : 0, pausedFor);
                    }
                } else {
                    av_frame_free(&copy);
                    ++m_framesDropped;
                    if (m_grabber->displayLost()) {
                        // The picture ends here; a stop need not wait for frames to come.
                        {
                            std::lock_guard<std::mutex> lock(m_mutex);
                            m_videoComplete = true;
                            m_wake.notify_all();
                        }
                        if (!std::exchange(lossReported, true)) {
                            calldata_t cd = {};
                            calldata_set_ptr(&cd, "output", m_output);
                            signal_handler_signal(obs_output_get_signal_handler(m_output),
                                                  "picture_lost", &cd);
                            calldata_free(&cd);
                        }
                    }
                }
            }
        }
        next += m_frameInterval;
        // A machine too busy to read in time skips the frames it missed, it does not bunch.
        const uint64_t now = os_gettime_ns();
        if (now > next + m_frameInterval) {
            const uint64_t missed = (now - next) / m_frameInterval;
            next += missed * m_frameInterval;
            m_framesLagged += (int)missed;
        }
    }
}

void VistrelOutput::receiveAudio(struct audio_data *frames)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_capturing || !m_takeAudio || frames->frames == 0)
        return;

    const uint64_t rate = (uint64_t)m_audioSource.sampleRate;
    uint32_t count = frames->frames;
    if (m_stopRequested) {
        if (frames->timestamp >= m_stopTs) {
            m_audioComplete = true;
            m_wake.notify_all();
            return;
        }
        const uint64_t end = frames->timestamp + count * 1000000000ULL / rate;
        if (end >= m_stopTs) {
            count = (uint32_t)((m_stopTs - frames->timestamp) * rate / 1000000000ULL);
            m_audioComplete = true;
            m_wake.notify_all();
            if (count == 0)
                return;
        }
    }
    const uint64_t soundPaused = obs_output_get_pause_offset(m_output);
    // composed pictures leave out what libobs does already
    if (m_pauseAlignment && m_grabbing)
        m_audioOwed += m_pauseAlignment->next(soundPaused);
    if (m_resumeCheck)
        m_audioOwed
                += m_resumeCheck->next((int64_t)(os_gettime_ns() - frames->timestamp), soundPaused);
    const uint8_t *const *data = frames->data;
    const uint8_t *skipped[MAX_AV_PLANES] = {};
    if (m_audioOwed < 0) {
        const uint32_t skip = (uint32_t)std::min<int64_t>(-m_audioOwed, count);
        m_audioOwed += skip;
        count -= skip;
        if (count == 0)
            return;
        for (int ch = 0; ch < MAX_AV_PLANES; ++ch)
            skipped[ch] = frames->data[ch] ? frames->data[ch] + skip * sizeof(float) : nullptr;
        data = skipped;
    } else if (m_audioOwed > 0) {
        queueSilence((uint32_t)std::min<int64_t>(std::exchange(m_audioOwed, 0), rate),
                     frames->timestamp);
    }
    if (m_queuedAudioFrames + count > m_maxQueuedAudioFrames) {
        ++m_audioDropped;
        return;
    }

    AVFrame *copy = newSound(count);
    if (!copy) {
        ++m_audioDropped;
        return;
    }
    for (int ch = 0; ch < m_audioSource.channels && ch < MAX_AV_PLANES; ++ch)
        memcpy(copy->extended_data[ch], data[ch], count * sizeof(float));
    queueSound(copy, frames->timestamp);
}

AVFrame *VistrelOutput::newSound(uint32_t samples) const
{
    AVFrame *frame = av_frame_alloc();
    if (frame) {
        frame->format = AV_SAMPLE_FMT_FLTP;
        frame->nb_samples = (int)samples;
        av_channel_layout_default(&frame->ch_layout, m_audioSource.channels);
    }
    if (!frame || av_frame_get_buffer(frame, 0) < 0) {
        av_frame_free(&frame);
        return nullptr;
    }
    return frame;
}

void VistrelOutput::queueSound(AVFrame *frame, uint64_t timestamp)
{
    Item item;
    item.frame = frame;
    item.video = false;
    item.timestamp = timestamp;
    m_queue.push_back(item);
    m_queuedAudioFrames += (size_t)frame->nb_samples;
    m_wake.notify_all();
}

void VistrelOutput::queueSilence(uint32_t samples, uint64_t timestamp)
{
    AVFrame *silence = newSound(samples);
    if (!silence) {
        ++m_audioDropped;
        return;
    }
    av_samples_set_silence(silence->extended_data, 0, (int)samples, m_audioSource.channels,
                           AV_SAMPLE_FMT_FLTP);
    queueSound(silence, timestamp);
}

bool VistrelOutput::readyToFinish() const
{
    if (m_stopNow)
        return true;
    if (!m_stopRequested)
        return false;
    const bool videoDone = m_videoComplete || !m_takeVideo;
    const bool audioDone = m_audioComplete || !m_takeAudio;
    return (videoDone && audioDone) || std::chrono::steady_clock::now() >= m_stopDeadline;
}

void VistrelOutput::run()
{
    bool ok = true;
    bool videoDrained = false;
    for (;;) {
        Item item;
        bool lastPicture = false;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            while (m_queue.empty() && !readyToFinish()) {
                if (m_stopRequested)
                    m_wake.wait_until(lock, m_stopDeadline);
                else
                    m_wake.wait(lock);
            }
            if (m_queue.empty()) {
                m_capturing = false;
                if (m_stopRequested && !m_stopNow
                    && !((m_videoComplete || !m_takeVideo) && (m_audioComplete || !m_takeAudio))) {
                    blog(LOG_WARNING,
                         LOG_PREFIX "stopped without all frames up to the stop time "
                                    "(video %s, audio %s)",
                         m_videoComplete ? "complete" : "short",
                         m_audioComplete ? "complete" : "short");
                }
                break;
            }
            item = m_queue.front();
            m_queue.pop_front();
            if (item.video)
                --m_queuedVideo;
            else
                m_queuedAudioFrames -= (size_t)item.frame->nb_samples;
            // The encoder's held pictures are drained while the stop still waits for its sound.
            lastPicture = !videoDrained && m_stopRequested && m_videoComplete && m_queuedVideo == 0;
        }
        ok = process(item);
        av_frame_free(&item.frame);
        if (ok && lastPicture) {
            videoDrained = true;
            ok = m_writer->finishVideo();
        }
        m_totalBytes = (uint64_t)m_writer->bytesWritten();
        m_framesWritten = m_writer->videoFramesWritten();
        if (!ok)
            break;
    }

    if (ok) {
        // sound that came before any picture did: line it up with the first sound instead
        while (!m_earlyAudio.empty() && ok) {
            Item item = m_earlyAudio.front();
            m_earlyAudio.pop_front();
            if (!m_haveOrigin) {
                m_haveOrigin = true;
                m_originTs = item.timestamp;
            }
            ok = writeAudio(item.frame, item.timestamp);
            av_frame_free(&item.frame);
        }
        ok = ok && m_writer->finish();
    } else {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_capturing = false;
        }
        m_writer->abandon();
    }
    // No picture is read once libobs hears that the recording ended.
    endScreenCapture();
    clearQueue();
    m_totalBytes = (uint64_t)m_writer->bytesWritten();
    m_framesWritten = m_writer->videoFramesWritten();
    endCapture(ok);
}

bool VistrelOutput::process(Item &item)
{
    if (item.video) {
        if (!m_haveOrigin) {
            m_haveOrigin = true;
            m_originTs = item.timestamp;
            m_soundOriginDelay = item.readDelay;
        }
        const uint64_t since = item.timestamp > m_originTs ? item.timestamp - m_originTs : 0;
        int64_t index = (int64_t)std::llround((double)since / (double)m_frameInterval);
        if (m_grabbing) {
            index += pictureShift(item.readDelay);
            // a picture read late took this slot already: this one comes after it in time
            if (index <= m_lastVideoIndex)
                return true;
        }
        if (index <= m_lastVideoIndex)
            index = m_lastVideoIndex + 1;
        m_lastVideoIndex = index;
        if (!m_writer->writeVideo(item.frame, index))
            return false;

        bool ok = true;
        while (ok && !m_earlyAudio.empty()) {
            Item early = m_earlyAudio.front();
            m_earlyAudio.pop_front();
            ok = writeAudio(early.frame, early.timestamp);
            av_frame_free(&early.frame);
        }
        return ok;
    }

    if (!m_haveOrigin) {
        if (m_takeVideo) {
            m_earlyAudio.push_back(item);
            item.frame = nullptr;
            return true;
        }
        m_haveOrigin = true;
        m_originTs = item.timestamp;
    }
    return writeAudio(item.frame, item.timestamp);
}

int64_t VistrelOutput::pictureShift(uint64_t readDelay)
{
    // A picture read from the screen shows it as it was when read, and a busy machine reads
    // later than usual for a while. A lasting change of that delay, averaged over about a
    // second, moves the pictures by whole frames so that they stay in step with the sound;
    // the margin keeps the jitter of single reads from moving them back and forth.
    const double change = (double)readDelay - (double)m_soundOriginDelay;
    m_readDelayChange += (change - m_readDelayChange) / 30.0;
    const double frames = m_readDelayChange / (double)m_frameInterval;
    if (std::fabs(frames - (double)m_pictureShift) > 0.75) {
        m_pictureShift = std::llround(frames);
        ++m_pictureShifts;
    }
    return m_pictureShift;
}

bool VistrelOutput::writeAudio(AVFrame *frame, uint64_t timestamp)
{
    if (m_audioPlaced)
        return m_writer->writeAudio(frame);

    // The first sound lands where its time says, relative to the first picture.
    const double rate = m_audioSource.sampleRate;
    const int64_t offset = (int64_t)std::llround(
            ((double)timestamp - (double)(m_originTs + m_soundOriginDelay)) * rate / 1000000000.0);
    if (offset < 0) {
        const int64_t skip = -offset;
        if (skip >= frame->nb_samples)
            return true;
        AVFrame *view = av_frame_alloc();
        view->format = frame->format;
        view->nb_samples = frame->nb_samples - (int)skip;
        for (int ch = 0; ch < m_audioSource.channels && ch < AV_NUM_DATA_POINTERS; ++ch)
            view->data[ch] = frame->extended_data[ch] + skip * (int64_t)sizeof(float);
        view->extended_data = view->data;
        m_audioPlaced = true;
        const bool ok = m_writer->writeAudio(view);
        av_frame_free(&view);
        return ok;
    }
    m_audioPlaced = true;
    if (offset > 0 && !m_writer->writeSilence((int)std::min<int64_t>(offset, (int64_t)rate)))
        return false;
    return m_writer->writeAudio(frame);
}

void VistrelOutput::endCapture(bool ok)
{
    const double duration = m_writer->duration();
    if (ok) {
        blog(LOG_INFO,
             LOG_PREFIX "stopped: %lld frames written, %d frames dropped, duration %.3f s, "
                        "%llu bytes",
             (long long)m_writer->videoFramesWritten(), m_framesDropped.load(), duration,
             (unsigned long long)m_totalBytes.load());
    } else {
        blog(LOG_ERROR,
             LOG_PREFIX "stopped on error (%d): %s; %lld frames written, %d frames dropped, "
                        "duration %.3f s",
             m_writer->errorCode(), m_writer->errorMessage().c_str(),
             (long long)m_writer->videoFramesWritten(), m_framesDropped.load(), duration);
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_pauseAlignment && m_pauseAlignment->soundResumes())
            blog(LOG_INFO,
                 LOG_PREFIX "%d pauses left out: %.3f s of pictures, %.3f s of sound (%lld "
                            "samples to match)",
                 m_pauseAlignment->soundResumes(),
                 (double)m_pauseAlignment->picturesPausedNs() / 1e9,
                 (double)obs_output_get_pause_offset(m_output) / 1e9,
                 (long long)m_pauseAlignment->shiftSamples());
    }
    if (m_pictureShifts)
        blog(LOG_INFO, LOG_PREFIX "pictures moved %d times to follow how late the screen was read",
             m_pictureShifts);
    if (m_framesLagged.load())
        blog(LOG_WARNING,
             LOG_PREFIX "%d frame times passed while the machine was too busy to "
                        "read the screen",
             m_framesLagged.load());
    if (m_writer->aacFramesOversize())
        blog(LOG_INFO, LOG_PREFIX "%lld AAC frames larger than the ADTS frame size",
             (long long)m_writer->aacFramesOversize());
    if (m_audioDropped.load())
        blog(LOG_WARNING, LOG_PREFIX "%d sound chunks dropped", m_audioDropped.load());

    std::lock_guard<std::recursive_mutex> endLock(m_endMutex);
    m_running = false;
    if (ok) {
        obs_output_end_data_capture(m_output);
    } else {
        obs_output_set_last_error(m_output, m_writer->errorMessage().c_str());
        obs_output_signal_stop(m_output,
                               m_writer->errorCode() ? m_writer->errorCode() : OBS_OUTPUT_ERROR);
    }
}

void VistrelOutput::clearQueue()
{
    std::deque<Item> items;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        items.swap(m_queue);
        m_queuedVideo = 0;
        m_queuedAudioFrames = 0;
    }
    for (Item &item : items)
        av_frame_free(&item.frame);
    for (Item &item : m_earlyAudio)
        av_frame_free(&item.frame);
    m_earlyAudio.clear();
}
