#include "sc-media-av.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>

using Failure = SCMediaTrimResult::Failure;

namespace {

const char *muxerName(const QString &suffix)
{
    if (suffix == QLatin1String("mkv"))
        return "matroska";
    if (suffix == QLatin1String("aac"))
        return "adts";
    if (suffix == QLatin1String("mp4") || suffix == QLatin1String("webm")
        || suffix == QLatin1String("flv") || suffix == QLatin1String("avi")
        || suffix == QLatin1String("gif") || suffix == QLatin1String("mp3")
        || suffix == QLatin1String("flac"))
        return nullptr; // the suffix names the muxer
    return "";
}

} // namespace

namespace SCMediaAv {

QString errorText(int error)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return QString::fromUtf8(text);
}

SCMediaTrimResult failure(Failure failure, const QString &detail)
{
    SCMediaTrimResult result;
    result.failure = failure;
    result.detail = detail;
    return result;
}

SCMediaTrimResult writeFailure(int error, const QString &step)
{
    const QString detail = step + QStringLiteral(": ") + errorText(error);
    if (error == AVERROR(ENOSPC) || error == AVERROR(EDQUOT) || error == AVERROR(EFBIG))
        return failure(Failure::DiskFull, detail);
    if (error == AVERROR(EACCES) || error == AVERROR(EROFS) || error == AVERROR(EPERM)
        || error == AVERROR(ENOENT))
        return failure(Failure::NotWritable, detail);
    return failure(Failure::Failed, detail);
}

Input openInput(const QString &path, SCMediaTrimResult *result)
{
    AVFormatContext *context = nullptr;
    const QByteArray name = QFile::encodeName(path);
    int error = avformat_open_input(&context, name.constData(), nullptr, nullptr);
    if (error >= 0) {
        Input input(context);
        error = avformat_find_stream_info(context, nullptr);
        if (error >= 0)
            return input;
    }
    *result = failure(Failure::Unreadable, errorText(error));
    return nullptr;
}

Output openOutput(const QString &target, const QString &path, SCMediaTrimResult *result)
{
    const QString suffix = QFileInfo(target).suffix().toLower();
    const char *muxer = muxerName(suffix);
    const QByteArray targetName = QFile::encodeName(target);
    AVFormatContext *context = nullptr;
    if (!muxer || *muxer) {
        avformat_alloc_output_context2(&context, nullptr, muxer,
                                       muxer ? nullptr : targetName.constData());
    }
    if (!context) {
        *result = failure(Failure::Unsupported, suffix);
        return nullptr;
    }
    Output output(context);
    const QByteArray name = QFile::encodeName(path);
    if (const int error = avio_open(&context->pb, name.constData(), AVIO_FLAG_WRITE); error < 0) {
        *result = writeFailure(error, QStringLiteral("open"));
        return nullptr;
    }
    return output;
}

SCMediaTrimResult finishOutput(AVFormatContext *output)
{
    int error = av_write_trailer(output);
    if (error >= 0)
        avio_flush(output->pb);
    if (error >= 0 && output->pb->error < 0)
        error = output->pb->error;
    const int closed = avio_closep(&output->pb);
    if (error >= 0)
        error = closed;
    return error < 0 ? writeFailure(error, QStringLiteral("end")) : SCMediaTrimResult();
}

int64_t origin(const AVFormatContext *input)
{
    return input->start_time != AV_NOPTS_VALUE ? input->start_time : 0;
}

int videoStream(const AVFormatContext *input)
{
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVStream *stream = input->streams[i];
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO
            && !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return int(i);
    }
    return -1;
}

int audioStream(const AVFormatContext *input)
{
    const int index = av_find_best_stream(const_cast<AVFormatContext *>(input), AVMEDIA_TYPE_AUDIO,
                                          -1, -1, nullptr, 0);
    return index >= 0 ? index : -1;
}

int64_t toMicroseconds(int64_t ts, AVRational timeBase)
{
    return av_rescale_q(ts, timeBase, AV_TIME_BASE_Q);
}

} // namespace SCMediaAv
