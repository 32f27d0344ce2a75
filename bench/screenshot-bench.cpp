// Screenshot benchmark: the running program's hotkey to region selection shown, and its
// full-screen capture to a saved PNG on command, against import and ffmpeg on the same screen.
//
//   screenshot-bench PROGRAM [runs]     (runs: default 20; the table shows median, min, max)
//
// Run it through scripts/screenshot-bench.sh, which provides the desktop session. Figures are
// printed, never judged.

#include "sc-control-service.h"
#include "sc-screenshot.h"
#include "sc-settings.h"
#include "screenshot-bench-display.h"
#include "test-home.h"

#include <QBuffer>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>

namespace {

const int DEFAULT_RUNS = 20;
const int START_TIMEOUT_MS = 90000;

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

void say(const QString &line)
{
    out() << line << '\n';
    out().flush();
}

struct Series
{
    explicit Series(const QString &name = QString())
        : label(name)
    { }

    QString label;
    QList<double> values;
    int failures = 0;

    QString row() const
    {
        if (values.isEmpty())
            return label.leftJustified(44)
                    + QStringLiteral("   no figures (%1 failed)").arg(failures);
        QList<double> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        const qsizetype n = sorted.size();
        const double median = n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2.0;
        const auto ms = [](double v) { return QString::number(v, 'f', 1).rightJustified(9); };
        QString line = label.leftJustified(44) + ms(median) + ms(sorted.first()) + ms(sorted.last())
                + QString::number(n).rightJustified(6);
        if (failures)
            line += QStringLiteral("  (%1 failed)").arg(failures);
        return line;
    }
};

void printTable(const QString &title, const QList<Series> &rows)
{
    say(QString());
    say(title.leftJustified(44) + QStringLiteral("   median      min      max  runs (ms)"));
    for (const Series &series : rows)
        say(series.row());
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2);
}

// Started, not awaited: the key press is timed by its arrival at the server.
std::unique_ptr<QProcess> pressKey(const QString &key)
{
    auto process = std::make_unique<QProcess>();
    process->start(QStringLiteral("xdotool"), {QStringLiteral("key"), key});
    return process->waitForStarted(5000) ? std::move(process) : nullptr;
}

