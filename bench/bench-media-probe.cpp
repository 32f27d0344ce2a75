#include "bench-media-probe.h"

#include <QProcess>
#include <QSet>

namespace {

// Counting every frame of a long 1080p file takes a while on a busy machine.
const int TOOL_TIMEOUT_MS = 600000;

} // namespace

std::optional<QByteArray> BenchMediaProbe::run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(TOOL_TIMEOUT_MS) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        process.kill();
        process.waitForFinished(5000);
        return std::nullopt;
    }
    return process.readAllStandardOutput();
}

std::optional<long> BenchMediaProbe::frameCount(const QString &file)
{
    const auto out = run(QStringLiteral("ffprobe"),
                         {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                          "stream=nb_read_frames", "-of", "csv=p=0", file});
    bool ok = false;
    const long count = out ? out->trimmed().toLong(&ok) : 0;
    return ok ? std::optional<long>(count) : std::nullopt;
}

std::optional<long> BenchMediaProbe::distinctFrameCount(const QString &file)
{
    // framemd5 writes one line per frame that leaves the filter; passthrough keeps ffmpeg
    // from filling the gaps mpdecimate leaves with copies.
    const auto out = run(QStringLiteral("ffmpeg"),
                         {"-v", "error", "-nostdin", "-i", file, "-map", "0:v:0", "-vf",
                          "mpdecimate", "-fps_mode", "passthrough", "-f", "framemd5", "-"});
    if (!out)
        return std::nullopt;
    long count = 0;
    for (const QByteArray &line : out->split('\n'))
        if (!line.isEmpty() && !line.startsWith('#'))
            ++count;
    return count;
}

std::optional<long> BenchMediaProbe::uniqueFrameCount(const QString &file)
{
    const auto out
            = run(QStringLiteral("ffmpeg"),
                  {"-v", "error", "-nostdin", "-i", file, "-map", "0:v:0", "-f", "framemd5", "-"});
    if (!out)
        return std::nullopt;
    QSet<QByteArray> hashes;
    for (const QByteArray &line : out->split('\n'))
        if (!line.isEmpty() && !line.startsWith('#'))
            hashes.insert(line.mid(line.lastIndexOf(',') + 1).trimmed());
    return long(hashes.size());
}

QImage BenchMediaProbe::firstFrame(const QString &file, const QString &pngPath)
{
    if (!run(QStringLiteral("ffmpeg"),
             {"-v", "error", "-nostdin", "-y", "-i", file, "-frames:v", "1", pngPath}))
        return {};
    return QImage(pngPath);
}

QString BenchMediaProbe::pixelFormat(const QString &file)
{
    const auto out = run(QStringLiteral("ffprobe"),
                         {"-v", "error", "-select_streams", "v:0", "-show_entries",
                          "stream=pix_fmt", "-of", "csv=p=0", file});
    return out ? QString::fromUtf8(out->trimmed()) : QString();
}
