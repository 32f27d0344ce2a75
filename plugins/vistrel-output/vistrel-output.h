#pragma once

#include "file-writer.h"
#include "pause-alignment.h"
#include "picture-grabber.h"
#include "resume-sound-check.h"

#include <obs-module.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

struct AVBufferPool;
struct AVFrame;

// The libobs side of the file output: takes raw frames on libobs's threads, hands them through a
// bounded queue to a thread of its own that encodes and writes the file.
class VistrelOutput
{
public:
    explicit VistrelOutput(obs_output_t *output);
    ~VistrelOutput();
    VistrelOutput(const VistrelOutput &) = delete;
    VistrelOutput &operator=(const VistrelOutput &) = delete;

    bool start();
    // ts is the moment to stop at; 0 stops now.
    void stop(uint64_t ts);
    // While the screen is read: the rectangle to read follows the settings.
    void update(obs_data_t *settings);
    void receiveVideo(struct video_data *frame);
    void receiveAudio(struct audio_data *frames);

    int framesDropped() const { return m_framesDropped.load(); }
    int64_t framesWritten() const { return m_framesWritten.load(); }

    uint64_t totalBytes() const { return m_totalBytes.load(); }

private:
    struct Item
    {
        AVFrame *frame = nullptr;
        bool video = false;
        uint64_t timestamp = 0; // video: with paused time taken out
        // video read from the screen: how long after its timestamp it was read
        uint64_t readDelay = 0;
    };

    AVFrame *newSound(uint32_t samples) const;
    // under m_mutex
    void queueSound(AVFrame *frame, uint64_t timestamp);
    void queueSilence(uint32_t samples, uint64_t timestamp);
    void run();
    bool readyToFinish() const;
    bool process(Item &item);
    int64_t pictureShift(uint64_t readDelay);
    bool writeAudio(AVFrame *frame, uint64_t timestamp);
    void endCapture(bool ok);
    void clearQueue();
    bool attachPictureBuffer(AVFrame *frame);
    bool openScreenGrabber(const OutputSettings &settings, PictureGrabber::PictureFormat format);
    bool acceptsPicture(uint64_t timestamp);
    AVFrame *newPicture();
    // paused: the time left out of the file before `timestamp`
    void queuePicture(AVFrame *copy, uint64_t timestamp, uint64_t readDelay, uint64_t paused);
    void captureLoop();
    // The next read time of a screen reader that follows a stream's pictures.
    uint64_t followStream(uint64_t next, uint64_t shown) const;
    bool grabPicture(AVFrame *copy);
    void endScreenCapture();

    obs_output_t *m_output;
    std::unique_ptr<FileWriter> m_writer;
    std::thread m_worker;
    // Reads the screen at each frame's time while the picture comes from the screen.
    std::thread m_captureThread;
    // Serialises who tells libobs that capture ends: the worker or a stop() with no recording.
    std::recursive_mutex m_endMutex;
    bool m_running = false;

    // Everything below the mutex is shared between libobs's threads, stop() and the worker.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Item> m_queue;
    size_t m_queuedVideo = 0;
    size_t m_queuedAudioFrames = 0;
    bool m_capturing = false;
    bool m_takeVideo = false;
    bool m_takeAudio = false;
    bool m_stopRequested = false;
    bool m_stopNow = false;
    uint64_t m_stopTs = 0;
    std::chrono::steady_clock::time_point m_stopDeadline;
    bool m_videoComplete = false;
    bool m_audioComplete = false;

    std::atomic<int> m_framesDropped {0};
    // Frame times the screen reader missed because the machine was too busy.
    std::atomic<int> m_framesLagged {0};
    std::atomic<int> m_audioDropped {0};
    std::atomic<uint64_t> m_totalBytes {0};
    std::atomic<int64_t> m_framesWritten {0};

    // Limits of the queue, and what the source delivers.
    size_t m_maxQueuedVideo = 30;
    size_t m_maxQueuedAudioFrames = 480000;
    VideoSource m_videoSource;
    AudioSource m_audioSource;
    uint64_t m_frameInterval = 33333333;

    // Picture buffers for the queue, reused: a fresh one each frame costs its page faults
    // again. Used on the one thread that makes pictures (libobs's or the screen reader).
    AVBufferPool *m_picturePool = nullptr;
    int m_pictureBufferSize = 0;
    // Set while the picture comes from the screen; used on the screen reader's thread only.
    std::unique_ptr<PictureGrabber> m_grabber;
    std::atomic<bool> m_grabbing {false};
    bool m_grabFailureLogged = false;
    // A new rectangle from update(), taken over by libobs's video thread at the next picture.
    std::mutex m_areaMutex;
    bool m_areaChanged = false;
    PictureGrabber::Area m_nextArea;

    // Owned by the worker.
    uint64_t m_originTs = 0;
    // Sound lines up with the moment the first picture was read, not its timestamp.
    uint64_t m_soundOriginDelay = 0;
    double m_readDelayChange = 0.0;
    int64_t m_pictureShift = 0;
    int m_pictureShifts = 0;
    bool m_haveOrigin = false;
    int64_t m_lastVideoIndex = -1;
    bool m_audioPlaced = false;
    std::unique_ptr<ResumeSoundCheck> m_resumeCheck;
    // samples still to leave out (< 0) or to add as silence (> 0) after a resume
    int64_t m_audioOwed = 0;
    std::unique_ptr<PauseAlignment> m_pauseAlignment;
    std::deque<Item> m_earlyAudio;
};
