// Records the whole screen into one file per named format through the engine and the
// program's own output module, as the main window sets them up; a single format is started
// and stopped through the engine exactly as the main window does. Prints "recording" once
// every file is started, then runs until the given seconds are over (stopping cleanly) or
// until it is killed.
//
//   reliability-recorder FOLDER SECONDS FORMAT...      (SECONDS 0: until killed)
//
// VISTREL_PAUSE="P[,R]" pauses P seconds after the start and resumes R seconds after it;
// "paused" is printed then. A single format prints the milliseconds recorded, pauses left
// out, as "recorded N" when it stops.

#include "sc-obs-wrapper.h"
#include "sc-types.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace {

constexpr int FPS = 30;
constexpr int BITRATE = 4;

// Pauses (true) and resumes (false) at the times VISTREL_PAUSE gives.
void schedulePause(QObject *context, const std::function<void(bool)> &pause)
{
    const QStringList times = qEnvironmentVariable("VISTREL_PAUSE").split(',', Qt::SkipEmptyParts);
    for (int i = 0; i < std::min<int>(times.size(), 2); ++i) {
        QTimer::singleShot(int(times[i].toDouble() * 1000), context, [pause, i] {
            pause(i == 0);
            if (i == 0) {
                std::printf("paused\n");
                std::fflush(stdout);
            }
        });
    }
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: %s FOLDER SECONDS FORMAT...\n", argv[0]);
        return 2;
    }
    const QString folder = args.at(1);
    const int seconds = args.at(2).toInt();
    for (int i = 3; i < args.size(); ++i) {
        if (OUTPUT_FORMAT_MAP.find(args.at(i).toUpper()) == OUTPUT_FORMAT_MAP.end()) {
            std::fprintf(stderr, "unknown format %s\n", qPrintable(args.at(i)));
            return 2;
        }
    }

    const QSize screen = QGuiApplication::primaryScreen()->size();
    // Half size keeps several encoders at once within a small machine's reach.
    const QSize frame(screen.width() / 2, screen.height() / 2);
    ObsWrapper obs;
    if (!obs.initObs(screen.width(), screen.height(), FPS) || obs.addSceneSource(REC_SCREEN) != 0)
        return 3;
    obs.searchRecTargets(REC_SCREEN);
    if (obs.getRecTargets().isEmpty())
        return 3;
    obs.recMicAudio(true, QStringLiteral("default"));
    obs.recPlayerAudio(true, QStringLiteral("default"));
    // As the main window does: libobs composes the whole screen, the file writer scales.
    if (obs.resetVideo(screen.width(), screen.height(), screen.width(), screen.height(), FPS) != 0)
        return 3;

    // One format goes the main window's whole way, including its choice of picture path.
    if (args.size() == 4) {
        obs.setupFFmpeg(QDir(folder).filePath(args.at(3).toLower()), frame.width(), frame.height(),
                        FPS, BITRATE, OUTPUT_FORMAT_MAP.at(args.at(3).toUpper()));
        QObject::connect(&obs, &ObsWrapper::recordStatusChanged, &app, [&](int status) {
            if (status == 2)
                app.quit();
        });
        if (obs.startRecording() != 0) {
            std::fprintf(stderr, "%s did not start\n", qPrintable(args.at(3)));
            return 4;
        }
        QElapsedTimer clock;
        clock.start();
        qint64 pausedMs = 0;
        qint64 pausedAt = 0;
        std::printf("recording\n");
        std::fflush(stdout);
        schedulePause(&obs, [&](bool pause) {
            if (obs.setPaused(pause) != 0)
                std::fprintf(stderr, "pause %d refused\n", int(pause));
            if (pause)
                pausedAt = clock.elapsed();
            else
                pausedMs += clock.elapsed() - pausedAt;
        });
        if (seconds > 0)
            QTimer::singleShot(seconds * 1000, &obs, [&]() {
                const qint64 recorded = clock.elapsed() - pausedMs;
                obs.stopRecording(false);
                std::printf("recorded %lld\n", static_cast<long long>(recorded));
                std::fflush(stdout);
            });
        return app.exec();
    }

    std::vector<OBSOutputAutoRelease> outputs;
    for (int i = 3; i < args.size(); ++i) {
        const QString base = QDir(folder).filePath(args.at(i).toLower());
        OBSDataAutoRelease settings
                = ObsWrapper::formatSettings(OUTPUT_FORMAT_MAP.at(args.at(i).toUpper()), base, FPS,
                                             BITRATE, frame.width(), frame.height());
        const QByteArray name = ("reliability-" + args.at(i)).toUtf8();
        outputs.emplace_back(
                obs_output_create("vistrel_output", name.constData(), settings, nullptr));
        obs_output_t *output = outputs.back();
        if (!output)
            return 3;
        obs_output_set_mixers(output, 3);
        obs_output_set_media(output, obs_get_video(), obs_get_audio());
        if (!obs_output_start(output)) {
            std::fprintf(stderr, "%s did not start: %s\n", qPrintable(args.at(i)),
                         obs_output_get_last_error(output));
            return 4;
        }
    }
    std::printf("recording\n");
    std::fflush(stdout);
    schedulePause(&app, [&](bool pause) {
        for (auto &output : outputs)
            obs_output_pause(output, pause);
    });

    if (seconds > 0) {
        QTimer::singleShot(seconds * 1000, &app, [&]() {
            for (auto &output : outputs)
                obs_output_stop(output);
            // The outputs finish their files on their own threads; wait until all are idle.
            auto *poll = new QTimer(&app);
            QObject::connect(poll, &QTimer::timeout, &app, [&]() {
                for (auto &output : outputs)
                    if (obs_output_active(output))
                        return;
                app.quit();
            });
            poll->start(100);
        });
    }
    const int result = app.exec();
    outputs.clear();
    return result;
}
