#include "sc-desktop-integration.h"

#include "sc-desktop-notifier.h"
#include "sc-main-window.h"
#include "sc-settings.h"
#include "sc-tray-icon.h"

#include <QFileInfo>
#include <QSettings>
#include <QTimer>

SCDesktopIntegration::SCDesktopIntegration(SCMainWindow *window)
    : QObject(window)
    , m_tray(new SCTrayIcon(window, this))
    , m_notifier(new SCDesktopNotifier(this))
{
    connect(window, &SCMainWindow::recordingFinished, this,
            &SCDesktopIntegration::onRecordingFinished);
    // Told right after the file was finished: one notice says both.
    connect(window, &SCMainWindow::recordingInterrupted, this,
            [this](const QString &path, const QString &reason) {
                m_interruptions.insert(path, reason);
            });
    connect(window, &SCMainWindow::recordingFailed, this, &SCDesktopIntegration::onRecordingFailed);
    connect(window, &SCMainWindow::screenshotSaved, this, &SCDesktopIntegration::onScreenshotSaved);
}

SCDesktopIntegration::~SCDesktopIntegration() = default;

bool SCDesktopIntegration::noticesWanted() const
{
    const QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    return settings.value(SCSettings::DESKTOP_NOTIFICATIONS, true).toBool();
}

void SCDesktopIntegration::onRecordingFinished(const QString &path)
{
    // After the signals of this stop: a reason for it may still come.
    QTimer::singleShot(0, this, [this, path] {
        const QString reason = m_interruptions.take(path);
        if (!noticesWanted())
            return;
        const QString name = QFileInfo(path).fileName();
        if (reason.isEmpty())
            m_notifier->notify(tr("Recording Saved"), name, path);
        else
            m_notifier->notify(tr("Recording Stopped"), name + QLatin1Char('\n') + reason, path);
    });
}

void SCDesktopIntegration::onScreenshotSaved(const QString &path)
{
    if (noticesWanted())
        m_notifier->notify(tr("Screenshot Saved"), QFileInfo(path).fileName(), path);
}

void SCDesktopIntegration::onRecordingFailed(const QString &reason)
{
    if (noticesWanted())
        m_notifier->notify(tr("Recording Error"), reason);
}