int runQuietly(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForFinished(30000))
        return -1;
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// The program under test, with a home of its own.
class Program
{
public:
    Program(const QString &path, const TestHome &home)
        : m_path(path)
        , m_home(home)
    { }
    ~Program()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        runQuietly(m_path, {QStringLiteral("--quit")});
        if (!m_process.waitForFinished(20000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    bool start()
    {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setStandardOutputFile(m_home.filePath(QStringLiteral("program.out")));
        m_process.start(m_path, {});
        if (!m_process.waitForStarted(10000))
            return false;
        // Idle: the engine is up and commands are taken.
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < START_TIMEOUT_MS) {
            const QString text = log();
            if (text.contains(QLatin1String("OBS initialized successfully"))
                && text.contains(QLatin1String("Control interface on the session bus")))
                return true;
            if (m_process.state() == QProcess::NotRunning)
                return false;
            QThread::msleep(100);
        }
        return false;
    }

    QString log() const
    {
        QString text;
        const QDir logs(m_home.dataDir() + QStringLiteral("/Ombrant/Vistrel/logs"));
        for (const QString &name : logs.entryList({QStringLiteral("*.log")}, QDir::Files)) {
            QFile file(logs.filePath(name));
            if (file.open(QIODevice::ReadOnly))
                text += QString::fromUtf8(file.readAll());
        }
        return text;
    }

    // When the program wrote "Screenshot saved to: `path`", by its own log clock.
    std::optional<QDateTime> savedAt(const QString &path) const
    {
        const QRegularExpression line(
                QStringLiteral("^\\[?(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3})"
                               "\\]?.*Screenshot saved to: ")
                        + QRegularExpression::escape(path) + QLatin1Char('$'),
                QRegularExpression::MultilineOption);
        const QRegularExpressionMatch match = line.match(log());
        if (!match.hasMatch())
            return std::nullopt;
        return QDateTime::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    }

private:
    QString m_path;
    const TestHome &m_home;
    QProcess m_process;
};

// Hotkey to region selection: from the moment the server has the key press to the map of the
// selection window, and to the moment its shade is on the screen at `probe`.
void measureOverlay(ScreenshotBenchDisplay &display, int runs, Series &mapped, Series &shown)
{
    const QPoint probe(8, QGuiApplication::primaryScreen()->geometry().height() - 8);
    for (int i = 0; i < runs; ++i) {
        QThread::msleep(300);
        display.drain();
        const uint32_t before = display.pixel(probe);
        const auto key = pressKey(QStringLiteral("F10"));
        const auto pressed = key ? display.waitKeyPress(5000) : std::nullopt;
        uint32_t window = 0;
        const auto map = pressed ? display.waitOverlayMapped(5000, &window) : std::nullopt;
        const auto painted = map ? display.waitPixelChange(probe, before, 5000) : std::nullopt;
        if (!painted)
            std::fprintf(stderr, "screenshot-bench: run %d: %s\n", i,
                         !key               ? "xdotool did not start"
                                 : !pressed ? "no key press seen"
                                 : !map     ? "no selection window mapped"
                                            : "the screen did not change");
        if (map)
            mapped.values << *map - *pressed;
        else
            ++mapped.failures;
        if (painted)
            shown.values << *painted - *pressed;
        else
            ++shown.failures;
        if (key)
            key->waitForFinished(5000);
        const auto escape = pressKey(QStringLiteral("Escape"));
        if (escape)
            escape->waitForFinished(5000);
        if (window && !display.waitUnmapped(window, 5000))
            say(QStringLiteral("screenshot-bench: the selection stayed after Escape"));
    }
}

bool isFullScreenPng(const QString &path)
{
    QImageReader reader(path, "png");
    const QSize screen = QGuiApplication::primaryScreen()->size()
            * QGuiApplication::primaryScreen()->devicePixelRatio();
    return reader.canRead() && reader.size() == screen;
}

// Runs `command` with the path of a new file, `runs` times; the time to its exit with the
// file complete. `afterEach` gets the path and the wall clock at the start.
void measureCommand(const QString &dir, const QString &name, int runs,
                    const std::function<QStringList(const QString &)> &command, Series &series,
                    const std::function<void(const QString &, const QDateTime &)> &afterEach = {})
{
    for (int i = 0; i < runs; ++i) {
        QThread::msleep(300);
        const QString path = QStringLiteral("%1/%2-%3.png").arg(dir, name).arg(i);
        QStringList arguments = command(path);
        const QString program = arguments.takeFirst();
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.setStandardOutputFile(QProcess::nullDevice());
        const QDateTime wall = QDateTime::currentDateTime();
        const double start = ScreenshotBenchDisplay::nowMs();
        process.start(program, arguments);
        const bool finished = process.waitForFinished(30000);
        const double end = ScreenshotBenchDisplay::nowMs();
        if (!finished || process.exitCode() != 0 || !isFullScreenPng(path)) {
            ++series.failures;
            process.kill();
            process.waitForFinished(5000);
            continue;
        }
        series.values << end - start;
        if (afterEach)
            afterEach(path, wall);
    }
}

// The program's side alone: the control interface's call, as the command line client makes
// it, from this process, without a client to start.
void measureCall(const QString &dir, int runs, Series &series)
{
    QDBusInterface control(SCControlService::SERVICE, SCControlService::PATH,
                           SCControlService::INTERFACE);
    control.setTimeout(30000);
    for (int i = 0; i < runs; ++i) {
        QThread::msleep(300);
        const QString path = QStringLiteral("%1/call-%2.png").arg(dir).arg(i);
        const double start = ScreenshotBenchDisplay::nowMs();
        const QDBusMessage reply
                = control.call(QStringLiteral("TakeScreenshot"), QStringLiteral("full"),
                               QVariantMap {{QStringLiteral("path"), path}});
        const double end = ScreenshotBenchDisplay::nowMs();
        if (reply.type() == QDBusMessage::ReplyMessage && isFullScreenPng(path))
            series.values << end - start;
        else
            ++series.failures;
    }
}

// Where the program's time goes, in this process with the program's own screenshot code
// and the same Qt calls: the wait until the screen has settled (nothing changes here), one
// grab of the screen, saving it, and the PNG encoding at some of Qt's quality settings.
QList<Series> measureParts(const QString &dir, int runs)
{
    QScreen *screen = QGuiApplication::primaryScreen();
    SCScreenshot screenshot;
    Series settled {QStringLiteral("SCScreenshot::captureAreaWhenSettled")};
    Series saved {QStringLiteral("SCScreenshot::saveScreenshot")};
    for (int i = 0; i < runs; ++i) {
        QEventLoop loop;
        QPixmap picture;
        const double start = ScreenshotBenchDisplay::nowMs();
        screenshot.captureAreaWhenSettled(screen->geometry(), &loop, [&](const QPixmap &grabbed) {
            picture = grabbed;
            loop.quit();
        });
        loop.exec();
        const double grabbed = ScreenshotBenchDisplay::nowMs();
        const bool written = screenshot.saveScreenshot(
                picture, QStringLiteral("%1/part-%2.png").arg(dir).arg(i));
        const double end = ScreenshotBenchDisplay::nowMs();
        if (picture.isNull() || !written) {
            ++settled.failures;
            continue;
        }
        settled.values << grabbed - start;
        saved.values << end - grabbed;
    }
    Series grab {QStringLiteral("grab the screen (QScreen::grabWindow)")};
    QPixmap picture;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        picture = screen->grabWindow(0);
        grab.values << double(clock.nsecsElapsed()) / 1e6;
    }
    QList<Series> rows {settled, saved, grab};
    for (int quality : {-1, 50, 80, 100}) {
        Series encode;
        qint64 bytes = 0;
        for (int i = 0; i < runs; ++i) {
            QByteArray png;
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            QElapsedTimer clock;
            clock.start();
            picture.save(&buffer, "PNG", quality);
            encode.values << double(clock.nsecsElapsed()) / 1e6;
            bytes = png.size();
        }
        encode.label
                = QStringLiteral("PNG encode, quality %1 (%2 kB)")
                          .arg(quality == -1 ? QStringLiteral("default") : QString::number(quality))
                          .arg(bytes / 1024);
        rows << encode;
    }
    return rows;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    bool ok = true;
    const int runs = arguments.size() > 1 ? arguments.at(1).toInt(&ok) : DEFAULT_RUNS;
    if (arguments.isEmpty() || arguments.size() > 2 || !ok || runs < 1 || runs > 1000) {
        std::fputs("usage: screenshot-bench PROGRAM [runs (1-1000, default 20)]\n", stderr);
        return 2;
    }
    const QString program = QFileInfo(arguments.first()).absoluteFilePath();
    if (!QFileInfo(program).isExecutable()) {
        std::fprintf(stderr, "screenshot-bench: %s is not a program\n", qPrintable(program));
        return 2;
    }

