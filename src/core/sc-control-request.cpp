#include "sc-control-request.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("SCControlRequest", text);
}

SCControlError invalid(const QString &message)
{
    return {SCControlErrors::INVALID_ARGUMENT, message};
}

bool unknownKeys(const QVariantMap &options, const QStringList &known, SCControlError *error)
{
    for (auto it = options.begin(); it != options.end(); ++it) {
        if (!known.contains(it.key())) {
            *error = invalid(tr("Unknown option: %1").arg(it.key()));
            return true;
        }
    }
    return false;
}

} // namespace

QRect parseRegion(const QString &text)
{
    static const QRegularExpression pattern(
            QStringLiteral("^\\s*(-?\\d+)\\s*,\\s*(-?\\d+)\\s*,\\s*(\\d+)\\s*[xX]\\s*(\\d+)\\s*$"));
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch())
        return {};
    bool ok = true;
    const int x = m.captured(1).toInt(&ok);
    const int y = ok ? m.captured(2).toInt(&ok) : 0;
    const int w = ok ? m.captured(3).toInt(&ok) : 0;
    const int h = ok ? m.captured(4).toInt(&ok) : 0;
    return ok ? QRect(x, y, w, h) : QRect();
}

SCRecordingRequest SCRecordingRequest::fromOptions(const QVariantMap &options,
                                                   SCControlError *error)
{
    SCRecordingRequest request;
    *error = {};
    if (unknownKeys(options, {"area", "region", "format", "countdown"}, error))
        return request;
    const QString area = options.value(QStringLiteral("area")).toString();
    if (options.contains(QStringLiteral("region")))
        request.area = Area::Region;
    if (area == QLatin1String("full"))
        request.area = Area::Full;
    else if (area == QLatin1String("region"))
        request.area = Area::Region;
    else if (area == QLatin1String("window"))
        request.area = Area::Window;
    else if (area == QLatin1String("last-region"))
        request.area = Area::LastRegion;
    else if (!area.isEmpty()) {
        *error = invalid(tr("Unknown area: %1").arg(area));
        return request;
    }
    // A region area without a region is dragged out by the person.
    if (request.area == Area::Region && options.contains(QStringLiteral("region"))) {
        const QString text = options.value(QStringLiteral("region")).toString();
        request.region = parseRegion(text);
        if (request.region.isEmpty()) {
            *error = invalid(tr("The region %1 is empty").arg(text));
            return request;
        }
    }
    if (options.contains(QStringLiteral("format"))) {
        const QString format = options.value(QStringLiteral("format")).toString().toUpper();
        const auto found = OUTPUT_FORMAT_MAP.find(format);
        if (found == OUTPUT_FORMAT_MAP.end()) {
            *error = invalid(tr("Unknown format: %1")
                                     .arg(options.value(QStringLiteral("format")).toString()));
            return request;
        }
        request.hasFormat = true;
        request.format = found->second;
    }
    if (options.contains(QStringLiteral("countdown")))
        request.countdown = options.value(QStringLiteral("countdown")).toBool();
    return request;
}

SCScreenshotRequest SCScreenshotRequest::fromOptions(const QString &mode,
                                                     const QVariantMap &options,
                                                     SCControlError *error)
{
    SCScreenshotRequest request;
    *error = {};
    if (mode == QLatin1String("full"))
        request.mode = Mode::Full;
    else if (mode == QLatin1String("region"))
        request.mode = Mode::Region;
    else if (mode == QLatin1String("window"))
        request.mode = Mode::Window;
    else if (mode == QLatin1String("last-region"))
        request.mode = Mode::LastRegion;
    else {
        *error = invalid(tr("Unknown screenshot mode: %1").arg(mode));
        return request;
    }
    if (unknownKeys(options, {"clipboard", "path", "delay"}, error))
        return request;
    if (options.contains(QStringLiteral("delay"))) {
        bool ok = false;
        request.delay = options.value(QStringLiteral("delay")).toInt(&ok);
        if (!ok || request.delay < 0 || request.delay > MAX_DELAY) {
            *error = invalid(tr("The delay must be 0 to %1 seconds: %2")
                                     .arg(MAX_DELAY)
                                     .arg(options.value(QStringLiteral("delay")).toString()));
            return request;
        }
    }
    request.clipboard = options.value(QStringLiteral("clipboard")).toBool();
    request.path = options.value(QStringLiteral("path")).toString();
    if (!request.path.isEmpty()) {
        const QFileInfo info(request.path);
        request.path = info.absoluteFilePath();
        if (!QFileInfo(info.absolutePath()).isDir()) {
            *error = invalid(tr("The folder of %1 does not exist").arg(request.path));
            return request;
        }
    }
    return request;
}
