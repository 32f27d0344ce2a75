#include "../engine/engine-test-support.h"
#include "desktop-input.h"
#include "flat-window.h"
#include "media-probe.h"
#include "obs-capture-area.h"
#include "sc-logger.h"
#include "sc-obs-wrapper.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <limits>
#include <memory>

namespace {

// Two tones far apart in pitch, so that each source can be told apart in the file.
constexpr int SPEAKER_HZ = 300;
constexpr int MIC_HZ = 3000;

const QColor BACKGROUND(32, 32, 32);

// A narrow band around one tone: the other tone, a decade away, falls far below it.
QString band(int hz)
{
    const QString one = QStringLiteral("bandpass=f=%1:width_type=q:w=4").arg(hz);
    return one + QLatin1Char(',') + one + QLatin1Char(',') + one;
}

bool isHighlight(QRgb c)
{
    // The pointer disc is a translucent green over the dark background.
    return qGreen(c) - qRed(c) > 40 && qGreen(c) - qBlue(c) > 15;
}

bool isLeftRing(QRgb c)
{
    return qBlue(c) - qRed(c) > 50 && qBlue(c) - qGreen(c) > 30;
}

// Pixels within `radius` of `centre` that pass `test`.
template<typename Test>
int countAround(const QImage &image, const QPoint &centre, int radius, Test test)
{
    int count = 0;
    for (int y = centre.y() - radius; y <= centre.y() + radius; ++y)
        for (int x = centre.x() - radius; x <= centre.x() + radius; ++x) {
            const int dx = x - centre.x();
            const int dy = y - centre.y();
            if (dx * dx + dy * dy > radius * radius || !image.valid(x, y))
                continue;
            if (test(image.pixel(x, y)))
                ++count;
        }
    return count;
}

} // namespace

// Sound and pointer effects as they arrive in recorded files, through the engine, the
// program's own output module and its pointer filter, on the test desktop; and a sound server
// that goes away in the middle of a recording and comes back.
class TestEngineAudio : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void switchesDecideWhatIsHeard_data();
    void switchesDecideWhatIsHeard();
    void pointerEffectsReachTheFile_data();
    void pointerEffectsReachTheFile();
    void recordingOutlivesTheSoundServer();
    void cleanupTestCase();

private:
    bool startSoundServer();
    // Records the part of the screen between two corners, as the main window sets it up.
    bool captureArea(const QRect &region, ObsCaptureArea *area);
    bool record(const QString &base, const QSize &frame, int milliseconds,
                const std::function<void()> &during = nullptr);
    std::unique_ptr<ObsWrapper> m_obs;
    QTemporaryDir m_runtime;
    QTemporaryDir m_dir;
    QProcess m_server;
    QSize m_screen;
    LevelRecorder m_playerLevels;
    LevelRecorder m_micLevels;
};

// The session's own server cannot be stopped from inside: this test runs one of its own,
// started the way the test session starts its server.
bool TestEngineAudio::startSoundServer()
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

void TestEngineAudio::initTestCase()
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
    m_screen = QGuiApplication::primaryScreen()->size();
    // Brought up in the main window's order.
    m_obs = std::make_unique<ObsWrapper>();
    QVERIFY(m_obs->initObs(m_screen.width(), m_screen.height(), 30));
    QCOMPARE(m_obs->addSceneSource(REC_SCREEN), 0);
    m_obs->searchRecTargets(REC_SCREEN);
    QVERIFY(!m_obs->getRecTargets().isEmpty());
    m_obs->searchMicDevice();
    m_obs->searchPlayerDevice();
    QVERIFY(m_obs->hasMicDevice());
    // The pointer effects come from the program's own module, read from the screen or drawn.
    QVERIFY(obs_source_get_display_name("vistrel_mouse_effects"));
    connect(m_obs.get(), &ObsWrapper::playerVolumeDataChange, this,
            [this](const float *m, const float *p, const float *ip) {
                m_playerLevels.record(m, p, ip);
            });
    connect(m_obs.get(), &ObsWrapper::micVolumeDataChange, this,
            [this](const float *m, const float *p, const float *ip) {
                m_micLevels.record(m, p, ip);
            });
}

