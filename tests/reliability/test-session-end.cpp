// The desktop session ends under the running program: its X server goes away, or it is told to
// end. A recording that runs then is finished whole and stays in the library, the program exits
// with status 0 and leaves no crash report.

#include "control-bus.h"
#include "media-probe.h"
#include "sc-settings.h"

#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

using namespace ControlBus;

class TestSessionEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void endsCleanly_data();
    void endsCleanly();

private:
    QProcessEnvironment environment() const;
    QString dataDir() const { return m_home->filePath("data/Ombrant/Vistrel"); }
    QString log() const;
    QString startRecording();

    std::unique_ptr<QTemporaryDir> m_home;
    QProcess m_server;
    QProcess m_program;
    QString m_display;
};

QProcessEnvironment TestSessionEnd::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", m_home->path());
    env.insert("XDG_CONFIG_HOME", m_home->filePath("config"));
    env.insert("XDG_DATA_HOME", m_home->filePath("data"));
    env.insert("DISPLAY", m_display);
    env.insert("LANGUAGE", "en");
    return env;
}

QString TestSessionEnd::log() const
{
    QString text;
    const QDir logs(dataDir() + "/logs");
    for (const QString &name : logs.entryList({"screen-recorder_*.log"})) {
        QFile file(logs.filePath(name));
        if (file.open(QIODevice::ReadOnly))
            text += QString::fromUtf8(file.readAll());
    }
    return text;
}

void TestSessionEnd::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QSettings settings(m_home->filePath("config/Ombrant/Vistrel.conf"), QSettings::IniFormat);
    settings.setValue(SCSettings::GENERAL_FIRST_RUN, false);
    settings.setValue(SCSettings::GENERAL_LANGUAGE, "en_US");
    settings.sync();

    // A server of this test's own, to be stopped under the program.
    m_server.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1280x720x24", "-nolisten", "tcp"});
    QVERIFY(m_server.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(m_server.canReadLine(), 20000);
    m_display = ":" + QString::fromUtf8(m_server.readLine()).trimmed();

    m_program.setProcessEnvironment(environment());
    m_program.setProcessChannelMode(QProcess::ForwardedChannels);
    m_program.start(VISTREL_EXECUTABLE, {});
    QVERIFY(m_program.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(serviceRunning(), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(log().contains("OBS initialized successfully"), 30000);
}

void TestSessionEnd::cleanup()
{
    for (QProcess *process : {&m_program, &m_server}) {
        if (process->state() != QProcess::NotRunning) {
            process->kill();
            process->waitForFinished();
        }
    }
    QTRY_VERIFY(!serviceRunning());
}

QString TestSessionEnd::startRecording()
{
    QProcess command;
    command.setProcessEnvironment(environment());
    command.start(VISTREL_EXECUTABLE, {"--start-recording", "--format", "MP4", "--no-countdown"});
    if (!command.waitForFinished(60000) || command.exitCode() != 0)
        return {};
    return QString::fromUtf8(command.readAllStandardOutput()).trimmed();
}

void TestSessionEnd::endsCleanly_data()
{
    QTest::addColumn<bool>("recording");
    QTest::addColumn<bool>("serverGoes");
    QTest::newRow("X server stopped while idle") << false << true;
    QTest::newRow("X server stopped while recording") << true << true;
    QTest::newRow("SIGTERM while recording") << true << false;
}

void TestSessionEnd::endsCleanly()
{
    QFETCH(bool, recording);
    QFETCH(bool, serverGoes);
    QString file;
    QElapsedTimer recorded;
    if (recording) {
        file = startRecording();
        QVERIFY2(file.endsWith(".mp4"), qPrintable(file));
        recorded.start();
        QCOMPARE(state(), QStringLiteral("recording"));
        // Long enough that a lost tail would show in the file's length.
        QTest::qWait(3000);
    }
    if (serverGoes)
        m_server.terminate();
    else
        ::kill(static_cast<pid_t>(m_program.processId()), SIGTERM);
    const double seconds = recording ? recorded.elapsed() / 1000.0 : 0.0;

    QVERIFY(m_program.waitForFinished(30000));
    QCOMPARE(m_program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(m_program.exitCode(), 0);
    QVERIFY(QDir(dataDir() + "/logs").entryList({"crash_*"}).isEmpty());
    if (!recording)
        return;

    const MediaProbe probe(file);
    QVERIFY2(probe.ok(), qPrintable(probe.error()));
    QVERIFY(!probe.stream("video").isEmpty() && !probe.stream("audio").isEmpty());
    QString messages;
    QVERIFY2(MediaProbe::decodes(file, &messages), qPrintable(messages));
    // Everything up to the end: the encoder's last frames were written, not lost.
    const double length = probe.packetEnd("video");
    QVERIFY2(length > seconds - 0.4,
             qPrintable(QStringLiteral("%1 s of %2 s").arg(length).arg(seconds)));
    QFile library(dataDir() + "/file_data.json");
    QVERIFY(library.open(QIODevice::ReadOnly));
    QVERIFY(library.readAll().contains(QFileInfo(file).fileName().toUtf8()));
}

QTEST_GUILESS_MAIN(TestSessionEnd)
#include "test-session-end.moc"
