// The engine's header brings the vector intrinsics libobs expects before its own.
#include "sc-obs-wrapper.h"

#include "flat-window.h"
#include "media-probe.h"
#include "obs-test-session.h"
#include "pattern-widget.h"
#include "sc-hardware-encoders.h"
#include "test-recording.h"
#include "tone-player.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/mount.h>
#include <unistd.h>

#include <memory>
#include <vector>

Q_DECLARE_METATYPE(RecordFormat)

namespace {

constexpr int kScaledWidth = 320;
constexpr int kScaledHeight = 180;

// What ffprobe names each format's container and codecs, in RecordFormat's order; FLV lists its
// streams in the order their first packets come, so codecs are compared sorted.
struct Expected
{
    const char *container;
    QStringList codecs;
};
const Expected kExpected[] = {{"mov,mp4,m4a,3gp,3g2,mj2", {"aac", "h264"}},
                              {"avi", {"mp3", "mpeg4"}},
                              {"flv", {"flv1", "mp3"}},
                              {"gif", {"gif"}},
                              {"mp3", {"mp3"}},
                              {"aac", {"aac"}},
                              {"flac", {"flac"}},
                              {"matroska,webm", {"aac", "h264"}},
                              {"matroska,webm", {"opus", "vp9"}}};

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

const RecordFormat kAllFormats[] = {RecordFormat::Mp4,  RecordFormat::Avi, RecordFormat::Flv,
                                    RecordFormat::Gif,  RecordFormat::Mp3, RecordFormat::Aac,
                                    RecordFormat::Flac, RecordFormat::Mkv, RecordFormat::Webm};

// Random colours at the top left of the screen, new in every picture: a picture no encoder can
// make small, and one whose colours change all the time.
QColor noise(int, int)
{
    return QColor::fromRgb(QRandomGenerator::global()->generate());
}

struct NoiseWindow
{
    NoiseWindow()
    {
        widget.setGeometry(0, 0, 640, 360);
        QObject::connect(&timer, &QTimer::timeout, &widget, qOverload<>(&QWidget::update));
        timer.start(33);
    }
    PatternWidget widget {noise, false, Qt::X11BypassWindowManagerHint};
    QTimer timer;
};

QString lasts(const char *what, double seconds, double recorded)
{
    return QString("%1 lasts %2 s of %3 s").arg(what).arg(seconds).arg(recorded);
}

} // namespace

class OutputModuleTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void recordsEveryFormatAtOnce();
    void pausedTimeIsLeftOut();
    void startStopCycles_data();
    void startStopCycles();
    void startIntoReadOnlyFolderFails();
    void fullDiskStopsWithNoSpace();
    void hardwareEncoderThatDoesNotStartFallsBack();
    void gifHighQualityHasAPalettePerPicture();
    void gifPaletteHoldsColoursThatCameLater();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
    QTemporaryDir m_config;
};

void OutputModuleTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QString error;
    QVERIFY2(ObsTestSession::startUp(m_config.path(), &error), qPrintable(error));
    QVERIFY2(obs_get_output_flags("vistrel_output") & OBS_OUTPUT_CAN_PAUSE,
             "the module did not register its output");
    // the screen and sound sources deliver nothing for a moment after they are made
    QTest::qWait(1000);
}

void OutputModuleTest::cleanupTestCase()
{
    ObsTestSession::shutDown();
}

