#include "desktop-input.h"
#include "engine-test-support.h"
#include "flat-window.h"
#include "media-probe.h"
#include "obs-capture-area.h"
#include "pattern-widget.h"
#include "sc-obs-wrapper.h"

#include <QGuiApplication>
#include <QJsonObject>
#include <QMargins>
#include <QRandomGenerator>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

namespace {

const QColor FRAME(255, 0, 255);
const QColor QUADRANTS[4]
        = {QColor(255, 0, 0), QColor(0, 255, 0), QColor(0, 0, 255), QColor(255, 255, 0)};

// libobs's own view of the engine between recordings: nothing captured, nearly nothing drawn.
void checkRest()
{
    int active = 0;
    obs_enum_sources(
            [](void *param, obs_source_t *source) {
                if (strcmp(obs_source_get_id(source), "xshm_input") == 0
                    && (obs_source_active(source) || obs_source_showing(source)))
                    ++*static_cast<int *>(param);
                return true;
            },
            &active);
    QCOMPARE(active, 0);
    obs_enter_graphics();
    const QByteArray device = gs_get_device_name();
    obs_leave_graphics();
    QCOMPARE(device, QByteArray("Vistrel null device"));
    obs_video_info ovi;
    QVERIFY(obs_get_video_info(&ovi));
    QCOMPARE(int(ovi.base_width), int(ObsWrapper::IDLE_CANVAS));
}

bool near(const QColor &a, const QColor &b, int tolerance = 48)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
            && std::abs(a.blue() - b.blue()) <= tolerance;
}

} // namespace

// One real libobs session on the test desktop: sources, the idle canvas, meters and mixers;
// the logical recording areas to the engine's device-pixel crop and canvas; and recordings
// through the engine and the program's own output module, read back with FFmpeg.
class TestObsEngine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void bringUpBuildsSourcesAndTargets();
    void secondInitKeepsOneSourcePerChannel();
    void idleEngineReadsNothingFromTheScreen();
    void metersCarryATone();
    void switchingOffZeroesLevelsAndMixersFollow();
    void stopWithoutRecordingEmitsNothing();
    void cropLeavesExactlyTheArea_data();
    void cropLeavesExactlyTheArea();
    void regionRecordingShowsExactlyTheRegion();
    void nextRecordingStartsWithTheScreenAndTheEngineRestsBetween();
    void pausedAudioRecordingHasNoVideo();
    void setupDuringARecordingLeavesItAlone();
    void startIntoUnwritableFolderFails();
    void rateAndQualityReachTheFile();
    void cleanupTestCase();

private:
    bool recordFor(int milliseconds);
    std::unique_ptr<ObsWrapper> m_obs;
    QTemporaryDir m_dir;
    QSize m_screen;
    LevelRecorder m_mic;
    LevelRecorder m_player;
    int m_queued = 0;
};

void TestObsEngine::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(qEnvironmentVariableIsSet("XDG_RUNTIME_DIR"));
    QVERIFY(!obs_initialized());
    {
        // An engine never brought up has nothing running and refuses a start with a reason.
        ObsWrapper idle;
        QSignalSpy status(&idle, &ObsWrapper::recordStatusChanged);
        QSignalSpy failed(&idle, &ObsWrapper::recordingFailed);
        QCOMPARE(idle.stopRecording(true), 0);
        QCOMPARE(idle.pauseRecording(), -1);
        QCOMPARE(idle.micphoneDeviceName(), QStringList {"No Device"});
        QVERIFY(!idle.hasMicDevice());
        QCOMPARE(idle.startRecording(), -1);
        QCOMPARE(status.count(), 2);
        QCOMPARE(status.at(0).at(0).toInt(), 0);
        QCOMPARE(status.at(1).at(0).toInt(), 2);
        QCOMPARE(failed.count(), 1);
        QVERIFY(!idle.isRecordingStart());
    }
    QVERIFY(!obs_initialized());
    m_screen = QGuiApplication::primaryScreen()->size();
    m_obs = std::make_unique<ObsWrapper>();
    connect(m_obs.get(), &ObsWrapper::micVolumeDataChange, this,
            [this](const float *m, const float *p, const float *ip) { m_mic.record(m, p, ip); });
    connect(m_obs.get(), &ObsWrapper::playerVolumeDataChange, this,
            [this](const float *m, const float *p, const float *ip) { m_player.record(m, p, ip); });
    // Meters connect queued (the main window does); the pointers must survive the queue.
    connect(
            m_obs.get(), &ObsWrapper::micVolumeDataChange, this,
            [this](const float *m, const float *, const float *) { m_queued += m ? 1 : 0; },
            Qt::QueuedConnection);
    QVERIFY(m_obs->initObs(m_screen.width(), m_screen.height(), 30));
    QVERIFY(obs_initialized());
}