bool TestEngineAudio::captureArea(const QRect &region, ObsCaptureArea *area)
{
    *area = ObsCaptureArea::fromCorners(region.topLeft(), region.bottomRight(), m_screen, 1.0);
    return m_obs->updateRecItem(m_obs->getRecTargets().first().toUtf8(), REC_SCREEN, true,
                                area->left, area->right, area->top, area->bottom)
            && m_obs->resetVideo(area->canvasWidth, area->canvasHeight, area->canvasWidth,
                                 area->canvasHeight, 30)
            == 0;
}

// Records `milliseconds` into base + ".mp4"; true when libobs reported a clean end.
bool TestEngineAudio::record(const QString &base, const QSize &frame, int milliseconds,
                             const std::function<void()> &during)
{
    m_obs->setupFFmpeg(base, frame.width(), frame.height(), 30, 4, OutputFormat::MP4);
    QSignalSpy status(m_obs.get(), &ObsWrapper::recordStatusChanged);
    QSignalSpy failed(m_obs.get(), &ObsWrapper::recordingFailed);
    if (m_obs->startRecording() != 0)
        return false;
    if (during)
        during();
    else
        QTest::qWait(milliseconds);
    m_obs->stopRecording(false);
    if (status.count() < 2 && !status.wait(30000))
        return false;
    return status.count() == 2 && status.at(1).at(0).toInt() == 2 && failed.isEmpty()
            && QFile::exists(base + QStringLiteral(".mp4"));
}

void TestEngineAudio::switchesDecideWhatIsHeard_data()
{
    QTest::addColumn<bool>("player");
    QTest::addColumn<bool>("mic");
    QTest::newRow("both on") << true << true;
    QTest::newRow("speakers only") << true << false;
    QTest::newRow("microphone only") << false << true;
    QTest::newRow("both off") << false << false;
}

// A tone plays on the speakers and another into the microphone for the whole recording:
// each switch decides whether its tone reaches the file.
void TestEngineAudio::switchesDecideWhatIsHeard()
{
    QFETCH(bool, player);
    QFETCH(bool, mic);

    ObsCaptureArea area;
    QVERIFY(captureArea(QRect(0, 0, 320, 240), &area));
    m_obs->recMicAudio(mic, QStringLiteral("default"));
    m_obs->recPlayerAudio(player, QStringLiteral("default"));

    auto speakerTone = playTone(5, QStringLiteral("speakers"), SPEAKER_HZ);
    auto micTone = playTone(5, QStringLiteral("mic_feed"), MIC_HZ);
    // Newly made sound sources need a moment to connect to the sound server: until what is
    // switched on shows on its meter.
    m_playerLevels.reset();
    m_micLevels.reset();
    QVERIFY(QTest::qWaitFor(
            [&] {
                return (!player || m_playerLevels.nonZero > 0) && (!mic || m_micLevels.nonZero > 0);
            },
            10000));

    const QString base = m_dir.filePath(QStringLiteral("sound-%1-%2").arg(player).arg(mic));
    QVERIFY(record(base, QSize(area.frameWidth, area.frameHeight), 1500));
    // Played to their end: a killed player's pipeline would go on sounding into the next row.
    for (QProcess *tone : {speakerTone.get(), micTone.get()})
        tone->waitForFinished(10000);

    const QString file = base + QStringLiteral(".mp4");
    const MediaProbe::Loudness all = MediaProbe::loudness(file);
    // The file begins in the middle of both tones: that sudden start rings through every
    // band, so the bands are judged on the steady part after it.
    const MediaProbe::Loudness low = MediaProbe::loudness(file, band(SPEAKER_HZ), 0.5);
    const MediaProbe::Loudness high = MediaProbe::loudness(file, band(MIC_HZ), 0.5);
    qInfo("%s: audio %d, mean %.1f dB, max %.1f dB; %d Hz mean %.1f dB, %d Hz mean %.1f dB",
          QTest::currentDataTag(), all.hasAudio, all.mean, all.max, SPEAKER_HZ, low.mean, MIC_HZ,
          high.mean);

    if (!player && !mic) {
        // A file without a sound track is as silent as one with a silent track.
        QVERIFY2(all.max < -60.0, qPrintable(QString::number(all.max)));
        return;
    }
    QVERIFY(all.hasAudio);
    QVERIFY2(all.mean > -40.0, qPrintable(QString::number(all.mean)));
    // What is switched on is heard, and what is switched off is not, whatever it plays.
    if (player)
        QVERIFY2(low.mean > -35.0, qPrintable(QString::number(low.mean)));
    else
        QVERIFY2(low.mean < high.mean - 30.0, qPrintable(QString::number(low.mean)));
    if (mic)
        QVERIFY2(high.mean > -35.0, qPrintable(QString::number(high.mean)));
    else
        QVERIFY2(high.mean < low.mean - 30.0, qPrintable(QString::number(high.mean)));
}