// Every format as parallel outputs over one tone and a screen of noise.
void OutputModuleTest::recordsEveryFormatAtOnce()
{
    NoiseWindow noise;
    noise.widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&noise.widget));
    std::vector<std::unique_ptr<TestRecording>> recordings;
    std::vector<QElapsedTimer> clocks(std::size(kAllFormats));
    std::vector<double> recorded(std::size(kAllFormats));
    // Silence first: a raw AAC file that misjudges its length does so from its first frames.
    auto tone = playTone(3, QString(), 440, 1.2);
    for (size_t i = 0; i < std::size(kAllFormats); ++i) {
        recordings.push_back(std::make_unique<TestRecording>(
                kAllFormats[i], path("each-" + ObsTestSession::extension(kAllFormats[i])),
                kScaledWidth, kScaledHeight));
        QVERIFY(recordings.back()->valid());
        // From the start call: an encoder that is slow to open (VP9) takes pictures meanwhile.
        clocks[i].start();
        QVERIFY2(recordings.back()->start(), qPrintable(recordings.back()->lastError()));
    }
    QTest::qWait(3000);
    for (size_t i = 0; i < recordings.size(); ++i) {
        recorded[i] = clocks[i].nsecsElapsed() / 1e9;
        recordings[i]->stop();
    }
    for (auto &recording : recordings) {
        QVERIFY2(recording->waitStopped(), qPrintable(recording->file() + " did not stop"));
        QCOMPARE(recording->stopCode(), OBS_OUTPUT_SUCCESS);
    }
    noise.widget.hide();
    tone->kill();
    tone->waitForFinished();

    for (size_t i = 0; i < recordings.size(); ++i) {
        const RecordFormat format = kAllFormats[i];
        const QString file = recordings[i]->file();
        MediaProbe probe(file);
        QVERIFY2(probe.ok(), qPrintable(probe.error()));
        QCOMPARE(probe.formatName(), QString(kExpected[int(format)].container));
        QCOMPARE(sorted(probe.codecs()), kExpected[int(format)].codecs);
        if (ObsTestSession::hasVideo(format)) {
            const QJsonObject video = probe.stream("video");
            QCOMPARE(video.value("width").toInt(), kScaledWidth);
            QCOMPARE(video.value("height").toInt(), kScaledHeight);
            const double end = probe.packetEnd("video");
            QVERIFY2(qAbs(end - recorded[i]) <= 0.3,
                     qPrintable(lasts(qPrintable(file), end, recorded[i])));
        }
        if (ObsTestSession::hasAudio(format)) {
            const double end = probe.packetEnd("audio");
            QVERIFY2(qAbs(end - recorded[i]) <= 0.3, qPrintable(lasts("audio", end, recorded[i])));
            // Both end at the stop: the sound that comes after the last picture is still in.
            if (ObsTestSession::hasVideo(format)) {
                const double gap = end - probe.packetEnd("video");
                qInfo("%s: the sound ends %.3f s after the picture", qPrintable(file), gap);
                QVERIFY2(qAbs(gap) <= 0.05, qPrintable(file));
            }
            const double volume = MediaProbe::loudness(file).mean;
            QVERIFY2(volume > -40.0, qPrintable(QString("mean volume %1 dB").arg(volume)));
        }
        // The length a player shows, which a raw AAC file gives only through its frame sizes.
        const double shown = probe.formatDuration();
        QVERIFY2(qAbs(shown - recorded[i]) <= 0.3,
                 qPrintable(lasts(qPrintable(file), shown, recorded[i])));
        QVERIFY(MediaProbe::decodes(file));
    }

    // Balanced: the first picture's palette (global, and again with that picture) serves the
    // whole file, even over noise.
    int pictures = 0;
    const QList<QByteArray> palettes = MediaProbe::gifPalettes(path("each-gif.gif"), &pictures);
    QVERIFY2(pictures >= 10, qPrintable(QString("%1 pictures").arg(pictures)));
    QVERIFY2(palettes.size() <= 2, qPrintable(QString("%1 palettes").arg(palettes.size())));
    QCOMPARE(QSet<QByteArray>(palettes.begin(), palettes.end()).size(), 1);
}

// High quality gives every GIF picture a palette of its own: over noise, they differ.
void OutputModuleTest::gifHighQualityHasAPalettePerPicture()
{
    NoiseWindow noise;
    noise.widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&noise.widget));
    TestRecording recording(RecordFormat::Gif, path("high"), kScaledWidth, kScaledHeight);
    OBSDataAutoRelease settings
            = ObsWrapper::formatSettings(OutputFormat::GIF, path("high"), 15, 4, kScaledWidth,
                                         kScaledHeight, RecordingQuality::High);
    obs_output_update(recording.output(), settings);
    QVERIFY(recording.start());
    QTest::qWait(1500);
    recording.stop();
    QVERIFY(recording.waitStopped());
    QCOMPARE(recording.stopCode(), OBS_OUTPUT_SUCCESS);
    int pictures = 0;
    const QList<QByteArray> palettes = MediaProbe::gifPalettes(recording.file(), &pictures);
    const QSet<QByteArray> distinct(palettes.begin(), palettes.end());
    QVERIFY2(pictures >= 10, qPrintable(QString("%1 pictures").arg(pictures)));
    QVERIFY2(distinct.size() >= pictures / 2,
             qPrintable(QString("%1 palettes for %2 pictures").arg(distinct.size()).arg(pictures)));
}