void TestObsEngine::bringUpBuildsSourcesAndTargets()
{
    QVERIFY(m_obs->micSource());
    QVERIFY(m_obs->playerSource());
    OBSSourceAutoRelease onMic = obs_get_output_source(2);
    OBSSourceAutoRelease onPlayer = obs_get_output_source(1);
    QCOMPARE(onMic.Get(), m_obs->micSource());
    QCOMPARE(onPlayer.Get(), m_obs->playerSource());
    QCOMPARE(m_obs->audioChannel(), 2);
    QVERIFY(m_obs->micChannelCount() >= 1 && m_obs->micChannelCount() <= 8);
    QVERIFY(m_obs->playerChannelCount() >= 1 && m_obs->playerChannelCount() <= 8);
    QVERIFY(m_obs->output());
    QVERIFY(!m_obs->isRecordingStart());
    QTRY_VERIFY_WITH_TIMEOUT(m_mic.count >= 10 && m_player.count >= 10 && m_queued >= 10, 10000);

    // Targets come from the screen list.
    m_obs->searchRecTargets(REC_SCREEN);
    const QStringList names = m_obs->getRecTargets();
    const QStringList ids = m_obs->getRecTargetIds();
    QVERIFY(!names.isEmpty());
    QCOMPARE(names.size(), ids.size());
    bool ok = false;
    ids.first().toInt(&ok);
    QVERIFY2(ok, qPrintable(ids.first()));
    m_obs->searchMicDevice();
    m_obs->searchPlayerDevice();
    // The "Default" entry plus the session's own devices.
    QVERIFY(m_obs->hasMicDevice());
    QCOMPARE(m_obs->micDeviceId(QStringLiteral("no such device")), QString("default"));
    QVERIFY(m_obs->playerDeviceName().size() >= 1);
    QVERIFY(m_obs->micDeviceId(m_obs->micphoneDeviceName().first()).size() > 0);
}

void TestObsEngine::secondInitKeepsOneSourcePerChannel()
{
    obs_source_t *mic = m_obs->micSource();
    obs_source_t *player = m_obs->playerSource();
    obs_video_info before;
    QVERIFY(obs_get_video_info(&before));
    QVERIFY(m_obs->initObs(640, 480, 30));
    QCOMPARE(m_obs->micSource(), mic);
    QCOMPARE(m_obs->playerSource(), player);
    // The video of the first bring-up stays: a second one rebuilds only output and audio.
    obs_video_info after;
    QVERIFY(obs_get_video_info(&after));
    QCOMPARE(after.base_width, before.base_width);
    QCOMPARE(after.output_format, before.output_format);
}

