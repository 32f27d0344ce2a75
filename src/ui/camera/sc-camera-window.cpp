#include "sc-camera-window.h"

#include "sc-camera-format.h"
#include "sc-camera-geometry.h"
#include "sc-logger.h"
#include "sc-multimedia-check.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QLabel>
#include <QMediaCaptureSession>
#include <QMediaDevices>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QVideoWidget>
#include <QtConcurrent>

#include <exception>

namespace {

constexpr int DEVICE_POLL_MS = 2000;
constexpr int SCREEN_MARGIN = 20;

SCLogger *logger()
{
    return SCLogger::instance();
}

QList<SCCameraFormat::Mode> modesOf(const QList<QCameraFormat> &formats)
{
    QList<SCCameraFormat::Mode> modes;
    for (const QCameraFormat &format : formats)
        modes.append({format.resolution(), format.minFrameRate(), format.maxFrameRate()});
    return modes;
}

} // namespace

SCCameraWindow::SCCameraWindow(QWidget *parent)
    : QWidget(parent)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_Hover);
    setMinimumSize(SCCameraGeometry::MIN_WIDTH, 112);
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                   | Qt::NoDropShadowWindowHint | Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_MacAlwaysShowToolWindow);
    setupUI();

    m_backendAvailable = SCMultimediaCheck::backendUsable();

    m_deviceTimer = new QTimer(this);
    m_deviceTimer->setInterval(DEVICE_POLL_MS);
    connect(m_deviceTimer, &QTimer::timeout, this, &SCCameraWindow::updateCameraDevices);
    m_deviceTimer->start();
    updateCameraDevices();
}

SCCameraWindow::~SCCameraWindow()
{
    logger()->info(QStringLiteral("Camera window destructor called"));
    m_deviceTimer->stop();
    stopCamera();
}

void SCCameraWindow::setupUI()
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    m_videoWidget = new QVideoWidget(this);
    m_videoWidget->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_videoWidget->setMouseTracking(true);
    m_videoWidget->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_videoWidget->setAspectRatioMode(Qt::KeepAspectRatio);
    layout->addWidget(m_videoWidget);
    m_videoWidget->hide();

    // Over the picture, catching the mouse for moving and resizing; its events reach the
    // window because it ignores them.
    m_mouseArea = new QWidget(this);
    m_mouseArea->setObjectName(QStringLiteral("cameraMouseArea"));
    m_mouseArea->setMouseTracking(true);
    m_mouseArea->setStyleSheet(QStringLiteral("background: transparent;"));
    m_mouseArea->setGeometry(rect());
    m_mouseArea->raise();

    m_statusLabel = new QLabel(tr("Loading camera..."), this);
    m_statusLabel->setObjectName(QStringLiteral("cameraStatusLabel"));
    m_statusLabel->setAlignment(Qt::AlignCenter);
    m_statusLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_statusLabel->setStyleSheet(
            QStringLiteral("QLabel { color: white; background-color: rgba(0, 0, 0, 180); }"));
    m_statusLabel->hide();

    setStyleSheet(QStringLiteral("SCCameraWindow {  background: rgba(40, 40, 46, 240);  border: "
                                 "1px solid transparent;}SCCameraWindow:hover {  border: 1px "
                                 "solid #007ACC;}"));
    resize(400, 225);
}

void SCCameraWindow::show()
{
    const QScreen *primary = QGuiApplication::primaryScreen();
    bool onScreen = false;
    for (const QScreen *screen : QGuiApplication::screens())
        onScreen = onScreen || screen->availableGeometry().intersects(m_startGeometry);
    if (m_startGeometry.isValid() && onScreen) {
        setGeometry(m_startGeometry);
    } else if (primary) {
        const QRect area = primary->availableGeometry();
        move(area.x() + area.width() - SCREEN_MARGIN - width(),
             area.y() + area.height() - SCREEN_MARGIN - height());
    }
    QWidget::show();

    m_statusLabel->setText(tr("Loading camera..."));
    m_statusLabel->setGeometry(rect().adjusted(1, 1, -1, -1));
    m_statusLabel->show();
    m_statusLabel->raise();
    // Raised only: the window never takes the keyboard from the application being recorded.
    raise();
    runDiagnostics();
}

