#include "sc-main-window.h"

#include "sc-control-request.h"
#include "sc-desktop-session.h"
#include "sc-global-hotkey.h"
#include "sc-global-shortcuts-portal.h"
#include "sc-hotkey-actions.h"
#include "sc-logger.h"
#include "sc-settings.h"

#include <QTimer>

void SCMainWindow::initHotkeys()
{
    // On Wayland only the desktop sees keys meant for another application's window; its
    // portal delivers them. Key grabs through XWayland work while one of ours has the focus.
    if (SCDesktopSession::isWayland())
        bindDesktopShortcuts();
    else
        bindKeyGrabs();
}

// Asked without waiting: a desktop without the portal answers so, and the key grabs follow.
void SCMainWindow::bindDesktopShortcuts()
{
    if (!m_shortcutsPortal) {
        m_shortcutsPortal = new SCGlobalShortcutsPortal(QDBusConnection::sessionBus(), this);
        connect(m_shortcutsPortal, &SCGlobalShortcutsPortal::finished, this,
                [this](SCGlobalShortcutsPortal::Status status) {
                    onDesktopShortcutsBound(int(status));
                });
        connect(m_shortcutsPortal, &SCGlobalShortcutsPortal::activated, this,
                &SCMainWindow::onDesktopShortcut);
    }
    releaseKeyGrabs();
    QVector<SCGlobalShortcutsPortal::Shortcut> shortcuts;
    for (const SCHotkeyAction &action : SCHotkeyActions::all()) {
        const QString text = m_settings.value(action.settingsKey).toString();
        const QKeySequence key
                = text == SCSettings::NO_HOTKEY ? QKeySequence() : QKeySequence(text);
        shortcuts.append({action.id, SCHotkeyActions::label(action), key});
    }
    m_shortcutsPortal->bind(shortcuts);
}

void SCMainWindow::onDesktopShortcutsBound(int status)
{
    const auto result = static_cast<SCGlobalShortcutsPortal::Status>(status);
    if (result == SCGlobalShortcutsPortal::Status::Bound) {
        SCLogger::instance()->info(QStringLiteral("Hotkeys bound by the desktop: %1")
                                           .arg(m_shortcutsPortal->detail()));
        return;
    }
    if (result == SCGlobalShortcutsPortal::Status::Missing) {
        SCLogger::instance()->info(
                QStringLiteral("Hotkeys: the desktop offers no GlobalShortcuts portal (%1); key "
                               "grabs work while a Vistrel window has the focus, and the "
                               "preferences show commands to bind in the desktop's keyboard "
                               "settings")
                        .arg(m_shortcutsPortal->detail()));
    } else {
        SCLogger::instance()->warning(
                QStringLiteral("The desktop did not bind the hotkeys (%1); key grabs instead")
                        .arg(m_shortcutsPortal->detail()));
    }
    bindKeyGrabs();
}

void SCMainWindow::onDesktopShortcut(const QString &id)
{
    SCLogger::instance()->info(QStringLiteral("Desktop shortcut %1").arg(id));
    if (id == QLatin1String("toggle-recording"))
        onRecordingHotkey();
    else if (id == QLatin1String("toggle-pause"))
        onPauseHotkey();
    else if (id == QLatin1String("screenshot-region"))
        onScreenshotHotkey();
    else if (id == QLatin1String("screenshot-full"))
        onFullScreenshotHotkey();
}

void SCMainWindow::onFullScreenshotHotkey()
{
    if (m_screenshotRequested)
        return;
    SCScreenshotRequest request;
    request.mode = SCScreenshotRequest::Mode::Full;
    screenshotRequested(request);
}

void SCMainWindow::releaseKeyGrabs()
{
    for (SCGlobalHotkey **hotkey :
         {&m_recordingHotkey, &m_screenshotHotkey, &m_pauseHotkey, &m_fullScreenshotHotkey}) {
        if (*hotkey) {
            disconnect(*hotkey, &SCGlobalHotkey::activated, this, nullptr);
            (*hotkey)->resetShortcut();
            delete *hotkey;
            *hotkey = nullptr;
        }
    }
}

void SCMainWindow::bindKeyGrabs()
{
    releaseKeyGrabs();
    QStringList problems;
    const auto bind = [this, &problems](SCGlobalHotkey *&hotkey, const QString &key, auto handler) {
        const QString text = m_settings.value(key).toString();
        if (text == SCSettings::NO_HOTKEY || text.isEmpty())
            return;
        const QKeySequence sequence(text);
        if (sequence.isEmpty() || sequence.count() != 1 || sequence[0].key() == Qt::Key_unknown) {
            SCLogger::instance()->warning(
                    QStringLiteral("Hotkey \"%1\" of %2 is not a key; no hotkey set")
                            .arg(text, key));
            problems << tr("\"%1\" is not a key.").arg(text);
            return;
        }
        hotkey = new SCGlobalHotkey(sequence, true, this);
        if (!hotkey->isRegistered()) {
            SCLogger::instance()->warning(QStringLiteral("Hotkey %1 could not be registered: %2")
                                                  .arg(text, hotkey->errorString()));
            problems << tr("%1 is already taken by another program.").arg(text);
        }
        connect(hotkey, &SCGlobalHotkey::activated, this, handler);
    };
    bind(m_recordingHotkey, SCSettings::HOTKEYS_RECORDING, &SCMainWindow::onRecordingHotkey);
    bind(m_screenshotHotkey, SCSettings::HOTKEYS_SCREENSHOT, &SCMainWindow::onScreenshotHotkey);
    bind(m_pauseHotkey, SCSettings::HOTKEYS_PAUSE, &SCMainWindow::onPauseHotkey);
    bind(m_fullScreenshotHotkey, SCSettings::HOTKEYS_FULL_SCREENSHOT,
         &SCMainWindow::onFullScreenshotHotkey);
    // A Wayland desktop's own applications hold no X grabs: a refused grab there says nothing.
    if (!SCDesktopSession::isWayland())
        reportHotkeyProblems(problems);
}

// Each problem is shown once per run: re-registering after the preferences change must not
// repeat a warning the user has already seen.
void SCMainWindow::reportHotkeyProblems(const QStringList &problems)
{
    QStringList fresh;
    for (const QString &problem : problems) {
        if (!m_reportedHotkeyProblems.contains(problem))
            fresh << problem;
    }
    if (fresh.isEmpty())
        return;
    m_reportedHotkeyProblems << fresh;
    // Not from the constructor: the box waits until the main window is on screen.
    QTimer::singleShot(500, this, [this, fresh] {
        showWarning(tr("Hotkey Not Available"),
                    tr("A hotkey cannot be used:\n%1\nChoose another one in the preferences.")
                            .arg(fresh.join(QLatin1Char('\n'))));
    });
}
