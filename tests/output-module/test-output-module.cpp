#include "media-probe.h"
#include "noise-window.h"
#include "obs-test-session.h"
#include "test-recording.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <sys/mount.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>

Q_DECLARE_METATYPE(RecordFormat)

namespace {

constexpr int kScaledWidth = 320;
constexpr int kScaledHeight = 180;

QString expectedContainer(RecordFormat format)
{
    switch (format) {
    case RecordFormat::Mp4:
        return "mov,mp4,m4a,3gp,3g2,mj2";
    case RecordFormat::Avi:
        return "avi";
    case RecordFormat::Flv:
        return "flv";
    case RecordFormat::Gif:
        return "gif";
    case RecordFormat::Mp3:
        return "mp3";
    case RecordFormat::Aac:
        return "aac";
    case RecordFormat::Flac:
        return "flac";
    }
    return {};
}

QStringList expectedCodecs(RecordFormat format)
{
    switch (format) {
    case RecordFormat::Mp4:
        return {"h264", "aac"};
    case RecordFormat::Avi:
        return {"mpeg4", "mp3"};
    case RecordFormat::Flv:
        return {"flv1", "mp3"};
    case RecordFormat::Gif:
        return {"gif"};
    case RecordFormat::Mp3:
        return {"mp3"};
    case RecordFormat::Aac:
        return {"aac"};
    case RecordFormat::Flac:
        return {"flac"};
    }
    return {};
}

// FLV lists its streams in the order their first packets come.
QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

const RecordFormat kAllFormats[]
        = {RecordFormat::Mp4, RecordFormat::Avi, RecordFormat::Flv, RecordFormat::Gif,
           RecordFormat::Mp3, RecordFormat::Aac, RecordFormat::Flac};

// Plays a tone into the default sink, which the sound source records.
std::unique_ptr<QProcess> playTone(double seconds, double silenceFirst = 0.0)
{
    auto player = std::make_unique<QProcess>();
    player->start("sh",
                  {"-c",
                   QString("sox -q -n -t wav - synth %1 sine 440 pad %2 | paplay")
                           .arg(seconds)
                           .arg(silenceFirst)});
    player->waitForStarted();
    return player;
}

// The child side of the kill test: records until it is killed.
int recordUntilKilled(const QString &basePath)
{
    QTemporaryDir config;
    QString error;
    if (!ObsTestSession::startUp(config.path(), &error)) {
        fprintf(stderr, "start-up failed: %s\n", qPrintable(error));
        return 2;
    }
    auto *recording = new TestRecording(RecordFormat::Mp4, basePath, kScaledWidth, kScaledHeight);
    if (!recording->start()) {
        fprintf(stderr, "start failed: %s\n", qPrintable(recording->lastError()));
        return 3;
    }
    printf("recording\n");
    fflush(stdout);
    for (;;)
        QTest::qWait(1000);
}

} // namespace

class OutputModuleTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void recordsEachFormat_data();
    void recordsEachFormat();
    void gifHasAPalettePerPicture();
    void pausedTimeIsLeftOut();
    void stopWhilePausedEndsAtThePause();
    void killedMp4StaysPlayable();
    void startStopCycles_data();
    void startStopCycles();
    void startIntoReadOnlyFolderFails();
    void fullDiskStopsWithNoSpace();

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

void OutputModuleTest::recordsEachFormat_data()
{
    QTest::addColumn<RecordFormat>("format");
    for (RecordFormat format : kAllFormats)
        QTest::newRow(qPrintable(ObsTestSession::name(format))) << format;
}

