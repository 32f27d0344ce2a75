// Screen recording benchmark: the engine against the ffmpeg tool on the same moving screen.
//
//   record-bench [seconds] [--fps N] [--format mp4|mkv|webm|gif] [--region WxH] [--engine]
//                              records `seconds` (default 20) at N pictures a second (default
//                              30) in that format with each and prints a table; Vistrel is the
//                              built program driven by its hotkey, or with --engine the engine
//                              alone in this process, which GIF and a region (in the middle of
//                              the screen) always use
//   record-bench --animate     the moving content alone (run as a child of the benchmark)
//   record-bench [seconds] [--fps N] --program-only FILE --label NAME
//                              the built program alone on whatever the screen shows, its
//                              figures kept in FILE (for sessions that cannot run both)
//   record-bench --table A B   the table of two such runs
//
// Run it through scripts/record-bench.sh, which provides the desktop session. Figures are
// printed, never judged.

#include "bench-animation-window.h"
#include "bench-ffmpeg-run.h"
#include "bench-figures-file.h"
#include "bench-figures.h"
#include "bench-picture-quality.h"
#include "bench-program-run.h"
#include "bench-time-code.h"
#include "bench-vistrel-run.h"
#include "media-probe.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <cstdio>

namespace {

const int DEFAULT_SECONDS = 20;

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

int animate()
{
    BenchAnimationWindow window(QGuiApplication::primaryScreen()->geometry());
    QObject::connect(&window, &BenchAnimationWindow::firstFrameShown, [&window]() {
        std::printf("ready %u\n", window.startMs());
        std::fflush(stdout);
    });
    window.show();
    return QGuiApplication::exec();
}

// The moving screen runs in a process of its own so that its painting is never counted as
// the recorder's and never waits for it.
std::unique_ptr<QProcess> startAnimation(uint32_t *startMs)
{
    auto child = std::make_unique<QProcess>();
    child->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child->start(QCoreApplication::applicationFilePath(), {QStringLiteral("--animate")});
    if (!child->waitForStarted(10000))
        return nullptr;
    QByteArray said;
    while (!said.contains('\n')) {
        if (!child->waitForReadyRead(20000))
            return nullptr;
        said += child->readAllStandardOutput();
    }
    const QList<QByteArray> words = said.trimmed().split(' ');
    if (words.value(0) != "ready")
        return nullptr;
    *startMs = words.value(1).toUInt();
    return child;
}

void stopAnimation(QProcess &child)
{
    child.terminate();
    if (!child.waitForFinished(5000)) {
        child.kill();
        child.waitForFinished(5000);
    }
}

int g_fps = 30;
QRect g_area;

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2);
}

// Start latency: the animation draws CLOCK_MONOTONIC into every picture it paints, and the
// first frame of the file is read back; its clock minus the clock at the start call is the
// time from the start call to the moment the file's first picture was on screen. The
// picture can be up to one repaint (16 ms) plus one compositing pass older than the
// capture, so the figure errs low by that much; it is negative when the recorder put a
// picture from before the start call into the file.
void measureFirstFrame(BenchFigures &figures, const QString &png)
{
    const QImage first = MediaProbe::frame(figures.file, png);
    if (first.isNull())
        return;
    QScreen *screen = QGuiApplication::primaryScreen();
    const auto code
            = BenchPictureQuality::timeCode(first.convertToFormat(QImage::Format_Grayscale8),
                                            screen->size() * screen->devicePixelRatio(), g_area);
    if (code)
        figures.startLatencyMs = double(int32_t(*code - figures.startCallMs));
}

// Without the animation on the screen (animationStartMs 0) there is nothing to compare with.
void analyse(BenchFigures &figures, const QString &png, uint32_t animationStartMs)
{
    if (!figures.error.isEmpty() || !QFile::exists(figures.file))
        return;
    figures.fileBytes = QFileInfo(figures.file).size();
    figures.frames = MediaProbe::frameCount(figures.file);
    figures.distinctFrames = MediaProbe::distinctFrameCount(figures.file);
    figures.uniqueFrames = MediaProbe::uniqueFrameCount(figures.file);
    figures.pixelFormat = MediaProbe::pixelFormat(figures.file);
    if (figures.startCallMs != 0)
        measureFirstFrame(figures, png);
    if (animationStartMs == 0)
        return;
    QScreen *screen = QGuiApplication::primaryScreen();
    const auto quality = BenchPictureQuality::measure(figures.file,
                                                      screen->size() * screen->devicePixelRatio(),
                                                      animationStartMs, 40, g_area);
    if (quality) {
        figures.ssim = quality->ssim;
        figures.ssimFrames = quality->frames;
    }
}