void TestObsEngine::idleEngineReadsNothingFromTheScreen()
{
    // The test desktop's screen can be read directly: libobs gets the device that draws
    // nothing, and no capture source exists until a recording needs the engine's picture.
    QVERIFY(!m_obs->drawsPicture());
    obs_enter_graphics();
    const QByteArray device = gs_get_device_name();
    obs_leave_graphics();
    QCOMPARE(device, QByteArray("Vistrel null device"));
    QCOMPARE(m_obs->addSceneSource(REC_SCREEN), 0);
    m_obs->searchRecTargets(REC_SCREEN);
    const QByteArray target = m_obs->getRecTargets().value(0).toUtf8();
    QVERIFY(!target.isEmpty());
    // A region set while idle builds nothing yet (what it records is checked in a recording).
    m_obs->updateRecItem(target, REC_SCREEN, true, 10, 20, 30, 40);
    QVERIFY(!m_obs->updateRecItem("no such screen", REC_SCREEN, true, 5, 5, 5, 5));
    m_obs->captureMouseCursor(false);
    m_obs->enableMouseEffect(true);
    QVERIFY(!m_obs->captureSource());
    QVERIFY(!m_obs->scene());
    int captures = 0;
    obs_enum_sources(
            [](void *param, obs_source_t *source) {
                *static_cast<int *>(param) += strcmp(obs_source_get_id(source), "xshm_input") == 0;
                return true;
            },
            &captures);
    QCOMPARE(captures, 0);
    // Building the scene never took the sound sources off their channels.
    OBSSourceAutoRelease onMic = obs_get_output_source(2);
    OBSSourceAutoRelease onPlayer = obs_get_output_source(1);
    QCOMPARE(onMic.Get(), m_obs->micSource());
    QCOMPARE(onPlayer.Get(), m_obs->playerSource());

    // A canvas asked for while idle is kept for the next recording; libobs's stays tiny.
    QCOMPARE(m_obs->resetVideo(640, 360, 640, 360, 30), 0);
    QCOMPARE(int(m_obs->recordingCanvas().output_width), 640);
    obs_video_info ovi;
    QVERIFY(obs_get_video_info(&ovi));
    QCOMPARE(int(ovi.base_width), ObsWrapper::IDLE_CANVAS);
    QCOMPARE(m_obs->resetVideo(0, 360, 640, 360, 30), OBS_VIDEO_INVALID_PARAM);
    m_obs->captureMouseCursor(true);
    m_obs->enableMouseEffect(false);
    m_obs->updateRecItem(target, REC_SCREEN, false, 0, 0, 0, 0);
}

void TestObsEngine::metersCarryATone()
{
    m_player.reset();
    m_mic.reset();
    auto tone = playTone(3);
    QTRY_VERIFY_WITH_TIMEOUT(m_player.maxMagnitude > -40.0f, 15000);
    // The tone goes to the speakers only; the microphone hears nothing of it.
    QVERIFY2(m_mic.maxMagnitude < -60.0f, qPrintable(QString::number(m_mic.maxMagnitude)));
    tone.reset();
    m_mic.reset();
    tone = playTone(3, QStringLiteral("mic_feed"));
    QTRY_VERIFY_WITH_TIMEOUT(m_mic.maxMagnitude > -40.0f, 15000);
}