void OutputModuleTest::recordsEachFormat()
{
    QFETCH(RecordFormat, format);
    TestRecording recording(format, path("each-" + ObsTestSession::extension(format)), kScaledWidth,
                            kScaledHeight);
    QVERIFY(recording.valid());

    // Silence first: a raw AAC file that misjudges its length does so from its first frames.
    auto tone = playTone(3, 1.2);
    QElapsedTimer clock;
    QVERIFY2(recording.start(), qPrintable(recording.lastError()));
    clock.start();
    QTest::qWait(3000);
    const double recorded = clock.nsecsElapsed() / 1e9;
    recording.stop();
    QVERIFY2(recording.waitStopped(), "the output did not stop");
    QCOMPARE(recording.stopCode(), OBS_OUTPUT_SUCCESS);
    tone->waitForFinished(10000);

    MediaProbe probe(recording.file());
    QVERIFY2(probe.ok(), qPrintable(probe.error()));
    QCOMPARE(probe.formatName(), expectedContainer(format));
    QCOMPARE(sorted(probe.codecs()), sorted(expectedCodecs(format)));

    if (ObsTestSession::hasVideo(format)) {
        const QJsonObject video = probe.stream("video");
        QCOMPARE(video.value("width").toInt(), kScaledWidth);
        QCOMPARE(video.value("height").toInt(), kScaledHeight);
        const double end = probe.packetEnd("video");
        QVERIFY2(qAbs(end - recorded) <= 0.3,
                 qPrintable(QString("video lasts %1 s of %2 s").arg(end).arg(recorded)));
    }
    if (ObsTestSession::hasAudio(format)) {
        const double end = probe.packetEnd("audio");
        QVERIFY2(qAbs(end - recorded) <= 0.3,
                 qPrintable(QString("audio lasts %1 s of %2 s").arg(end).arg(recorded)));
        const double volume = MediaProbe::meanVolume(recording.file());
        QVERIFY2(volume > -40.0, qPrintable(QString("mean volume %1 dB").arg(volume)));
    }
    // The length a player shows, which a raw AAC file gives only through its frame sizes.
    if (format != RecordFormat::Gif) {
        const double shown = probe.formatDuration();
        QVERIFY2(qAbs(shown - recorded) <= 0.3,
                 qPrintable(QString("the file says %1 s of %2 s").arg(shown).arg(recorded)));
    }
    // ADTS gives no duration of its own; ffprobe only guesses it from the bit rate
    if (format != RecordFormat::Aac) {
        const double duration = probe.formatDuration();
        QVERIFY2(qAbs(duration - recorded) <= 0.3,
                 qPrintable(QString("file lasts %1 s of %2 s").arg(duration).arg(recorded)));
    }
    QVERIFY(MediaProbe::decodes(recording.file()));
}

void OutputModuleTest::gifHasAPalettePerPicture()
{
    NoiseWindow noise;
    noise.show();
    QTest::qWait(300);
    TestRecording recording(RecordFormat::Gif, path("palettes"), kScaledWidth, kScaledHeight);
    QVERIFY2(recording.start(), qPrintable(recording.lastError()));
    QTest::qWait(1500);
    recording.stop();
    QVERIFY(recording.waitStopped());
    noise.hide();

    int pictures = 0;
    const QList<QByteArray> palettes = MediaProbe::gifPalettes(recording.file(), &pictures);
    QSet<QByteArray> distinct(palettes.begin(), palettes.end());
    QVERIFY2(pictures >= 10, qPrintable(QString("%1 pictures").arg(pictures)));
    // the noise differs in every picture, so must the palettes
    QVERIFY2(distinct.size() >= pictures / 2,
             qPrintable(QString("%1 palettes for %2 pictures").arg(distinct.size()).arg(pictures)));
}

void OutputModuleTest::pausedTimeIsLeftOut()
{
    TestRecording recording(RecordFormat::Mp4, path("paused"), kScaledWidth, kScaledHeight);
    QElapsedTimer clock;
    QVERIFY2(recording.start(), qPrintable(recording.lastError()));
    clock.start();
    QTest::qWait(1500);
    QVERIFY(recording.pause(true));
    const qint64 pausedAt = clock.nsecsElapsed();
    QTest::qWait(1200);
    QVERIFY(recording.pause(false));
    const qint64 paused = clock.nsecsElapsed() - pausedAt;
    QTest::qWait(1500);
    const double recorded = (clock.nsecsElapsed() - paused) / 1e9;
    recording.stop();
    QVERIFY(recording.waitStopped());
    QCOMPARE(recording.stopCode(), OBS_OUTPUT_SUCCESS);

    MediaProbe probe(recording.file());
    QVERIFY2(probe.ok(), qPrintable(probe.error()));
    const double video = probe.packetEnd("video");
    const double audio = probe.packetEnd("audio");
    QVERIFY2(qAbs(video - recorded) <= 0.3,
             qPrintable(QString("video lasts %1 s of %2 s").arg(video).arg(recorded)));
    QVERIFY2(qAbs(audio - recorded) <= 0.3,
             qPrintable(QString("audio lasts %1 s of %2 s").arg(audio).arg(recorded)));
}