// A screen that is grey at the start and orange later: the GIF's one palette still has the
// orange, and nothing of the work files stays beside the GIF.
void OutputModuleTest::gifPaletteHoldsColoursThatCameLater()
{
    const QColor grey(128, 128, 128);
    const QColor orange(230, 120, 30);
    FlatWindow screen(grey);
    screen.show();
    QVERIFY(QTest::qWaitForWindowExposed(&screen));
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString base = QDir(folder.path()).filePath("later");
    TestRecording recording(RecordFormat::Gif, base, kScaledWidth, kScaledHeight);
    QVERIFY2(recording.start(), qPrintable(recording.lastError()));
    QTest::qWait(1000);
    screen.fill(orange);
    QTest::qWait(1500);
    recording.stop();
    QVERIFY(recording.waitStopped());
    QCOMPARE(recording.stopCode(), OBS_OUTPUT_SUCCESS);

    const QStringList left = QDir(folder.path()).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(left, QStringList {QFileInfo(recording.file()).fileName()});
    const QImage last = MediaProbe::frame(recording.file(), base + "-last.png", true);
    QCOMPARE(last.size(), QSize(kScaledWidth, kScaledHeight));
    int close = 0;
    for (int y = 0; y < last.height(); ++y) {
        for (int x = 0; x < last.width(); ++x) {
            const QColor c = last.pixelColor(x, y);
            close += qAbs(c.red() - orange.red()) + qAbs(c.green() - orange.green())
                            + qAbs(c.blue() - orange.blue())
                    <= 6;
        }
    }
    // The pointer covers a few pixels; dithering from greys would leave next to none.
    const int all = last.width() * last.height();
    QVERIFY2(close >= all * 97 / 100,
             qPrintable(QString("%1 of %2 pixels orange, the centre is %3")
                                .arg(close)
                                .arg(all)
                                .arg(last.pixelColor(last.rect().center()).name())));
}

// A pause with a resume leaves the paused time out; a stop while paused ends the file at the
// pause, also in a sound-only file, whose pauses run on the picture clock all the same.
void OutputModuleTest::pausedTimeIsLeftOut()
{
    TestRecording resumed(RecordFormat::Mp4, path("paused"), kScaledWidth, kScaledHeight);
    TestRecording stopped(RecordFormat::Flac, path("paused-stop"), kScaledWidth, kScaledHeight);
    QElapsedTimer clock;
    QVERIFY2(resumed.start(), qPrintable(resumed.lastError()));
    QVERIFY2(stopped.start(), qPrintable(stopped.lastError()));
    clock.start();
    QTest::qWait(1500);
    QVERIFY(resumed.pause(true));
    QVERIFY(stopped.pause(true));
    const qint64 pausedAt = clock.nsecsElapsed();
    QTest::qWait(1200);
    stopped.stop();
    QVERIFY(resumed.pause(false));
    const qint64 paused = clock.nsecsElapsed() - pausedAt;
    QTest::qWait(1500);
    const double recorded = (clock.nsecsElapsed() - paused) / 1e9;
    resumed.stop();
    QVERIFY(resumed.waitStopped());
    QVERIFY(stopped.waitStopped());
    QCOMPARE(resumed.stopCode(), OBS_OUTPUT_SUCCESS);
    QCOMPARE(stopped.stopCode(), OBS_OUTPUT_SUCCESS);

    MediaProbe probe(resumed.file());
    QVERIFY2(probe.ok(), qPrintable(probe.error()));
    const double video = probe.packetEnd("video");
    const double audio = probe.packetEnd("audio");
    QVERIFY2(qAbs(video - recorded) <= 0.3, qPrintable(lasts("video", video, recorded)));
    QVERIFY2(qAbs(audio - recorded) <= 0.3, qPrintable(lasts("audio", audio, recorded)));
    MediaProbe flac(stopped.file());
    QVERIFY2(flac.ok(), qPrintable(flac.error()));
    const double untilPause = pausedAt / 1e9;
    const double flacEnd = flac.packetEnd("audio");
    QVERIFY2(qAbs(flacEnd - untilPause) <= 0.3, qPrintable(lasts("flac", flacEnd, untilPause)));
}