void TestEngineAudio::pointerEffectsReachTheFile_data()
{
    QTest::addColumn<bool>("effects");
    QTest::newRow("effects on") << true;
    QTest::newRow("effects off") << false;
}

// The pointer rests at one point, moves to another and clicks there, over a flat dark
// screen: the disc follows it and the click leaves a ring, both drawn into the file.
void TestEngineAudio::pointerEffectsReachTheFile()
{
    QFETCH(bool, effects);

    FlatWindow window(BACKGROUND, QRect(QPoint(0, 0), m_screen));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // A region of the screen, so the filter's drawing has to survive the crop after it.
    const QRect region(QPoint(400, 300), QSize(800, 480));
    const QPoint rest(600, 500);
    const QPoint click(1000, 600);
    ObsCaptureArea area;
    QVERIFY(captureArea(region, &area));
    m_obs->recMicAudio(false, QStringLiteral("default"));
    m_obs->recPlayerAudio(false, QStringLiteral("default"));
    m_obs->captureMouseCursor(true);
    m_obs->enableMouseEffect(effects);

    QVERIFY(movePointer(rest));
    // The filter reads its settings and the pointer a few times a second.
    QTest::qWait(500);

    const QString base = m_dir.filePath(effects ? "pointer-on" : "pointer-off");
    QVERIFY(record(base, QSize(area.frameWidth, area.frameHeight), 0, [&]() {
        QTest::qWait(1000);
        movePointer(click);
        QTest::qWait(300);
        xdotool({"click", "1"});
        QTest::qWait(1700);
    }));
    window.hide();
    const QString file = base + QStringLiteral(".mp4");
    const QPoint restInFrame = rest - region.topLeft();
    const QPoint clickInFrame = click - region.topLeft();

    // The first frame: the pointer still rests where it was before the start.
    const QImage firstImage
            = MediaProbe::frame(file, m_dir.filePath(QStringLiteral("first-%1.png").arg(effects)));
    QCOMPARE(firstImage.size(), region.size());
    const int discAtRest = countAround(firstImage, restInFrame, 20, isHighlight);
    const int discAtClick = countAround(firstImage, clickInFrame, 20, isHighlight);
    // Every frame after the move, cut down to the neighbourhood of the click.
    const QString frames = m_dir.filePath(QStringLiteral("click-%1").arg(effects));
    QVERIFY(QDir().mkpath(frames));
    const int half = 80;
    const QString crop = QStringLiteral("crop=%1:%1:%2:%3")
                                 .arg(2 * half)
                                 .arg(clickInFrame.x() - half)
                                 .arg(clickInFrame.y() - half);
    QVERIFY(MediaProbe::runTool("ffmpeg",
                                {"-v", "error", "-y", "-ss", "0.8", "-i", file, "-vf", crop,
                                 frames + QStringLiteral("/f%03d.png")}));
    const QStringList names = QDir(frames).entryList({"*.png"}, QDir::Files, QDir::Name);
    QVERIFY(names.size() > 20);
    const QPoint centre(half, half);
    int ringFrames = 0;
    int ringPixelsMost = 0;
    for (const QString &name : names) {
        const QImage image(frames + QLatin1Char('/') + name);
        // Rings grow outwards from the click; the disc covers the inner part.
        const int ring = countAround(image, centre, 70, isLeftRing);
        ringPixelsMost = std::max(ringPixelsMost, ring);
        if (ring > 30)
            ++ringFrames;
    }
    const QImage last(frames + QLatin1Char('/') + names.last());
    const int discAtEnd = countAround(last, centre, 20, isHighlight);
    qInfo("%s: disc pixels at rest %d, at the click point before the move %d, there at the end "
          "%d; %d of %d frames after the move show a ring (most ring pixels %d)",
          QTest::currentDataTag(), discAtRest, discAtClick, discAtEnd, ringFrames,
          int(names.size()), ringPixelsMost);

    if (effects) {
        QVERIFY2(discAtRest > 300, qPrintable(QString::number(discAtRest)));
        QCOMPARE(discAtClick, 0);
        QVERIFY2(discAtEnd > 300, qPrintable(QString::number(discAtEnd)));
        // The ring lasts half a second: a handful of frames at 30 per second.
        QVERIFY2(ringFrames >= 3 && ringFrames <= 20, qPrintable(QString::number(ringFrames)));
    } else {
        QCOMPARE(discAtRest, 0);
        QCOMPARE(discAtEnd, 0);
        QCOMPARE(ringPixelsMost, 0);
    }
}

