#include "engine-test-support.h"
#include "obs-capture-area.h"
#include "sc-obs-wrapper.h"

#include <QGuiApplication>
#include <QMargins>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

// One real libobs session on the test desktop: sources, the idle canvas, meters and mixers;
// and the logical recording areas to the engine's device-pixel crop and canvas.
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
    void cleanupTestCase();

private:
    std::unique_ptr<ObsWrapper> m_obs;
    QTemporaryDir m_dir;
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
    const QSize screen = QGuiApplication::primaryScreen()->size();
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
    QVERIFY(m_obs->initObs(screen.width(), screen.height(), 30));
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
    QCOMPARE(obs_data_get_int(s, "video_bitrate"), 4096);
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

void TestObsEngine::cleanupTestCase()
{
    m_obs.reset();
    QVERIFY(!obs_initialized());
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
