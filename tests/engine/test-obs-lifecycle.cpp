#include <QtTest>

#include "sc-obs-wrapper.h"

#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>

// Bring-up and teardown of the one libobs instance, and what an engine without an output
// reports.
class TestObsLifecycle : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void emptyWrapperComesAndGoes();
    void startWithoutOutputFails();
    void teardownEndsLibobs();
    void libobsComesBackAfterTeardown();
    void levelSignalsKeepComingAndSurviveAQueue();
    void teardownDuringARecordingFinishesTheFile();
};

void TestObsLifecycle::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(!obs_initialized());
}

void TestObsLifecycle::emptyWrapperComesAndGoes()
{
    auto obs = std::make_unique<ObsWrapper>();
    QVERIFY(!obs->isRecordingStart());
    QCOMPARE(obs->stopRecording(true), 0);
    QCOMPARE(obs->pauseRecording(), -1);
    QCOMPARE(obs->micphoneDeviceName(), QStringList {"No Device"});
    QVERIFY(!obs->hasMicDevice());
    obs.reset();
    QVERIFY(!obs_initialized());
}

void TestObsLifecycle::startWithoutOutputFails()
{
    ObsWrapper obs;
    QSignalSpy status(&obs, &ObsWrapper::recordStatusChanged);
    QSignalSpy failed(&obs, &ObsWrapper::recordingFailed);
    QCOMPARE(obs.startRecording(), -1);
    QCOMPARE(status.count(), 2);
    QCOMPARE(status.at(0).at(0).toInt(), 0);
    QCOMPARE(status.at(1).at(0).toInt(), 2);
    QCOMPARE(failed.count(), 1);
    QVERIFY(!obs.isRecordingStart());
}

void TestObsLifecycle::teardownEndsLibobs()
{
    const QSize screen = QGuiApplication::primaryScreen()->size();
    auto obs = std::make_unique<ObsWrapper>();
    QVERIFY(obs->initObs(screen.width(), screen.height(), 30));
    QVERIFY(obs_initialized());
    QCOMPARE(obs->addSceneSource(REC_SCREEN), 0);
    obs.reset();
    QVERIFY(!obs_initialized());
}

void TestObsLifecycle::libobsComesBackAfterTeardown()
{
    auto obs = std::make_unique<ObsWrapper>();
    QVERIFY(obs->initObs(640, 480, 30));
    QCOMPARE(obs->addSceneSource(REC_SCREEN), 0);
    obs_video_info ovi;
    QVERIFY(obs_get_video_info(&ovi));
    QCOMPARE(int(obs->recordingCanvas().base_width), 640);
    obs.reset();
    QVERIFY(!obs_initialized());
}

void TestObsLifecycle::levelSignalsKeepComingAndSurviveAQueue()
{
    ObsWrapper obs;
    QSignalSpy mic(&obs, &ObsWrapper::micVolumeDataChange);
    QSignalSpy player(&obs, &ObsWrapper::playerVolumeDataChange);
    // Meters connect queued (the main window does); the pointers must survive the queue.
    int queued = 0;
    connect(
            &obs, &ObsWrapper::micVolumeDataChange, this,
            [&queued](const float *m, const float *, const float *) { queued += m ? 1 : 0; },
            Qt::QueuedConnection);
    QVERIFY(obs.initObs(640, 480, 30));
    QTRY_VERIFY_WITH_TIMEOUT(mic.count() >= 10 && player.count() >= 10, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(queued >= 10, 10000);
}

void TestObsLifecycle::teardownDuringARecordingFinishesTheFile()
{
    QTemporaryDir dir;
    auto obs = std::make_unique<ObsWrapper>();
    QVERIFY(obs->initObs(320, 240, 30));
    QCOMPARE(obs->addSceneSource(REC_SCREEN), 0);
    obs->setupFFmpeg(dir.filePath("cut"), 320, 240, 30, 4, OutputFormat::MP4);
    QCOMPARE(obs->startRecording(), 0);
    QTest::qWait(1500);
    obs.reset();
    QVERIFY(!obs_initialized());

    // A file whose end was never written has no index and no duration.
    QProcess ffprobe;
    ffprobe.start("ffprobe",
                  {"-v", "error", "-show_entries", "format=duration", "-of",
                   "default=noprint_wrappers=1:nokey=1", dir.filePath("cut.mp4")});
    QVERIFY(ffprobe.waitForFinished(30000));
    QCOMPARE(ffprobe.exitCode(), 0);
    const double duration = ffprobe.readAllStandardOutput().trimmed().toDouble();
    QVERIFY2(duration > 0.0, qPrintable(QString::number(duration)));
}

QTEST_MAIN(TestObsLifecycle)
#include "test-obs-lifecycle.moc"
