// The program as a user meets it: the real binary on the test desktop with a private home,
// driven by the real recording hotkey, a tone playing into the sound server, and killed while
// it records. The recorded files are checked with ffprobe and the library file as stored on disk.

#include "desktop-input.h"
#include "lean-a-files.h"
#include "media-probe.h"
#include "sc-global-hotkey.h"
#include "sc-settings.h"
#include "tone-player.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QTemporaryDir *g_home = nullptr;

} // namespace

class TestGoldenPath : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void recordsFromTheHotkey_data();
    void recordsFromTheHotkey();
    void killedProgramKeepsItsRecording();
    void reviewComesBeforeTheMainWindow();

private:
    void writeSettings(const QString &format, bool screen = true);
    // Starts the program and, unless its sound server is away, waits until its engine is up.
    void startProgram(const QString &soundServer = QString());
    bool waitForMoreLog(const QString &line, int timeoutMs = 30000);
    QJsonObject firstLibraryEntry() const;

    const QString m_config = g_home->filePath("config");
    const QString m_data = g_home->filePath("data");
    const QString m_videos = g_home->filePath("Videos/Vistrel");
    QProcess m_program;
    std::unique_ptr<QProcess> m_tone;
};

void TestGoldenPath::init()
{
    for (const QString &folder : {m_config, m_data, m_videos})
        QDir(folder).removeRecursively();
}

void TestGoldenPath::cleanup()
{
    if (m_tone) {
        m_tone->kill();
        m_tone->waitForFinished();
    }
    if (m_program.state() != QProcess::NotRunning) {
        m_program.terminate();
        if (!m_program.waitForFinished(15000)) {
            m_program.kill();
            m_program.waitForFinished();
        }
    }
}

void TestGoldenPath::writeSettings(const QString &format, bool screen)
{
    QSettings settings(m_config + "/" + SCSettings::ORGANIZATION + "/" + SCSettings::APPLICATION
                               + ".conf",
                       QSettings::IniFormat);
    settings.setValue(SCSettings::GENERAL_FIRST_RUN, false);
    settings.setValue(SCSettings::RECORDING_FORMAT, format);
    settings.setValue(SCSettings::RECORDING_SCREEN_SWITCH, screen);
}

void TestGoldenPath::startProgram(const QString &soundServer)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!soundServer.isEmpty())
        env.insert("PULSE_SERVER", soundServer);
    env.insert("HOME", g_home->path());
    env.insert("XDG_CONFIG_HOME", m_config);
    env.insert("XDG_DATA_HOME", m_data);
    m_program.setProcessEnvironment(env);
    m_program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_program.setStandardOutputFile(QProcess::nullDevice());
    const int before = logsUnder(m_data).count("OBS initialized successfully");
    m_program.start(VISTREL_EXECUTABLE, {});
    QVERIFY(m_program.waitForStarted());
    QVERIFY2(!soundServer.isEmpty()
                     || QTest::qWaitFor(
                             [&] {
                                 return logsUnder(m_data).count("OBS initialized successfully")
                                         > before;
                             },
                             30000),
             qPrintable(logsUnder(m_data)));
}

// True once the log holds one more of `line` than when it was called.
bool TestGoldenPath::waitForMoreLog(const QString &line, int timeoutMs)
{
    const int before = logsUnder(m_data).count(line);
    return QTest::qWaitFor([&] { return logsUnder(m_data).count(line) > before; }, timeoutMs);
}

QJsonObject TestGoldenPath::firstLibraryEntry() const
{
    return QJsonDocument::fromJson(readAll(m_data + "/" + SCSettings::ORGANIZATION + "/"
                                           + SCSettings::APPLICATION + "/file_data.json"))
            .array()
            .at(0)
            .toObject();
}

void TestGoldenPath::recordsFromTheHotkey_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("streams");
    QTest::newRow("screen with sound") << "MP4"
                                       << "video"
                                       << "video,1920,1080\naudio";
    QTest::newRow("sound alone") << "MP3"
                                 << "audio"
                                 << "audio";
}

