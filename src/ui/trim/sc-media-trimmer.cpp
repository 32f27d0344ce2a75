#include "sc-media-trimmer.h"

#include "sc-logger.h"
#include "sc-media-av.h"
#include "sc-media-reencode.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtConcurrent>

#include <algorithm>
#include <vector>

using Failure = SCMediaTrimResult::Failure;

namespace {

const QStringList COPIED = {QStringLiteral("mp4"), QStringLiteral("mkv"), QStringLiteral("flv"),
                            QStringLiteral("avi"), QStringLiteral("mp3"), QStringLiteral("aac"),
                            QStringLiteral("flac")};
const QStringList REENCODED = {QStringLiteral("gif"), QStringLiteral("webm")};

// The latest keyframe of the picture stream at or before `at` (AV_TIME_BASE), in the stream's
// own time base; -1 when there is none.
int64_t keyframeBefore(AVFormatContext *input, int video, int64_t at, const std::atomic<bool> *stop)
{
    AVStream *stream = input->streams[video];
    const int64_t target = av_rescale_q(at, AV_TIME_BASE_Q, stream->time_base);
    SCMediaAv::Packet packet(av_packet_alloc());
    // A demuxer may land after the point asked for: look again from the beginning then.
    for (const int64_t from : {at, SCMediaAv::origin(input)}) {
        if (av_seek_frame(input, -1, from, AVSEEK_FLAG_BACKWARD) < 0)
            avformat_seek_file(input, -1, INT64_MIN, from, from, 0);
        int64_t best = -1;
        bool later = false;
        while (av_read_frame(input, packet.get()) >= 0) {
            const bool ours = packet->stream_index == video;
            const int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            const int64_t dts = packet->dts != AV_NOPTS_VALUE ? packet->dts : pts;
            const bool key = packet->flags & AV_PKT_FLAG_KEY;
            av_packet_unref(packet.get());
            if (stop && *stop)
                return -1;
            if (!ours || pts == AV_NOPTS_VALUE)
                continue;
            if (key && pts <= target)
                best = pts;
            else if (key && best < 0)
                later = true;
            if (dts > target)
                break;
        }
        if (best >= 0 || !later)
            return best;
    }
    return -1;
}

// A copied STREAMINFO still counts the source's samples and carries its checksum: the count
// becomes the piece's and the checksum "unknown", else players show the old length.
bool fixFlacLength(const QString &path, int64_t samples)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite) || file.read(4) != "fLaC" || !file.seek(18))
        return false;
    const QByteArray field = file.read(8);
    if (field.size() != 8)
        return false;
    uint64_t bits = 0;
    for (const char byte : field)
        bits = (bits << 8) | uint8_t(byte);
    bits = (bits & ~((uint64_t(1) << 36) - 1)) | (uint64_t(samples) & ((uint64_t(1) << 36) - 1));
    QByteArray patched(8 + 16, '\0');
    for (int i = 0; i < 8; ++i)
        patched[i] = char(bits >> (56 - 8 * i));
    return file.seek(18) && file.write(patched) == patched.size() && file.flush();
}

struct CopiedStream
{
    int output = -1;
    bool video = false;
    bool started = false;
    bool done = false;
};

