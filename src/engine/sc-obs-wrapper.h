#pragma once

#include "sc-types.h"

#include <QElapsedTimer>
#include <QObject>
#include <QRect>
#include <QSharedPointer>
#include <QStringList>
#include <QTimer>

// libobs's SIMD emulation renames the intrinsics: the compiler's own headers must come first.
#include <immintrin.h>
#include <obs.hpp>

#include <array>
#include <atomic>
#include <memory>
#include <vector>

// Kind of capture: the program records whole screens (1); 0 picks a window.
enum REC_TYPE { REC_WINDOW = 0, REC_SCREEN = 1 };

struct EncoderPreset;
class ObsWrapper;

// Callback data of one volume meter: which source it measures and whom to tell.
struct SoundDeviceIdentifier
{
    enum Type { Mic = 0, Player = 1 };
    Type type;
    ObsWrapper *wrapper;
    obs_volmeter_t *volmeter;
};

// The one owner of the program's libobs instance: bring-up, scene and sources, the file
// output, recording control and the audio levels. GUI thread only.
class ObsWrapper : public QObject
{
    Q_OBJECT

public:
    static constexpr int LEVEL_CHANNELS = 8;

    ObsWrapper();
    ~ObsWrapper() override;

    // Side of the canvas libobs draws while it composes nothing (idle, or the picture comes
    // from elsewhere).
    static constexpr int IDLE_CANVAS = 64;

    bool initObs(int width, int height, int fps);
    // Before initObs: every picture will come from a desktop's screen cast (a Wayland
    // session), so libobs need draw nothing, whatever the X server allows.
    void setScreenCastOnly(bool only) { m_screenCastOnly = only; }
    // The canvas of the next recording that needs the engine's picture. While nothing is
    // recorded libobs keeps its tiny idle canvas; this one is applied when such a recording
    // starts. Fails with libobs's code while a recording runs.
    int resetVideo(int baseWidth, int baseHeight, int outputWidth, int outputHeight, int fps);
    const obs_video_info &recordingCanvas() const { return m_canvas; }
    // Whether an OpenGL renderer name is that of a rasteriser running on the processor.
    static bool isSoftwareRenderer(const QString &renderer);
    // True when the picture is composed in software and converted for the encoder on the
    // processor.
    bool softwareRenderer() const { return m_softwareRenderer; }
    bool resetAudio();
    int audioChannel();
    int micChannelCount();
    int playerChannelCount();
    void release();

    int addSceneSource(REC_TYPE type);
    // Brings up libobs's video with the scene and the capture source, which only recordings
    // that take the engine's picture need; they call it themselves. False when the graphics
    // adapter or a source fails.
    bool bringUpPicture();
    bool pictureUp() const { return m_appliedCanvas.graphics_module != nullptr; }
    // Whether libobs draws the picture (a real graphics device) or the file output reads it
    // from the screen; chosen once at bring-up.
    bool drawsPicture() const { return m_drawsPicture; }
    // Whether this display's screen can be read straight from the X server.
    static bool screenReadable(QString *reason);
    // Whether a recording in this format takes the engine's picture rather than reading the
    // screen itself or recording sound only.
    bool composesPicture(OutputFormat format) const;
    void searchRecTargets(REC_TYPE type);
    QStringList getRecTargets() const { return m_targetNames; }
    QStringList getRecTargetIds() const { return m_targetIds; }
    bool updateRecItem(const char *target, REC_TYPE type, bool region, int left, int right, int top,
                       int bottom);
    // The part of the X root, in device pixels, that the crop of updateRecItem is measured
    // in: one monitor or the box around all of them. Empty: the primary screen.
    void setCaptureSpace(const QRect &deviceRect);
    QRect captureSpace() const { return m_captureSpace; }
    // A desktop's screen-cast stream (its PipeWire connection and node, of `size` pixels) that
    // the next recordings read instead of the X screen; the capture space and crop are then
    // measured in the stream's pixels. The descriptor stays the caller's. A node of 0 goes
    // back to the X screen.
    void setScreenCastStream(int fd, quint32 node, const QSize &size);
    bool readsScreenCast() const { return m_castNode != 0; }
    void captureMouseCursor(bool show);
    void enableMouseEffect(bool enable);

