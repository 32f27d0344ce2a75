#include "engine-test-support.h"
#include "sc-obs-wrapper.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

// One real libobs session on the test desktop: scene, sources, crop, meters and mixers.
class TestObsEngine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void bringUpBuildsAudioSources();
    void secondInitKeepsOneSourcePerChannel();
    void sceneHoldsTheScreenCapture();
    void targetsComeFromTheScreenList();
    void cropFilterIsMadeOnceAndUpdated();
    void unknownTargetChangesNothing();
    void resetVideoStretchesTheCaptureOverTheCanvas();
    void mouseEffectKeysReachTheFilter();
    void playerMeterCarriesATone();
    void micMeterCarriesATone();
    void switchingOffZeroesLevelsAndClearsMixerBit();
    void mixersFollowTheSwitchesAtSetup();
    void stopWithoutRecordingEmitsNothing();
    void cleanupTestCase();

private:
    static int countCropFilters(obs_source_t *source);
    std::unique_ptr<ObsWrapper> m_obs;
    QTemporaryDir m_dir;
    LevelRecorder m_mic;
    LevelRecorder m_player;
};

int TestObsEngine::countCropFilters(obs_source_t *source)
{
    int count = 0;
    obs_source_enum_filters(
            source,
            [](obs_source_t *, obs_source_t *filter, void *param) {
                if (strcmp(obs_source_get_id(filter), "crop_filter") == 0)
                    ++*static_cast<int *>(param);
            },
            &count);
    return count;
}

void TestObsEngine::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(qEnvironmentVariableIsSet("XDG_RUNTIME_DIR"));
    const QSize screen = QGuiApplication::primaryScreen()->size();
    m_obs = std::make_unique<ObsWrapper>();
    connect(m_obs.get(), &ObsWrapper::micVolumeDataChange, this,
            [this](const float *m, const float *p, const float *ip) { m_mic.record(m, p, ip); });
    connect(m_obs.get(), &ObsWrapper::playerVolumeDataChange, this,
            [this](const float *m, const float *p, const float *ip) { m_player.record(m, p, ip); });
    QVERIFY(m_obs->initObs(screen.width(), screen.height(), 30));
    QVERIFY(obs_initialized());
}

void TestObsEngine::bringUpBuildsAudioSources()
{
    QVERIFY(m_obs->micSource());
    QVERIFY(m_obs->playerSource());
    QCOMPARE(QString(obs_source_get_id(m_obs->micSource())), QString("pulse_input_capture"));
    QCOMPARE(QString(obs_source_get_id(m_obs->playerSource())), QString("pulse_output_capture"));
    QCOMPARE(QString(obs_source_get_name(m_obs->micSource())), QString("Default Mic/Aux"));
    QCOMPARE(QString(obs_source_get_name(m_obs->playerSource())), QString("macOS Audio Capture"));
    OBSSourceAutoRelease onMic = obs_get_output_source(2);
    OBSSourceAutoRelease onPlayer = obs_get_output_source(1);
    QCOMPARE(onMic.Get(), m_obs->micSource());
    QCOMPARE(onPlayer.Get(), m_obs->playerSource());
    QCOMPARE(m_obs->audioChannel(), 2);
    QVERIFY(m_obs->micChannelCount() >= 1 && m_obs->micChannelCount() <= 8);
    QVERIFY(m_obs->playerChannelCount() >= 1 && m_obs->playerChannelCount() <= 8);
    QVERIFY(m_obs->output());
    QCOMPARE(QString(obs_output_get_id(m_obs->output())), QString("vistrel_output"));
    QVERIFY(!m_obs->isRecordingStart());
}

void TestObsEngine::secondInitKeepsOneSourcePerChannel()
{
    obs_source_t *mic = m_obs->micSource();
    obs_source_t *player = m_obs->playerSource();
    QVERIFY(m_obs->initObs(640, 480, 30));
    QCOMPARE(m_obs->micSource(), mic);
    QCOMPARE(m_obs->playerSource(), player);
    // The canvas of the first bring-up stays: a second one rebuilds only output and audio.
    obs_video_info ovi;
    QVERIFY(obs_get_video_info(&ovi));
    QCOMPARE(int(ovi.base_width), QGuiApplication::primaryScreen()->size().width());
}