void TestObsEngine::switchingOffZeroesLevelsAndMixersFollow()
{
    m_obs->setupFFmpeg(m_dir.filePath("mixers"), 640, 360, 30, 4, OutputFormat::MP4);
    QVERIFY(m_obs->output());
    QCOMPARE(obs_output_get_mixers(m_obs->output()), size_t(3));

    auto tone = playTone(4, QStringLiteral("mic_feed"));
    m_mic.reset();
    QTRY_VERIFY_WITH_TIMEOUT(m_mic.maxMagnitude > -40.0f, 15000);

    QSignalSpy micSpy(m_obs.get(), &ObsWrapper::micVolumeDataChange);
    m_mic.reset();
    m_obs->recMicAudio(false, "default");
    // One zeroed emission at once, then only zeros while the tone still plays.
    QCOMPARE(micSpy.count(), 1);
    QCOMPARE(m_mic.count, 1);
    QCOMPARE(m_mic.nonZero, 0);
    QCOMPARE(obs_output_get_mixers(m_obs->output()), size_t(2));
    QVERIFY(!m_obs->micSource());
    OBSSourceAutoRelease onMic = obs_get_output_source(2);
    QVERIFY(!onMic);
    QTRY_VERIFY_WITH_TIMEOUT(m_mic.count > 20, 5000);
    QCOMPARE(m_mic.nonZero, 0);

    m_obs->recMicAudio(true, "default");
    QCOMPARE(obs_output_get_mixers(m_obs->output()), size_t(3));
    m_mic.reset();
    QTRY_VERIFY_WITH_TIMEOUT(m_mic.maxMagnitude > -40.0f, 15000);

    m_obs->recPlayerAudio(false, "default");
    QCOMPARE(obs_output_get_mixers(m_obs->output()), size_t(1));
    m_obs->recPlayerAudio(true, "default");
    QCOMPARE(obs_output_get_mixers(m_obs->output()), size_t(3));
    tone.reset();

    // A new output takes its mixers from the switches as they are.
    m_obs->recMicAudio(false, "default");
    m_obs->setupFFmpeg(m_dir.filePath("mixers"), 640, 360, 30, 4, OutputFormat::MP4);
    QCOMPARE(obs_output_get_mixers(m_obs->output()), size_t(2));
    m_obs->recPlayerAudio(false, "default");
    m_obs->setupFFmpeg(m_dir.filePath("mixers"), 640, 360, 30, 4, OutputFormat::MP4);
    QCOMPARE(obs_output_get_mixers(m_obs->output()), size_t(0));
    m_obs->recMicAudio(true, "default");
    m_obs->recPlayerAudio(true, "default");
    m_obs->setupFFmpeg(m_dir.filePath("mixers"), 1367, 769, 30, 4, OutputFormat::MP4);
    QCOMPARE(obs_output_get_mixers(m_obs->output()), size_t(3));
    OBSDataAutoRelease s = obs_output_get_settings(m_obs->output());
    QCOMPARE(obs_data_get_int(s, "scale_width"), 1368);
    QCOMPARE(obs_data_get_int(s, "scale_height"), 770);
    QCOMPARE(QString(obs_data_get_string(s, "url")), m_dir.filePath("mixers") + ".mp4");
    // Balanced: the quantiser decides, capped at the caller's rate.
    QCOMPARE(obs_data_get_int(s, "video_bitrate"), 0);
    const QString options = obs_data_get_string(s, "video_encoder_options");
    QVERIFY2(options.contains("crf=23") && options.contains("maxrate=4096k bufsize=8192k"),
             qPrintable(options));
}

void TestObsEngine::stopWithoutRecordingEmitsNothing()
{
    QSignalSpy status(m_obs.get(), &ObsWrapper::recordStatusChanged);
    QCOMPARE(m_obs->pauseRecording(), -1);
    QCOMPARE(m_obs->stopRecording(false), 0);
    QVERIFY(!m_obs->output());
    QVERIFY(!m_obs->isRecordingStart());
    QTest::qWait(100);
    QCOMPARE(status.count(), 0);
}

void TestObsEngine::cropLeavesExactlyTheArea_data()
{
    QTest::addColumn<QPoint>("start");
    QTest::addColumn<QPoint>("end");
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<double>("ratio");
    // Exact results where given; an empty frame checks only that the crop adds up.
    QTest::addColumn<QMargins>("crop");
    QTest::addColumn<QSize>("frame");
    QTest::addColumn<QSize>("canvas");
    QTest::newRow("region on a retina screen")
            << QPoint(100, 50) << QPoint(739, 409) << QSize(1440, 900) << 2.0
            << QMargins(200, 100, 1400, 980) << QSize(1280, 720) << QSize(1280, 720);
    QTest::newRow("canvas rounds up to a multiple of four")
            << QPoint(0, 0) << QPoint(1000, 499) << QSize(1440, 900) << 2.0
            << QMargins(0, 0, 878, 800) << QSize(2002, 1000) << QSize(2008, 1000);
    QTest::newRow("full screen has no crop")
            << QPoint(0, 0) << QPoint(1919, 1079) << QSize(1920, 1080) << 1.0 << QMargins()
            << QSize(1920, 1080) << QSize(1920, 1080);
    QTest::newRow("1x") << QPoint(37, 11) << QPoint(500, 333) << QSize(1920, 1080) << 1.0
                        << QMargins() << QSize() << QSize();
    QTest::newRow("2x") << QPoint(1, 2) << QPoint(3, 4) << QSize(1440, 900) << 2.0 << QMargins()
                        << QSize() << QSize();
    QTest::newRow("reversed") << QPoint(800, 600) << QPoint(100, 50) << QSize(1280, 720) << 1.0
                              << QMargins() << QSize() << QSize();
    QTest::newRow("outside") << QPoint(-20, -5) << QPoint(5000, 100) << QSize(1280, 720) << 1.0
                             << QMargins() << QSize() << QSize();
}