void SCCameraWindow::hide()
{
    m_startGeometry = geometry();
    stopCamera();
    QWidget::hide();
}

void SCCameraWindow::runDiagnostics()
{
    // The device list is taken here: the backend updates it on this thread only.
    const QStringList paths = QCoreApplication::libraryPaths();
    const QList<QCameraDevice> devices = SCMultimediaCheck::cameraDevices();
    auto *watcher = new QFutureWatcher<void>(this);
    connect(watcher, &QFutureWatcher<void>::finished, this, [this, watcher] {
        watcher->deleteLater();
        updateCameraDevices();
        forceVideoWidgetUpdate(200);
    });
    watcher->setFuture(QtConcurrent::run(&SCMultimediaCheck::logDiagnostics, paths,
                                         m_backendAvailable ? devices : QList<QCameraDevice>()));
}

void SCCameraWindow::updateCameraDevices()
{
    if (!m_backendAvailable)
        return;
    const QList<QCameraDevice> devices = QMediaDevices::videoInputs();
    bool changed = devices.size() != m_cameraList.size();
    for (int i = 0; !changed && i < devices.size(); ++i)
        changed = devices[i].id() != m_cameraList[i].id();

    if (!changed && !devices.isEmpty()) {
        // A camera stopped by hiding stays off until the window is shown again.
        if (m_camera && !m_camera->isActive() && isVisible() && m_pendingFormats.isEmpty()
            && !m_alternativesTried)
            QMetaObject::invokeMethod(this, &SCCameraWindow::startCamera, Qt::QueuedConnection);
        return;
    }

    logger()->info(QStringLiteral("Found %1 camera devices").arg(devices.size()));
    m_cameraList.clear();
    if (devices.isEmpty()) {
        logger()->warning(QStringLiteral(
                "No camera devices detected. Check camera connection and permissions."));
        if (isVisible())
            tryFallbackCamera();
        if (m_camera) {
            QMetaObject::invokeMethod(m_statusLabel, &QWidget::hide, Qt::QueuedConnection);
        } else {
            // Better a word than an empty panel.
            m_statusLabel->setText(tr("No camera device found!"));
            m_statusLabel->setGeometry(rect().adjusted(1, 1, -1, -1));
            m_statusLabel->show();
            m_statusLabel->raise();
        }
        return;
    }
    m_cameraList = devices;
    // A hidden window opens its camera when it is shown; it never films unseen.
    if (isVisible())
        QMetaObject::invokeMethod(
                this, [this] { onCameraSelected(0); }, Qt::QueuedConnection);
}

void SCCameraWindow::createCamera(const QCameraDevice *device)
{
    m_camera = device ? std::make_unique<QCamera>(*device) : std::make_unique<QCamera>();
    connect(m_camera.get(), &QCamera::errorOccurred, this, &SCCameraWindow::onCameraError);
    m_pendingFormats.clear();
    m_alternativesTried = false;
    m_defaultFormatTried = false;
}

void SCCameraWindow::createCaptureSession()
{
    m_captureSession = std::make_unique<QMediaCaptureSession>();
    m_captureSession->setCamera(m_camera.get());
    m_captureSession->setVideoOutput(m_videoWidget);
}

void SCCameraWindow::onCameraSelected(int index)
{
    if (index < 0 || index >= m_cameraList.size()) {
        logger()->warning(QStringLiteral("Invalid camera index: %1 (available cameras: %2)")
                                  .arg(index)
                                  .arg(m_cameraList.size()));
        return;
    }
    const QCameraDevice device = m_cameraList.at(index);
    logger()->info(QStringLiteral("Selecting camera at index %1: %2")
                           .arg(index)
                           .arg(device.description()));
    try {
        stopCamera();
        createCamera(&device);
        createCaptureSession();

        const QList<QCameraFormat> formats = device.videoFormats();
        const int chosen = SCCameraFormat::chooseFormat(modesOf(formats));
        if (chosen >= 0) {
            logger()->info(QStringLiteral("Setting camera format: %1")
                                   .arg(SCMultimediaCheck::formatText(formats[chosen])));
            m_camera->setCameraFormat(formats[chosen]);
        } else {
            logger()->warning(QStringLiteral(
                    "No suitable camera format found, will try alternative formats"));
        }

        startCamera();
        m_videoWidget->show();
        m_videoWidget->update();
        forceVideoWidgetUpdate(300);
        forceVideoWidgetUpdate(600);
    } catch (const std::exception &e) {
        logger()->error(QStringLiteral("Exception when initializing camera: %1")
                                .arg(QString::fromLocal8Bit(e.what())));
    } catch (...) {
        logger()->error(QStringLiteral("Unknown exception when initializing camera"));
    }
}

