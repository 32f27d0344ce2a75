#include <QtTest>

#include "sc-obs-wrapper.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSignalSpy>

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
    QCOMPARE(int(ovi.base_width), 640);
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

QTEST_MAIN(TestObsLifecycle)
#include "test-obs-lifecycle.moc"