    void searchMicDevice();
    void searchPlayerDevice();
    QStringList micphoneDeviceName() const;
    QStringList playerDeviceName() const;
    bool hasMicDevice() const;
    // Whether the sound server offers a device of this id now ("default" always).
    bool micDeviceKnown(const QString &deviceId) const;
    bool playerDeviceKnown(const QString &deviceId) const;
    QStringList micDeviceIds() const { return m_micIds; }
    QStringList playerDeviceIds() const { return m_playerIds; }
    // A source's gain as a factor of its level (1 keeps it); kept for the sources created later.
    void setMicGain(float gain);
    void setPlayerGain(float gain);
    QString micDeviceId(const QString &name) const;
    QString playerDeviceId(const QString &name) const;
    void recMicAudio(bool enable, const QString &deviceId);
    void recPlayerAudio(bool enable, const QString &deviceId);
    void ResetAudioDevice(const char *sourceType, const char *deviceId, const char *deviceName,
                          int channel);
    obs_source_t *getSoundSource(const char *sourceType, const char *deviceId, const char *name,
                                 int channel);
    bool HasAudioDevices(const char *sourceType);
    void resetMicphoneVolumeLevelCallback(const QString &deviceId);
    void resetPlayerVolumeLevelCallback(const QString &deviceId);

    bool createOutputMode();
    // bitrate: Balanced's video rate in units of 1024 kbit/s; the other qualities follow
    // the encoder presets.
    void setupFFmpeg(const QString &path, int width, int height, int fps, int bitrate,
                     OutputFormat format, RecordingQuality quality = RecordingQuality::Balanced);
    // The output's settings for a file in `format` (any value outside the formats is MP4),
    // the same with or without an engine: the caller releases them.
    static obs_data_t *formatSettings(OutputFormat format, const QString &path, int fps,
                                      int bitrate, int width, int height,
                                      RecordingQuality quality = RecordingQuality::Balanced);
    static OutputFormat knownFormat(OutputFormat format);
    // The H.264 encoder of the next setupFFmpeg for MP4, MKV and FLV; Automatic by default.
    void setVideoEncoder(VideoEncoderChoice choice) { m_videoEncoderChoice = choice; }
    // Puts a graphics card's encoder into H.264 output settings, the software one kept as
    // what the output falls back to; logs the choice. Lossless stays with the software one.
    static void applyVideoEncoder(obs_data_t *settings, OutputFormat format,
                                  RecordingQuality quality, int bitrate, VideoEncoderChoice choice);
    static obs_data_t *mp3Settings(const QString &path);
    static obs_data_t *aacSettings(const QString &path);
    static obs_data_t *flacSettings(const QString &path);

    int startRecording();
    // Toggles the pause; -1 without a running recording.
    int pauseRecording();
    // Pauses or resumes; the same state again changes nothing. -1 without a running recording
    // or when libobs refuses (the state is then unchanged).
    int setPaused(bool paused);
    bool isPaused() const { return m_paused; }
    int stopRecording(bool force);
    // Ends every file still being written and waits, boundedly, until each is whole. Needs no
    // event loop: it is what remains when the process must end now (the desktop is gone).
    // The end reports are not delivered afterwards.
    void finishFilesNow();
    bool isRecordingStart() const { return m_recording.load(); }

    // Read-only views for the owner and diagnostics.
    obs_source_t *captureSource() const { return m_captureSource; }
    obs_source_t *micSource() const { return m_micSource; }
    obs_source_t *playerSource() const { return m_playerSource; }
    obs_source_t *mouseEffectFilter() const { return m_mouseEffectFilter; }
    obs_output_t *output() const { return m_output; }
    obs_scene_t *scene() const { return m_scene; }
    QString outputFilePath() const { return m_outputFile; }
    // Whether the capture source is in the picture libobs draws; only while a recording
    // takes the engine's picture.
    bool capturing() const { return m_captureSource && !m_pictureHidden; }

