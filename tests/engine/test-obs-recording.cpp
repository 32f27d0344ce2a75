#include <QtTest>

#include "desktop-input.h"
#include "flat-window.h"
#include "media-probe.h"
#include "obs-capture-area.h"
#include "sc-obs-wrapper.h"
#include "tone-player.h"

#include <QGuiApplication>
#include <QJsonObject>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>

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

// Recordings through the engine and the program's own output module, read back with FFmpeg.
class TestObsRecording : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void regionRecordingShowsExactlyTheRegion();
    void nextRecordingStartsWithTheScreenAndTheEngineRestsBetween();
    void pausedAudioRecordingHasNoVideo();
    void setupDuringARecordingLeavesItAlone();
    void startIntoUnwritableFolderFails();
    void cleanupTestCase();

private:
    bool recordFor(int milliseconds);
    std::unique_ptr<ObsWrapper> m_obs;
    QTemporaryDir m_dir;
    QSize m_screen;
};

void TestObsRecording::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    m_screen = QGuiApplication::primaryScreen()->size();
    m_obs = std::make_unique<ObsWrapper>();
    QVERIFY(m_obs->initObs(m_screen.width(), m_screen.height(), 30));
    QCOMPARE(m_obs->addSceneSource(REC_SCREEN), 0);
    m_obs->searchRecTargets(REC_SCREEN);
    QVERIFY(!m_obs->getRecTargets().isEmpty());
    m_obs->recMicAudio(true, "default");
    m_obs->recPlayerAudio(true, "default");
}

// Starts, waits, stops and waits for libobs's end report; true when it ended cleanly.
bool TestObsRecording::recordFor(int milliseconds)
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

void TestObsRecording::regionRecordingShowsExactlyTheRegion()
{
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

void TestObsRecording::nextRecordingStartsWithTheScreenAndTheEngineRestsBetween()
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

void TestObsRecording::pausedAudioRecordingHasNoVideo()
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

void TestObsRecording::setupDuringARecordingLeavesItAlone()
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

void TestObsRecording::startIntoUnwritableFolderFails()
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

void TestObsRecording::cleanupTestCase()
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
}

QTEST_MAIN(TestObsRecording)
#include "test-obs-recording.moc"
