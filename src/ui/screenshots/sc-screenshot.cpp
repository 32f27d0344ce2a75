#include "sc-screenshot.h"

#include "sc-desktop-session.h"
#include "sc-logger.h"
#include "sc-screenshot-portal.h"
#include "sc-settings.h"

#include <QBuffer>
#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageWriter>
#include <QMimeData>
#include <QPointer>
#include <QSaveFile>
#include <QScreen>
#include <QTimer>

#include <QtDebug>
#include <utility>

#include <memory>

namespace {

// Saves within one second share a name; beyond this many, something else is wrong.
constexpr int MAX_NAME_COUNTER = 1000;

// A window that was just unmapped needs the windows below it, or the compositing manager,
// to repaint the screen: grab until two pictures in a row agree.
constexpr int SETTLE_POLL_MS = 50;
constexpr int SETTLE_MIN_MS = 100;
// A playing video never settles; it is taken as it is then.
constexpr int SETTLE_MAX_MS = 1500;
// The desktop may ask the person first.
constexpr int PORTAL_TIMEOUT_MS = 60000;

} // namespace

SCScreenshot::SCScreenshot(QObject *parent)
    : QObject(parent)
    , m_settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION)
{
    m_saveDirectory = ensureDirectoryExists(
            m_settings.value(SCSettings::SCREENSHOT_SAVE_LOCATION).toString());
}

QPixmap SCScreenshot::captureFullScreen()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen) {
        emit error(QStringLiteral("Failed to get primary screen"));
        return QPixmap();
    }
    const QPixmap pixmap = grabScreen(screen, QRect(QPoint(0, 0), screen->geometry().size()));
    if (pixmap.isNull()) {
        emit error(m_grabError.isEmpty() ? QStringLiteral("Failed to capture full screen")
                                         : m_grabError);
        return QPixmap();
    }
    emit screenshotCaptured(pixmap);
    return pixmap;
}

QPixmap SCScreenshot::captureArea(const QRect &area)
{
    if (!area.isValid()) {
        emit error(QStringLiteral("Invalid area specified"));
        return QPixmap();
    }
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen) {
        emit error(QStringLiteral("Failed to get primary screen"));
        return QPixmap();
    }
    const QPixmap pixmap = grabScreen(screen, area);
    if (pixmap.isNull()) {
        emit error(m_grabError.isEmpty() ? QStringLiteral("Failed to capture area") : m_grabError);
        return QPixmap();
    }
    emit screenshotCaptured(pixmap);
    return pixmap;
}

QPixmap SCScreenshot::grabScreen(QScreen *screen, const QRect &local)
{
    m_grabError.clear();
    if (!SCDesktopSession::isWayland())
        return screen->grabWindow(0, local.x(), local.y(), local.width(), local.height());
    // A Wayland desktop shows its screens only through its screenshot portal, as one
    // picture of all of them.
    const QImage picture = m_still.isNull() ? desktopPicture() : std::exchange(m_still, QImage());
    QRect desktop;
    for (QScreen *each : QGuiApplication::screens())
        desktop |= each->geometry();
    if (picture.isNull() || desktop.isEmpty())
        return {};
    const qreal scale = SCDesktopSession::pictureScale(picture.size(), desktop.size());
    const QRect global = local.translated(screen->geometry().topLeft() - desktop.topLeft());
    const QRect pixels(qRound(global.x() * scale), qRound(global.y() * scale),
                       qRound(global.width() * scale), qRound(global.height() * scale));
    QPixmap pixmap = QPixmap::fromImage(picture.copy(pixels & picture.rect()));
    pixmap.setDevicePixelRatio(scale);
    return pixmap;
}

void SCScreenshot::takeDesktopPictureWhenSettled(QObject *context,
                                                 std::function<void(const QImage &)> done)
{
    QPointer<SCScreenshot> self(this);
    QTimer::singleShot(SETTLE_MIN_MS, context, [self, done = std::move(done)] {
        if (self)
            done(self->desktopPicture());
    });
}

