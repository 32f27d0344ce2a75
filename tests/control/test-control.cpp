// The running program driven the way scripts and desktop key bindings drive it: a second
// process with a command line, and calls and signals on the private session bus. Files are
// checked with ffprobe and against the library as stored on disk.

#include "control-bus.h"
#include "desktop-input.h"
#include "media-probe.h"
#include "sc-settings.h"
#include "test-home.h"

#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QImage>
#include <QProcess>
#include <QtTest>

namespace {

using namespace ControlBus;

struct Outcome
{
    int status = -1;
    QString out;
    QString err;
};

} // namespace

class TestControl : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void commandLineRecordsAndRefuses();
    void busCallsAndSignals();
    void screenshots();
    void commandStartsTheProgramAndQuitEndsIt();

public Q_SLOTS:
    void onSignal(const QDBusMessage &message) { m_signals << message.member(); }

private:
    QProcessEnvironment environment() const;
    Outcome run(const QStringList &arguments, int timeoutMs = 60000);
    void startProgram(const QStringList &arguments = {},
                      const QList<std::pair<QString, QString>> &overrides = {});
    QString library() const;
    QString settingsFile() const
    {
        return m_home.configDir() + "/" + SCSettings::ORGANIZATION + "/" + SCSettings::APPLICATION
                + ".conf";
    }

    TestHome m_home;
    QProcess m_program;
    QStringList m_signals;
};

QProcessEnvironment TestControl::environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", m_home.path());
    env.insert("XDG_CONFIG_HOME", m_home.configDir());
    env.insert("XDG_DATA_HOME", m_home.dataDir());
    env.insert("LANGUAGE", "en");
    return env;
}

Outcome TestControl::run(const QStringList &arguments, int timeoutMs)
{
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(VISTREL_EXECUTABLE, arguments);
    Outcome outcome;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return outcome;
    }
    outcome.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    outcome.out = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    outcome.err = QString::fromUtf8(process.readAllStandardError()).trimmed();
    return outcome;
}