SCMediaTrimResult copyStreams(const SCMediaTrimRequest &request, const QString &partPath,
                              const std::function<void(int)> &progress,
                              const std::atomic<bool> &cancel)
{
    SCMediaTrimResult result;
    SCMediaAv::Input input = SCMediaAv::openInput(request.source, &result);
    if (!input)
        return result;
    const int64_t origin = SCMediaAv::origin(input.get());
    const int64_t startUs = origin + request.startMs * 1000;
    const int64_t endUs = origin + request.endMs * 1000;
    const int video = SCMediaAv::videoStream(input.get());

    int64_t cutUs = -1;
    if (video >= 0) {
        const int64_t key = keyframeBefore(input.get(), video, startUs, &cancel);
        if (cancel)
            return SCMediaAv::failure(Failure::Cancelled, QString());
        if (key < 0)
            return SCMediaAv::failure(Failure::Unreadable, QStringLiteral("no keyframe found"));
        cutUs = SCMediaAv::toMicroseconds(key, input->streams[video]->time_base);
    }

    SCMediaAv::Output output = SCMediaAv::openOutput(request.target, partPath, &result);
    if (!output)
        return result;
    std::vector<CopiedStream> streams(input->nb_streams);
    int copied = 0;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream *in = input->streams[i];
        const AVMediaType type = in->codecpar->codec_type;
        if ((type != AVMEDIA_TYPE_VIDEO && type != AVMEDIA_TYPE_AUDIO)
            || (in->disposition & AV_DISPOSITION_ATTACHED_PIC))
            continue;
        if (avformat_query_codec(output->oformat, in->codecpar->codec_id, FF_COMPLIANCE_NORMAL)
            == 0)
            continue;
        AVStream *out = avformat_new_stream(output.get(), nullptr);
        if (!out || avcodec_parameters_copy(out->codecpar, in->codecpar) < 0)
            return SCMediaAv::failure(Failure::Failed, QStringLiteral("cannot add a stream"));
        out->codecpar->codec_tag = 0;
        out->time_base = in->time_base;
        streams[i].output = out->index;
        streams[i].video = type == AVMEDIA_TYPE_VIDEO;
        ++copied;
    }
    if (copied == 0)
        return SCMediaAv::failure(Failure::Unsupported, QStringLiteral("no stream to copy"));
    if (const int error = avformat_write_header(output.get(), nullptr); error < 0)
        return SCMediaAv::writeFailure(error, QStringLiteral("header"));

    if (av_seek_frame(input.get(), -1, cutUs >= 0 ? cutUs : startUs, AVSEEK_FLAG_BACKWARD) < 0)
        av_seek_frame(input.get(), -1, origin, AVSEEK_FLAG_BACKWARD);
    SCMediaAv::Packet packet(av_packet_alloc());
    int left = copied;
    bool wrote = false;
    int64_t flacSamples = 0;
    while (left > 0 && av_read_frame(input.get(), packet.get()) >= 0) {
        if (cancel)
            return SCMediaAv::failure(Failure::Cancelled, QString());
        const int index = packet->stream_index;
        CopiedStream *stream = index < int(streams.size()) ? &streams[index] : nullptr;
        if (!stream || stream->output < 0 || stream->done) {
            av_packet_unref(packet.get());
            continue;
        }
        const AVRational timeBase = input->streams[index]->time_base;
        const int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        const int64_t ptsUs = SCMediaAv::toMicroseconds(pts, timeBase);
        const int64_t dtsUs = packet->dts != AV_NOPTS_VALUE
                ? SCMediaAv::toMicroseconds(packet->dts, timeBase)
                : ptsUs;
        bool keep = pts != AV_NOPTS_VALUE;
        if (keep && stream->video) {
            // Pictures decode from the keyframe on; frames after the end that earlier ones
            // refer to stay, the decode order says which.
            if (!stream->started)
                keep = (packet->flags & AV_PKT_FLAG_KEY) && ptsUs >= cutUs;
            if (dtsUs >= endUs)
                stream->done = true;
        } else if (keep) {
            const int64_t length = SCMediaAv::toMicroseconds(packet->duration, timeBase);
            if (cutUs < 0 && ptsUs + length > startUs)
                cutUs = ptsUs; // sound alone: the first piece reaching into the range
            keep = cutUs >= 0 && ptsUs >= cutUs;
            if (ptsUs >= endUs)
                stream->done = true;
        }
        if (stream->done) {
            --left;
            if (!stream->video || ptsUs >= endUs)
                keep = false;
        }
        if (!keep) {
            av_packet_unref(packet.get());
            continue;
        }
        stream->started = true;
        const int64_t shift = av_rescale_q(cutUs, AV_TIME_BASE_Q, timeBase);
        if (packet->pts != AV_NOPTS_VALUE)
            packet->pts -= shift;
        if (packet->dts != AV_NOPTS_VALUE)
            packet->dts -= shift;
        AVStream *out = output->streams[stream->output];
        if (out->codecpar->codec_id == AV_CODEC_ID_FLAC)
            flacSamples += av_rescale_q(packet->duration, timeBase,
                                        AVRational {1, out->codecpar->sample_rate});
        av_packet_rescale_ts(packet.get(), timeBase, out->time_base);
        packet->stream_index = stream->output;
        packet->pos = -1;
        if (const int error = av_interleaved_write_frame(output.get(), packet.get()); error < 0)
            return SCMediaAv::writeFailure(error, QStringLiteral("packet"));
        wrote = true;
        if (endUs > cutUs)
            progress(int(std::clamp<int64_t>((ptsUs - cutUs) * 100 / (endUs - cutUs), 0, 99)));
    }
    if (!wrote)
        return SCMediaAv::failure(Failure::Failed, QStringLiteral("nothing in the range"));
    const bool flac = output->oformat == av_guess_format("flac", nullptr, nullptr);
    result = SCMediaAv::finishOutput(output.get());
    if (result.ok() && flac && !fixFlacLength(partPath, flacSamples))
        result = SCMediaAv::failure(Failure::Failed, QStringLiteral("FLAC header not updated"));
    result.startMs = (cutUs - origin) / 1000;
    return result;
}

} // namespace

SCMediaTrimmer::SCMediaTrimmer(QObject *parent)
    : QObject(parent)
    , m_watcher(new QFutureWatcher<SCMediaTrimResult>(this))
{
    connect(m_watcher, &QFutureWatcher<SCMediaTrimResult>::finished, this,
            [this] { emit finished(m_watcher->result()); });
}

SCMediaTrimmer::~SCMediaTrimmer()
{
    cancel();
    m_watcher->waitForFinished();
}

bool SCMediaTrimmer::isSupported(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return COPIED.contains(suffix) || REENCODED.contains(suffix);
}