void OutputModuleTest::stopWhilePausedEndsAtThePause()
{
    // a sound-only file: its pauses run on the picture clock all the same
    TestRecording recording(RecordFormat::Flac, path("paused-stop"), kScaledWidth, kScaledHeight);
    QElapsedTimer clock;
    QVERIFY2(recording.start(), qPrintable(recording.lastError()));
    clock.start();
    QTest::qWait(1500);
    QVERIFY(recording.pause(true));
    const double recorded = clock.nsecsElapsed() / 1e9;
    QTest::qWait(1000);
    recording.stop();
    QVERIFY(recording.waitStopped());
    QCOMPARE(recording.stopCode(), OBS_OUTPUT_SUCCESS);

    MediaProbe probe(recording.file());
    QVERIFY2(probe.ok(), qPrintable(probe.error()));
    const double audio = probe.packetEnd("audio");
    QVERIFY2(qAbs(audio - recorded) <= 0.3,
             qPrintable(QString("audio lasts %1 s of %2 s").arg(audio).arg(recorded)));
}

void OutputModuleTest::killedMp4StaysPlayable()
{
    const QString base = path("killed");
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {"--record-until-killed", base});
    QVERIFY(child.waitForStarted());
    // libobs logs to the same stdout; wait for the child's own line
    bool recording = false;
    while (!recording && child.waitForReadyRead(60000)) {
        while (child.canReadLine())
            recording = recording || child.readLine().trimmed() == "recording";
    }
    QVERIFY2(recording, "the child never started recording");
    QTest::qWait(4000);
    child.kill(); // SIGKILL: no trailer, no clean-up
    QVERIFY(child.waitForFinished(10000));

    const QString file = base + ".mp4";
    QString messages;
    QVERIFY2(MediaProbe::decodes(file, &messages), qPrintable(messages));
    MediaProbe probe(file);
    QVERIFY2(probe.ok(), qPrintable(probe.error()));
    QCOMPARE(probe.formatName(), expectedContainer(RecordFormat::Mp4));
    const double video = probe.packetEnd("video");
    QVERIFY2(video >= 2.0, qPrintable(QString("only %1 s survived").arg(video)));
}

void OutputModuleTest::startStopCycles_data()
{
    recordsEachFormat_data();
}

void OutputModuleTest::startStopCycles()
{
    QFETCH(RecordFormat, format);
    const QString name = "cycle-" + ObsTestSession::extension(format);
    for (int i = 0; i < 20; ++i) {
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
        if (i % 5 == 4) {
            MediaProbe probe(file);
            QVERIFY2(probe.ok(), qPrintable(file + ": " + probe.error()));
            QCOMPARE(sorted(probe.codecs()), sorted(expectedCodecs(format)));
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
    noise.show();
    QTest::qWait(300);

    TestRecording recording(RecordFormat::Mp4, folder + "/recording", ObsTestSession::kWidth,
                            ObsTestSession::kHeight);
    const bool started = recording.start();
    bool stopped = false;
    if (started) {
        QElapsedTimer guard;
        guard.start();
        while (!(stopped = recording.waitStopped(100)) && guard.elapsed() < 60000)
            QTest::qWait(10);
    }
    const int code = recording.stopCode();
    const QString error = recording.lastError();
    recording.release();
    noise.hide();

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
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-nostdin", "-v", "quiet", "-i", copy, "-f", "null", "-"});
    QVERIFY(ffmpeg.waitForFinished(60000));
    QCOMPARE(ffmpeg.exitCode(), 0);
}

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc >= 3 && strcmp(argv[1], "--record-until-killed") == 0)
        return recordUntilKilled(QString::fromLocal8Bit(argv[2]));
    OutputModuleTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test-output-module.moc"