    static void oBSVolumeLevel(void *data, const float magnitude[LEVEL_CHANNELS],
                               const float peak[LEVEL_CHANNELS],
                               const float inputPeak[LEVEL_CHANNELS]);
    static void outPutStopedCallback(void *data, calldata_t *params);

Q_SIGNALS:
    void micVolumeDataChange(const float *magnitude, const float *peak, const float *inputPeak);
    void playerVolumeDataChange(const float *magnitude, const float *peak, const float *inputPeak);
    void recordStatusChanged(int status);
    // A recording that did not start or that ended on an error; follows status 2.
    void recordingFailed(const QString &message);
    // The shared screen of the running recording went away (the desktop stopped the
    // sharing); the file has everything up to then, and the recording awaits its stop.
    void screenCastEnded();

private:
    static void searchDevices(const char *sourceType, QStringList &names, QStringList &ids);
    // Written on libobs's audio thread, read on the GUI thread: per-value atomics keep the
    // hand-over race-free without ever blocking the audio thread.
    struct AtomicLevels
    {
        std::array<std::atomic<float>, LEVEL_CHANNELS> magnitude {};
        std::array<std::atomic<float>, LEVEL_CHANNELS> peak {};
        std::array<std::atomic<float>, LEVEL_CHANNELS> inputPeak {};
        // steady-clock milliseconds of the last sound and of the source's creation
        std::atomic<qint64> lastSoundMs {0};
        std::atomic<qint64> createdMs {0};
        void store(const float *m, const float *p, const float *ip);
        void clear();
        void markFresh();
        qint64 silentForMs() const;
        bool delivered() const;
        bool dead() const;
    };
    struct LevelSnapshot
    {
        float magnitude[LEVEL_CHANNELS] = {};
        float peak[LEVEL_CHANNELS] = {};
        float inputPeak[LEVEL_CHANNELS] = {};
    };
    struct VolmeterDeleter
    {
        void operator()(obs_volmeter_t *meter) const { obs_volmeter_destroy(meter); }
    };
    using VolmeterPtr = std::unique_ptr<obs_volmeter_t, VolmeterDeleter>;

    // An output asked to stop stays referenced until libobs reports its end: dropping the
    // last reference earlier would destroy it mid-flush and cut the file short.
    struct StoppingOutput
    {
        OBSOutput output;
        OBSSignal stopSignal;
        QString file;
        QString format;
        qint64 elapsedMs = 0;
    };

    static QString graphicsRenderer();
    int chooseVideoPath();
    void emitLevels();
    bool soundSilent() const;
    void watchSoundServer();
    void reconnectSound();
    void emitMicLevels();
    void emitPlayerLevels();
    void setMixerBit(int channel, bool on);
    void onOutputStopped(obs_output_t *output, int code, const QString &error, int dropped,
                         int total, quint32 lagged);
    void logRecordingEnd(const QString &file, const QString &format, int code, const QString &error,
                         qint64 elapsedMs, int dropped, int total, quint32 lagged);
    static obs_data_t *audioWithPngKeysSettings(const QString &path, const char *ext,
                                                const char *mime, const char *audioEncoder,
                                                int audioEncoderId);
    static obs_data_t *videoSettings(const EncoderPreset &preset, const QString &path, int fps,
                                     int bitrate, int width, int height);
    void applyMouseEffectSettings(bool enable);
    static obs_data_t *mouseEffectSettings(bool enable);
    int buildScene();
    void applyCrop();
    void chooseDrawnScreen();
    // The canvas libobs draws; see sc-obs-wrapper-canvas.cpp.
    bool startVideo(const QString &ownFolder);
    int applyVideo(const obs_video_info &canvas);
    int applyIdleCanvas();
    bool prepareCanvas(bool composeFree);
    void enterIdle();
    bool waitForStoppingOutputs();
    // Recording without the engine's picture; see sc-obs-wrapper-screen-read.cpp.
    void offerScreenRead(obs_data_t *settings, OutputFormat format);
    // The cropped area in screen pixels, empty when its place on the screen is unknown.
    QRect screenArea() const;
    bool screenReadOffered() const;
    void showCapturedPicture(bool show);
    void followAreaWhileRecording();