void TestObsEngine::sceneHoldsTheScreenCapture()
{
    QCOMPARE(m_obs->addSceneSource(REC_SCREEN), 0);
    QVERIFY(m_obs->scene());
    QCOMPARE(QString(obs_source_get_name(obs_scene_get_source(m_obs->scene()))),
             QString("CurrentDesktopCapture"));
    QVERIFY(m_obs->captureSource());
    QCOMPARE(QString(obs_source_get_id(m_obs->captureSource())), QString("xshm_input"));
    QVERIFY(obs_scene_find_source(m_obs->scene(), "Display Capture"));

    OBSSourceAutoRelease transition = obs_get_output_source(0);
    QVERIFY(transition);
    QCOMPARE(QString(obs_source_get_id(transition)), QString("fade_transition"));
    OBSSourceAutoRelease current = obs_transition_get_active_source(transition);
    QCOMPARE(current.Get(), obs_scene_get_source(m_obs->scene()));
    // Building the scene empties the audio channels; the main window switches them on again.
    OBSSourceAutoRelease onMic = obs_get_output_source(2);
    QVERIFY(!onMic);
    m_obs->recMicAudio(true, "default");
    m_obs->recPlayerAudio(true, "default");
    OBSSourceAutoRelease mic = obs_get_output_source(2);
    OBSSourceAutoRelease player = obs_get_output_source(1);
    QVERIFY(mic && player);
    QCOMPARE(QString(obs_source_get_name(mic)), QString("Mic/Aux"));
    QCOMPARE(QString(obs_source_get_name(player)), QString("Desktop Audio"));
}