QString number(const std::optional<long> &value)
{
    return value ? QString::number(*value) : QStringLiteral("n/a");
}

QString milliseconds(const std::optional<double> &value)
{
    return value ? QString::number(*value, 'f', 0) + QStringLiteral(" ms") : QStringLiteral("n/a");
}

QString perPicture(const std::optional<double> &seconds, const std::optional<long> &pictures)
{
    if (!seconds || !pictures || *pictures <= 0)
        return QStringLiteral("n/a");
    return QString::number(*seconds * 1000.0 / double(*pictures), 'f', 1);
}

double cpuPerSecond(const BenchFigures &figures)
{
    // Per second of video actually in the file.
    const double recorded
            = figures.frames && *figures.frames > 0 ? double(*figures.frames) / g_fps : 0.0;
    return recorded > 0 ? figures.cpuSeconds / recorded : 0.0;
}

void printTable(const BenchFigures &a, const BenchFigures &b)
{
    const auto row = [](const QString &label, const QString &left, const QString &right) {
        out() << label.leftJustified(30) << left.rightJustified(18) << right.rightJustified(18)
              << '\n';
    };
    row(QString(), a.name, b.name);
    row(QStringLiteral("CPU s per recorded s"), QString::number(cpuPerSecond(a), 'f', 3),
        QString::number(cpuPerSecond(b), 'f', 3));
    row(QStringLiteral("CPU s total (user+sys)"), QString::number(a.cpuSeconds, 'f', 2),
        QString::number(b.cpuSeconds, 'f', 2));
    row(QStringLiteral("wall s measured"), QString::number(a.wallSeconds, 'f', 2),
        QString::number(b.wallSeconds, 'f', 2));
    row(QStringLiteral("frames in file / expected"),
        number(a.frames) + QLatin1Char('/') + QString::number(a.expectedFrames),
        number(b.frames) + QLatin1Char('/') + QString::number(b.expectedFrames));
    row(QStringLiteral("distinct frames (mpdecimate)"), number(a.distinctFrames),
        number(b.distinctFrames));
    row(QStringLiteral("unique frames (md5)"), number(a.uniqueFrames), number(b.uniqueFrames));
    row(QStringLiteral("dropped frames"), number(a.droppedFrames), number(b.droppedFrames));
    row(QStringLiteral("duplicated frames"), number(a.duplicatedFrames),
        number(b.duplicatedFrames));
    row(QStringLiteral("lagged frames (libobs)"), number(a.laggedFrames), number(b.laggedFrames));
    row(QStringLiteral("pictures composed (libobs)"), number(a.renderedFrames),
        number(b.renderedFrames));
    row(QStringLiteral("compose CPU ms per picture"),
        perPicture(a.renderCpuSeconds, a.renderedFrames),
        perPicture(b.renderCpuSeconds, b.renderedFrames));
    row(QStringLiteral("hand-over CPU ms per picture"),
        perPicture(a.videoIoCpuSeconds, a.renderedFrames),
        perPicture(b.videoIoCpuSeconds, b.renderedFrames));
    row(QStringLiteral("start latency"), milliseconds(a.startLatencyMs),
        milliseconds(b.startLatencyMs));
    row(QStringLiteral("stop latency"), milliseconds(a.stopLatencyMs),
        milliseconds(b.stopLatencyMs));
    row(QStringLiteral("peak memory (max RSS)"), QString::number(a.peakMemoryMb, 'f', 0) + " MB",
        QString::number(b.peakMemoryMb, 'f', 0) + " MB");
    row(QStringLiteral("pixel format"), a.pixelFormat, b.pixelFormat);
    const auto megabytes = [](const std::optional<qint64> &bytes) {
        return bytes ? QString::number(double(*bytes) / 1e6, 'f', 2) + QStringLiteral(" MB")
                     : QStringLiteral("n/a");
    };
    row(QStringLiteral("file size"), megabytes(a.fileBytes), megabytes(b.fileBytes));
    // A recorder that drops pictures and repeats others writes the repeats for nearly nothing.
    const auto perDistinct = [](const BenchFigures &figures) {
        return figures.fileBytes && figures.distinctFrames && *figures.distinctFrames > 0
                ? QString::number(double(*figures.fileBytes) / 1e3
                                          / double(*figures.distinctFrames),
                                  'f', 2)
                        + QStringLiteral(" kB")
                : QStringLiteral("n/a");
    };
    row(QStringLiteral("file per distinct frame"), perDistinct(a), perDistinct(b));
    const auto ssim = [](const BenchFigures &figures) {
        return figures.ssim ? QString::number(*figures.ssim, 'f', 4) + QStringLiteral(" (")
                        + QString::number(figures.ssimFrames) + QStringLiteral(")")
                            : QStringLiteral("n/a");
    };
    row(QStringLiteral("SSIM to screen (frames)"), ssim(a), ssim(b));
    const double ratio = cpuPerSecond(b) > 0 ? cpuPerSecond(a) / cpuPerSecond(b) : 0.0;
    out() << "\nCPU ratio " << a.name << " / " << b.name << ": "
          << (ratio > 0 ? QString::number(ratio, 'f', 2) : QStringLiteral("n/a")) << '\n';
}

