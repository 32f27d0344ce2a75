// The screenshot workflow of the main window: full screen, region, window and the
// screenshot hotkey open the overlay; saved files go to the library.

#include "sc-main-window.h"
#include "ui_sc-main-window.h"

#include "area-selector.h"
#include "sc-file-manager.h"
#include "sc-screenshot-window.h"
#include "sc-screenshot.h"
#include "window-highlighter.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

SCScreenshotWindow *SCMainWindow::ensureScreenshotWindowCreated()
{
    if (m_screenshotWindow)
        m_screenshotWindow->deleteLater();
    m_screenshotWindow = new SCScreenshotWindow(m_screenshot.get(), nullptr);
    connect(m_screenshotWindow, &SCScreenshotWindow::screenshotSaved, this,
            &SCMainWindow::showScreenshotSaved);
    connect(m_screenshotWindow, &SCScreenshotWindow::screenshotCancelled, this,
            &SCMainWindow::handleScreenshotCancelled);
    return m_screenshotWindow;
}

void SCMainWindow::onScreenshotTileReleased(QWidget *tile)
{
    if (tile == ui->fullScreenShotWidget) {
        QScreen *screen = QGuiApplication::primaryScreen();
        if (!screen)
            return;
        SCScreenshotWindow *overlay = ensureScreenshotWindowCreated();
        overlay->setGeometry(screen->geometry());
        overlay->setFullScreen(true);
        overlay->show();
    } else if (tile == ui->selectRegionShotWidget) {
        onScreenshotHotkey();
    } else if (tile == ui->selectWindowShotWidget) {
        disconnect(m_windowHighlighter.get(), &WindowHighlighter::windowClicked, this, nullptr);
        connect(m_windowHighlighter.get(), &WindowHighlighter::windowClicked, this,
                &SCMainWindow::onScreenshotWindowClicked);
        m_windowHighlighter->show();
    }
}

void SCMainWindow::onScreenshotHotkey()
{
    // One connection, however often the selection is started and cancelled.
    disconnect(m_areaSelector.get(), &AreaSelector::areaSelected, this, nullptr);
    connect(m_areaSelector.get(), &AreaSelector::areaSelected, this,
            &SCMainWindow::onScreenshotAreaSelected);
    m_areaSelector->show();
}

void SCMainWindow::onScreenshotAreaSelected(const QRect &rect)
{
    SCScreenshotWindow *overlay = ensureScreenshotWindowCreated();
    overlay->setGeometry(rect);
    overlay->setFullScreen(false);
    overlay->show();
    QGuiApplication::restoreOverrideCursor();
    m_areaSelector->hide();
    disconnect(m_areaSelector.get(), &AreaSelector::areaSelected, this, nullptr);
}

void SCMainWindow::onScreenshotWindowClicked(const QRect &rect)
{
    SCScreenshotWindow *overlay = ensureScreenshotWindowCreated();
    overlay->setGeometry(rect);
    overlay->setFullScreen(false);
    overlay->show();
    disconnect(m_windowHighlighter.get(), &WindowHighlighter::windowClicked, this, nullptr);
    m_windowHighlighter->hide();
}

void SCMainWindow::handleScreenshotError(const QString &message)
{
    QMessageBox box(QMessageBox::Warning, tr("Screenshot Error"),
                    tr("Screenshot error: %1").arg(message));
    box.setStyleSheet(loadMessageBoxStyle());
    box.exec();
}

void SCMainWindow::showScreenshotSaved(const QString &path)
{
    m_fileManager->addFile(path, QStringLiteral("screenshot"));
    QMessageBox box(QMessageBox::Information, tr("Screenshot Saved"),
                    tr("Screenshot saved to: %1").arg(path));
    box.setStyleSheet(loadMessageBoxStyle());
    box.exec();
    onImageTabClicked();
    QTimer::singleShot(0, this, [this] { showFilesPage(QStringLiteral("screenshot")); });
}

void SCMainWindow::handleScreenshotCancelled() { }