bool SCMediaTrimmer::copiesStreams(const QString &path)
{
    return COPIED.contains(QFileInfo(path).suffix().toLower());
}

qint64 SCMediaTrimmer::durationMs(const QString &path)
{
    SCMediaTrimResult ignored;
    const SCMediaAv::Input input = SCMediaAv::openInput(path, &ignored);
    if (!input || input->duration == AV_NOPTS_VALUE)
        return -1;
    return input->duration / 1000;
}

bool SCMediaTrimmer::hasVideo(const QString &path)
{
    SCMediaTrimResult ignored;
    const SCMediaAv::Input input = SCMediaAv::openInput(path, &ignored);
    return input && SCMediaAv::videoStream(input.get()) >= 0;
}

qint64 SCMediaTrimmer::keyframeAtOrBefore(const QString &path, qint64 startMs)
{
    SCMediaTrimResult ignored;
    const SCMediaAv::Input input = SCMediaAv::openInput(path, &ignored);
    if (!input)
        return -1;
    const int video = SCMediaAv::videoStream(input.get());
    if (video < 0)
        return startMs;
    const int64_t origin = SCMediaAv::origin(input.get());
    const int64_t key = keyframeBefore(input.get(), video, origin + startMs * 1000, nullptr);
    if (key < 0)
        return -1;
    return (SCMediaAv::toMicroseconds(key, input->streams[video]->time_base) - origin) / 1000;
}

QString SCMediaTrimmer::defaultTarget(const QString &source)
{
    const QFileInfo info(source);
    const QString base = info.completeBaseName() + QStringLiteral("_trimmed");
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    QString candidate = info.dir().filePath(base + suffix);
    for (int n = 2; QFileInfo::exists(candidate); ++n)
        candidate = info.dir().filePath(QStringLiteral("%1 (%2)%3").arg(base).arg(n).arg(suffix));
    return candidate;
}

SCMediaTrimResult SCMediaTrimmer::trim(const SCMediaTrimRequest &request,
                                       const std::function<void(int)> &progress,
                                       const std::atomic<bool> &cancel)
{
    const QFileInfo source(request.source);
    const QFileInfo target(request.target);
    if (!source.isFile())
        return SCMediaAv::failure(Failure::Unreadable, QStringLiteral("no such file"));
    if (!isSupported(request.source) || !isSupported(request.target)
        || source.suffix().compare(target.suffix(), Qt::CaseInsensitive) != 0)
        return SCMediaAv::failure(Failure::Unsupported, source.suffix());
    if (target.absoluteFilePath() == source.absoluteFilePath()
        || (target.exists() && target.canonicalFilePath() == source.canonicalFilePath()))
        return SCMediaAv::failure(Failure::NotWritable, QStringLiteral("target is the source"));
    if (request.endMs <= request.startMs || request.startMs < 0)
        return SCMediaAv::failure(Failure::Failed, QStringLiteral("empty range"));

    // Written beside the target and renamed at the end, so no half file ever has its name.
    const QString part = request.target + QStringLiteral(".part");
    QFile::remove(part);
    const bool copy = copiesStreams(request.source) && !request.exact;
    SCMediaTrimResult result = copy ? copyStreams(request, part, progress, cancel)
                                    : SCMediaReencode::run(request, part, progress, cancel);
    if (result.ok()) {
        QFile::remove(request.target);
        if (!QFile::rename(part, request.target))
            result = SCMediaAv::failure(Failure::NotWritable, QStringLiteral("rename failed"));
    }
    if (!result.ok()) {
        QFile::remove(part);
        if (result.failure != Failure::Cancelled) {
            SCLogger::instance()->warning(
                    QStringLiteral("Trimming %1 into %2 failed: %3")
                            .arg(request.source, request.target, result.detail));
        }
        return result;
    }
    progress(100);
    SCLogger::instance()->info(
            QStringLiteral("Trimmed %1 (%2-%3 ms, %4) into %5")
                    .arg(request.source)
                    .arg(result.startMs)
                    .arg(request.endMs)
                    .arg(copy ? QStringLiteral("stream copy") : QStringLiteral("re-encoded"))
                    .arg(request.target));
    return result;
}

bool SCMediaTrimmer::isRunning() const
{
    return m_watcher->isRunning();
}

void SCMediaTrimmer::start(const SCMediaTrimRequest &request)
{
    if (isRunning())
        return;
    m_cancel = std::make_shared<std::atomic<bool>>(false);
    const auto cancelFlag = m_cancel;
    const auto report = [this](int percent) {
        QMetaObject::invokeMethod(
                this, [this, percent] { emit progressChanged(percent); }, Qt::QueuedConnection);
    };
    m_watcher->setFuture(QtConcurrent::run(
            [request, cancelFlag, report] { return trim(request, report, *cancelFlag); }));
}

void SCMediaTrimmer::cancel()
{
    if (m_cancel)
        *m_cancel = true;
}
