// Requests from outside the window (the command line, the session bus, the tray), carried out
// through the paths of the window's own buttons: the same area rules, disk-space guard,
// names, countdown and library.

#include "sc-main-window.h"
#include "ui_sc-main-window.h"

#include "area-selector.h"
#include "sc-desktop-session.h"
#include "sc-draw-window.h"
#include "sc-file-manager.h"
#include "sc-logger.h"
#include "sc-obs-wrapper.h"
#include "sc-screenshot.h"
#include "window-highlighter.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

void SCMainWindow::setControlState(const QString &state)
{
    if (m_controlState == state)
        return;
    m_controlState = state;
    emit controlStateChanged(state);
}

bool SCMainWindow::isBusyRecording() const
{
    return m_controlState != QLatin1String("idle");
}

void SCMainWindow::startRequested(const SCRecordingRequest &request)
{
    if (!m_obsReady) {
        emit recordingStartFailed(SCControlErrors::BUSY,
                                  tr("The recording engine is not ready yet."));
        return;
    }
    if (isBusyRecording()) {
        emit recordingStartFailed(SCControlErrors::ALREADY_RECORDING,
                                  tr("A recording is already running."));
        return;
    }
    if (request.hasFormat)
        ui->recordFormatComboBox->setCurrentIndex(static_cast<int>(request.format));
    const bool soundOnly = isAudioOnlyFormatIndex(ui->recordFormatComboBox->currentIndex());
    switch (request.area) {
    case SCRecordingRequest::Area::Current:
        break;
    case SCRecordingRequest::Area::Full:
        if (!soundOnly)
            onModeTileReleased(ui->fullScreenWidget);
        break;
    case SCRecordingRequest::Area::Region:
    case SCRecordingRequest::Area::LastRegion: {
        QRect region
                = request.area == SCRecordingRequest::Area::Region ? request.region : m_lastRegion;
        QScreen *screen = QGuiApplication::primaryScreen();
        if (region.isEmpty() && request.area == SCRecordingRequest::Area::Region) {
            // The person drags it out; the recording starts once they have.
            m_recordingMode = Region;
            highlightActiveRecordingMode(ui->selectRegionWidget);
            m_startAfterRegionPick = true;
            m_skipNextCountdown = !request.countdown;
            selectAreaWithSelector();
            return;
        }
        if (region.isEmpty()) {
            emit recordingStartFailed(SCControlErrors::INVALID_ARGUMENT,
                                      tr("No region has been recorded yet."));
            return;
        }
        if (screen && !screen->geometry().contains(region)) {
            emit recordingStartFailed(SCControlErrors::INVALID_ARGUMENT,
                                      tr("The region %1,%2,%3x%4 is not on the screen.")
                                              .arg(region.x())
                                              .arg(region.y())
                                              .arg(region.width())
                                              .arg(region.height()));
            return;
        }
        m_recordingMode = Region;
        highlightActiveRecordingMode(ui->selectRegionWidget);
        placeFrameAround(region);
        break;
    }
    case SCRecordingRequest::Area::Window:
        if (SCDesktopSession::isWayland()) {
            onModeTileReleased(ui->selectWindowWidget);
            break;
        }
        // The person picks the window; the recording starts once they have.
        m_startAfterWindowPick = true;
        m_skipNextCountdown = !request.countdown;
        onModeTileReleased(ui->selectWindowWidget);
        return;
    }
    m_skipNextCountdown = !request.countdown;
    startRecording(false);
}

bool SCMainWindow::stopRequested()
{
    if (m_controlState == QLatin1String("countdown")) {
        onRecordingHotkey();
        return true;
    }
    if (!m_obs || !m_obs->isRecordingStart())
        return false;
    stopRecording();
    return true;
}

void SCMainWindow::toggleRequested()
{
    if (!stopRequested())
        startRequested({});
}

void SCMainWindow::screenshotRequested(const SCScreenshotRequest &request)
{
    m_screenshotRequest = request;
    m_screenshotRequested = true;
    QScreen *screen = QGuiApplication::primaryScreen();
    if (request.mode == SCScreenshotRequest::Mode::Full) {
        if (!screen) {
            finishRequestedScreenshot(QPixmap());
            return;
        }
        // Nothing to choose: the whole screen, once this window is out of it.
        const QRect area = screen->geometry();
        stepAsideForScreenshot();
        afterScreenshotDelay(request.delay, area, [this, area] {
            m_screenshot->captureAreaWhenSettled(area, this, [this](const QPixmap &picture) {
                finishRequestedScreenshot(picture);
            });
        });
        return;
    }
    if (request.mode == SCScreenshotRequest::Mode::LastRegion) {
        if (lastScreenshotRegion().isEmpty()) {
            m_screenshotRequested = false;
            emit screenshotFailed(tr("No region has been captured yet."));
            return;
        }
        repeatLastRegion();
        return;
    }
    if (request.mode == SCScreenshotRequest::Mode::Region)
        onScreenshotHotkey();
    else
        onScreenshotTileReleased(ui->selectWindowShotWidget);
}

bool SCMainWindow::takeRequestedScreenshotDirectly(const QRect &area)
{
    if (!m_screenshotRequested
        || (!m_screenshotRequest.clipboard && m_screenshotRequest.path.isEmpty()))
        return false;
    m_screenshot->captureAreaWhenSettled(area, this, [this, area](const QPixmap &picture) {
        finishRequestedScreenshot(picture, area);
    });
    return true;
}

void SCMainWindow::finishRequestedScreenshot(const QPixmap &picture, const QRect &region)
{
    m_screenshotRequested = false;
    restoreAfterScreenshot();
    if (picture.isNull()) {
        emit screenshotFailed(tr("The screen could not be read."));
        return;
    }
    if (m_screenshotRequest.clipboard) {
        SCScreenshot::copyToClipboard(picture);
        SCLogger::instance()->info(QStringLiteral("Screenshot copied to the clipboard"));
        rememberScreenshotRegion(region);
        if (m_screenshotRequest.path.isEmpty()) {
            emit screenshotFinished(QString());
            return;
        }
    }
    if (!m_screenshot->saveScreenshot(picture, m_screenshotRequest.path)) {
        emit screenshotFailed(tr("The screenshot could not be saved."));
        return;
    }
    rememberScreenshotRegion(region);
    const QString path = m_screenshot->getLastSavedPath();
    m_fileManager->addFile(path, QStringLiteral("screenshot"));
    SCLogger::instance()->info(QStringLiteral("Screenshot saved to: %1").arg(path));
    emit screenshotSaved(path);
    emit screenshotFinished(path);
}

void SCMainWindow::quitRequested()
{
    // A running recording is finished first: its file stays whole.
    if (m_obs && m_obs->isRecordingStart()) {
        connect(this, &SCMainWindow::controlStateChanged, this, [](const QString &state) {
            if (state == QLatin1String("idle"))
                QCoreApplication::quit();
        });
        stopRecording();
        return;
    }
    QCoreApplication::quit();
}