void TestObsEngine::cropLeavesExactlyTheArea()
{
    QFETCH(QPoint, start);
    QFETCH(QPoint, end);
    QFETCH(QSize, screen);
    QFETCH(double, ratio);
    QFETCH(QMargins, crop);
    QFETCH(QSize, frame);
    QFETCH(QSize, canvas);
    const auto a = ObsCaptureArea::fromCorners(start, end, screen, ratio);
    QCOMPARE(a.left + a.frameWidth + a.right, int(screen.width() * ratio));
    QCOMPARE(a.top + a.frameHeight + a.bottom, int(screen.height() * ratio));
    QVERIFY(a.left >= 0 && a.right >= 0 && a.top >= 0 && a.bottom >= 0);
    QCOMPARE(a.canvasWidth % 4, 0);
    QVERIFY(a.canvasWidth >= a.frameWidth && a.canvasWidth < a.frameWidth + 4 * ratio);
    if (frame.isEmpty())
        return;
    QCOMPARE(QMargins(a.left, a.top, a.right, a.bottom), crop);
    QCOMPARE(QSize(a.frameWidth, a.frameHeight), frame);
    QCOMPARE(QSize(a.canvasWidth, a.canvasHeight), canvas);
    QCOMPARE(a.fullScreen, crop.isNull());
}

// Starts, waits, stops and waits for libobs's end report; true when it ended cleanly.
bool TestObsEngine::recordFor(int milliseconds)
{
    QSignalSpy status(m_obs.get(), &ObsWrapper::recordStatusChanged);
    QSignalSpy failed(m_obs.get(), &ObsWrapper::recordingFailed);
    if (m_obs->startRecording() != 0)
        return false;
    if (!m_obs->isRecordingStart())
        return false;
    QTest::qWait(milliseconds);
    m_obs->stopRecording(false);
    if (m_obs->isRecordingStart())
        return false;
    if (!(status.count() >= 2 || status.wait(30000)))
        return false;
    return status.count() == 2 && status.at(0).at(0).toInt() == 0 && status.at(1).at(0).toInt() == 2
            && failed.isEmpty();
}