bool SCCameraWindow::startCameraOnce(QString *problem)
{
    m_startError.clear();
    m_starting = true;
    try {
        m_camera->start();
    } catch (const std::exception &e) {
        *problem = QStringLiteral("Exception when starting camera: %1")
                           .arg(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        *problem = QStringLiteral("Unknown exception when starting camera");
    }
    m_starting = false;
    if (problem->isEmpty() && !m_startError.isEmpty())
        *problem = QStringLiteral("Camera error when starting: %1").arg(m_startError);
    return problem->isEmpty();
}

void SCCameraWindow::startCamera()
{
    if (!m_camera) {
        logger()->warning(QStringLiteral("Cannot start camera: camera is null"));
        m_statusLabel->hide();
        return;
    }
    if (m_captureSession && m_videoWidget) {
        m_captureSession->setVideoOutput(m_videoWidget);
        m_videoWidget->setVisible(true);
        m_videoWidget->update();
    }
    QString problem;
    if (startCameraOnce(&problem)) {
        onCameraStarted();
    } else {
        logger()->error(problem);
        tryAlternativeCameraFormats(m_camera->cameraDevice());
    }
    m_statusLabel->hide();
}

void SCCameraWindow::onCameraStarted()
{
    logger()->info(QStringLiteral("Camera started successfully"));
    const QCameraFormat format = m_camera->cameraFormat();
    if (!format.isNull() && format.resolution().isValid()) {
        logger()->info(QStringLiteral("Active camera format: %1")
                               .arg(SCMultimediaCheck::formatText(format)));
        updateMinimumSize();
        resize(width(), SCCameraGeometry::heightForWidth(width(), cameraAspect()));
    } else {
        logger()->warning(QStringLiteral("Camera format is null or resolution is not valid"));
    }
    forceVideoWidgetUpdate(200);
}

void SCCameraWindow::onCameraError(QCamera::Error error, const QString &message)
{
    if (error == QCamera::NoError)
        return;
    if (m_starting) {
        m_startError = message;
        return;
    }
    // The backend reports most failures after start() has returned; go on with the next
    // format then, as if starting had failed at once.
    logger()->error(QStringLiteral("Camera error: %1").arg(message));
    const int generation = m_cameraGeneration;
    QMetaObject::invokeMethod(
            this,
            [this, generation] {
                if (generation != m_cameraGeneration || !m_camera)
                    return;
                if (!m_alternativesTried)
                    tryAlternativeCameraFormats(m_camera->cameraDevice());
                else if (!m_defaultFormatTried)
                    tryNextFormat();
            },
            Qt::QueuedConnection);
}

void SCCameraWindow::tryAlternativeCameraFormats(const QCameraDevice &device)
{
    logger()->info(QStringLiteral("Trying alternative camera formats..."));
    if (!m_camera) {
        logger()->warning(QStringLiteral("Cannot try alternative formats: camera is null"));
        return;
    }
    m_alternativesTried = true;
    const QList<QCameraFormat> formats = device.videoFormats();
    if (formats.isEmpty()) {
        logger()->warning(QStringLiteral("No video formats available for this camera"));
        return;
    }
    logger()->info(QStringLiteral("Available formats for camera %1:").arg(device.description()));
    for (int i = 0; i < formats.size(); ++i) {
        const QCameraFormat &format = formats[i];
        logger()->info(QStringLiteral("  Format %1: %2x%3 @ %4-%5 FPS, pixel format: %6")
                               .arg(i)
                               .arg(format.resolution().width())
                               .arg(format.resolution().height())
                               .arg(format.minFrameRate())
                               .arg(format.maxFrameRate())
                               .arg(int(format.pixelFormat())));
    }
    const SCCameraFormat::FallbackOrder order = SCCameraFormat::fallbackOrder(modesOf(formats));
    m_pendingFormats.clear();
    for (int index : order.preferred)
        m_pendingFormats.append({formats[index], true});
    for (int index : order.others)
        m_pendingFormats.append({formats[index], false});
    tryNextFormat();
}

void SCCameraWindow::tryNextFormat()
{
    while (m_camera && !m_pendingFormats.isEmpty()) {
        const FormatAttempt attempt = m_pendingFormats.takeFirst();
        logger()->info((attempt.preferred ? QStringLiteral("Trying preferred format: %1")
                                          : QStringLiteral("Trying format: %1"))
                               .arg(SCMultimediaCheck::formatText(attempt.format)));
        m_camera->stop();
        m_camera->setCameraFormat(attempt.format);
        QString problem;
        if (startCameraOnce(&problem)) {
            onCameraStarted();
            return;
        }
        logger()->warning(QStringLiteral("Failed to use format: %1x%2 (%3)")
                                  .arg(attempt.format.resolution().width())
                                  .arg(attempt.format.resolution().height())
                                  .arg(problem));
    }
    if (!m_camera || m_defaultFormatTried)
        return;
    m_defaultFormatTried = true;
    logger()->warning(QStringLiteral("All camera formats failed, trying with default format"));
    m_camera->stop();
    m_camera->setCameraFormat(QCameraFormat());
    QString problem;
    if (startCameraOnce(&problem))
        onCameraStarted();
    else
        logger()->error(
                QStringLiteral("Failed to start camera with default format: %1").arg(problem));
}

void SCCameraWindow::tryFallbackCamera()
{
    logger()->info(QStringLiteral("Attempting to use fallback camera..."));
    try {
        releaseCamera();
        createCamera(nullptr);
        // With no device listed the default camera usually does not exist either; say so
        // rather than claim it started. A session is built only for a camera that exists:
        // tearing down one around a missing camera upsets GStreamer.
        QString problem;
        if (m_camera->error() != QCamera::NoError) {
            problem = m_camera->errorString();
        } else {
            createCaptureSession();
            if (!startCameraOnce(&problem) || !m_camera->isActive())
                problem = problem.isEmpty() ? QStringLiteral("camera did not start") : problem;
        }
        if (!problem.isEmpty()) {
            logger()->error(
                    QStringLiteral("Failed to initialize fallback camera: %1").arg(problem));
            // Keep alternatives from being tried on a camera that does not exist.
            releaseCamera();
            return;
        }
        logger()->info(QStringLiteral("Fallback camera started"));
        m_statusLabel->setText(tr("Using fallback camera"));
    } catch (const std::exception &e) {
        logger()->error(QStringLiteral("Failed to initialize fallback camera: %1")
                                .arg(QString::fromLocal8Bit(e.what())));
    } catch (...) {
        logger()->error(QStringLiteral("Unknown exception when initializing fallback camera"));
    }
}

void SCCameraWindow::stopCamera()
{
    logger()->info(QStringLiteral("Stopping camera"));
    if (m_camera && m_camera->isActive()) {
        try {
            m_camera->stop();
            logger()->info(QStringLiteral("Camera stopped successfully"));
        } catch (const std::exception &e) {
            logger()->error(QStringLiteral("Exception when stopping camera: %1")
                                    .arg(QString::fromLocal8Bit(e.what())));
        } catch (...) {
            logger()->error(QStringLiteral("Unknown exception when stopping camera"));
        }
    } else {
        logger()->info(QStringLiteral("Camera already stopped"));
    }
    releaseCamera();
}

void SCCameraWindow::releaseCamera()
{
    ++m_cameraGeneration;
    m_pendingFormats.clear();
    if (m_captureSession) {
        m_captureSession->setVideoOutput(nullptr);
        m_captureSession->setCamera(nullptr);
    }
    m_captureSession.reset();
    m_camera.reset();
    // Without a picture the widget would only show black bars around a hole.
    if (m_videoWidget)
        m_videoWidget->hide();
}

void SCCameraWindow::forceVideoWidgetUpdate(int delayMs)
{
    if (delayMs > 0) {
        QTimer::singleShot(delayMs, this, &SCCameraWindow::refreshVideoWidget);
        return;
    }
    refreshVideoWidget();
    for (int delay : {100, 300, 600})
        QTimer::singleShot(delay, this, &SCCameraWindow::refreshVideoWidget);
}

void SCCameraWindow::refreshVideoWidget()
{
    if (!m_videoWidget)
        return;
    // A size change makes the backend renegotiate its surface, which brings a stuck
    // picture back.
    const QSize size = m_videoWidget->size();
    m_videoWidget->resize(size.width() + 1, size.height());
    m_videoWidget->resize(size);
    m_videoWidget->setVisible(m_camera != nullptr);
    m_videoWidget->update();
    update();
    logger()->info(QStringLiteral("Forced video widget update (size: %1x%2)")
                           .arg(size.width())
                           .arg(size.height()));
}

float SCCameraWindow::cameraAspect() const
{
    if (!m_camera)
        return 1.0f;
    const QCameraFormat format = m_camera->cameraFormat();
    const QSize resolution = format.resolution();
    if (format.isNull() || !resolution.isValid() || resolution.height() == 0)
        return 1.0f;
    return float(resolution.width()) / float(resolution.height());
}

void SCCameraWindow::updateMinimumSize()
{
    setMinimumSize(SCCameraGeometry::minimumSize(cameraAspect()));
}

void SCCameraWindow::updateCursor(const QPoint &pos)
{
    const int mode = m_dragging ? m_dragMode : SCCameraGeometry::dragModeAt(size(), pos);
    setCursor(SCCameraGeometry::cursorFor(mode));
}

void SCCameraWindow::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event)
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(40, 40, 46, 240));
    painter.drawRoundedRect(rect(), 5.0, 5.0, Qt::AbsoluteSize);
    // The style sheet's hover frame, which a self-painted widget has to draw itself.
    if (underMouse()) {
        painter.setPen(QPen(QColor(0x00, 0x7A, 0xCC), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 5.0, 5.0);
    }
}

void SCCameraWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    Q_EMIT windowGeometryChanged(pos(), pos() + QPoint(width(), height()));
    m_mouseArea->setGeometry(rect());
    if (m_statusLabel->isVisible())
        m_statusLabel->setGeometry(rect().adjusted(1, 1, -1, -1));
}

void SCCameraWindow::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    Q_EMIT windowGeometryChanged(pos(), pos() + QPoint(width(), height()));
}

void SCCameraWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    logger()->info(QStringLiteral("Camera window shown"));
    if (!m_cameraList.isEmpty()) {
        logger()->info(QStringLiteral("Selecting first available camera after window show"));
        onCameraSelected(0);
    }
    forceVideoWidgetUpdate(100);
}

void SCCameraWindow::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    logger()->info(QStringLiteral("Camera window hidden"));
    if (m_camera && m_camera->isActive()) {
        logger()->info(QStringLiteral("Stopping camera when window is hidden"));
        m_camera->stop();
    }
}

void SCCameraWindow::closeEvent(QCloseEvent *event)
{
    logger()->info(QStringLiteral("Camera window closing"));
    stopCamera();
    event->accept();
    hide();
}

void SCCameraWindow::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_dragging = true;
    m_dragStartPosition = event->globalPosition().toPoint();
    m_dragMode = SCCameraGeometry::dragModeAt(size(), event->position().toPoint());
    m_startGeometry = geometry();
    event->accept();
}

void SCCameraWindow::mouseMoveEvent(QMouseEvent *event)
{
    updateCursor(event->position().toPoint());
    if (m_dragging && (event->buttons() & Qt::LeftButton)) {
        const QPoint delta = event->globalPosition().toPoint() - m_dragStartPosition;
        setGeometry(SCCameraGeometry::dragged(m_dragMode, m_startGeometry, delta, cameraAspect()));
    }
    event->accept();
}

void SCCameraWindow::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    m_dragging = false;
    m_dragMode = SCCameraGeometry::NoDrag;
    updateCursor(event->position().toPoint());
    event->accept();
}