void OutputModuleTest::startStopCycles_data()
{
    QTest::addColumn<RecordFormat>("format");
    QTest::addColumn<int>("cycles");
    // MP4, the default, goes through every way of stopping many times; the others once each.
    for (RecordFormat format : kAllFormats)
        QTest::newRow(qPrintable(ObsTestSession::name(format)))
                << format << (format == RecordFormat::Mp4 ? 20 : 4);
}

void OutputModuleTest::startStopCycles()
{
    QFETCH(RecordFormat, format);
    QFETCH(int, cycles);
    const QString name = "cycle-" + ObsTestSession::extension(format);
    for (int i = 0; i < cycles; ++i) {
        auto recording = std::make_unique<TestRecording>(format, path(name + QString::number(i)),
                                                         kScaledWidth, kScaledHeight);
        QVERIFY2(recording->start(), qPrintable(recording->lastError()));
        QTest::qWait(150 + (i % 3) * 100);
        switch (i % 4) {
        case 0: // the engine's way: stop and drop the output at once
            recording->stop();
            recording->release();
            break;
        case 1: // stop while paused
            QVERIFY(recording->pause(true));
            QTest::qWait(100);
            recording->stop();
            QVERIFY2(recording->waitStopped(), "stop while paused hung");
            break;
        case 2: // pause, resume, stop, and reuse the same output once more
            QVERIFY(recording->pause(true));
            QTest::qWait(50);
            QVERIFY(recording->pause(false));
            recording->stop();
            QVERIFY2(recording->waitStopped(), "stop hung");
            QVERIFY2(recording->start(), qPrintable(recording->lastError()));
            QTest::qWait(100);
            recording->stop();
            QVERIFY2(recording->waitStopped(), "second stop hung");
            break;
        case 3: // paused, then forced
            QVERIFY(recording->pause(true));
            recording->forceStop();
            QVERIFY2(recording->waitStopped(), "forced stop hung");
            break;
        }
        const QString file = recording->file();
        recording.reset();
        QVERIFY2(QFileInfo(file).size() > 0, qPrintable(file));
        // probing takes longer than a cycle; a sample of the files is enough
        if (i % 5 == 4 || i == cycles - 1) {
            MediaProbe probe(file);
            QVERIFY2(probe.ok(), qPrintable(file + ": " + probe.error()));
            QCOMPARE(sorted(probe.codecs()), kExpected[int(format)].codecs);
        }
    }
}

void OutputModuleTest::startIntoReadOnlyFolderFails()
{
    const QString folder = path("read-only");
    QVERIFY(QDir().mkpath(folder));
    bool mounted = false;
    if (geteuid() == 0) {
        // permissions do not stop root; a read-only file system does
        mounted = mount("tmpfs", folder.toUtf8().constData(), "tmpfs", MS_RDONLY, "size=64k") == 0;
        if (!mounted)
            QSKIP("running as root and cannot mount a read-only file system");
    } else {
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    }

    TestRecording recording(RecordFormat::Mp4, folder + "/recording", kScaledWidth, kScaledHeight);
    const bool started = recording.start();
    const QString error = recording.lastError();
    if (started) {
        recording.stop();
        recording.waitStopped();
    }
    if (mounted)
        umount(folder.toUtf8().constData());
    QVERIFY(!started);
    QVERIFY2(error.contains(folder), qPrintable(error));
}

