#include "bench-program-run.h"

#include "bench-process.h"

#include "desktop-input.h"
#include "sc-settings.h"
#include "sc-types.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QTimer>

namespace {

const QString START_KEY = QStringLiteral("F9");

class ProgramLog
{
public:
    explicit ProgramLog(const QString &folder)
        : m_folder(folder)
    { }

    QString text() const
    {
        QString all;
        const QDir dir(m_folder);
        for (const QString &name : dir.entryList({QStringLiteral("*.log")}, QDir::Files)) {
            QFile file(dir.filePath(name));
            if (file.open(QIODevice::ReadOnly))
                all += QString::fromUtf8(file.readAll());
        }
        return all;
    }

    // Polls every 10 ms, so a moment is known to that much.
    bool waitFor(const QString &line, int timeoutMs, const QProcess &program) const
    {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < timeoutMs) {
            if (text().contains(line))
                return true;
            if (program.state() != QProcess::Running)
                return false;
            BenchProcess::spin(10);
        }
        return false;
    }

private:
    QString m_folder;
};

void writeSettings(const QString &home, const BenchSetup &setup)
{
    QDir().mkpath(home + QStringLiteral("/config/Ombrant"));
    QSettings settings(home + QStringLiteral("/config/Ombrant/Vistrel.conf"), QSettings::IniFormat);
    const OutputFormat format = OUTPUT_FORMAT_MAP.at(setup.format.toUpper());
    settings.setValue(SCSettings::GENERAL_FIRST_RUN, false);
    settings.setValue(SCSettings::RECORDING_FORMAT, setup.format.toUpper());
    settings.setValue(SCSettings::RECORDING_SCREEN_SWITCH, true);
    settings.setValue(SCSettings::RECORDING_SAVE_LOCATION, home + QStringLiteral("/videos"));
    settings.setValue(SCSettings::recordingFpsKey(format), setup.fps);
    settings.setValue(SCSettings::HOTKEYS_RECORDING, START_KEY);
}

} // namespace

BenchFigures BenchProgramRun::run(const QString &home, const BenchSetup &setup)
{
    BenchFigures figures;
    figures.name = QStringLiteral("Vistrel");
    figures.expectedFrames = setup.seconds * setup.fps;
    writeSettings(home, setup);

    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
    // As a desktop session starts programs: the program chooses how its windows run.
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.setStandardOutputFile(home + QStringLiteral("/output.txt"));
    program.start(QCoreApplication::applicationDirPath() + QStringLiteral("/vistrel"), {});
    if (!program.waitForStarted(10000)) {
        figures.error = QStringLiteral("the program did not start: ") + program.errorString();
        return figures;
    }
    const qint64 pid = program.processId();
    const ProgramLog log(home + QStringLiteral("/data/Ombrant/Vistrel/logs"));
    const auto finish = [&](const QString &error) {
        if (!error.isEmpty())
            figures.error = error + QStringLiteral(" (see ") + home + QStringLiteral(")");
        program.terminate();
        if (!program.waitForFinished(10000)) {
            program.kill();
            program.waitForFinished(5000);
        }
        return figures;
    };
    if (!log.waitFor(QStringLiteral("Engine ready"), 30000, program))
        return finish(QStringLiteral("the program's engine did not become ready"));

    // The pointer waits in a corner, where it covers least of the moving picture.
    const QSize screen = QGuiApplication::primaryScreen()->size();
    movePointer(screen.width() - 1, screen.height() - 1);
    BenchProcess::spin(1500);

    if (!xdotool({QStringLiteral("key"), START_KEY})
        || !log.waitFor(QStringLiteral("Recording started..."), 20000, program))
        return finish(QStringLiteral("the hotkey did not start a recording"));
    const double cpuBefore = BenchProcess::cpuSeconds(QStringLiteral("/proc/%1/stat").arg(pid));
    QElapsedTimer wall;
    wall.start();
    BenchProcess::spin(setup.seconds * 1000);

    QElapsedTimer stopClock;
    stopClock.start();
    if (!xdotool({QStringLiteral("key"), START_KEY})
        || !log.waitFor(QStringLiteral("Recording stopped:"), 60000, program))
        return finish(QStringLiteral("the hotkey did not stop the recording"));
    figures.stopLatencyMs = double(stopClock.nsecsElapsed()) / 1e6;
    figures.wallSeconds = double(wall.nsecsElapsed()) / 1e9;
    figures.cpuSeconds
            = BenchProcess::cpuSeconds(QStringLiteral("/proc/%1/stat").arg(pid)) - cpuBefore;
    figures.peakMemoryMb
            = double(BenchProcess::peakMemoryKb(QStringLiteral("/proc/%1/status").arg(pid)))
            / 1024.0;

    static const QRegularExpression end(QStringLiteral(
            "Recording stopped: (.*), format \\w+, size -?\\d+ bytes, duration "
            "[\\d.]+ s, frames (\\d+), dropped (\\d+), lagged (\\d+), code (-?\\d+)"));
    const QRegularExpressionMatch match = end.match(log.text());
    if (!match.hasMatch())
        return finish(QStringLiteral("the program's end report could not be read"));
    figures.file = match.captured(1);
    figures.droppedFrames = match.captured(3).toLong();
    figures.laggedFrames = match.captured(4).toLong();
    if (match.captured(5) != QLatin1String("0"))
        return finish(QStringLiteral("the recording ended with code ") + match.captured(5));
    return finish(QString());
}
