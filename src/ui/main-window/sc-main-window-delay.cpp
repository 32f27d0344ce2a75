// Delayed screenshots and the last region: the page's delay runs between the person's
// choice and the picture, with a small countdown; the region or window saved or copied last
// is kept in the settings store and can be taken again without a drag.

#include "sc-main-window.h"
#include "sc-screenshot.h"
#include "ui_sc-main-window.h"

#include "sc-logger.h"
#include "sc-screenshot-countdown.h"
#include "sc-screenshot-window.h"
#include "sc-settings.h"

#include <QGuiApplication>
#include <QScreen>

namespace {

// The delay list's entries, in seconds.
constexpr int DELAYS[] = {0, 3, 5, 10};

QString regionText(const QRect &r)
{
    return QStringLiteral("%1,%2,%3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

} // namespace

void SCMainWindow::setupScreenshotDelay()
{
    const int stored = m_settings.value(SCSettings::SCREENSHOT_DELAY).toInt();
    const auto found = std::find(std::begin(DELAYS), std::end(DELAYS), stored);
    if (found == std::end(DELAYS))
        SCLogger::instance()->warning(
                QStringLiteral("Screenshot delay of %1 s in the settings is not offered; none used")
                        .arg(stored));
    ui->screenshotDelayComboBox->setCurrentIndex(
            found == std::end(DELAYS) ? 0 : int(found - std::begin(DELAYS)));
    connect(ui->screenshotDelayComboBox, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0 && index < int(std::size(DELAYS)))
            m_settings.setValue(SCSettings::SCREENSHOT_DELAY, DELAYS[index]);
    });
    connect(ui->repeatRegionShotBtn, &QPushButton::clicked, this, &SCMainWindow::repeatLastRegion);
    updateRepeatRegionButton();
}

int SCMainWindow::screenshotDelay() const
{
    const int index = ui->screenshotDelayComboBox->currentIndex();
    return index >= 0 && index < int(std::size(DELAYS)) ? DELAYS[index] : 0;
}

void SCMainWindow::afterScreenshotDelay(int seconds, const QRect &area, std::function<void()> then)
{
    if (!m_screenshotCountdown)
        m_screenshotCountdown = std::make_unique<SCScreenshotCountdown>();
    // A new choice replaces a count that still runs.
    disconnect(m_screenshotCountdown.get(), nullptr, this, nullptr);
    m_screenshotCountdown->stop();
    if (seconds <= 0) {
        then();
        return;
    }
    stepAsideForScreenshot();
    connect(m_screenshotCountdown.get(), &SCScreenshotCountdown::finished, this, std::move(then),
            Qt::SingleShotConnection);
    connect(m_screenshotCountdown.get(), &SCScreenshotCountdown::cancelled, this,
            &SCMainWindow::handleScreenshotCancelled, Qt::SingleShotConnection);
    m_screenshotCountdown->start(seconds, area);
}

void SCMainWindow::openRegionAfterDelay(const QRect &area)
{
    // A request from outside brings its own delay; the page's is for the page and the hotkey.
    const int delay = m_screenshotRequested ? m_screenshotRequest.delay : screenshotDelay();
    // After a wait the screen is taken as it is then, not as it was chosen on.
    if (delay > 0)
        m_screenshot->dropStill();
    afterScreenshotDelay(delay, area, [this, area] {
        if (!takeRequestedScreenshotDirectly(area))
            openScreenshotOverlay(area, false);
    });
}

void SCMainWindow::repeatLastRegion()
{
    const QRect area = lastRegionOnScreen();
    if (area.isEmpty()) {
        onScreenshotHotkey();
        return;
    }
    openRegionAfterDelay(area);
}

QRect SCMainWindow::lastScreenshotRegion() const
{
    return m_settings.value(SCSettings::SCREENSHOT_LAST_REGION).toRect();
}

QRect SCMainWindow::lastRegionOnScreen() const
{
    const QRect stored = lastScreenshotRegion();
    // The screen that holds most of it, after a monitor went or changed its size.
    QRect best;
    for (QScreen *screen : QGuiApplication::screens()) {
        const QRect part = stored.intersected(screen->geometry());
        if (qint64(part.width()) * part.height() > qint64(best.width()) * best.height())
            best = part;
    }
    if (stored.isEmpty() || best == stored)
        return best;
    SCLogger::instance()->warning(
            best.isEmpty() ? QStringLiteral("The last region %1 is on no screen now; a region "
                                            "is selected instead")
                                     .arg(regionText(stored))
                           : QStringLiteral("The last region %1 is not wholly on a screen now; "
                                            "%2 of it is taken")
                                     .arg(regionText(stored), regionText(best)));
    return best;
}

void SCMainWindow::rememberScreenshotRegion(const QRect &area)
{
    if (area.isEmpty())
        return;
    m_settings.setValue(SCSettings::SCREENSHOT_LAST_REGION, area);
    updateRepeatRegionButton();
    emit lastScreenshotRegionChanged(true);
}

void SCMainWindow::rememberOverlayRegion()
{
    // Where the person left the selection, after moving or resizing it.
    if (m_screenshotWindow && !m_overlayFullScreen)
        rememberScreenshotRegion(m_screenshotWindow->getArea());
}

void SCMainWindow::updateRepeatRegionButton()
{
    const bool stored = !lastScreenshotRegion().isEmpty();
    ui->repeatRegionShotBtn->setEnabled(stored);
    ui->repeatRegionShotBtn->setToolTip(stored ? tr("Take the last region again, without a drag")
                                               : tr("No region has been captured yet."));
}
