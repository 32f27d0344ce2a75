#include "bench-ffmpeg-run.h"

#include "bench-animation-window.h"
#include "bench-process.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>

#include <fcntl.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

extern char **environ;

namespace {

std::optional<long> lastCounter(const QString &log, const QString &name)
{
    // The progress line repeats; its last state is the total.
    const QRegularExpression re(name + QStringLiteral("=\\s*(\\d+)"));
    std::optional<long> value;
    for (auto it = re.globalMatch(log); it.hasNext();)
        value = it.next().captured(1).toLong();
    return value;
}

struct Spawned
{
    QString error;
    double cpuSeconds = 0.0;
    long peakKb = 0;
};

// Spawned and reaped here rather than through QProcess: wait4 hands over the child's own CPU
// time. Its standard error is appended to the log.
Spawned spawnAndWait(const QList<QByteArray> &arguments, const QString &logFile)
{
    Spawned result;
    std::vector<char *> argv;
    for (const QByteArray &argument : arguments)
        argv.push_back(const_cast<char *>(argument.constData()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const QByteArray log = QFile::encodeName(logFile);
    posix_spawn_file_actions_addopen(&actions, 2, log.constData(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    pid_t pid = 0;
    // The program's output turns huge pages off for its process; the reference gets the
    // machine's own setting.
    prctl(PR_SET_THP_DISABLE, 0, 0, 0, 0);
    const int spawned = posix_spawnp(&pid, argv.front(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        result.error = QStringLiteral("ffmpeg could not be started: %1")
                               .arg(QString::fromLocal8Bit(strerror(spawned)));
        return result;
    }
    // The spawned child starts on this process's memory, and the kernel carries that peak
    // into the child's own maximum RSS: the peak of ffmpeg itself is its VmHWM, read while
    // it runs.
    int status = 0;
    rusage usage {};
    pid_t waited = -1;
    const QString statusFile = QStringLiteral("/proc/%1/status").arg(pid);
    for (;;) {
        waited = wait4(pid, &status, WNOHANG, &usage);
        if (waited != 0 && !(waited < 0 && errno == EINTR))
            break;
        result.peakKb = std::max(result.peakKb, BenchProcess::peakMemoryKb(statusFile));
        usleep(50000);
    }
    if (waited != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        result.error = QStringLiteral("ffmpeg failed, see %1").arg(logFile);
        return result;
    }
    result.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
            + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return result;
}

// Both encoders write 4:2:0 as the program does: x11grab's pictures would otherwise give
// 4:4:4 x264 or RGB VP9, which cost more and flatter the program.
QList<QByteArray> encoderArguments(const QString &format)
{
    if (format == QLatin1String("webm")) {
        return {"-c:v",     "libvpx-vp9", "-deadline",     "realtime", "-cpu-used",      "8",
                "-row-mt",  "1",          "-tile-columns", "2",        "-lag-in-frames", "0",
                "-threads", "0",          "-b:v",          "4096k",    "-pix_fmt",       "yuv420p"};
    }
    return {"-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p"};
}

} // namespace

BenchFigures BenchFfmpegRun::run(const QString &file, const QString &logFile,
                                 const BenchSetup &setup)
{
    const int seconds = setup.seconds;
    const int fps = setup.fps;
    BenchFigures figures;
    figures.name = QStringLiteral("ffmpeg x11grab");
    figures.expectedFrames = seconds * fps;
    figures.file = file;

    QScreen *screen = QGuiApplication::primaryScreen();
    const QRect area = setup.area.isEmpty()
            ? QRect(QPoint(0, 0), screen->size() * screen->devicePixelRatio())
            : setup.area;
    const QByteArray display = qgetenv("DISPLAY") + '+' + QByteArray::number(area.x()) + ','
            + QByteArray::number(area.y());
    QList<QByteArray> grab
            = {"ffmpeg",
               "-nostdin",
               "-y",
               "-f",
               "x11grab",
               "-framerate",
               QByteArray::number(fps),
               "-video_size",
               QByteArray::number(area.width()) + 'x' + QByteArray::number(area.height()),
               "-i",
               display};
    const bool gif = setup.format == QLatin1String("gif");
    // GIF the way the ffmpeg tool makes it best: the screen kept losslessly, then a palette
    // from what changes over the whole recording, then the pictures dithered to it.
    const QString raw = file + QStringLiteral(".nut");
    const QString palette = file + QStringLiteral(".palette.png");
    if (gif)
        grab << "-c:v"
             << "rawvideo"
             << "-t" << QByteArray::number(seconds) << QFile::encodeName(raw);
    else
        grab << encoderArguments(setup.format) << "-t" << QByteArray::number(seconds)
             << QFile::encodeName(file);
    QFile::remove(logFile);

    QElapsedTimer wall;
    wall.start();
    figures.startCallMs = BenchAnimationWindow::monotonicMs();
    QList<QList<QByteArray>> passes {grab};
    if (gif) {
        passes.append({"ffmpeg", "-nostdin", "-y", "-i", QFile::encodeName(raw), "-vf",
                       "palettegen=stats_mode=diff", QFile::encodeName(palette)});
        passes.append({"ffmpeg", "-nostdin", "-y", "-i", QFile::encodeName(raw), "-i",
                       QFile::encodeName(palette), "-lavfi", "paletteuse=dither=sierra2_4a",
                       QFile::encodeName(file)});
    }
    long peakKb = 0;
    for (const QList<QByteArray> &pass : passes) {
        const Spawned spawned = spawnAndWait(pass, logFile);
        if (!spawned.error.isEmpty()) {
            figures.error = spawned.error;
            return figures;
        }
        figures.cpuSeconds += spawned.cpuSeconds;
        peakKb = std::max(peakKb, spawned.peakKb);
        if (&pass == &passes.front())
            figures.wallSeconds = double(wall.nsecsElapsed()) / 1e9;
    }
    QFile::remove(raw);
    figures.peakMemoryMb = double(peakKb) / 1024.0;

    QFile logText(logFile);
    if (logText.open(QIODevice::ReadOnly)) {
        // The capture's counters come first; the later passes drop nothing.
        const QString text = QString::fromLocal8Bit(logText.readAll());
        // ffmpeg names these only once they are not zero.
        figures.droppedFrames = lastCounter(text, QStringLiteral("drop")).value_or(0);
        figures.duplicatedFrames = lastCounter(text, QStringLiteral("dup")).value_or(0);
    }
    return figures;
}