QString TestControl::library() const
{
    QFile file(m_home.dataDir() + "/" + SCSettings::ORGANIZATION + "/" + SCSettings::APPLICATION
               + "/file_data.json");
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void TestControl::startProgram(const QStringList &arguments,
                               const QList<std::pair<QString, QString>> &overrides)
{
    QProcessEnvironment env = environment();
    for (const auto &[name, value] : overrides)
        env.insert(name, value);
    m_program.setProcessEnvironment(env);
    m_program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_program.setStandardOutputFile(QProcess::nullDevice());
    m_program.start(VISTREL_EXECUTABLE, arguments);
    QVERIFY(m_program.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(serviceRunning(), 30000);
}

void TestControl::initTestCase()
{
    QSettings settings(settingsFile(), QSettings::IniFormat);
    settings.setValue(SCSettings::GENERAL_FIRST_RUN, false);
    settings.setValue(SCSettings::GENERAL_LANGUAGE, "en_US");
    settings.sync();
    QDBusConnection bus = QDBusConnection::sessionBus();
    for (const char *name :
         {"RecordingStarted", "RecordingFinished", "RecordingFailed", "ScreenshotSaved"})
        QVERIFY(bus.connect(SERVICE, PATH, INTERFACE, name, this, SLOT(onSignal(QDBusMessage))));

    // Without a running program: nothing starts for a stop, and bad command lines are refused.
    const Outcome stop = run({"--stop-recording"});
    QCOMPARE(stop.status, 1);
    QVERIFY2(stop.err.contains("Vistrel is not running"), qPrintable(stop.err));
    const Outcome bogus = run({"--start-recording", "--bogus"});
    QCOMPARE(bogus.status, 2);
    QVERIFY2(bogus.err.contains("bogus") && bogus.err.contains("--toggle-recording"),
             qPrintable(bogus.err));
    QCOMPARE(run({"--show", "--quit"}).status, 2);
    const Outcome version = run({"--version"});
    QCOMPARE(version.status, 0);
    QCOMPARE(version.out, QStringLiteral("Vistrel " VISTREL_VERSION));
    QVERIFY(!serviceRunning());

    startProgram();
}

void TestControl::cleanupTestCase()
{
    if (m_program.state() != QProcess::NotRunning) {
        m_program.kill();
        m_program.waitForFinished();
    }
}

void TestControl::commandLineRecordsAndRefuses()
{
    const Outcome start = run({"--start-recording", "--area", "region", "--region",
                               "100,100,640x360", "--format", "MP4", "--no-countdown"});
    QVERIFY2(start.status == 0, qPrintable(start.err));
    QVERIFY2(start.out.endsWith(".mp4"), qPrintable(start.out));
    QCOMPARE(state(), QStringLiteral("recording"));
    QElapsedTimer clock;
    clock.start();

    // Refusals leave the recording running where it was.
    const QList<std::pair<QStringList, QString>> refused = {
            {{"--start-recording"}, "A recording is already running"},
            {{"--start-recording", "--format", "MOV"}, "Unknown format: MOV"},
            {{"--start-recording", "--region", "0,0,0x0"}, "The region 0,0,0x0 is empty"},
    };
    for (const auto &[arguments, message] : refused) {
        const Outcome outcome = run(arguments);
        QCOMPARE(outcome.status, 1);
        QVERIFY2(outcome.err.contains(message), qPrintable(outcome.err));
    }
    QCOMPARE(state(), QStringLiteral("recording"));

    // Paused by command, then by the hotkey; the paused time is not in the file.
    QElapsedTimer paused;
    qint64 pausedMs = 0;
    QTest::qWait(1000);
    QCOMPARE(run({"--pause-recording"}).status, 0);
    QTRY_COMPARE(state(), QStringLiteral("paused"));
    paused.start();
    QCOMPARE(run({"--pause-recording"}).status, 0);
    QCOMPARE(state(), QStringLiteral("paused"));
    QTest::qWait(1500);
    QCOMPARE(run({"--resume-recording"}).status, 0);
    QTRY_COMPARE(state(), QStringLiteral("recording"));
    pausedMs += paused.elapsed();
    QTest::qWait(1000);
    QVERIFY(xdotool({"key", "F8"}));
    QTRY_COMPARE(state(), QStringLiteral("paused"));
    paused.start();
    QTest::qWait(1000);
    QVERIFY(xdotool({"key", "F8"}));
    QTRY_COMPARE(state(), QStringLiteral("recording"));
    pausedMs += paused.elapsed();
    QTest::qWait(500);

    const Outcome stop = run({"--stop-recording"});
    const double recorded = (clock.elapsed() - pausedMs) / 1000.0;
    QVERIFY2(stop.status == 0, qPrintable(stop.err));
    QCOMPARE(stop.out, start.out);
    QCOMPARE(state(), QStringLiteral("idle"));
    // Whole when the stop answers, and in the library.
    const MediaProbe probe(stop.out);
    QVERIFY2(probe.ok(), qPrintable(probe.error()));
    QCOMPARE(probe.stream("video").value("width").toInt(), 640);
    QCOMPARE(probe.stream("video").value("height").toInt(), 360);
    // Each pause is measured from outside, a command's start-up apart.
    QVERIFY2(qAbs(probe.packetEnd("video") - recorded) <= 0.6,
             qPrintable(QStringLiteral("%1 s in the file, %2 s recorded")
                                .arg(probe.packetEnd("video"))
                                .arg(recorded)));
    QVERIFY(library().contains(QFileInfo(stop.out).fileName()));
    QTRY_VERIFY2(m_signals == QStringList({"RecordingStarted", "RecordingFinished"}),
                 qPrintable(m_signals.join(' ')));

    for (const char *command : {"--stop-recording", "--pause-recording", "--resume-recording"}) {
        const Outcome idle = run({command});
        QCOMPARE(idle.status, 1);
        QVERIFY2(idle.err.contains("No recording is running"), qPrintable(idle.err));
    }
}

void TestControl::busCallsAndSignals()
{
    m_signals.clear();
    QDBusInterface control(SERVICE, PATH, INTERFACE);
    control.setTimeout(60000);
    // A toggle answers once the recording runs, and the second once its file is whole.
    QDBusReply<void> first = control.call("ToggleRecording");
    QVERIFY2(first.isValid(), qPrintable(first.error().message()));
    QCOMPARE(state(), QStringLiteral("recording"));
    QDBusReply<void> second = control.call("ToggleRecording");
    QVERIFY2(second.isValid(), qPrintable(second.error().message()));
    QCOMPARE(state(), QStringLiteral("idle"));
    QTRY_VERIFY2(m_signals == QStringList({"RecordingStarted", "RecordingFinished"}),
                 qPrintable(m_signals.join(' ')));

    QDBusReply<QString> stop = control.call("StopRecording");
    QCOMPARE(stop.error().name(), QStringLiteral("org.ombrant.Vistrel1.Error.NotRecording"));
    QDBusReply<QString> area = control.call("StartRecording", QVariantMap {{"area", "moon"}});
    QCOMPARE(area.error().name(), QStringLiteral("org.ombrant.Vistrel1.Error.InvalidArgument"));
    QCOMPARE(state(), QStringLiteral("idle"));
}

void TestControl::screenshots()
{
    m_signals.clear();
    const QString file = m_home.filePath("shot.png");
    const Outcome saved = run({"--screenshot", "full", "--output", file});
    QVERIFY2(saved.status == 0, qPrintable(saved.err));
    QCOMPARE(saved.out, file);
    QCOMPARE(QImage(file).size(), QGuiApplication::primaryScreen()->size());
    QTRY_COMPARE(m_signals, QStringList({"ScreenshotSaved"}));

    QGuiApplication::clipboard()->clear();
    const Outcome copied = run({"--screenshot", "full", "--clipboard"});
    QVERIFY2(copied.status == 0, qPrintable(copied.err));
    QTRY_COMPARE(QGuiApplication::clipboard()->image().size(),
                 QGuiApplication::primaryScreen()->size());

    const Outcome missing = run({"--screenshot", "full", "--output", "/nonexistent/x.png"});
    QCOMPARE(missing.status, 1);
    QVERIFY2(missing.err.contains("does not exist"), qPrintable(missing.err));
    const Outcome tooLong = run({"--screenshot", "full", "--delay", "61"});
    QCOMPARE(tooLong.status, 1);
    QVERIFY2(tooLong.err.contains("The delay must be 0 to 60 seconds: 61"),
             qPrintable(tooLong.err));
    // Full screens are no region to repeat.
    const Outcome none = run({"--screenshot", "last-region", "--output", file});
    QCOMPARE(none.status, 1);
    QVERIFY2(none.err.contains("No region has been captured yet."), qPrintable(none.err));
}

void TestControl::commandStartsTheProgramAndQuitEndsIt()
{
    QCOMPARE(run({"--quit"}).status, 0);
    QVERIFY(m_program.waitForFinished(30000));
    QCOMPARE(m_program.exitCode(), 0);
    QTRY_VERIFY(!serviceRunning());

    // With none running, the command starts the program, which then carries it out.
    startProgram({"--start-recording", "--format", "MP3", "--no-countdown"});
    QTRY_COMPARE_WITH_TIMEOUT(state(), QStringLiteral("recording"), 30000);
    const Outcome stop = run({"--stop-recording"});
    QVERIFY2(stop.status == 0 && stop.out.endsWith(".mp3"), qPrintable(stop.err + stop.out));
    QVERIFY(MediaProbe(stop.out).ok());
    QCOMPARE(run({"--quit"}).status, 0);
    QVERIFY(m_program.waitForFinished(30000));

    // Nothing runs: a region from an earlier run is taken again, after its delay.
    const QRect region(40, 60, 320, 200);
    QSettings(settingsFile(), QSettings::IniFormat)
            .setValue(SCSettings::SCREENSHOT_LAST_REGION, region);

    // Without a sound server the review would show at start; a command does not wait for it.
    const QString shot = m_home.filePath("unattended.png");
    startProgram({"--screenshot", "full", "--output", shot},
                 {{"PULSE_SERVER", "unix:" + m_home.filePath("no-sound-server")}});
    QTRY_VERIFY_WITH_TIMEOUT(QImage(shot).size() == QGuiApplication::primaryScreen()->size(),
                             30000);
    const QString again = m_home.filePath("again.png");
    const Outcome repeated
            = run({"--screenshot", "last-region", "--delay", "1", "--output", again});
    QVERIFY2(repeated.status == 0, qPrintable(repeated.err));
    QCOMPARE(QImage(again).size(), region.size());
    QCOMPARE(run({"--quit"}).status, 0);
    QVERIFY(m_program.waitForFinished(30000));
    QCOMPARE(m_program.exitCode(), 0);
}

QTEST_MAIN(TestControl)
#include "test-control.moc"