// The recording goes on with pictures and silence, the meter falls to zero, and the next
// recording has sound again in the same program run.
void TestEngineAudio::recordingOutlivesTheSoundServer()
{
    ObsCaptureArea area;
    QVERIFY(captureArea(QRect(0, 0, 320, 240), &area));
    const QSize frame(area.frameWidth, area.frameHeight);
    m_obs->recMicAudio(true, "default");
    m_obs->recPlayerAudio(true, "default");
    const QString first = m_dir.filePath("first");
    auto tone = playTone(8);
    m_playerLevels.reset();
    QVERIFY(record(first, frame, 0, [this]() {
        QTest::qWait(2500);
        QVERIFY2(m_playerLevels.nonZero > 0, "the meter showed no sound before the fault");
        QCOMPARE(QProcess::execute("pactl", {"exit"}), 0);
        QVERIFY(m_server.waitForFinished(10000));
        QTest::qWait(3000);
        // Well after the server went: only zeros on the meter.
        m_playerLevels.reset();
        QTest::qWait(500);
        QVERIFY(m_playerLevels.count > 0);
        QCOMPARE(m_playerLevels.nonZero, 0);
    }));
    tone->waitForFinished(10000);
    QVERIFY2(MediaProbe(first + ".mp4").stream("video")["duration"].toString().toDouble() > 4.0,
             "the pictures stopped with the sound");

    QVERIFY(startSoundServer());
    // As the main window sets the sound up before each recording.
    m_obs->recMicAudio(true, "default");
    m_obs->recPlayerAudio(true, "default");
    const QString second = m_dir.filePath("second");
    tone = playTone(5);
    m_playerLevels.reset();
    QVERIFY(record(second, frame, 3000));
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

void TestEngineAudio::cleanupTestCase()
{
    m_obs.reset();
    QVERIFY(!obs_initialized());
    if (m_server.state() != QProcess::NotRunning) {
        QProcess::execute("pactl", {"exit"});
        if (!m_server.waitForFinished(5000))
            m_server.kill();
    }
}

QTEST_MAIN(TestEngineAudio)
#include "test-engine-audio.moc"
