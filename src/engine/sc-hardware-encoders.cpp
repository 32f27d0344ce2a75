#include "sc-hardware-encoders.h"

#include "hardware-video-encoder.h"

#include <QMutex>

namespace {

bool toKind(VideoEncoderChoice choice, HardwareVideoEncoder::Kind *kind)
{
    if (choice == VideoEncoderChoice::VaApi)
        *kind = HardwareVideoEncoder::Kind::VaApi;
    else if (choice == VideoEncoderChoice::Nvenc)
        *kind = HardwareVideoEncoder::Kind::Nvenc;
    else
        return false;
    return true;
}

} // namespace

const QList<SCHardwareEncoders::Probe> &SCHardwareEncoders::probes()
{
    static QMutex mutex;
    static bool probed = false;
    static QList<Probe> found;
    QMutexLocker lock(&mutex);
    if (!probed) {
        for (VideoEncoderChoice choice : {VideoEncoderChoice::VaApi, VideoEncoderChoice::Nvenc}) {
            HardwareVideoEncoder::Kind kind = HardwareVideoEncoder::Kind::VaApi;
            toKind(choice, &kind);
            std::string reason;
            const bool works = HardwareVideoEncoder::works(kind, &reason);
            found.append({choice, works, QString::fromStdString(reason)});
        }
        probed = true;
    }
    return found;
}

QList<VideoEncoderChoice> SCHardwareEncoders::available()
{
    QList<VideoEncoderChoice> kinds;
    for (const Probe &probe : probes())
        if (probe.works)
            kinds.append(probe.kind);
    return kinds;
}

QString SCHardwareEncoders::encoderName(VideoEncoderChoice kind)
{
    HardwareVideoEncoder::Kind hardware = HardwareVideoEncoder::Kind::VaApi;
    return toKind(kind, &hardware) ? QLatin1String(HardwareVideoEncoder::codecName(hardware))
                                   : QString();
}
