#include "sc-multimedia-check.h"

#include "sc-logger.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QMediaDevices>
#include <QPluginLoader>

namespace SCMultimediaCheck {

namespace {

const char *const PLUGIN_IID = "org.qt-project.Qt.QPlatformMediaPlugin";

SCLogger *logger()
{
    return SCLogger::instance();
}

} // namespace

QString formatText(const QCameraFormat &format)
{
    return QStringLiteral("%1x%2 @ %3 FPS")
            .arg(format.resolution().width())
            .arg(format.resolution().height())
            .arg(format.maxFrameRate());
}

bool backendAvailable(QString *reason)
{
    // Qt itself honours this variable and gives up when the named backend is missing.
    const QString wanted = qEnvironmentVariable("QT_MEDIA_BACKEND");
    QStringList searched;
    QStringList failures;
    const QStringList paths = QCoreApplication::libraryPaths();
    for (const QString &path : paths) {
        const QDir dir(path + QStringLiteral("/multimedia"));
        searched << dir.path();
        const QStringList files = dir.entryList(QDir::Files);
        for (const QString &file : files) {
            QPluginLoader loader(dir.filePath(file));
            const QJsonObject meta = loader.metaData();
            if (meta.value(QStringLiteral("IID")).toString() != QLatin1String(PLUGIN_IID))
                continue;
            const QJsonArray keys = meta.value(QStringLiteral("MetaData"))
                                            .toObject()
                                            .value(QStringLiteral("Keys"))
                                            .toArray();
            if (!wanted.isEmpty() && !keys.contains(wanted))
                continue;
            if (loader.load())
                return true;
            failures << QStringLiteral("%1: %2").arg(file, loader.errorString());
        }
    }
    if (reason) {
        *reason = failures.isEmpty()
                ? QStringLiteral("no %1plug-in in %2")
                          .arg(wanted.isEmpty() ? QString() : wanted + QLatin1Char(' '),
                               searched.join(QStringLiteral(", ")))
                : failures.join(QStringLiteral("; "));
    }
    return false;
}

bool backendUsable()
{
    static const bool available = [] {
        QString reason;
        if (backendAvailable(&reason))
            return true;
        logger()->error(QStringLiteral("No Qt Multimedia backend can be loaded (%1); no camera "
                                       "can be shown. Install libqt6multimedia6 and the "
                                       "GStreamer plug-ins (gstreamer1.0-plugins-good).")
                                .arg(reason));
        return false;
    }();
    return available;
}

QList<QCameraDevice> cameraDevices()
{
    return backendUsable() ? QMediaDevices::videoInputs() : QList<QCameraDevice>();
}

void logDiagnostics(const QStringList &libraryPaths, const QList<QCameraDevice> &devices)
{
    logger()->info(QStringLiteral("Checking Qt Multimedia plugins..."));
    logger()->info(QStringLiteral("Qt version: %1").arg(QString::fromLatin1(qVersion())));
    logger()->info(QStringLiteral("Qt plugin paths:"));
    for (const QString &path : libraryPaths) {
        logger()->info(QStringLiteral("  - %1").arg(path));
        const QDir multimedia(path + QStringLiteral("/multimedia"));
        if (!multimedia.exists()) {
            logger()->warning(QStringLiteral("    * No multimedia directory in %1").arg(path));
            continue;
        }
        logger()->info(QStringLiteral("    * multimedia plugins:"));
        const QStringList files = multimedia.entryList(QDir::Files, QDir::Unsorted);
        for (const QString &file : files)
            logger()->info(QStringLiteral("      - %1").arg(file));
    }
    if (devices.isEmpty())
        logger()->warning(
                QStringLiteral("QMediaDevices reports NO video input devices are available"));
    else
        logger()->info(QStringLiteral("QMediaDevices reports video input devices are available"));
    for (const QCameraDevice &device : devices) {
        logger()->info(QStringLiteral("Camera: %1").arg(device.description()));
        logger()->info(QStringLiteral("  - ID: %1").arg(QString::fromUtf8(device.id())));
        logger()->info(
                QStringLiteral("  - Is default: %1")
                        .arg(device.isDefault() ? QStringLiteral("Yes") : QStringLiteral("No")));
        const QList<QCameraFormat> formats = device.videoFormats();
        logger()->info(QStringLiteral("  - Supported formats: %1").arg(formats.size()));
        for (const QCameraFormat &format : formats)
            logger()->info(QStringLiteral("    * %1").arg(formatText(format)));
    }
}

} // namespace SCMultimediaCheck
