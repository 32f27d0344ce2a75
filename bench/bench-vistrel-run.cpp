#include "bench-vistrel-run.h"

#include "bench-process.h"
#include "desktop-input.h"

#include "bench-animation-window.h"
#include "obs-capture-area.h"
#include "sc-obs-wrapper.h"
#include "sc-types.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

#include <util/base.h>

#include <sys/resource.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>

namespace {

// The main window's bitrate argument.
const int BITRATE = 4;

double cpuSeconds(const rusage &usage)
{
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
            + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// libobs writes its log to stdout by default, where the benchmark prints its table.
void logToStderr(int level, const char *format, va_list args, void *)
{
    if (level > LOG_INFO)
        return;
    std::vfprintf(stderr, format, args);
    std::fputc('\n', stderr);
}

struct ThreadCpu
{
    double render = 0.0;
    double videoIo = 0.0;
};

// Processor time of this process's libobs picture threads, by their names.
ThreadCpu threadCpu()
{
    ThreadCpu cpu;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile commFile(tasks.filePath(task + QStringLiteral("/comm")));
        if (!commFile.open(QIODevice::ReadOnly))
            continue;
        const QByteArray comm = commFile.readAll().trimmed();
        const double seconds
                = BenchProcess::cpuSeconds(tasks.filePath(task + QStringLiteral("/stat")));
        if (comm.startsWith("libobs: graphic") || comm.startsWith("llvmpipe"))
            cpu.render += seconds;
        else if (comm.startsWith("video-io"))
            cpu.videoIo += seconds;
    }
    return cpu;
}

} // namespace

BenchFigures BenchVistrelRun::run(const QString &base, const BenchSetup &setup)
{
    const int seconds = setup.seconds;
    const int fps = setup.fps;
    BenchFigures figures;
    figures.name = QStringLiteral("Vistrel");
    figures.expectedFrames = seconds * fps;

    QScreen *screen = QGuiApplication::primaryScreen();
    const qreal ratio = screen->devicePixelRatio();
    const QSize size = screen->size();
    const int width = int(size.width() * ratio);
    const int height = int(size.height() * ratio);

    base_set_log_handler(logToStderr, nullptr);
    auto obs = std::make_unique<ObsWrapper>();
    if (!obs->initObs(width, height, fps)) {
        figures.error = QStringLiteral("the engine did not come up");
        return figures;
    }
    if (obs->addSceneSource(REC_SCREEN) != 0) {
        figures.error = QStringLiteral("no screen capture source");
        return figures;
    }
    obs->searchRecTargets(REC_SCREEN);
    obs->searchMicDevice();
    obs->searchPlayerDevice();
    obs->recMicAudio(true, QStringLiteral("default"));
    obs->recPlayerAudio(true, QStringLiteral("default"));
    // The area in logical pixels, as the region overlay hands it over.
    const QRect part = setup.area.isEmpty()
            ? QRect(QPoint(0, 0), size)
            : QRectF(QPointF(setup.area.topLeft()) / ratio, QSizeF(setup.area.size()) / ratio)
                      .toRect();
    const auto area = ObsCaptureArea::fromCorners(part.topLeft(), part.bottomRight(), size, ratio);
    if (!obs->getRecTargets().isEmpty())
        obs->updateRecItem(obs->getRecTargets().first().toUtf8().constData(), REC_SCREEN,
                           !area.fullScreen, area.left, area.right, area.top, area.bottom);
    obs->resetVideo(area.canvasWidth, area.canvasHeight, area.canvasWidth, area.canvasHeight, fps);
    obs->captureMouseCursor(true);
    // The program's defaults: pointer shown, with its highlight; the pointer waits in a
    // corner, outside a region in the middle, as for the ffmpeg tool, which draws it too.
    obs->enableMouseEffect(true);
    movePointer(width - 1, height - 1);
    // Let the sources settle before anything is measured.
    BenchProcess::spin(1500);

    obs->setupFFmpeg(base, area.frameWidth, area.frameHeight, fps, BITRATE,
                     OUTPUT_FORMAT_MAP.at(setup.format.toUpper()));
    figures.file = obs->outputFilePath();
    // The engine lets go of its output at the stop; its counters are read after the end.
    OBSOutput output = obs->output();

    QEventLoop stopped;
    QElapsedTimer stopClock;
    bool ended = false;
    QObject::connect(obs.get(), &ObsWrapper::recordStatusChanged, &stopped, [&](int status) {
        if (status == 2 && !ended) {
            ended = true;
            stopped.quit();
        }
    });

    const uint32_t laggedBefore = obs_get_lagged_frames();
    const uint32_t ticksBefore = obs_get_total_frames();
    rusage before {};
    getrusage(RUSAGE_SELF, &before);
    QElapsedTimer wall;
    wall.start();
    figures.startCallMs = BenchAnimationWindow::monotonicMs();
    if (obs->startRecording() != 0) {
        figures.error = QStringLiteral("the recording did not start");
        return figures;
    }
    // The engine may restart its picture threads at the start: count theirs from here.
    const ThreadCpu threadsBefore = threadCpu();
    BenchProcess::spin(seconds * 1000);

    // before the stop, which may restart the picture threads again
    const ThreadCpu threadsAfter = threadCpu();
    stopClock.start();
    obs->stopRecording(false);
    if (!ended) {
        QTimer::singleShot(60000, &stopped, &QEventLoop::quit);
        stopped.exec();
    }
    if (!ended) {
        figures.error = QStringLiteral("no end report within a minute of the stop");
        return figures;
    }
    figures.stopLatencyMs = double(stopClock.nsecsElapsed()) / 1e6;
    figures.wallSeconds = double(wall.nsecsElapsed()) / 1e9;
    rusage after {};
    getrusage(RUSAGE_SELF, &after);
    figures.cpuSeconds = cpuSeconds(after) - cpuSeconds(before);
    figures.peakMemoryMb = double(after.ru_maxrss) / 1024.0;
    figures.laggedFrames = long(obs_get_lagged_frames() - laggedBefore);
    figures.renderedFrames = long(obs_get_total_frames() - ticksBefore) - *figures.laggedFrames;
    figures.renderCpuSeconds = threadsAfter.render - threadsBefore.render;
    figures.videoIoCpuSeconds = threadsAfter.videoIo - threadsBefore.videoIo;
    if (output)
        figures.droppedFrames = obs_output_get_frames_dropped(output);
    // libobs must outlive every reference to its objects.
    output = nullptr;
    obs.reset();
    return figures;
}
