// A recording process killed outright leaves files FFmpeg decodes up to shortly before the
// kill, in every format the program writes.

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QStringList FORMATS = {"mp4", "avi", "flv", "gif", "mp3", "aac", "flac"};

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
    void killedRecordingsStayDecodable();
    void libraryListsTheRecordingOfAKilledProgram();
};

void TestKillSafety::killedRecordingsStayDecodable()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QStringList failures;
    // All formats at once from one engine: a kill takes every file down at the same moment.
    QProcess recorder;
    recorder.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    recorder.start(RELIABILITY_RECORDER, QStringList {dir.path(), "0"} + FORMATS);
    QVERIFY(recorder.waitForStarted());
    QElapsedTimer clock;
    while (!recorder.readAllStandardOutput().contains("recording")) {
        QVERIFY2(recorder.state() == QProcess::Running, "the recorder ended before recording");
        recorder.waitForReadyRead(60000);
        clock.start();
    }
    QTest::qWait(5000);
    recorder.kill();
    const double recorded = clock.elapsed() / 1000.0;
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
            if (!d.ok || d.last - d.first < recorded - 2.0)
                failures << what;
        }
    }
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join("\n")));
}

// The program itself, started with a home of its own, records on its hotkey and is killed;
// its next start keeps the library entry written when the recording began.
void TestKillSafety::libraryListsTheRecordingOfAKilledProgram()
{
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QString saveFolder = home.filePath("videos");
    QVERIFY(QDir().mkpath(saveFolder));
    QVERIFY(QDir().mkpath(home.filePath("tmp")));
    {
        QSettings settings(home.filePath("config/Ombrant/Vistrel.conf"), QSettings::IniFormat);
        settings.setValue("General/firstRun", false);
        settings.setValue("recording/format", "MP4");
        settings.setValue("recording/saveLocation", saveFolder);
        settings.setValue("hotkeys/recording", "F9");
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.insert("XDG_DATA_HOME", home.filePath("data"));
    env.insert("XDG_CONFIG_HOME", home.filePath("config"));
    env.insert("TMPDIR", home.filePath("tmp"));
    env.insert("LANG", "en_US.UTF-8");
    const QString logDir = home.filePath("data/Ombrant/Vistrel/logs");
    const auto log = [&logDir]() {
        QString text;
        for (const QString &name : QDir(logDir).entryList({"*.log"}, QDir::Files, QDir::Name)) {
            QFile file(QDir(logDir).filePath(name));
            if (file.open(QIODevice::ReadOnly))
                text += QString::fromUtf8(file.readAll());
        }
        return text;
    };

    QProcess program;
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.setStandardOutputFile(QProcess::nullDevice());
    program.start(VISTREL_EXECUTABLE, {});
    QTRY_VERIFY_WITH_TIMEOUT(log().contains("Main window displayed"), 60000);
    // The hotkey is grabbed on the root window, so any focus will do; the recording starts
    // after a countdown.
    QProcess::execute("xdotool", {"key", "F9"});
    QString file;
    for (int i = 0; i < 600 && file.isEmpty(); ++i) {
        const QStringList files = QDir(saveFolder).entryList({"*.mp4"}, QDir::Files);
        if (!files.isEmpty() && QFileInfo(QDir(saveFolder).filePath(files.first())).size() > 0)
            file = QDir(saveFolder).filePath(files.first());
        else
            QTest::qWait(50);
    }
    QVERIFY2(!file.isEmpty(), "no recording started on the hotkey");
    QElapsedTimer clock;
    clock.start();
    QTest::qWait(5000);
    program.kill();
    const double recorded = clock.elapsed() / 1000.0;
    QVERIFY(program.waitForFinished(10000));

    QProcess next;
    next.setProcessEnvironment(env);
    next.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    next.setStandardOutputFile(QProcess::nullDevice());
    const int displayedBefore = log().count("Main window displayed");
    next.start(VISTREL_EXECUTABLE, {});
    QTRY_VERIFY_WITH_TIMEOUT(log().count("Main window displayed") > displayedBefore, 60000);
    QFile library(home.filePath("data/Ombrant/Vistrel/file_data.json"));
    QVERIFY(library.open(QIODevice::ReadOnly));
    const QJsonArray entries = QJsonDocument::fromJson(library.readAll()).array();
    const bool listed = std::any_of(entries.begin(), entries.end(), [&file](const QJsonValue &e) {
        return e.toObject().value("filepath").toString() == file;
    });
    QVERIFY2(listed, qPrintable(file + " is not in the library"));
    next.terminate();
    if (!next.waitForFinished(20000))
        next.kill();

    const Decoded d = decode(file, "v:0");
    const QString what = QStringLiteral("%1 frames over %2 s of %3 s recorded; %4")
                                 .arg(d.frames)
                                 .arg(d.last - d.first, 0, 'f', 2)
                                 .arg(recorded, 0, 'f', 2)
                                 .arg(d.errors);
    qInfo().noquote() << what;
    QVERIFY2(d.ok && d.last - d.first >= recorded - 2.0, qPrintable(what));
}

QTEST_GUILESS_MAIN(TestKillSafety)
#include "test-kill-safety.moc"
