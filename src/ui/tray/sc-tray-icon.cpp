#include "sc-tray-icon.h"

#include "sc-logger.h"
#include "sc-main-window.h"
#include "sc-settings.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTimer>

namespace {

const QString APP_ICON = QStringLiteral(":/resources/AppIcon.svg");
const QString RECORDING_ICON = QStringLiteral(":/res/forms/images/start-recording.svg");
const QString PAUSED_ICON = QStringLiteral(":/res/forms/images/pause-recording.svg");
// How often the tray is looked after while it holds the window; a tray that went away
// (its panel crashed or was removed) gives the window back within this time.
constexpr int TRAY_WATCH_MS = 2000;

bool isRunning(const QString &state)
{
    return state == QLatin1String("recording") || state == QLatin1String("paused")
            || state == QLatin1String("stopping");
}

} // namespace

SCTrayIcon::SCTrayIcon(SCMainWindow *window, QObject *parent)
    : QObject(parent)
    , m_window(window)
    , m_icon(new QSystemTrayIcon(this))
    , m_menu(std::make_unique<QMenu>())
    , m_clock(new QTimer(this))
    , m_trayWatch(new QTimer(this))
{
    m_menu->setObjectName(QStringLiteral("trayMenu"));
    const auto request = [this](const char *name, auto call) {
        auto *action = new QAction(m_menu.get());
        action->setObjectName(QString::fromLatin1(name));
        // From the event loop, not from inside the menu: a countdown or a screenshot
        // selection runs loops of its own.
        connect(action, &QAction::triggered, this, [this, call] {
            QMetaObject::invokeMethod(
                    this,
                    [this, call] {
                        if (m_window)
                            call(m_window.data());
                    },
                    Qt::QueuedConnection);
        });
        return action;
    };
    m_recordAction = request("trayRecordAction", [](SCMainWindow *w) {
        if (w->controlState() == QLatin1String("idle"))
            w->startRequested({});
        else
            w->stopRequested();
    });
    m_pauseAction = request("trayPauseAction", [](SCMainWindow *w) {
        w->pauseRequested(w->controlState() != QLatin1String("paused"));
    });
    const auto shot = [](SCScreenshotRequest::Mode mode) {
        return [mode](SCMainWindow *w) {
            SCScreenshotRequest request;
            request.mode = mode;
            w->screenshotRequested(request);
        };
    };
    m_fullShotAction = request("trayFullScreenshotAction", shot(SCScreenshotRequest::Mode::Full));
    m_regionShotAction
            = request("trayRegionScreenshotAction", shot(SCScreenshotRequest::Mode::Region));
    m_windowShotAction
            = request("trayWindowScreenshotAction", shot(SCScreenshotRequest::Mode::Window));
    m_repeatRegionShotAction = request("trayRepeatRegionScreenshotAction",
                                       shot(SCScreenshotRequest::Mode::LastRegion));
    m_showAction = request("trayShowAction", [](SCMainWindow *w) { w->bringToFront(); });
    m_quitAction = request("trayQuitAction", [](SCMainWindow *w) { w->quitRequested(); });

    m_menu->addAction(m_recordAction);
    m_menu->addAction(m_pauseAction);
    m_screenshotMenu = m_menu->addMenu(QString());
    m_screenshotMenu->setObjectName(QStringLiteral("trayScreenshotMenu"));
    m_screenshotMenu->addActions(
            {m_fullShotAction, m_regionShotAction, m_windowShotAction, m_repeatRegionShotAction});
    m_menu->addSeparator();
    m_menu->addAction(m_showAction);
    m_menu->addAction(m_quitAction);
    m_icon->setContextMenu(m_menu.get());
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if ((r == QSystemTrayIcon::Trigger || r == QSystemTrayIcon::DoubleClick) && m_window)
            m_window->bringToFront();
    });

    m_clock->setInterval(500);
    connect(m_clock, &QTimer::timeout, this, &SCTrayIcon::updateToolTip);
    m_trayWatch->setInterval(TRAY_WATCH_MS);
    connect(m_trayWatch, &QTimer::timeout, this, &SCTrayIcon::checkTrayWhileHidden);

    if (m_window) {
        connect(m_window, &SCMainWindow::controlStateChanged, this, &SCTrayIcon::followState);
        connect(m_window, &SCMainWindow::engineReady, this,
                [this] { followState(m_window->controlState()); });
        m_window->installEventFilter(this);
        connect(m_window, &SCMainWindow::lastScreenshotRegionChanged, m_repeatRegionShotAction,
                &QAction::setEnabled);
    }
    m_repeatRegionShotAction->setEnabled(m_window && !m_window->lastScreenshotRegion().isEmpty());
    // A Save in the preferences applies the language again: the tray then reads its
    // preferences and texts anew.
    m_menu->installEventFilter(this);
    retranslate();
    followState(m_window ? m_window->controlState() : QStringLiteral("idle"));
    applyPreferences();
}

