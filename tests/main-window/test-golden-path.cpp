// The program as a user meets it: the real binary on the test desktop with a private home,
// driven by the real recording hotkey, a tone playing into the sound server.
// The recorded files are checked with ffprobe and the library file as stored on disk.

#include "desktop-input.h"
#include "media-probe.h"
#include "sc-global-hotkey.h"
#include "sc-settings.h"

#include <QApplication>
#include <QDirIterator>
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
    void initTestCase();
    void init();
    void cleanup();
    void recordsTheScreenWithSoundFromTheHotkey();
    void recordsSoundAlone();

private:
    void writeSettings(const QString &format, bool screen = true);
    void startProgram();
    bool waitForLog(const QString &line, int timeoutMs);
    QString logText() const;
    void playTone(int seconds);
    // Presses the hotkey, records for `seconds` with a tone, presses it again and waits
    // until the window shows its Files page.
    void recordWithHotkey(int seconds);
    QJsonObject firstLibraryEntry() const;

    QString m_config;
    QString m_data;
    QString m_videos;
    QProcess m_program;
    QProcess m_tone;
};

void TestGoldenPath::initTestCase()
{
    m_config = g_home->filePath("config");
    m_data = g_home->filePath("data");
    m_videos = g_home->filePath("Videos/Vistrel");
}

void TestGoldenPath::init()
{
    QDir(m_config).removeRecursively();
    QDir(m_data).removeRecursively();
}

void TestGoldenPath::cleanup()
{
    if (m_tone.state() != QProcess::NotRunning) {
        m_tone.kill();
        m_tone.waitForFinished();
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

void TestGoldenPath::startProgram()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", g_home->path());
    env.insert("XDG_CONFIG_HOME", m_config);
    env.insert("XDG_DATA_HOME", m_data);
    m_program.setProcessEnvironment(env);
    m_program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_program.setStandardOutputFile(QProcess::nullDevice());
    m_program.start(VISTREL_EXECUTABLE, {});
    QVERIFY(m_program.waitForStarted());
    QVERIFY2(waitForLog("OBS initialized successfully", 30000), qPrintable(logText()));
}

QString TestGoldenPath::logText() const
{
    QString text;
    QDirIterator it(m_data, {"*.log"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly))
            text += QString::fromUtf8(file.readAll());
    }
    return text;
}

bool TestGoldenPath::waitForLog(const QString &line, int timeoutMs)
{
    return QTest::qWaitFor([&] { return logText().contains(line); }, timeoutMs);
}

void TestGoldenPath::playTone(int seconds)
{
    m_tone.start(
            "sh",
            {"-c", QString("sox -q -n -t wav - synth %1 sine 440 vol 0.5 | paplay").arg(seconds)});
    QVERIFY(m_tone.waitForStarted());
}

void TestGoldenPath::recordWithHotkey(int seconds)
{
    // Countdown (3 s) plus the recording itself, with some slack.
    playTone(seconds + 6);
    const int startedBefore = logText().count("Recording started...");
    QProcess::execute("xdotool", {"key", "F9"});
    QVERIFY2(
            QTest::qWaitFor([&] { return logText().count("Recording started...") > startedBefore; },
                            20000),
            "the hotkey did not start a recording");
    QTest::qWait(seconds * 1000);
    const int filesPagesBefore = logText().count("Showing the Files page");
    QProcess::execute("xdotool", {"key", "F9"});
    QVERIFY2(QTest::qWaitFor(
                     [&] { return logText().count("Showing the Files page") > filesPagesBefore; },
                     20000),
             "the window did not show its Files page after the stop");
}

QJsonObject TestGoldenPath::firstLibraryEntry() const
{
    QFile file(m_data + "/" + SCSettings::ORGANIZATION + "/" + SCSettings::APPLICATION
               + "/file_data.json");
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).array().at(0).toObject();
}

void TestGoldenPath::recordsTheScreenWithSoundFromTheHotkey()
{
    writeSettings("MP4");
    // Another program holds the screenshot key: the user is told once, the rest works.
    SCGlobalHotkey taken(QKeySequence("F10"), true);
    QVERIFY(taken.isRegistered());
    startProgram();
    QVERIFY(waitForLog("Hotkey F10 could not be registered", 5000));
    const QString box = xdotoolOutput(
            {"search", "--sync", "--onlyvisible", "--name", "Hotkey Not Available"});
    QVERIFY2(!box.isEmpty(), "the taken hotkey was not shown to the user");
    QProcess::execute("xdotool",
                      {"windowactivate", "--sync", box.section('\n', 0, 0), "key", "Return"});

    recordWithHotkey(3);
    const QJsonObject entry = firstLibraryEntry();
    const QString file = entry["filepath"].toString();
    QCOMPARE(QFileInfo(file).absolutePath(), m_videos);
    QCOMPARE(entry["properties"]["type"].toString(), QString("video"));
    QVERIFY(file.endsWith(".mp4"));
    QCOMPARE(MediaProbe(file).streamSummary(), QString("video,1920,1080\naudio"));
    const double duration = MediaProbe::decodedDuration(file);
    QVERIFY2(duration > 2.0 && duration < 4.5, qPrintable(QString::number(duration)));
    const double volume = MediaProbe::loudness(file).mean;
    QVERIFY2(volume > -30.0, qPrintable(QString("mean volume %1 dB").arg(volume)));
}

void TestGoldenPath::recordsSoundAlone()
{
    // As the program stores a sound format: the screen switch goes off with it.
    writeSettings("MP3", false);
    startProgram();
    recordWithHotkey(3);
    const QJsonObject entry = firstLibraryEntry();
    const QString file = entry["filepath"].toString();
    QCOMPARE(QFileInfo(file).absolutePath(), m_videos);
    QCOMPARE(entry["properties"]["type"].toString(), QString("audio"));
    QCOMPARE(MediaProbe(file).streamSummary(), QString("audio"));
    const double duration = MediaProbe::decodedDuration(file);
    QVERIFY2(duration > 2.0 && duration < 4.5, qPrintable(QString::number(duration)));
    QVERIFY(MediaProbe::loudness(file).mean > -30.0);
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