QImage SCScreenshot::desktopPicture()
{
    m_grabError.clear();
    SCScreenshotPortal portal;
    const SCScreenshotPortal::Status status = portal.takeAndWait(PORTAL_TIMEOUT_MS);
    SCLogger::instance()->info(
            QStringLiteral("Screenshot from the desktop: %1").arg(portal.detail()));
    if (status != SCScreenshotPortal::Status::Taken) {
        m_grabError = status == SCScreenshotPortal::Status::Missing
                ? tr("Screenshots on Wayland need xdg-desktop-portal and a portal backend for "
                     "this desktop (xdg-desktop-portal-gnome, -kde or -wlr).")
                : status == SCScreenshotPortal::Status::Cancelled
                ? tr("The screenshot was cancelled.")
                : tr("The desktop did not give a picture of the screen.");
        return {};
    }
    const QImage picture = portal.picture();
    if (picture.isNull())
        m_grabError = tr("The desktop did not give a picture of the screen.");
    return picture;
}

QPixmap SCScreenshot::captureWindow(WId windowId)
{
    if (windowId == 0) {
        emit error(QStringLiteral("Invalid window ID"));
        return QPixmap();
    }
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen) {
        emit error(QStringLiteral("Failed to get primary screen"));
        return QPixmap();
    }
    const QPixmap pixmap = screen->grabWindow(windowId);
    if (pixmap.isNull()) {
        emit error(QStringLiteral("Failed to capture window"));
        return QPixmap();
    }
    emit screenshotCaptured(pixmap);
    return pixmap;
}

void SCScreenshot::captureAreaWhenSettled(const QRect &area, QObject *context,
                                          std::function<void(const QPixmap &)> done)
{
    QScreen *screen = QGuiApplication::screenAt(area.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!area.isValid() || !screen) {
        emit error(area.isValid() ? QStringLiteral("Failed to get primary screen")
                                  : QStringLiteral("Invalid area specified"));
        done(QPixmap());
        return;
    }
    const QRect local = area.translated(-screen->geometry().topLeft());
    QPointer<QScreen> target(screen);
    QPointer<SCScreenshot> self(this);
    if (SCDesktopSession::isWayland()) {
        // The desktop's picture is taken once: asking again and again may ask the person.
        QTimer::singleShot(SETTLE_MIN_MS, context, [=]() {
            if (!self)
                return;
            const QPixmap pixmap = target ? self->grabScreen(target, local) : QPixmap();
            if (pixmap.isNull())
                emit self->error(self->m_grabError.isEmpty()
                                         ? QStringLiteral("Failed to capture area")
                                         : self->m_grabError);
            else
                emit self->screenshotCaptured(pixmap);
            done(pixmap);
        });
        return;
    }
    auto *timer = new QTimer(context);
    timer->setInterval(SETTLE_POLL_MS);
    auto previous = std::make_shared<QImage>();
    auto elapsed = std::make_shared<QElapsedTimer>();
    elapsed->start();
    connect(timer, &QTimer::timeout, timer, [=]() {
        QPixmap pixmap;
        if (target)
            pixmap = target->grabWindow(0, local.x(), local.y(), local.width(), local.height());
        QImage image = pixmap.toImage();
        const bool settled
                = !previous->isNull() && image == *previous && elapsed->elapsed() >= SETTLE_MIN_MS;
        if (!pixmap.isNull() && !settled && elapsed->elapsed() < SETTLE_MAX_MS) {
            *previous = std::move(image);
            return;
        }
        timer->stop();
        timer->deleteLater();
        if (!self)
            return;
        if (pixmap.isNull())
            emit self->error(QStringLiteral("Failed to capture area"));
        else
            emit self->screenshotCaptured(pixmap);
        done(pixmap);
    });
    timer->start();
}

QString SCScreenshot::formatSetting() const
{
    return m_settings.value(SCSettings::SCREENSHOT_FORMAT).toString();
}