// Presses the hotkey, records three seconds with a tone, presses it again and waits until the
// window shows its Files page; the file is where the library says, with what was asked for.
void TestGoldenPath::recordsFromTheHotkey()
{
    QFETCH(QString, format);
    QFETCH(QString, type);
    QFETCH(QString, streams);
    // As the program stores a sound format: the screen switch goes off with it.
    writeSettings(format, type == "video");
    // Another program holds the screenshot key: the user is told once, the rest works.
    SCGlobalHotkey taken(QKeySequence("F10"), true);
    QVERIFY(taken.isRegistered());
    startProgram();
    QVERIFY(QTest::qWaitFor(
            [&] { return logsUnder(m_data).contains("Hotkey F10 could not be registered"); },
            5000));
    const QString box = xdotoolOutput(
            {"search", "--sync", "--onlyvisible", "--name", "Hotkey Not Available"});
    QVERIFY2(!box.isEmpty(), "the taken hotkey was not shown to the user");
    xdotool({"windowactivate", "--sync", box.section('\n', 0, 0), "key", "Return"});

    // Countdown (3 s) plus the recording itself, with some slack.
    m_tone = playTone(9, QString(), 440);
    // Pressed from the wait's loop, once the wait has counted the lines so far.
    QTimer::singleShot(0, [] { xdotool({"key", "F9"}); });
    QVERIFY2(waitForMoreLog("Recording started...", 20000), "the hotkey did not start a recording");
    QTest::qWait(3000);
    QTimer::singleShot(0, [] { xdotool({"key", "F9"}); });
    QVERIFY2(waitForMoreLog("Showing the Files page", 20000),
             "the window did not show its Files page after the stop");

    const QJsonObject entry = firstLibraryEntry();
    const QString file = entry["filepath"].toString();
    QCOMPARE(QFileInfo(file).absolutePath(), m_videos);
    QCOMPARE(QFileInfo(file).suffix(), format.toLower());
    QCOMPARE(entry["properties"]["type"].toString(), type);
    QCOMPARE(MediaProbe(file).streamSummary(), streams);
    const double duration = MediaProbe::decodedDuration(file);
    QVERIFY2(duration > 2.0 && duration < 4.5, qPrintable(QString::number(duration)));
    const double volume = MediaProbe::loudness(file).mean;
    QVERIFY2(volume > -30.0, qPrintable(QString("mean volume %1 dB").arg(volume)));
}

// Killed outright while it records, the program's next start keeps the library entry written
// when the recording began, and the file decodes up to shortly before the kill.
void TestGoldenPath::killedProgramKeepsItsRecording()
{
    writeSettings("MP4");
    startProgram();
    xdotool({"key", "F9"});
    QString file;
    const auto started = [&] {
        const QFileInfoList files = QDir(m_videos).entryInfoList({"*.mp4"}, QDir::Files);
        if (!files.isEmpty() && files.first().size() > 0)
            file = files.first().filePath();
        return !file.isEmpty();
    };
    QVERIFY2(QTest::qWaitFor(started, 30000), "no recording started on the hotkey");
    QElapsedTimer clock;
    clock.start();
    QTest::qWait(5000);
    m_program.kill();
    const double recorded = clock.elapsed() / 1000.0;
    QVERIFY(m_program.waitForFinished(10000));

    startProgram();
    QCOMPARE(firstLibraryEntry()["filepath"].toString(), file);
    const auto times
            = MediaProbe::runTool("ffprobe",
                                  {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                   "frame=best_effort_timestamp_time", "-of", "csv=p=0", file});
    QVERIFY2(times, "ffprobe could not decode the file");
    const QList<QByteArray> frames = times->trimmed().split('\n');
    const double span = frames.last().toDouble() - frames.first().toDouble();
    QVERIFY2(span >= recorded - 2.0,
             qPrintable(QString("pictures over %1 s of %2 s recorded").arg(span).arg(recorded)));
}

// Without a sound server the program shows the permission review first, and makes its main
// window only once the review is closed.
void TestGoldenPath::reviewComesBeforeTheMainWindow()
{
    writeSettings("MP4");
    startProgram("unix:/nonexistent/vistrel-test/pulse/native");
    QString review;
    QTRY_VERIFY_WITH_TIMEOUT(!(review = xdotoolOutput({"search", "--onlyvisible", "--name",
                                                       "^Review App Permissions$"}))
                                      .isEmpty(),
                             30000);
    QString log = logsUnder(m_data);
    QVERIFY2(log.contains("Showing the permission review: screen 1, camera 1, sound server 0, "
                          "global keys 1"),
             qPrintable(log));
    QVERIFY(!log.contains("Creating main window"));
    QCOMPARE(m_program.state(), QProcess::Running);

    // Closing by the window manager, as a user's close button does.
    xdotool({"windowactivate", "--sync", review.section('\n', 0, 0)});
    xdotool({"key", "--clearmodifiers", "alt+F4"});
    QTRY_VERIFY_WITH_TIMEOUT(logsUnder(m_data).contains("Main window displayed"), 30000);
    log = logsUnder(m_data);
    QVERIFY(log.indexOf("Permission review closed") < log.indexOf("Creating main window"));
    QCOMPARE(m_program.state(), QProcess::Running);
}

int main(int argc, char **argv)
{
    QTemporaryDir home;
    g_home = &home;
    // This process keeps its own settings and library; the program gets the ones above.
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("own-config")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("own-data")).toLocal8Bit());
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(SCSettings::ORGANIZATION);
    QCoreApplication::setApplicationName(SCSettings::APPLICATION);
    TestGoldenPath test;
    return QTest::qExec(&test, argc, argv);
}

#include "test-golden-path.moc"