SCTrayIcon::~SCTrayIcon() = default;

bool SCTrayIcon::isInTray() const
{
    return m_icon->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

void SCTrayIcon::applyPreferences()
{
    const QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    m_icon->setVisible(settings.value(SCSettings::DESKTOP_TRAY_ICON, true).toBool());
}

void SCTrayIcon::retranslate()
{
    m_screenshotMenu->setTitle(tr("Screenshot"));
    m_fullShotAction->setText(tr("Full Screen"));
    m_regionShotAction->setText(tr("Select Region"));
    m_windowShotAction->setText(tr("Select Window"));
    m_repeatRegionShotAction->setText(tr("Repeat Last Region"));
    m_showAction->setText(tr("Show Vistrel"));
    m_quitAction->setText(tr("Quit"));
    followState(m_state);
}

void SCTrayIcon::followState(const QString &state)
{
    m_state = state;
    const bool idle = state == QLatin1String("idle") || state.isEmpty();
    m_recordAction->setText(idle ? tr("Start Recording") : tr("Stop Recording"));
    m_recordAction->setEnabled(idle ? m_window && m_window->isEngineReady()
                                    : state != QLatin1String("stopping"));
    const bool paused = state == QLatin1String("paused");
    m_pauseAction->setText(paused ? tr("Resume Recording") : tr("Pause Recording"));
    m_pauseAction->setVisible(paused || state == QLatin1String("recording"));
    const QString icon = paused ? PAUSED_ICON : isRunning(state) ? RECORDING_ICON : APP_ICON;
    if (m_iconPath != icon) {
        m_iconPath = icon;
        m_icon->setIcon(QIcon(icon));
    }
    if (isRunning(state))
        m_clock->start();
    else
        m_clock->stop();
    updateToolTip();
}

void SCTrayIcon::updateToolTip()
{
    QString tip = QStringLiteral("Vistrel");
    if (m_window && isRunning(m_state)) {
        const QString time = m_window->recordingTime().toString(QStringLiteral("hh:mm:ss"));
        tip += QLatin1Char('\n')
                + (m_state == QLatin1String("paused") ? tr("Paused %1") : tr("Recording %1"))
                          .arg(time);
    }
    if (m_icon->toolTip() != tip)
        m_icon->setToolTip(tip);
}

bool SCTrayIcon::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && event->type() == QEvent::Close)
        onWindowClosing();
    else if (watched == m_menu.get() && event->type() == QEvent::LanguageChange) {
        retranslate();
        applyPreferences();
    }
    return QObject::eventFilter(watched, event);
}

// Decided at each close, before Qt looks for other windows: the tray takes the window only
// while it is there to give it back.
void SCTrayIcon::onWindowClosing()
{
    const QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    const bool toTray
            = settings.value(SCSettings::DESKTOP_CLOSE_TO_TRAY, false).toBool() && isInTray();
    QGuiApplication::setQuitOnLastWindowClosed(!toTray);
    // A quit closes the windows too; by the next turn of the loop it has ended the program.
    if (toTray)
        QTimer::singleShot(0, this, &SCTrayIcon::onWindowClosedToTray);
}

void SCTrayIcon::onWindowClosedToTray()
{
    if (!m_window || m_window->isVisible())
        return;
    SCLogger::instance()->info(QStringLiteral("Window closed to the tray"));
    m_trayWatch->start();
    QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    if (settings.value(SCSettings::DESKTOP_CLOSE_TO_TRAY_TOLD, false).toBool())
        return;
    settings.setValue(SCSettings::DESKTOP_CLOSE_TO_TRAY_TOLD, true);
    m_icon->showMessage(QStringLiteral("Vistrel"),
                        tr("Vistrel keeps running in the tray. Its menu brings the window back "
                           "or quits."),
                        QIcon(APP_ICON), 8000);
}

void SCTrayIcon::checkTrayWhileHidden()
{
    if (!m_window || m_window->isVisible()) {
        m_trayWatch->stop();
        return;
    }
    if (isInTray())
        return;
    // Never leave the program without a way back to it.
    SCLogger::instance()->warning(
            QStringLiteral("The tray holding the window went away; showing the window again"));
    m_trayWatch->stop();
    QGuiApplication::setQuitOnLastWindowClosed(true);
    m_window->bringToFront();
}