    OBSSource m_micSource;
    OBSSource m_playerSource;
    OBSSource m_captureSource;
    std::atomic<bool> m_recording {false};
    bool m_paused = false;
    OBSOutput m_output;
    OBSSource m_transition;
    OBSScene m_scene;
    OBSEncoder m_trackAudioEncoders[MAX_AUDIO_MIXES];
    OBSEncoder m_streamAudioEncoder;
    OBSEncoder m_archiveAudioEncoder;
    QTimer m_meterTimer;
    OBSSignal m_stopConnection;
    OBSSignal m_pictureLostConnection;
    VolmeterPtr m_micVolmeter;
    VolmeterPtr m_playerVolmeter;
    QStringList m_targetNames;
    QStringList m_targetIds;
    QStringList m_micNames;
    QStringList m_micIds;
    QStringList m_playerNames;
    QStringList m_playerIds;
    // Devices to bring back after the sound server went away; empty when switched off.
    QByteArray m_micDevice;
    QByteArray m_playerDevice;
    bool m_soundWarned = false;
    QTimer m_soundWatch;
    QSharedPointer<SoundDeviceIdentifier> m_micIdentifier;
    QSharedPointer<SoundDeviceIdentifier> m_playerIdentifier;
    AtomicLevels m_micLevels;
    AtomicLevels m_playerLevels;
    // What the level signals point at; written on the GUI thread only.
    LevelSnapshot m_micSnapshot;
    LevelSnapshot m_playerSnapshot;

    OBSSource m_mouseEffectFilter;
    bool m_mouseEffectsOn = false;
    bool m_showCursor = true;
    VideoEncoderChoice m_videoEncoderChoice = VideoEncoderChoice::Automatic;
    // What addSceneSource asked for, built once libobs's video is up.
    REC_TYPE m_sceneType = REC_SCREEN;
    bool m_sceneWanted = false;
    // The capture source's crop, in screen pixels.
    int m_cropLeft = 0;
    int m_cropRight = 0;
    int m_cropTop = 0;
    int m_cropBottom = 0;
    QRect m_captureSpace;
    // The X screen the capture source draws, holding the capture space.
    QRect m_drawnScreen;
    float m_micGain = 1.0f;
    float m_playerGain = 1.0f;
    bool m_pictureHidden = false;
    // The prepared output needs no composed picture (it reads the screen or has none).
    bool m_composeFree = false;
    // Set while the running recording reads the screen itself.
    bool m_readingScreen = false;
    bool m_screenCastOnly = false;
    int m_castFd = -1;
    quint32 m_castNode = 0;
    QSize m_castSize;
    // What recordings that take the engine's picture use, and what libobs draws now.
    obs_video_info m_canvas {};
    obs_video_info m_appliedCanvas {};
    QByteArray m_graphicsModule = "libobs-opengl";
    bool m_drawsPicture = true;
    // The area's size in screen pixels when the running recording started.
    int m_areaWidthAtStart = 0;
    int m_areaHeightAtStart = 0;
    QString m_outputFile;
    QString m_outputFormat;
    bool m_startedObs = false;
    bool m_softwareRenderer = false;
    QElapsedTimer m_recordClock;
    std::atomic<quint32> m_laggedAtStart {0};
    // The output of the running recording, for libobs's threads to tell it from one that is
    // still finishing an earlier file.
    std::atomic<obs_output_t *> m_liveOutput {nullptr};
    std::vector<std::unique_ptr<StoppingOutput>> m_stoppingOutputs;
};
