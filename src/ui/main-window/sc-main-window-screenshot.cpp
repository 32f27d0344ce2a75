// The screenshot workflow of the main window: full screen, region, window and the
// screenshot hotkey open the overlay; saved files go to the library, a note tells.

#include "sc-main-window.h"
#include "ui_sc-main-window.h"

#include "area-selector.h"
#include "sc-desktop-session.h"
#include "sc-file-manager.h"
#include "sc-file-reveal.h"
#include "sc-logger.h"
#include "sc-note.h"
#include "sc-screenshot-countdown.h"
#include "sc-screenshot-window.h"
#include "sc-screenshot.h"
#include "window-highlighter.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>

namespace {

// The part of `rect` on the screen that holds most of it.
QRect onScreen(const QRect &rect)
{
    QScreen *screen = QGuiApplication::screenAt(rect.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? rect.intersected(screen->geometry()) : rect;
}

} // namespace

SCScreenshotWindow *SCMainWindow::ensureScreenshotWindowCreated()
{
    if (m_screenshotWindow)
        m_screenshotWindow->deleteLater();
    m_screenshotWindow = new SCScreenshotWindow(m_screenshot.get(), nullptr);
    connect(m_screenshotWindow, &SCScreenshotWindow::screenshotSaved, this,
            &SCMainWindow::showScreenshotSaved);
    connect(m_screenshotWindow, &SCScreenshotWindow::screenshotCancelled, this,
            &SCMainWindow::handleScreenshotCancelled);
    connect(m_screenshotWindow, &SCScreenshotWindow::screenshotCopied, this,
            &SCMainWindow::showScreenshotCopied);
    connect(m_screenshotWindow, &SCScreenshotWindow::textCopied, this,
            &SCMainWindow::showTextCopied);
    // A pinned picture is neither a file nor on the clipboard.
    connect(m_screenshotWindow, &SCScreenshotWindow::screenshotPinned, this,
            &SCMainWindow::handleScreenshotCancelled);
    return m_screenshotWindow;
}

void SCMainWindow::openScreenshotOverlay(const QRect &area, bool fullScreen)
{
    if (area.isEmpty())
        return;
    stepAsideForScreenshot();
    m_overlayFullScreen = fullScreen;
    SCScreenshotWindow *overlay = ensureScreenshotWindowCreated();
    overlay->setArea(area);
    overlay->setFullScreen(fullScreen);
    overlay->show();
}

void SCMainWindow::stepAsideForScreenshot()
{
    if (m_screenshotNote)
        m_screenshotNote->hide();
    // This window steps aside until the end: it is not part of any picture, wherever the
    // selection is moved.
    if (!m_restoreAfterScreenshot && isVisible() && !isMinimized()) {
        m_restoreAfterScreenshot = true;
        m_activateAfterScreenshot = isActiveWindow();
        hide();
    }
}

void SCMainWindow::restoreAfterScreenshot()
{
    if (!m_restoreAfterScreenshot)
        return;
    m_restoreAfterScreenshot = false;
    if (m_activateAfterScreenshot) {
        show();
        raise();
        activateWindow();
        return;
    }
    // Back behind whatever the person was working in.
    const bool quiet = testAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_ShowWithoutActivating, true);
    show();
    setAttribute(Qt::WA_ShowWithoutActivating, quiet);
}

void SCMainWindow::onScreenshotTileReleased(QWidget *tile)
{
    if (tile == ui->fullScreenShotWidget) {
        if (QScreen *screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->geometry();
            afterScreenshotDelay(screenshotDelay(), area,
                                 [this, area] { openScreenshotOverlay(area, true); });
        }
    } else if (tile == ui->selectRegionShotWidget) {
        onScreenshotHotkey();
    } else if (tile == ui->selectWindowShotWidget && SCDesktopSession::isWayland()) {
        // Only XWayland's own windows could be listed: the person frames the window instead.
        onScreenshotHotkey();
        showScreenshotNote(tr("Wayland desktops do not tell programs where windows are: drag "
                              "a frame around the window."),
                           QString());
    } else if (tile == ui->selectWindowShotWidget) {
        if (m_screenshotNote)
            m_screenshotNote->hide();
        disconnect(m_windowHighlighter.get(), &WindowHighlighter::windowClicked, this, nullptr);
        connect(m_windowHighlighter.get(), &WindowHighlighter::windowClicked, this,
                &SCMainWindow::onScreenshotWindowClicked);
        m_windowHighlighter->show();
    }
}