void TestObsEngine::regionRecordingShowsExactlyTheRegion()
{
    // The cases above left the scene built, both sound switches on and the engine idle.
    QVERIFY(!m_obs->getRecTargets().isEmpty());
    // Four coloured quadrants inside a magenta frame: a recording of exactly the inner
    // rectangle shows no magenta at all.
    const QRect inner(QPoint(200, 150), QSize(400, 300));
    FlatWindow frame(FRAME, inner.adjusted(-100, -50, 100, 50));
    std::vector<std::unique_ptr<FlatWindow>> quadrants;
    for (int q = 0; q < 4; ++q)
        quadrants.push_back(std::make_unique<FlatWindow>(
                QUADRANTS[q],
                QRect(inner.topLeft() + QPoint(q % 2 * 200, q / 2 * 150), inner.size() / 2)));
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    for (const auto &quadrant : quadrants) {
        quadrant->show();
        QVERIFY(QTest::qWaitForWindowExposed(quadrant.get()));
    }
    // The compositor puts the windows on the root a little later.
    QTRY_VERIFY(near(screenPixel(inner.bottomRight()), QUADRANTS[3], 8)
                && near(screenPixel(inner.topLeft() - QPoint(1, 1)), FRAME, 8));

    const auto area
            = ObsCaptureArea::fromCorners(inner.topLeft(), inner.bottomRight(), m_screen, 1.0);
    QVERIFY(m_obs->updateRecItem(m_obs->getRecTargets().first().toUtf8(), REC_SCREEN, true,
                                 area.left, area.right, area.top, area.bottom));
    QCOMPARE(m_obs->resetVideo(area.canvasWidth, area.canvasHeight, area.canvasWidth,
                               area.canvasHeight, 30),
             0);
    const QString base = m_dir.filePath("region");
    m_obs->setupFFmpeg(base, area.frameWidth, area.frameHeight, 30, 4, OutputFormat::MP4);
    auto tone = playTone(3);
    QVERIFY(recordFor(2000));
    tone->waitForFinished(10000);

    const QString file = base + ".mp4";
    const MediaProbe info(file);
    const QJsonObject video = info.stream("video");
    const QJsonObject audio = info.stream("audio");
    QCOMPARE(video.value("codec_name").toString(), QString("h264"));
    QCOMPARE(video.value("width").toInt(), 400);
    QCOMPARE(video.value("height").toInt(), 300);
    QCOMPARE(audio.value("codec_name").toString(), QString("aac"));
    QVERIFY(info.formatDuration() > 1.0);

    const QImage picture = MediaProbe::frame(file, m_dir.filePath("region.png"), true);
    QCOMPARE(picture.size(), QSize(400, 300));
    const auto pixel = [&picture](int x, int y) { return picture.pixelColor(x, y); };
    // Each quadrant where it belongs, right up to the frame's edges.
    const QPoint samples[4][3] = {{{100, 75}, {3, 3}, {190, 140}},
                                  {{300, 75}, {396, 3}, {210, 140}},
                                  {{100, 225}, {3, 296}, {190, 160}},
                                  {{300, 225}, {396, 296}, {210, 160}}};
    for (int q = 0; q < 4; ++q)
        for (const QPoint &s : samples[q])
            QVERIFY2(near(pixel(s.x(), s.y()), QUADRANTS[q]),
                     qPrintable(QStringLiteral("quadrant %1 at %2,%3 is %4")
                                        .arg(q)
                                        .arg(s.x())
                                        .arg(s.y())
                                        .arg(pixel(s.x(), s.y()).name())));
    // Nothing of the surrounding frame on the outermost rows and columns.
    for (int x = 0; x < 400; ++x)
        for (int y : {0, 1, 298, 299})
            QVERIFY2(!near(pixel(x, y), FRAME, 80),
                     qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
    for (int y = 0; y < 300; ++y)
        for (int x : {0, 1, 398, 399})
            QVERIFY2(!near(pixel(x, y), FRAME, 80),
                     qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
}

void TestObsEngine::nextRecordingStartsWithTheScreenAndTheEngineRestsBetween()
{
    // After the region recording, and after the next.
    checkRest();

    FlatWindow window(Qt::black, QRect(QPoint(0, 0), m_screen));
    window.fill(QColor(20, 200, 40));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::qWait(300);
    QVERIFY(m_obs->updateRecItem(m_obs->getRecTargets().first().toUtf8(), REC_SCREEN, false, 0, 0,
                                 0, 0));
    QCOMPARE(m_obs->resetVideo(m_screen.width(), m_screen.height(), m_screen.width(),
                               m_screen.height(), 30),
             0);
    // The screen changes just before the start: the file's first picture is the new one.
    window.fill(QColor(230, 40, 200));
    QTRY_VERIFY_WITH_TIMEOUT(
            near(QGuiApplication::primaryScreen()->grabWindow(0).toImage().pixelColor(
                         m_screen.width() / 2, m_screen.height() / 2),
                 QColor(230, 40, 200), 8),
            5000);
    const QString base = m_dir.filePath("second-start");
    m_obs->setupFFmpeg(base, m_screen.width(), m_screen.height(), 30, 4, OutputFormat::MP4);
    QVERIFY(recordFor(1000));
    checkRest();

    const QColor first = MediaProbe::frame(base + ".mp4", base + ".png").pixelColor(108, 108);
    QVERIFY2(near(first, QColor(230, 40, 200), 24), qPrintable(first.name()));
}

void TestObsEngine::pausedAudioRecordingHasNoVideo()
{
    const QString base = m_dir.filePath("audio");
    m_obs->setupFFmpeg(base, 320, 240, 30, 4, OutputFormat::MP3);
    QSignalSpy status(m_obs.get(), &ObsWrapper::recordStatusChanged);
    auto tone = playTone(3);
    QCOMPARE(m_obs->startRecording(), 0);
    QTest::qWait(800);
    QCOMPARE(m_obs->pauseRecording(), 0);
    QCOMPARE(m_obs->pauseRecording(), 0);
    QVERIFY(m_obs->isRecordingStart());
    QTest::qWait(800);
    m_obs->stopRecording(false);
    QTRY_COMPARE_WITH_TIMEOUT(status.count(), 4, 30000);
    QCOMPARE(status.at(0).at(0).toInt(), 0);
    QCOMPARE(status.at(1).at(0).toInt(), 1);
    QCOMPARE(status.at(2).at(0).toInt(), 0);
    QCOMPARE(status.at(3).at(0).toInt(), 2);
    tone->waitForFinished(10000);

    const MediaProbe info(base + ".mp3");
    QCOMPARE(info.stream("audio").value("codec_name").toString(), QString("mp3"));
    QVERIFY(info.stream("video").isEmpty());
}

void TestObsEngine::setupDuringARecordingLeavesItAlone()
{
    QCOMPARE(m_obs->resetVideo(320, 240, 320, 240, 30), 0);
    const QString first = m_dir.filePath("first");
    m_obs->setupFFmpeg(first, 320, 240, 30, 4, OutputFormat::MP4);
    QSignalSpy status(m_obs.get(), &ObsWrapper::recordStatusChanged);
    QCOMPARE(m_obs->startRecording(), 0);
    obs_output_t *running = m_obs->output();
    QTest::qWait(1000);
    m_obs->setupFFmpeg(m_dir.filePath("second"), 640, 480, 30, 4, OutputFormat::FLV);
    QCOMPARE(m_obs->output(), running);
    QVERIFY(m_obs->isRecordingStart());
    QTest::qWait(500);
    m_obs->stopRecording(false);
    QTRY_COMPARE_WITH_TIMEOUT(status.count(), 2, 30000);
    QCOMPARE(status.at(1).at(0).toInt(), 2);

    // The whole recording, 1.5 s, reached the first file.
    const MediaProbe info(first + ".mp4");
    QCOMPARE(info.stream("video").value("width").toInt(), 320);
    QVERIFY(info.formatDuration() > 1.2);
    QVERIFY(!QFile::exists(m_dir.filePath("second.flv")));
}

void TestObsEngine::startIntoUnwritableFolderFails()
{
    // Root writes anywhere on disk; /proc refuses everyone.
    QString folder = QStringLiteral("/proc/self");
    QTemporaryDir locked;
    if (geteuid() != 0) {
        folder = locked.path();
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
    }
    m_obs->setupFFmpeg(folder + "/Recording_test", 320, 240, 30, 4, OutputFormat::MP4);
    QSignalSpy status(m_obs.get(), &ObsWrapper::recordStatusChanged);
    QSignalSpy failed(m_obs.get(), &ObsWrapper::recordingFailed);
    const int result = m_obs->startRecording();
    if (result == 0) {
        // The output may only find out on its own thread; it must then end with an error.
        m_obs->stopRecording(false);
    }
    QVERIFY(failed.count() >= 1 || failed.wait(30000));
    QTRY_COMPARE_WITH_TIMEOUT(status.count(), 2, 30000);
    QCOMPARE(status.at(0).at(0).toInt(), 0);
    QCOMPARE(status.at(1).at(0).toInt(), 2);
    QCOMPARE(failed.count(), 1);
    QVERIFY(!failed.at(0).at(0).toString().isEmpty());
    QVERIFY(!m_obs->isRecordingStart());
    QVERIFY(!QFile::exists(folder + "/Recording_test.mp4"));
    if (geteuid() != 0)
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// The preferences' frame rate is the file's; over the same changing screen a small file is
// smaller than a high-quality one. The new formats go the main window's way too, the screen
// read directly.
void TestObsEngine::rateAndQualityReachTheFile()
{
    PatternWidget noise(
            [](int, int) { return QColor::fromRgb(QRandomGenerator::global()->generate()); }, false,
            Qt::X11BypassWindowManagerHint);
    noise.setGeometry(0, 0, 640, 360);
    QTimer repaint;
    connect(&repaint, &QTimer::timeout, &noise, qOverload<>(&QWidget::update));
    repaint.start(16);
    noise.show();
    QVERIFY(QTest::qWaitForWindowExposed(&noise));
    QVERIFY(m_obs->updateRecItem(m_obs->getRecTargets().first().toUtf8(), REC_SCREEN, false, 0, 0,
                                 0, 0));
    const struct
    {
        const char *name;
        int fps;
        RecordingQuality quality;
        OutputFormat format;
    } takes[] = {{"rate60", 60, RecordingQuality::Balanced, OutputFormat::MP4},
                 {"small", 15, RecordingQuality::Small, OutputFormat::MP4},
                 {"high", 15, RecordingQuality::High, OutputFormat::MP4},
                 {"vp9", 24, RecordingQuality::High, OutputFormat::WEBM},
                 {"matroska", 10, RecordingQuality::Lossless, OutputFormat::MKV}};
    for (const auto &take : takes) {
        QCOMPARE(m_obs->resetVideo(m_screen.width(), m_screen.height(), m_screen.width(),
                                   m_screen.height(), take.fps),
                 0);
        const QString base = m_dir.filePath(take.name);
        m_obs->setupFFmpeg(base, 640, 360, take.fps, 4, take.format, take.quality);
        QVERIFY(recordFor(2000));
        QCOMPARE(m_obs->outputFilePath(), base + "." + outputFormatExtension(take.format));
        const MediaProbe info(m_obs->outputFilePath());
        QCOMPARE(info.stream("video").value("width").toInt(), 640);
        QCOMPARE(info.stream("video").value("r_frame_rate").toString(),
                 QString("%1/1").arg(take.fps));
        // the pictures come at that rate (a busy machine may miss some ticks)
        const double pictures = info.packetCount("video") / info.packetEnd("video");
        QVERIFY2(pictures > take.fps * 0.75 && pictures < take.fps * 1.05,
                 qPrintable(QString::number(pictures)));
    }
    const qint64 small = QFileInfo(m_dir.filePath("small.mp4")).size();
    const qint64 high = QFileInfo(m_dir.filePath("high.mp4")).size();
    QVERIFY2(small * 4 < high * 3, qPrintable(QString("%1 against %2 bytes").arg(small).arg(high)));
}

void TestObsEngine::cleanupTestCase()
{
    // A teardown during a recording still finishes the file: one whose end was never
    // written has no index and no duration.
    const QString base = m_dir.filePath("cut");
    m_obs->setupFFmpeg(base, 320, 240, 30, 4, OutputFormat::MP4);
    QCOMPARE(m_obs->startRecording(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(base + ".mp4").size() > 4096, 10000);
    m_obs.reset();
    QVERIFY(!obs_initialized());
    const double duration = MediaProbe(base + ".mp4").formatDuration();
    QVERIFY2(duration > 0.0, qPrintable(QString::number(duration)));
    // libobs comes back after a teardown, at the new size.
    auto again = std::make_unique<ObsWrapper>();
    QVERIFY(again->initObs(640, 480, 30));
    QCOMPARE(again->addSceneSource(REC_SCREEN), 0);
    QCOMPARE(int(again->recordingCanvas().base_width), 640);
    again.reset();
    QVERIFY(!obs_initialized());
}

QTEST_MAIN(TestObsEngine)
#include "test-obs-engine.moc"