QString SCScreenshot::generateFileName() const
{
    return QStringLiteral("Screenshot_")
            + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_hh-mm-ss"))
            + QLatin1Char('.') + formatSetting().toLower();
}

void SCScreenshot::copyToClipboard(const QPixmap &pixmap)
{
    const QImage image = pixmap.toImage();
    auto *data = new QMimeData;
    data->setImageData(image);
    // Other programs ask for PNG by name.
    QByteArray png;
    QBuffer buffer(&png);
    if (buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "PNG"))
        data->setData(QStringLiteral("image/png"), png);
    QGuiApplication::clipboard()->setMimeData(data);
}

bool SCScreenshot::writeFile(const QPixmap &pixmap, const QString &path)
{
    // Replaced only once the new picture is complete.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // A name chosen by the person says the format; otherwise the setting does.
    const QString suffix = QFileInfo(path).suffix().toLower();
    QByteArray format = formatSetting().toUpper().toLatin1();
    if (suffix == QLatin1String("png"))
        format = "PNG";
    else if (suffix == QLatin1String("jpg") || suffix == QLatin1String("jpeg"))
        format = "JPG";
    if (!pixmap.save(&file, format.constData(), -1)) {
        file.cancelWriting();
        file.commit();
        return false;
    }
    return file.commit();
}

bool SCScreenshot::writeNewFile(const QPixmap &pixmap, const QString &directory,
                                const QString &fileName, QString *writtenPath)
{
    const QFileInfo name(fileName);
    const QString base = name.completeBaseName();
    const QString suffix = name.suffix().isEmpty() ? QString() : QLatin1Char('.') + name.suffix();
    const QByteArray format = formatSetting().toUpper().toLatin1();

    for (int counter = 1; counter <= MAX_NAME_COUNTER; ++counter) {
        const QString candidate = counter == 1 ? directory + QLatin1Char('/') + fileName
                                               : directory + QLatin1Char('/') + base
                        + QLatin1Char('_') + QString::number(counter) + suffix;
        *writtenPath = candidate;
        // Created exclusively, so an earlier screenshot of the same second is never replaced.
        QFile file(candidate);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (QFileInfo::exists(candidate))
                continue;
            return false;
        }
        const bool written = pixmap.save(&file, format.constData(), -1) && file.flush();
        file.close();
        if (!written) {
            file.remove();
            return false;
        }
        return true;
    }
    return false;
}

bool SCScreenshot::saveScreenshot(const QPixmap &pixmap, const QString &filePath)
{
    m_saveDirectory = ensureDirectoryExists(
            m_settings.value(SCSettings::SCREENSHOT_SAVE_LOCATION).toString());
    if (pixmap.isNull()) {
        emit error(QStringLiteral("Cannot save empty screenshot"));
        return false;
    }

    QString path;
    bool saved = false;
    if (filePath.isEmpty()) {
        saved = writeNewFile(pixmap, m_saveDirectory, generateFileName(), &path);
    } else {
        path = filePath;
        ensureDirectoryExists(QFileInfo(path).absolutePath());
        saved = writeFile(pixmap, path);
    }

    if (!saved) {
        emit error(QStringLiteral("Failed to save screenshot to ") + path);
        return false;
    }
    m_lastSavedPath = path;
    emit screenshotSaved(path);
    return true;
}

QString SCScreenshot::getLastSavedPath() const
{
    return m_lastSavedPath;
}

QString SCScreenshot::getSaveDirectory() const
{
    return m_saveDirectory;
}

void SCScreenshot::setSaveDirectory(const QString &directory)
{
    if (directory.isEmpty())
        return;
    m_saveDirectory = ensureDirectoryExists(directory);
}

QString SCScreenshot::ensureDirectoryExists(const QString &path) const
{
    QDir dir(path);
    if (!dir.exists() && !dir.mkpath(QStringLiteral(".")))
        qWarning() << "Could not create folder" << dir.absolutePath();
    return dir.absolutePath();
}