int printSavedTable(const QString &first, const QString &second)
{
    const std::optional<BenchFigures> a = BenchFiguresFile::load(first);
    const std::optional<BenchFigures> b = BenchFiguresFile::load(second);
    if (!a || !b) {
        std::fputs("record-bench: the figures files cannot be read\n", stderr);
        return 1;
    }
    printTable(*a, *b);
    int status = 0;
    for (const BenchFigures *figures : {&*a, &*b})
        if (!figures->error.isEmpty()) {
            out() << figures->name << ": " << figures->error << '\n';
            status = 1;
        }
    out().flush();
    return status;
}

int recordProgramOnly(const QString &folder, const BenchSetup &setup, const QString &name,
                      const QString &figuresFile)
{
    const QString home = folder + QStringLiteral("/program");
    QDir().mkpath(home);
    BenchFigures figures = BenchProgramRun().run(home, setup);
    figures.name = name;
    analyse(figures, folder + QStringLiteral("/first.png"), 0);
    if (!BenchFiguresFile::save(figures, figuresFile)) {
        std::fputs("record-bench: the figures cannot be written\n", stderr);
        return 1;
    }
    out() << name << " recording done, load average " << loadAverage() << '\n';
    out().flush();
    return figures.error.isEmpty() ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    if (arguments.value(0) == QLatin1String("--animate"))
        return animate();
    if (arguments.value(0) == QLatin1String("--table") && arguments.size() == 3)
        return printSavedTable(arguments.at(1), arguments.at(2));

    BenchSetup setup;
    setup.seconds = DEFAULT_SECONDS;
    bool engineOnly = false;
    QString figuresFile;
    QString name = QStringLiteral("Vistrel");
    bool ok = true;
    for (int i = 0; ok && i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == QLatin1String("--fps") && i + 1 < arguments.size()) {
            setup.fps = arguments.at(++i).toInt(&ok);
            ok = ok && setup.fps >= 1 && setup.fps <= 120;
        } else if (argument == QLatin1String("--engine")) {
            engineOnly = true;
        } else if (argument == QLatin1String("--program-only") && i + 1 < arguments.size()) {
            figuresFile = arguments.at(++i);
        } else if (argument == QLatin1String("--label") && i + 1 < arguments.size()) {
            name = arguments.at(++i);
        } else if (argument == QLatin1String("--format") && i + 1 < arguments.size()) {
            setup.format = arguments.at(++i).toLower();
            ok = QStringList({"mp4", "mkv", "webm", "gif"}).contains(setup.format);
        } else if (argument == QLatin1String("--region") && i + 1 < arguments.size()) {
            const QStringList sides = arguments.at(++i).split(QLatin1Char('x'));
            bool wide = false;
            bool high = false;
            const QSize size(sides.value(0).toInt(&wide), sides.value(1).toInt(&high));
            QScreen *screen = QGuiApplication::primaryScreen();
            const QSize whole = screen->size() * screen->devicePixelRatio();
            ok = sides.size() == 2 && wide && high && size.width() >= 16 && size.height() >= 16
                    && size.width() <= whole.width() && size.height() <= whole.height();
            setup.area = BenchAnimationWindow::centredArea(whole, size);
        } else {
            setup.seconds = argument.toInt(&ok);
            ok = ok && setup.seconds >= 1 && setup.seconds <= 3600;
        }
    }
    if (!ok) {
        std::fputs("usage: record-bench [seconds (1-3600, default 20)] [--fps 1-120 (default 30)] "
                   "[--format mp4|mkv|webm|gif] [--region WxH] [--engine]\n"
                   "       record-bench [seconds] [--fps N] --program-only FILE --label NAME\n"
                   "       record-bench --table FILE FILE\n",
                   stderr);
        return 2;
    }
    const int seconds = setup.seconds;
    g_fps = setup.fps;
    g_area = setup.area;
    // A person picks a region by dragging; the engine takes it as the main window hands it.
    if (setup.format == QLatin1String("gif") || !setup.area.isEmpty())
        engineOnly = true;
    // Keep the engine's settings and logs away from the user's own.
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fputs("record-bench: no temporary folder\n", stderr);
        return 1;
    }
    // For a look at the recorded files afterwards.
    if (qEnvironmentVariableIsSet("VISTREL_BENCH_KEEP")) {
        dir.setAutoRemove(false);
        out() << "Files kept in " << dir.path() << '\n';
    }

    const QSize screen = QGuiApplication::primaryScreen()->size();
    out() << "Screen " << screen.width() << 'x' << screen.height();
    if (!setup.area.isEmpty())
        out() << ", region " << setup.area.width() << 'x' << setup.area.height() << " at "
              << setup.area.x() << ',' << setup.area.y();
    out() << ", " << seconds << " s per recorder at " << setup.fps << " fps in "
          << setup.format.toUpper() << ", " << QThread::idealThreadCount() << " CPUs, load average "
          << loadAverage() << '\n'
          << "Vistrel: "
          << (engineOnly ? "the engine alone, in the benchmark's process"
                         : "the built program, started and stopped by its hotkey")
          << '\n';
    out().flush();

    if (!figuresFile.isEmpty())
        return recordProgramOnly(dir.path(), setup, name, figuresFile);

    uint32_t animationStartMs = 0;
    auto animation = startAnimation(&animationStartMs);
    if (!animation) {
        std::fputs("record-bench: the moving screen did not come up\n", stderr);
        return 1;
    }

    BenchFigures vistrel;
    if (engineOnly) {
        vistrel = BenchVistrelRun().run(dir.filePath(QStringLiteral("vistrel")), setup);
    } else {
        const QString home = dir.filePath(QStringLiteral("program"));
        QDir().mkpath(home);
        vistrel = BenchProgramRun().run(home, setup);
    }
    out() << "Vistrel recording done, load average " << loadAverage() << '\n';
    out().flush();
    BenchFigures ffmpeg
            = BenchFfmpegRun().run(dir.filePath(QStringLiteral("ffmpeg.") + setup.format),
                                   dir.filePath(QStringLiteral("ffmpeg.log")), setup);
    out() << "ffmpeg recording done, load average " << loadAverage() << '\n';
    out().flush();
    stopAnimation(*animation);

    analyse(vistrel, dir.filePath(QStringLiteral("vistrel-first.png")), animationStartMs);
    analyse(ffmpeg, dir.filePath(QStringLiteral("ffmpeg-first.png")), animationStartMs);
    // ffmpeg stops by itself after its seconds: its stop latency runs from the end of that
    // span, counted from its first picture, to its exit.
    if (ffmpeg.startLatencyMs)
        ffmpeg.stopLatencyMs
                = ffmpeg.wallSeconds * 1000.0 - *ffmpeg.startLatencyMs - seconds * 1000.0;

    out() << '\n';
    printTable(vistrel, ffmpeg);
    int status = 0;
    for (const BenchFigures *figures : {&vistrel, &ffmpeg})
        if (!figures->error.isEmpty()) {
            out() << figures->name << ": " << figures->error << '\n';
            status = 1;
        }
    out().flush();
    return status;
}