    // Before any settings are read, so that the program's and these are the private home's.
    TestHome home;
    {
        QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
        settings.setValue(SCSettings::GENERAL_FIRST_RUN, false);
        settings.setValue(SCSettings::SCREENSHOT_FORMAT, QStringLiteral("PNG"));
        settings.setValue(SCSettings::SCREENSHOT_SAVE_LOCATION,
                          home.filePath(QStringLiteral("shots")));
    }
    const QString shots = home.filePath(QStringLiteral("files"));
    QDir().mkpath(shots);

    ScreenshotBenchDisplay display;
    if (!display.isValid()) {
        std::fputs("screenshot-bench: no X server with XInput 2\n", stderr);
        return 1;
    }
    const QSize screen = QGuiApplication::primaryScreen()->size();
    say(QStringLiteral("Screen %1x%2 on %3, %4 runs each, %5 CPUs, load average %6")
                .arg(screen.width())
                .arg(screen.height())
                .arg(qEnvironmentVariable("DISPLAY"))
                .arg(runs)
                .arg(QThread::idealThreadCount())
                .arg(loadAverage()));

    Program vistrel(program, home);
    if (!vistrel.start()) {
        std::fprintf(stderr, "screenshot-bench: %s did not come up; its output is in %s\n",
                     qPrintable(program), qPrintable(home.filePath(QStringLiteral("program.out"))));
        return 1;
    }
    // Let the start-up work (library scan, first paint) finish before anything is measured.
    QThread::sleep(2);