void TestObsEngine::targetsComeFromTheScreenList()
{
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

void TestObsEngine::cropFilterIsMadeOnceAndUpdated()
{
    const QByteArray target = m_obs->getRecTargets().first().toUtf8();
    QCOMPARE(countCropFilters(m_obs->captureSource()), 0);
    QVERIFY(m_obs->updateRecItem(target, REC_SCREEN, true, 10, 20, 30, 40));
    QCOMPARE(countCropFilters(m_obs->captureSource()), 1);
    QVERIFY(m_obs->updateRecItem(target, REC_SCREEN, true, 1, 2, 3, 4));
    QCOMPARE(countCropFilters(m_obs->captureSource()), 1);

    OBSSourceAutoRelease crop = obs_source_get_filter_by_name(
            m_obs->captureSource(), obs_source_get_display_name("crop_filter"));
    QVERIFY(crop);
    OBSDataAutoRelease s = obs_source_get_settings(crop);
    QCOMPARE(obs_data_get_int(s, "left"), 1);
    QCOMPARE(obs_data_get_int(s, "right"), 2);
    QCOMPARE(obs_data_get_int(s, "top"), 3);
    QCOMPARE(obs_data_get_int(s, "bottom"), 4);
    QVERIFY(obs_data_get_bool(s, "relative"));
    QCOMPARE(obs_data_get_int(s, "cx"), 0);
    QCOMPARE(obs_data_get_int(s, "cy"), 0);
    // The crop takes effect: the capture's output shrinks by the margins.
    QVERIFY(m_obs->updateRecItem(target, REC_SCREEN, false, 0, 0, 0, 0));
}

void TestObsEngine::unknownTargetChangesNothing()
{
    QVERIFY(!m_obs->updateRecItem("no such screen", REC_SCREEN, true, 5, 5, 5, 5));
    OBSSourceAutoRelease crop = obs_source_get_filter_by_name(
            m_obs->captureSource(), obs_source_get_display_name("crop_filter"));
    OBSDataAutoRelease s = obs_source_get_settings(crop);
    QCOMPARE(obs_data_get_int(s, "left"), 0);
}

void TestObsEngine::resetVideoStretchesTheCaptureOverTheCanvas()
{
    QCOMPARE(m_obs->resetVideo(640, 360, 640, 360, 30), 0);
    obs_sceneitem_t *item = obs_scene_find_source(m_obs->scene(), "Display Capture");
    QVERIFY(item);
    QCOMPARE(obs_sceneitem_get_bounds_type(item), OBS_BOUNDS_STRETCH);
    vec2 bounds;
    obs_sceneitem_get_bounds(item, &bounds);
    QCOMPARE(bounds.x, 640.0f);
    QCOMPARE(bounds.y, 360.0f);
    QCOMPARE(int(obs_sceneitem_get_alignment(item)), 5);
    obs_video_info ovi;
    QVERIFY(obs_get_video_info(&ovi));
    QCOMPARE(int(ovi.output_width), 640);
    // A software adapter hands the composed picture over as it is, for the processor to
    // convert; a real one converts to I420 itself.
    QCOMPARE(ovi.output_format, m_obs->softwareRenderer() ? VIDEO_FORMAT_BGRA : VIDEO_FORMAT_I420);
    QCOMPARE(ovi.gpu_conversion, !m_obs->softwareRenderer());
    const QSize screen = QGuiApplication::primaryScreen()->size();
    QCOMPARE(
            m_obs->resetVideo(screen.width(), screen.height(), screen.width(), screen.height(), 30),
            0);
}

void TestObsEngine::mouseEffectKeysReachTheFilter()
{
    m_obs->captureMouseCursor(false);
    OBSDataAutoRelease capture = obs_source_get_settings(m_obs->captureSource());
    QCOMPARE(obs_data_get_bool(capture, "show_cursor"), false);
    m_obs->captureMouseCursor(true);
    OBSDataAutoRelease captureOn = obs_source_get_settings(m_obs->captureSource());
    QCOMPARE(obs_data_get_bool(captureOn, "show_cursor"), true);

    m_obs->enableMouseEffect(true);
    const bool moduleLoaded = obs_source_get_display_name("vistrel_mouse_effects") != nullptr;
    QCOMPARE(m_obs->mouseEffectFilter() != nullptr, moduleLoaded);
    if (!moduleLoaded)
        return;
    OBSDataAutoRelease s = obs_source_get_settings(m_obs->mouseEffectFilter());
    QVERIFY(obs_data_get_bool(s, "show_fixed_circle"));
    QVERIFY(obs_data_get_bool(s, "show_click_animation"));
    QCOMPARE(QString(obs_data_get_string(s, "fixed_circle_color")), QString("0.0, 1.0, 0.5, 0.3"));
    QCOMPARE(QString(obs_data_get_string(s, "left_click_color")), QString("0.0, 0.0, 1.0, 0.7"));
    QCOMPARE(QString(obs_data_get_string(s, "right_click_color")), QString("1.0, 0.0, 0.0, 0.7"));
    m_obs->enableMouseEffect(false);
    OBSDataAutoRelease off = obs_source_get_settings(m_obs->mouseEffectFilter());
    QVERIFY(!obs_data_get_bool(off, "show_fixed_circle"));
}

void TestObsEngine::playerMeterCarriesATone()
{
    m_player.reset();
    m_mic.reset();
    auto tone = playTone(3);
    QTRY_VERIFY_WITH_TIMEOUT(m_player.maxMagnitude > -40.0f, 15000);
    // The tone goes to the speakers only; the microphone hears nothing of it.
    QVERIFY2(m_mic.maxMagnitude < -60.0f, qPrintable(QString::number(m_mic.maxMagnitude)));
    tone->waitForFinished(10000);
}

void TestObsEngine::micMeterCarriesATone()
{
    m_mic.reset();
    auto tone = playTone(3, QStringLiteral("mic_feed"));
    QTRY_VERIFY_WITH_TIMEOUT(m_mic.maxMagnitude > -40.0f, 15000);
    tone->waitForFinished(10000);
}

void TestObsEngine::switchingOffZeroesLevelsAndClearsMixerBit()
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
    tone->waitForFinished(10000);
}

void TestObsEngine::mixersFollowTheSwitchesAtSetup()
{
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

void TestObsEngine::cleanupTestCase()
{
    m_obs.reset();
    QVERIFY(!obs_initialized());
}

QTEST_MAIN(TestObsEngine)
#include "test-obs-engine.moc"
