#include "media-probe.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

namespace {

QByteArray run(const QString &program, const QStringList &args, int *exitCode,
               QByteArray *errors = nullptr)
{
    QProcess process;
    process.start(program, args);
    process.waitForFinished(120000);
    *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    if (errors)
        *errors = process.readAllStandardError();
    return process.readAllStandardOutput();
}

} // namespace

MediaProbe::MediaProbe(const QString &path)
    : m_path(path)
{
    int code = 0;
    QByteArray errors;
    const QByteArray out
            = run("ffprobe", {"-v", "error", "-show_format", "-show_streams", "-of", "json", path},
                  &code, &errors);
    m_info = QJsonDocument::fromJson(out).object();
    m_ok = code == 0 && m_info.contains("format");
    m_error = QString::fromUtf8(errors);
}

QString MediaProbe::formatName() const
{
    return m_info.value("format").toObject().value("format_name").toString();
}

double MediaProbe::formatDuration() const
{
    const QJsonValue v = m_info.value("format").toObject().value("duration");
    return v.isString() ? v.toString().toDouble() : -1.0;
}

QStringList MediaProbe::codecs() const
{
    QStringList list;
    for (const QJsonValue &s : m_info.value("streams").toArray())
        list << s.toObject().value("codec_name").toString();
    return list;
}

QJsonObject MediaProbe::stream(const QString &type) const
{
    for (const QJsonValue &s : m_info.value("streams").toArray()) {
        if (s.toObject().value("codec_type").toString() == type)
            return s.toObject();
    }
    return {};
}

void MediaProbe::readPackets() const
{
    if (m_havePackets)
        return;
    m_havePackets = true;
    int code = 0;
    const QByteArray out
            = run("ffprobe",
                  {"-v", "error", "-show_entries", "packet=stream_index,pts_time,duration_time",
                   "-of", "json", m_path},
                  &code);
    m_packets = QJsonDocument::fromJson(out).object();
}

std::pair<double, double> MediaProbe::packetSpan(const QString &type) const
{
    const QJsonObject s = stream(type);
    if (s.isEmpty())
        return {-1.0, -1.0};
    readPackets();
    const int index = s.value("index").toInt();
    double start = std::numeric_limits<double>::infinity();
    double end = -1.0;
    for (const QJsonValue &p : m_packets.value("packets").toArray()) {
        const QJsonObject o = p.toObject();
        if (o.value("stream_index").toInt() != index)
            continue;
        const double pts = o.value("pts_time").toString().toDouble();
        const double duration = o.value("duration_time").toString().toDouble();
        start = std::min(start, pts);
        end = std::max(end, pts + duration);
    }
    return {end < 0.0 ? -1.0 : start, end};
}

double MediaProbe::packetEnd(const QString &type) const
{
    return packetSpan(type).second;
}

double MediaProbe::packetStart(const QString &type) const
{
    return packetSpan(type).first;
}

int MediaProbe::packetCount(const QString &type) const
{
    const QJsonObject s = stream(type);
    if (s.isEmpty())
        return 0;
    readPackets();
    const int index = s.value("index").toInt();
    int count = 0;
    for (const QJsonValue &p : m_packets.value("packets").toArray()) {
        if (p.toObject().value("stream_index").toInt() == index)
            ++count;
    }
    return count;
}

bool MediaProbe::decodes(const QString &path, QString *messages)
{
    int code = 0;
    QByteArray errors;
    run("ffmpeg", {"-nostdin", "-v", "error", "-i", path, "-f", "null", "-"}, &code, &errors);
    if (messages)
        *messages = QString::fromUtf8(errors);
    return code == 0 && errors.trimmed().isEmpty();
}

double MediaProbe::decodedDuration(const QString &path)
{
    int code = 0;
    QByteArray errors;
    run("ffmpeg", {"-nostdin", "-i", path, "-f", "null", "-"}, &code, &errors);
    const QRegularExpressionMatch m
            = QRegularExpression("time=(\\d+):(\\d+):(\\d+\\.\\d+)(?![\\s\\S]*time=)")
                      .match(QString::fromUtf8(errors));
    if (!m.hasMatch())
        return 0.0;
    return m.captured(1).toInt() * 3600 + m.captured(2).toInt() * 60 + m.captured(3).toDouble();
}

QString MediaProbe::streamSummary() const
{
    QStringList lines;
    for (const QJsonValue &value : m_info.value("streams").toArray()) {
        const QJsonObject s = value.toObject();
        const QString type = s.value("codec_type").toString();
        lines << (type == "video" ? QString("video,%1,%2")
                                            .arg(s.value("width").toInt())
                                            .arg(s.value("height").toInt())
                                  : type);
    }
    return lines.join('\n');
}

