#include "bench-av-sync.h"

#include <QProcess>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace BenchAvSync {

namespace {

constexpr int ENVELOPE_RATE = 48000;
constexpr int ENVELOPE_STEP = ENVELOPE_RATE / 1000;

QByteArray run(const QString &program, const QStringList &args, QString *error,
               QByteArray *errorOutput = nullptr)
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForStarted()) {
        *error = program + QStringLiteral(" did not start");
        return {};
    }
    QByteArray out;
    // The output of an hour of sound does not fit a pipe: read while it runs.
    while (!process.waitForFinished(100))
        out += process.readAllStandardOutput();
    out += process.readAllStandardOutput();
    if (errorOutput)
        *errorOutput = process.readAllStandardError();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        *error = program + QStringLiteral(" failed on the file");
    return out;
}

} // namespace

std::vector<double> risingEdges(const std::vector<std::pair<double, double>> &values,
                                double threshold, double quietGap)
{
    std::vector<double> edges;
    bool above = false;
    double lastAbove = -1e9;
    for (const auto &[t, value] : values) {
        if (value >= threshold) {
            if (!above && t - lastAbove >= quietGap)
                edges.push_back(t);
            above = true;
            lastAbove = t;
        } else {
            above = false;
        }
    }
    return edges;
}

double sinceFlashStart(double luma, double rampSeconds)
{
    const double part = (luma - 16.0) / (235.0 - 16.0);
    return std::clamp(part, 0.0, 1.0) * rampSeconds;
}

std::vector<Span> spans(const std::vector<Offset> &offsets, double seconds)
{
    std::vector<Span> result;
    if (seconds <= 0.0)
        return result;
    for (const Offset &offset : offsets) {
        const double from = std::floor(offset.at / seconds) * seconds;
        if (result.empty() || result.back().from != from)
            result.push_back({from, from + seconds});
        Span &span = result.back();
        span.mean += (offset.seconds - span.mean) / ++span.pairs;
        if (std::abs(offset.seconds) > std::abs(span.largest))
            span.largest = offset.seconds;
    }
    return result;
}

std::vector<Offset> pairUp(const std::vector<double> &flashes, const std::vector<double> &beeps,
                           double maxDistance)
{
    std::vector<Offset> offsets;
    for (double flash : flashes) {
        const auto it = std::lower_bound(beeps.begin(), beeps.end(), flash);
        double best = 1e9;
        if (it != beeps.end())
            best = *it - flash;
        if (it != beeps.begin() && std::abs(*(it - 1) - flash) < std::abs(best))
            best = *(it - 1) - flash;
        if (std::abs(best) <= maxDistance)
            offsets.push_back({flash, best});
    }
    return offsets;
}

std::vector<std::pair<double, double>> pictureBrightness(const QString &file, QString *error)
{
    const QByteArray out
            = run(QStringLiteral("ffmpeg"),
                  {"-hide_banner", "-nostdin", "-v", "error", "-i", file, "-map", "0:v:0", "-vf",
                   "scale=64:36,signalstats,metadata=print:key=lavfi.signalstats.YAVG:file=-", "-f",
                   "null", "-"},
                  error);
    std::vector<std::pair<double, double>> values;
    static const QRegularExpression frame(QStringLiteral("pts_time:([0-9.]+)"));
    static const QRegularExpression luma(QStringLiteral("YAVG=([0-9.]+)"));
    double t = -1.0;
    for (const QByteArray &line : out.split('\n')) {
        const QString text = QString::fromLatin1(line);
        const auto f = frame.match(text);
        if (f.hasMatch()) {
            t = f.captured(1).toDouble();
            continue;
        }
        const auto y = luma.match(text);
        if (y.hasMatch() && t >= 0.0)
            values.emplace_back(t, y.captured(1).toDouble());
    }
    return values;
}

std::vector<std::pair<double, double>> soundEnvelope(const QString &file, QString *error)
{
    // Raw samples carry no times: a gap between two packets (a fragmented MP4 starts its
    // sound with the encoder's priming packet at 0) would move everything after it earlier.
    // The resampler fills every gap with silence from time 0, so sample i is at i / rate.
    const QByteArray raw
            = run(QStringLiteral("ffmpeg"),
                  {"-hide_banner", "-nostdin", "-v", "error", "-i", file, "-map", "0:a:0", "-af",
                   "aresample=async=1:min_hard_comp=0.001:first_pts=0", "-ac", "1", "-ar",
                   QString::number(ENVELOPE_RATE), "-f", "s16le", "-"},
                  error);
    std::vector<std::pair<double, double>> values;
    const auto *samples = reinterpret_cast<const int16_t *>(raw.constData());
    const qsizetype count = raw.size() / qsizetype(sizeof(int16_t));
    for (qsizetype i = 0; i + ENVELOPE_STEP <= count; i += ENVELOPE_STEP) {
        int loudest = 0;
        for (int j = 0; j < ENVELOPE_STEP; ++j)
            loudest = std::max(loudest, std::abs(int(samples[i + j])));
        values.emplace_back(double(i) / ENVELOPE_RATE, loudest / 32768.0);
    }
    return values;
}

std::vector<Offset> measure(const QString &file, QString *error)
{
    const auto pictures = pictureBrightness(file, error);
    const auto sound = soundEnvelope(file, error);
    if (!error->isEmpty())
        return {};
    if (pictures.empty() || sound.empty()) {
        *error = QStringLiteral("the file has no pictures or no sound");
        return {};
    }
    // The first picture a little above black shows a flash under way; its brightness says
    // for how long. Beeps rise from silence to half scale: a fifth of it marks their start,
    // clear of noise and of the encoder's smoothing.
    constexpr double RAMP_SECONDS = 0.2;
    std::vector<double> flashes;
    for (double t : risingEdges(pictures, 24.0, 0.5)) {
        const auto it = std::lower_bound(pictures.begin(), pictures.end(), std::make_pair(t, -1.0));
        flashes.push_back(t - sinceFlashStart(it->second, RAMP_SECONDS));
    }
    const auto beeps = risingEdges(sound, 0.2, 0.5);
    return pairUp(flashes, beeps, 0.4);
}

} // namespace BenchAvSync
