// The sound server goes away in the middle of a recording and comes back: the recording
// goes on with pictures and silence, the meters fall to zero, and the next recording has
// sound again in the same program run.

#include "../engine/engine-test-support.h"
#include "media-probe.h"
#include "sc-logger.h"
#include "sc-obs-wrapper.h"

#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class TestSoundServer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void recordingOutlivesTheSoundServer();
    void cleanupTestCase();

private:
    bool startSoundServer();
    bool record(const QString &base, int milliseconds, const std::function<void()> &during);

    QTemporaryDir m_runtime;
    QTemporaryDir m_dir;
    QProcess m_server;
    std::unique_ptr<ObsWrapper> m_obs;
    LevelRecorder m_playerLevels;
};

// The session's own server cannot be stopped from inside: this test runs one of its own,
// started the way the test session starts its server.
bool TestSoundServer::startSoundServer()
{
    m_server.start("pulseaudio",
                   {"--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no", "--system=no",
                    "-n", "-L", "module-native-protocol-unix", "-L",
                    "module-null-sink sink_name=speakers "
                    "sink_properties=device.description=Speakers",
                    "-L",
                    "module-null-sink sink_name=mic_feed "
                    "sink_properties=device.description=MicFeed",
                    "-L",
                    "module-remap-source source_name=microphone master=mic_feed.monitor "
                    "source_properties=device.description=Microphone",
                    "-L", "module-always-sink"});
    if (!m_server.waitForStarted())
        return false;
    for (int i = 0; i < 100; ++i) {
        if (QProcess::execute("sh", {"-c", "pactl info >/dev/null 2>&1"}) == 0) {
            QProcess::execute("pactl", {"set-default-sink", "speakers"});
            QProcess::execute("pactl", {"set-default-source", "microphone"});
            return true;
        }
        QTest::qWait(100);
    }
    return false;
}

void TestSoundServer::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(m_runtime.isValid() && m_dir.isValid());
    qputenv("XDG_RUNTIME_DIR", m_runtime.path().toUtf8());
    qunsetenv("PULSE_SERVER");
    m_server.setProcessChannelMode(QProcess::ForwardedChannels);
    // The session's own server holds the sound server's bus name.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
    m_server.setProcessEnvironment(env);
    QVERIFY(startSoundServer());
    QVERIFY(SCLogger::instance()->initialize(m_dir.filePath("logs")));

    const QSize screen = QGuiApplication::primaryScreen()->size();
    m_obs = std::make_unique<ObsWrapper>();
    QVERIFY(m_obs->initObs(screen.width(), screen.height(), 30));
    QCOMPARE(m_obs->addSceneSource(REC_SCREEN), 0);
    m_obs->searchRecTargets(REC_SCREEN);
    QVERIFY(!m_obs->getRecTargets().isEmpty());
    QCOMPARE(m_obs->resetVideo(screen.width(), screen.height(), 640, 360, 30), 0);
    connect(m_obs.get(), &ObsWrapper::playerVolumeDataChange, this,
            [this](const float *m, const float *p, const float *ip) {
                m_playerLevels.record(m, p, ip);
            });
}

// Sets up as the main window does before each recording, records and waits for the end.
bool TestSoundServer::record(const QString &base, int milliseconds,
                             const std::function<void()> &during)
{
    m_obs->recMicAudio(true, "default");
    m_obs->recPlayerAudio(true, "default");
    m_obs->setupFFmpeg(base, 640, 360, 30, 4, OutputFormat::MP4);
    QSignalSpy status(m_obs.get(), &ObsWrapper::recordStatusChanged);
    if (m_obs->startRecording() != 0)
        return false;
    QTest::qWait(milliseconds);
    if (during)
        during();
    m_obs->stopRecording(false);
    return status.count() >= 2 || status.wait(30000);
}

void TestSoundServer::recordingOutlivesTheSoundServer()
{
    const QString first = m_dir.filePath("first");
    auto tone = playTone(8);
    const bool recorded = record(first, 2500, [this]() {
        QVERIFY2(m_playerLevels.nonZero > 0, "the meter showed no sound before the fault");
        QCOMPARE(QProcess::execute("pactl", {"exit"}), 0);
        QVERIFY(m_server.waitForFinished(10000));
        QTest::qWait(3000);
        // Well after the server went: only zeros on the meter.
        m_playerLevels.reset();
        QTest::qWait(500);
        QVERIFY(m_playerLevels.count > 0);
        QCOMPARE(m_playerLevels.nonZero, 0);
    });
    QVERIFY(recorded);
    tone->waitForFinished(10000);
    QVERIFY2(MediaProbe(first + ".mp4").stream("video")["duration"].toString().toDouble() > 4.0,
             "the pictures stopped with the sound");

    QVERIFY(startSoundServer());
    const QString second = m_dir.filePath("second");
    tone = playTone(5);
    m_playerLevels.reset();
    QVERIFY(record(second, 3000, nullptr));
    tone->waitForFinished(10000);
    QVERIFY2(m_playerLevels.nonZero > 0, "the meter stayed at zero with the server back");
    const double loudest = MediaProbe::loudness(second + ".mp4").max;
    QVERIFY2(loudest > -20.0, qPrintable(QStringLiteral("max volume %1 dB").arg(loudest)));

    QFile log(SCLogger::instance()->logFilePath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(log.readAll());
    const QRegularExpression line(
            QStringLiteral("Recording stopped: %1, format MP4, size [1-9][0-9]* bytes, "
                           "duration [0-9.]+ s, frames [0-9]+, dropped [0-9]+, lagged [0-9]+, "
                           "code 0")
                    .arg(QRegularExpression::escape(second + ".mp4")));
    QVERIFY2(line.match(text).hasMatch(), qPrintable(text.right(2000)));
    QVERIFY(text.contains("No sound from the sound server"));
}

void TestSoundServer::cleanupTestCase()
{
    m_obs.reset();
    if (m_server.state() != QProcess::NotRunning) {
        QProcess::execute("pactl", {"exit"});
        if (!m_server.waitForFinished(5000))
            m_server.kill();
    }
}

QTEST_MAIN(TestSoundServer)
#include "test-sound-server.moc"