void SCMainWindow::onScreenshotHotkey()
{
    if (m_screenshotNote)
        m_screenshotNote->hide();
    if (m_screenshotCountdown)
        m_screenshotCountdown->stop();
    // One connection, however often the selection is started and cancelled.
    disconnect(m_areaSelector.get(), nullptr, this, nullptr);
    connect(m_areaSelector.get(), &AreaSelector::areaSelected, this,
            &SCMainWindow::onScreenshotAreaSelected);
    connect(m_areaSelector.get(), &AreaSelector::cancelled, this,
            &SCMainWindow::handleScreenshotCancelled);
    m_areaSelector->setExtent(AreaSelector::Extent::DraggedDistance);
    showSelector(m_areaSelector.get(), true);
}

void SCMainWindow::onScreenshotAreaSelected(const QRect &rect)
{
    QGuiApplication::restoreOverrideCursor();
    m_areaSelector->hide();
    disconnect(m_areaSelector.get(), &AreaSelector::areaSelected, this, nullptr);
    openRegionAfterDelay(onScreen(rect));
}

void SCMainWindow::onScreenshotWindowClicked(const QRect &rect)
{
    disconnect(m_windowHighlighter.get(), &WindowHighlighter::windowClicked, this, nullptr);
    m_windowHighlighter->hide();
    openRegionAfterDelay(onScreen(rect));
}

void SCMainWindow::handleScreenshotError(const QString &message)
{
    // A selection covering the screen would hide the message and block its buttons.
    const bool overlayShown = m_screenshotWindow && m_screenshotWindow->isVisible();
    if (overlayShown)
        m_screenshotWindow->hide();
    QMessageBox box(QMessageBox::Warning, tr("Screenshot Error"),
                    tr("Screenshot error: %1").arg(message));
    box.setStyleSheet(loadMessageBoxStyle());
    box.exec();
    if (overlayShown && m_screenshotWindow)
        m_screenshotWindow->show();
}

void SCMainWindow::showScreenshotSaved(const QString &path)
{
    rememberOverlayRegion();
    restoreAfterScreenshot();
    m_fileManager->addFile(path, QStringLiteral("screenshot"));
    // The person stays on the page they were on; a list of screenshots there shows it.
    if (ui->mainFunctionPages->currentIndex() == 1 && ui->imageTab->isChecked())
        updateFileTable(QStringLiteral("screenshot"));
    SCLogger::instance()->info(QStringLiteral("Screenshot saved to: %1").arg(path));
    showScreenshotNote(tr("Screenshot saved: %1").arg(QFileInfo(path).fileName()), path);
    emit screenshotSaved(path);
    if (std::exchange(m_screenshotRequested, false))
        emit screenshotFinished(path);
}

void SCMainWindow::showScreenshotCopied()
{
    rememberOverlayRegion();
    restoreAfterScreenshot();
    showScreenshotNote(tr("Screenshot copied to the clipboard"), QString());
    if (std::exchange(m_screenshotRequested, false))
        emit screenshotFinished(QString());
}

void SCMainWindow::showTextCopied(const QString &firstWords)
{
    restoreAfterScreenshot();
    showScreenshotNote(tr("Text copied: %1").arg(firstWords), QString());
    if (std::exchange(m_screenshotRequested, false))
        emit screenshotFinished(QString());
}

void SCMainWindow::handleScreenshotCancelled()
{
    m_screenshot->dropStill();
    restoreAfterScreenshot();
    if (std::exchange(m_screenshotRequested, false))
        emit screenshotFinished(QString());
}

void SCMainWindow::showScreenshotNote(const QString &text, const QString &path)
{
    if (!m_screenshotNote)
        m_screenshotNote = new SCNote(this);
    disconnect(m_screenshotNote, &SCNote::clicked, this, nullptr);
    if (!path.isEmpty()) {
        connect(m_screenshotNote, &SCNote::clicked, this,
                [path] { SCFileReveal::showInFolder(path); });
    }
    m_screenshotNote->showMessage(text, this);
}
