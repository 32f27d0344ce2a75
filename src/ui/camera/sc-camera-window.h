#pragma once

#include <QCamera>
#include <QCameraDevice>
#include <QCameraFormat>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QWidget>

#include <memory>

class QLabel;
class QMediaCaptureSession;
class QTimer;
class QVideoWidget;

// The floating webcam picture shown on the desktop while recording: opens the first video
// input with a smooth format, falls back to other formats or the default camera, and is
// moved and resized by the mouse with the picture's aspect ratio kept.
class SCCameraWindow : public QWidget
{
    Q_OBJECT

public:
    explicit SCCameraWindow(QWidget *parent = nullptr);
    ~SCCameraWindow() override;

    // Shows the window where the user left it, or at the bottom-right of the screen the
    // first time, and logs the multimedia diagnostics in the background.
    void show();
    // Remembers the geometry and releases the camera.
    void hide();

Q_SIGNALS:
    void windowGeometryChanged(QPoint topLeft, QPoint bottomRight);

public Q_SLOTS:
    void onCameraSelected(int index);
    void updateCameraDevices();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    struct FormatAttempt
    {
        QCameraFormat format;
        bool preferred = false;
    };

    void setupUI();
    void startCamera();
    void stopCamera();
    void releaseCamera();
    void createCamera(const QCameraDevice *device);
    void createCaptureSession();
    bool startCameraOnce(QString *problem);
    void onCameraStarted();
    void onCameraError(QCamera::Error error, const QString &message);
    void tryAlternativeCameraFormats(const QCameraDevice &device);
    void tryNextFormat();
    void tryFallbackCamera();
    void forceVideoWidgetUpdate(int delayMs);
    void refreshVideoWidget();
    void updateMinimumSize();
    void updateCursor(const QPoint &pos);
    float cameraAspect() const;
    void runDiagnostics();

    QPoint m_dragStartPosition;
    bool m_dragging = false;
    int m_dragMode = 0;
    QRect m_startGeometry;
    QVideoWidget *m_videoWidget = nullptr;
    std::unique_ptr<QMediaCaptureSession> m_captureSession;
    std::unique_ptr<QCamera> m_camera;
    QList<QCameraDevice> m_cameraList;
    QTimer *m_deviceTimer = nullptr;
    QLabel *m_statusLabel = nullptr;
    QWidget *m_mouseArea = nullptr;
    bool m_backendAvailable = false;
    // Formats still to try for the current camera after its chosen one failed.
    QList<FormatAttempt> m_pendingFormats;
    bool m_alternativesTried = false;
    bool m_defaultFormatTried = false;
    // True while start() runs, so that errors it raises count as a failed start.
    bool m_starting = false;
    QString m_startError;
    // Bumped whenever the camera goes, so that posted steps for an old one do nothing.
    int m_cameraGeneration = 0;
};
