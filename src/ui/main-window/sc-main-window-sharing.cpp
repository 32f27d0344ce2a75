// Screen sharing on a Wayland desktop: the desktop's permission before a recording, the
// shared picture as the recording's space, and the sharing's end, by the person or the
// desktop, ending the recording like a stop.

#include "sc-main-window.h"
#include "ui_sc-main-window.h"

#include "area-selector.h"
#include "sc-control-request.h"
#include "sc-desktop-session.h"
#include "sc-display-choice.h"
#include "sc-logger.h"
#include "sc-note.h"
#include "sc-obs-wrapper.h"
#include "sc-screen-share.h"
#include "sc-screenshot.h"
#include "sc-settings.h"

#include <QGuiApplication>
#include <QPointer>

bool SCMainWindow::shareScreenForRecording()
{
    const int index = ui->recordFormatComboBox->currentIndex();
    if (!SCDesktopSession::isWayland() || isAudioOnlyFormatIndex(index) || !m_screenEnabled)
        return true;
    if (!m_screenShare) {
        m_screenShare = new SCScreenShare(this);
        connect(m_screenShare, &SCScreenShare::ended, this, &SCMainWindow::onScreenShareEnded);
    }
    const auto kind
            = m_recordingMode == Window ? SCScreenShare::Kind::Window : SCScreenShare::Kind::Screen;
    const bool pointer = m_settings.value(SCSettings::MOUSE_SHOW_CURSOR).toBool();
    switch (m_screenShare->open(kind, pointer)) {
    case SCScreenShare::Status::Started:
        m_obs->setScreenCastStream(m_screenShare->pipeWireFd(), m_screenShare->node(),
                                   m_screenShare->size());
        return true;
    case SCScreenShare::Status::Cancelled: {
        const QString text = tr("Recording cancelled: the screen was not shared.");
        if (!m_shareNote)
            m_shareNote = new SCNote(this);
        m_shareNote->showMessage(text, this, 5000);
        emit recordingStartFailed(SCControlErrors::CANCELLED, text);
        return false;
    }
    case SCScreenShare::Status::Missing:
        failRecordingStart(tr("Screen recording on Wayland needs xdg-desktop-portal and a "
                              "portal backend for this desktop (xdg-desktop-portal-gnome, -kde "
                              "or -wlr)."));
        return false;
    default:
        failRecordingStart(tr("The desktop did not share the screen. Details are in the log "
                              "file."));
        return false;
    }
}

void SCMainWindow::endScreenShare()
{
    if (!m_screenShare || !m_screenShare->isOpen())
        return;
    m_obs->setScreenCastStream(-1, 0, {});
    m_screenShare->close();
}

void SCMainWindow::onScreenShareEnded()
{
    if (!m_obs || !m_obs->isRecordingStart())
        return;
    SCLogger::instance()->info(QStringLiteral("The shared screen ended: stopping the recording"));
    stopRecording();
}

// The shared picture is the space a Wayland recording's area is measured in: the desktop
// names its size, the person chose its screen.
SCCaptureSpace SCMainWindow::sharedSpace(const SCCaptureSpace &space) const
{
    if (!m_obs || !m_obs->readsScreenCast() || !m_screenShare || !m_screenShare->isOpen())
        return space;
    const QSize size = m_screenShare->size();
    if (size.isEmpty())
        return space;
    SCCaptureSpace shared = space;
    shared.device = QRect(QPoint(0, 0), size);
    shared.ratio = space.logical.width() > 0
            ? SCDesktopSession::pictureScale(size, space.logical.size())
            : space.ratio;
    return shared;
}

// On Wayland a selector shows the desktop's own still picture: the compositor shows our
// windows where it likes and may leave them out of its screenshots, so what is chosen on is
// that picture, in its device pixels; a screenshot is then cut from it. Without a picture a
// recording's region is chosen on the live screen, a screenshot ends with the reason.
void SCMainWindow::showSelector(AreaSelector *selector, bool forScreenshot)
{
    if (!SCDesktopSession::isWayland()) {
        selector->show();
        return;
    }
    if (forScreenshot)
        stepAsideForScreenshot();
    QPointer<AreaSelector> target(selector);
    m_screenshot->takeDesktopPictureWhenSettled(
            this, [this, target, forScreenshot](const QImage &picture) {
                if (!target)
                    return;
                if (picture.isNull() && forScreenshot) {
                    QGuiApplication::restoreOverrideCursor();
                    handleScreenshotError(m_screenshot->grabError());
                    handleScreenshotCancelled();
                    return;
                }
                if (picture.isNull()) {
                    SCLogger::instance()->warning(
                            QStringLiteral(
                                    "No still picture of the desktop (%1): the region is chosen "
                                    "on the live screen")
                                    .arg(m_screenshot->grabError()));
                }
                target->setStill(picture);
                if (forScreenshot)
                    m_screenshot->holdStill(picture);
                target->show();
            });
}