void OutputModuleTest::fullDiskStopsWithNoSpace()
{
    if (geteuid() != 0)
        QSKIP("mounting a small file system needs root");
    const QString folder = path("full");
    QVERIFY(QDir().mkpath(folder));
    if (mount("tmpfs", folder.toUtf8().constData(), "tmpfs", 0, "size=256k") != 0)
        QSKIP("cannot mount a small tmpfs here");

    NoiseWindow noise;
    noise.widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&noise.widget));

    TestRecording recording(RecordFormat::Mp4, folder + "/recording", ObsTestSession::kWidth,
                            ObsTestSession::kHeight);
    const bool started = recording.start();
    // The noise keeps changing while it waits, so the file keeps growing.
    const bool stopped
            = started && QTest::qWaitFor([&] { return recording.waitStopped(10); }, 60000);
    const int code = recording.stopCode();
    const QString error = recording.lastError();
    recording.release();
    noise.widget.hide();

    const QString file = folder + "/recording.mp4";
    const QString copy = path("full-copy.mp4");
    QFile::copy(file, copy);
    umount(folder.toUtf8().constData());

    QVERIFY2(started, qPrintable(error));
    QVERIFY2(stopped, "the output never stopped on the full disk");
    QCOMPARE(code, OBS_OUTPUT_NO_SPACE);
    QVERIFY2(!error.isEmpty(), "no last error");
    MediaProbe probe(copy);
    QVERIFY2(probe.ok(), qPrintable(probe.error()));
    QVERIFY2(probe.packetCount("video") > 0, "nothing playable was left");
    QVERIFY2(MediaProbe::runTool("ffmpeg",
                                 {"-nostdin", "-v", "quiet", "-i", copy, "-f", "null", "-"}),
             "what was left does not decode");
}

// A machine without a working card: Automatic stays with x264 and says why; a card's encoder
// chosen anyway, or one that fails as it opens, gives way to x264 and the recording goes on.
void OutputModuleTest::hardwareEncoderThatDoesNotStartFallsBack()
{
    const QString base = path("hardware");
    OBSDataAutoRelease automatic = ObsTestSession::settingsFor(RecordFormat::Mp4, base, 320, 180);
    ObsWrapper::applyVideoEncoder(automatic, OutputFormat::MP4, RecordingQuality::Balanced, 4,
                                  VideoEncoderChoice::Automatic);
    const QList<SCHardwareEncoders::Probe> probes = SCHardwareEncoders::probes();
    QCOMPARE(probes.size(), 2);
    if (SCHardwareEncoders::available().isEmpty()) {
        QCOMPARE(QString(obs_data_get_string(automatic, "video_encoder")), QString("libx264"));
        for (const SCHardwareEncoders::Probe &probe : probes)
            QVERIFY2(!probe.reason.isEmpty(), "a card's encoder that does not work says why");
    } else {
        QVERIFY(QString(obs_data_get_string(automatic, "video_encoder")).startsWith("h264_"));
    }

    // The render node is pointed away, so that the card's encoder fails on any machine.
    qputenv("VISTREL_VAAPI_DEVICE", m_dir.filePath("no-render-node").toUtf8());
    TestRecording recording(RecordFormat::Mp4, base, 320, 180);
    QVERIFY(recording.valid());
    OBSDataAutoRelease settings = obs_output_get_settings(recording.output());
    ObsWrapper::applyVideoEncoder(settings, OutputFormat::MP4, RecordingQuality::Balanced, 4,
                                  VideoEncoderChoice::VaApi);
    QCOMPARE(QString(obs_data_get_string(settings, "video_encoder")), QString("h264_vaapi"));
    QCOMPARE(QString(obs_data_get_string(settings, "video_fallback_encoder")), QString("libx264"));
    obs_output_update(recording.output(), settings);
    QVERIFY2(recording.start(), qPrintable(recording.lastError()));
    QTest::qWait(1500);
    recording.stop();
    QVERIFY(recording.waitStopped());
    QCOMPARE(recording.stopCode(), OBS_OUTPUT_SUCCESS);
    const MediaProbe probe(recording.file());
    QVERIFY2(probe.ok(), qPrintable(probe.error()));
    QCOMPARE(sorted(probe.codecs()), QStringList({"aac", "h264"}));
    QVERIFY(MediaProbe::frameCount(recording.file()).value_or(0) >= 20);
    QFile file(recording.file());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY2(file.readAll().contains("x264 - core"), "the software encoder wrote the picture");
    recording.release();

    // Without a fallback the start fails and says which encoder: no empty file passes as one.
    TestRecording bare(RecordFormat::Mp4, path("hardware-bare"), 320, 180);
    obs_data_set_string(settings, "url", (path("hardware-bare") + ".mp4").toUtf8().constData());
    obs_data_set_string(settings, "video_fallback_encoder", "");
    obs_output_update(bare.output(), settings);
    QVERIFY(!bare.start());
    QVERIFY2(bare.lastError().contains("h264_vaapi"), qPrintable(bare.lastError()));
    qunsetenv("VISTREL_VAAPI_DEVICE");
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    OutputModuleTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test-output-module.moc"