MediaProbe::Loudness MediaProbe::loudness(const QString &path, const QString &filter, double skip)
{
    const QString chain = filter.isEmpty() ? QStringLiteral("volumedetect")
                                           : filter + QStringLiteral(",volumedetect");
    int code = 0;
    QByteArray errors;
    run("ffmpeg",
        {"-hide_banner", "-nostdin", "-ss", QString::number(skip), "-i", path, "-map", "0:a:0?",
         "-af", chain, "-f", "null", "-"},
        &code, &errors);
    const QString log = QString::fromUtf8(errors);
    const auto read = [&log](const char *key, double &value) {
        const auto match
                = QRegularExpression(QStringLiteral("%1: (-?[0-9.]+|-inf) dB").arg(key)).match(log);
        if (!match.hasMatch())
            return false;
        value = match.captured(1) == QLatin1String("-inf")
                ? -std::numeric_limits<double>::infinity()
                : match.captured(1).toDouble();
        return true;
    };
    Loudness result;
    result.hasAudio = read("mean_volume", result.mean) && read("max_volume", result.max);
    return result;
}

QList<QByteArray> MediaProbe::gifPalettes(const QString &path, int *pictures)
{
    QList<QByteArray> palettes;
    *pictures = 0;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return palettes;
    const QByteArray gif = file.readAll();
    auto byte = [&](qsizetype at) { return at < gif.size() ? (quint8)gif[at] : 0; };
    auto skipSubBlocks = [&](qsizetype at) {
        while (at < gif.size() && byte(at) != 0)
            at += byte(at) + 1;
        return at + 1;
    };
    if (gif.size() < 13 || !gif.startsWith("GIF"))
        return palettes;
    qsizetype at = 13;
    if (byte(10) & 0x80) {
        const int size = 3 * (1 << ((byte(10) & 7) + 1));
        palettes << gif.mid(at, size);
        at += size;
    }
    while (at < gif.size()) {
        const quint8 kind = byte(at);
        if (kind == 0x21) {
            at = skipSubBlocks(at + 2);
        } else if (kind == 0x2C) {
            ++*pictures;
            const quint8 packed = byte(at + 9);
            at += 10;
            if (packed & 0x80) {
                const int size = 3 * (1 << ((packed & 7) + 1));
                palettes << gif.mid(at, size);
                at += size;
            }
            at = skipSubBlocks(at + 1);
        } else {
            break; // trailer
        }
    }
    return palettes;
}

std::optional<QByteArray> MediaProbe::runTool(const QString &program, const QStringList &arguments,
                                              int timeoutMs)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        process.kill();
        process.waitForFinished(5000);
        return std::nullopt;
    }
    return process.readAllStandardOutput();
}

std::optional<long> MediaProbe::frameCount(const QString &file)
{
    const auto out = runTool(QStringLiteral("ffprobe"),
                             {"-v", "error", "-count_frames", "-select_streams", "v:0",
                              "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0", file});
    bool ok = false;
    const long count = out ? out->trimmed().toLong(&ok) : 0;
    return ok ? std::optional<long>(count) : std::nullopt;
}

std::optional<long> MediaProbe::distinctFrameCount(const QString &file)
{
    // framemd5 writes one line per frame that leaves the filter; passthrough keeps ffmpeg
    // from filling the gaps mpdecimate leaves with copies.
    const auto out = runTool(QStringLiteral("ffmpeg"),
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

std::optional<long> MediaProbe::uniqueFrameCount(const QString &file)
{
    const auto out = runTool(
            QStringLiteral("ffmpeg"),
            {"-v", "error", "-nostdin", "-i", file, "-map", "0:v:0", "-f", "framemd5", "-"});
    if (!out)
        return std::nullopt;
    QSet<QByteArray> hashes;
    for (const QByteArray &line : out->split('\n'))
        if (!line.isEmpty() && !line.startsWith('#'))
            hashes.insert(line.mid(line.lastIndexOf(',') + 1).trimmed());
    return long(hashes.size());
}

QImage MediaProbe::frame(const QString &file, const QString &pngPath, bool fromEnd)
{
    QStringList args {"-v", "error", "-nostdin", "-y"};
    if (fromEnd)
        args << "-sseof"
             << "-0.5";
    args << "-i" << file << "-frames:v"
         << "1" << pngPath;
    if (!runTool(QStringLiteral("ffmpeg"), args))
        return {};
    return QImage(pngPath);
}

QString MediaProbe::pixelFormat(const QString &file)
{
    const auto out = runTool(QStringLiteral("ffprobe"),
                             {"-v", "error", "-select_streams", "v:0", "-show_entries",
                              "stream=pix_fmt", "-of", "csv=p=0", file});
    return out ? QString::fromUtf8(out->trimmed()) : QString();
}