    Series mapped {QStringLiteral("F10 -> selection window mapped")};
    Series shown {QStringLiteral("F10 -> selection shade on screen")};
    measureOverlay(display, runs, mapped, shown);

    Series vistrelFull {QStringLiteral("vistrel --screenshot full --output")};
    Series vistrelSaved {QStringLiteral("  of it: command start -> saved (log)")};
    Series vistrelAfter {QStringLiteral("  of it: saved (log) -> command returned")};
    measureCommand(
            shots, QStringLiteral("vistrel"), runs,
            [&](const QString &path) {
                return QStringList {program, QStringLiteral("--screenshot"), QStringLiteral("full"),
                                    QStringLiteral("--output"), path};
            },
            vistrelFull,
            [&](const QString &path, const QDateTime &started) {
                const auto saved = vistrel.savedAt(path);
                if (!saved)
                    return;
                const double toSave = double(started.msecsTo(*saved));
                vistrelSaved.values << toSave;
                vistrelAfter.values << vistrelFull.values.last() - toSave;
            });
    Series floor {QStringLiteral("vistrel --version (start-up, no command)")};
    for (int i = 0; i < runs; ++i) {
        const double start = ScreenshotBenchDisplay::nowMs();
        if (runQuietly(program, {QStringLiteral("--version")}) == 0)
            floor.values << ScreenshotBenchDisplay::nowMs() - start;
        else
            ++floor.failures;
    }

    Series call {QStringLiteral("TakeScreenshot over D-Bus (no client)")};
    measureCall(shots, runs, call);

    Series import {QStringLiteral("import -window root")};
    measureCommand(
            shots, QStringLiteral("import"), runs,
            [](const QString &path) {
                return QStringList {QStringLiteral("import"), QStringLiteral("-window"),
                                    QStringLiteral("root"), path};
            },
            import);
    Series ffmpeg {QStringLiteral("ffmpeg -f x11grab -frames:v 1")};
    const QString size = QStringLiteral("%1x%2").arg(screen.width()).arg(screen.height());
    measureCommand(
            shots, QStringLiteral("ffmpeg"), runs,
            [&](const QString &path) {
                return QStringList {QStringLiteral("ffmpeg"),
                                    QStringLiteral("-nostdin"),
                                    QStringLiteral("-loglevel"),
                                    QStringLiteral("error"),
                                    QStringLiteral("-y"),
                                    QStringLiteral("-f"),
                                    QStringLiteral("x11grab"),
                                    QStringLiteral("-video_size"),
                                    size,
                                    QStringLiteral("-i"),
                                    qEnvironmentVariable("DISPLAY"),
                                    QStringLiteral("-frames:v"),
                                    QStringLiteral("1"),
                                    path};
            },
            ffmpeg);

    printTable(QStringLiteral("Hotkey to region selection"), {mapped, shown});
    say(QStringLiteral("  From the key press reaching the X server (raw input event) to the map of "
                       "the screen-wide\n  override-redirect window, and to its shade changing "
                       "the composited screen at (8, H-8)."));
    printTable(QStringLiteral("Full screen to PNG saved"),
               {vistrelFull, vistrelSaved, vistrelAfter, call, floor, import, ffmpeg});
    say(QStringLiteral("  From the command's start to its exit with the %1 PNG complete; the "
                       "program's share is\n  read from its log clock. --version is the "
                       "client's own start-up and exit.")
                .arg(size));
    printTable(QStringLiteral("Parts, in this process"), measureParts(shots, runs));
    say(QStringLiteral("  The program's capture waits until two grabs 50 ms apart agree, at "
                       "least 100 ms, so that\n  its own window is gone from the picture."));

    int status = 0;
    for (const Series *series : {&mapped, &vistrelFull, &import, &ffmpeg})
        if (series->values.isEmpty())
            status = 1;
    return status;
}
