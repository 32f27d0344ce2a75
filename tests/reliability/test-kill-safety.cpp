// A recording process killed outright leaves files FFmpeg decodes up to shortly before the
// kill, in every format the program writes, and nothing else; killed while paused, up to the
// pause.

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QStringList FORMATS = {"mp4", "avi", "flv", "gif", "mp3", "aac", "flac", "mkv", "webm"};

struct Decoded
{
    bool ok = false;
    int frames = 0;
    double first = 0.0;
    double last = 0.0;
    QString errors;
};

// Decodes one stream of the file completely and returns the time span of its frames.
Decoded decode(const QString &file, const QString &stream)
{
    QProcess ffprobe;
    ffprobe.start("ffprobe",
                  {"-v", "error", "-select_streams", stream, "-show_entries",
                   "frame=best_effort_timestamp_time", "-of", "csv=p=0", file});
    Decoded result;
    if (!ffprobe.waitForFinished(60000))
        return result;
    result.errors = QString::fromUtf8(ffprobe.readAllStandardError()).trimmed();
    result.ok = ffprobe.exitStatus() == QProcess::NormalExit && ffprobe.exitCode() == 0;
    bool any = false;
    for (const QByteArray &line : ffprobe.readAllStandardOutput().split('\n')) {
        bool number = false;
        const double t = line.trimmed().toDouble(&number);
        if (!number)
            continue;
        result.first = any ? std::min(result.first, t) : t;
        result.last = any ? std::max(result.last, t) : t;
        any = true;
        ++result.frames;
    }
    return result;
}

} // namespace

class TestKillSafety : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void killedRecordingsStayDecodable_data();
    void killedRecordingsStayDecodable();
};

void TestKillSafety::killedRecordingsStayDecodable_data()
{
    QTest::addColumn<bool>("paused");
    QTest::newRow("recording") << false;
    QTest::newRow("paused") << true;
}

void TestKillSafety::killedRecordingsStayDecodable()
{
    QFETCH(bool, paused);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QStringList failures;
    // All formats at once from one engine: a kill takes every file down at the same moment.
    QProcess recorder;
    recorder.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VISTREL_PAUSE", paused ? "4" : "");
    recorder.setProcessEnvironment(env);
    recorder.start(RELIABILITY_RECORDER, QStringList {dir.path(), "0"} + FORMATS);
    QVERIFY(recorder.waitForStarted());
    QElapsedTimer clock;
    while (!recorder.readAllStandardOutput().contains("recording")) {
        QVERIFY2(recorder.state() == QProcess::Running, "the recorder ended before recording");
        recorder.waitForReadyRead(60000);
        clock.start();
    }
    double recorded = 0.0;
    if (paused) {
        QByteArray output;
        while (!output.contains("paused") && recorder.state() == QProcess::Running) {
            recorder.waitForReadyRead(20000);
            output += recorder.readAllStandardOutput();
        }
        recorded = clock.elapsed() / 1000.0;
        // What follows the pause is not in the files.
        QTest::qWait(3000);
        recorder.kill();
    } else {
        QTest::qWait(5000);
        recorder.kill();
        recorded = clock.elapsed() / 1000.0;
    }
    QVERIFY(recorder.waitForFinished(10000));
    QCOMPARE(recorder.exitStatus(), QProcess::CrashExit);

    for (const QString &format : FORMATS) {
        const QString file = dir.filePath(format + "." + format);
        if (!QFileInfo::exists(file)) {
            failures << file + " is missing";
            continue;
        }
        const bool audioOnly = format == "mp3" || format == "aac" || format == "flac";
        QStringList streams = {audioOnly ? "a:0" : "v:0"};
        if (format != "gif" && !audioOnly)
            streams << "a:0";
        for (const QString &stream : streams) {
            const Decoded d = decode(file, stream);
            const QString what = QStringLiteral("%1 %2: %3 frames over %4 s of %5 s recorded; %6")
                                         .arg(format, stream)
                                         .arg(d.frames)
                                         .arg(d.last - d.first, 0, 'f', 2)
                                         .arg(recorded, 0, 'f', 2)
                                         .arg(d.errors);
            qInfo().noquote() << what;
            // Matroska's short clusters keep all but the last second.
            const double lost = format == "mkv" ? 1.0 : 2.0;
            if (!d.ok || d.last - d.first < recorded - lost || d.last - d.first > recorded + 0.5)
                failures << what;
        }
    }
    // Work files of a recording have no names on disk: a kill leaves none behind.
    QStringList expected;
    for (const QString &format : FORMATS)
        expected << format + "." + format;
    expected.sort();
    const QStringList left
            = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    if (left != expected)
        failures << "the folder holds " + left.join(", ");
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join("\n")));
}

QTEST_GUILESS_MAIN(TestKillSafety)
#include "test-kill-safety.moc"
