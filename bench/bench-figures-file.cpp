#include "bench-figures-file.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

template<typename T> void put(QJsonObject &object, const char *key, const std::optional<T> &value)
{
    if (value)
        object.insert(QLatin1String(key), double(*value));
}

template<typename T> void take(const QJsonObject &object, const char *key, std::optional<T> &value)
{
    const QJsonValue found = object.value(QLatin1String(key));
    if (found.isDouble())
        value = T(found.toDouble());
}

} // namespace

bool BenchFiguresFile::save(const BenchFigures &figures, const QString &path)
{
    QJsonObject object {{"name", figures.name},
                        {"file", figures.file},
                        {"error", figures.error},
                        {"cpuSeconds", figures.cpuSeconds},
                        {"wallSeconds", figures.wallSeconds},
                        {"peakMemoryMb", figures.peakMemoryMb},
                        {"expectedFrames", figures.expectedFrames},
                        {"pixelFormat", figures.pixelFormat},
                        {"ssimFrames", figures.ssimFrames}};
    put(object, "frames", figures.frames);
    put(object, "distinctFrames", figures.distinctFrames);
    put(object, "uniqueFrames", figures.uniqueFrames);
    put(object, "droppedFrames", figures.droppedFrames);
    put(object, "duplicatedFrames", figures.duplicatedFrames);
    put(object, "laggedFrames", figures.laggedFrames);
    put(object, "startLatencyMs", figures.startLatencyMs);
    put(object, "stopLatencyMs", figures.stopLatencyMs);
    put(object, "fileBytes", figures.fileBytes);
    put(object, "ssim", figures.ssim);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(QJsonDocument(object).toJson()) > 0;
}

std::optional<BenchFigures> BenchFiguresFile::load(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonObject object = QJsonDocument::fromJson(file.readAll()).object();
    if (object.isEmpty())
        return std::nullopt;
    BenchFigures figures;
    figures.name = object.value("name").toString();
    figures.file = object.value("file").toString();
    figures.error = object.value("error").toString();
    figures.cpuSeconds = object.value("cpuSeconds").toDouble();
    figures.wallSeconds = object.value("wallSeconds").toDouble();
    figures.peakMemoryMb = object.value("peakMemoryMb").toDouble();
    figures.expectedFrames = object.value("expectedFrames").toInt();
    figures.pixelFormat = object.value("pixelFormat").toString();
    figures.ssimFrames = object.value("ssimFrames").toInt();
    take(object, "frames", figures.frames);
    take(object, "distinctFrames", figures.distinctFrames);
    take(object, "uniqueFrames", figures.uniqueFrames);
    take(object, "droppedFrames", figures.droppedFrames);
    take(object, "duplicatedFrames", figures.duplicatedFrames);
    take(object, "laggedFrames", figures.laggedFrames);
    take(object, "startLatencyMs", figures.startLatencyMs);
    take(object, "stopLatencyMs", figures.stopLatencyMs);
    take(object, "fileBytes", figures.fileBytes);
    take(object, "ssim", figures.ssim);
    return figures;
}
