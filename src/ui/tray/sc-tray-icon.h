#pragma once

#include <QObject>
#include <QPointer>

#include <memory>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QTimer;
class SCMainWindow;

// The program's icon in the desktop's tray: its state at a glance (the icon changes while
// recording or paused, the tooltip counts the time), a menu with the window's main requests,
// and, when the person chose it, the place the window goes to when it is closed. Where no tray
// exists the program behaves as without it: a closed window quits.
class SCTrayIcon : public QObject
{
    Q_OBJECT

public:
    explicit SCTrayIcon(SCMainWindow *window, QObject *parent = nullptr);
    ~SCTrayIcon() override;

    // Shown by the preferences and held by a tray that is there now.
    bool isInTray() const;
    QSystemTrayIcon *systemTrayIcon() const { return m_icon; }
    QMenu *menu() const { return m_menu.get(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void applyPreferences();
    void retranslate();
    void followState(const QString &state);
    void updateToolTip();
    void onWindowClosing();
    void onWindowClosedToTray();
    void checkTrayWhileHidden();

    QPointer<SCMainWindow> m_window;
    QSystemTrayIcon *m_icon = nullptr;
    std::unique_ptr<QMenu> m_menu;
    QMenu *m_screenshotMenu = nullptr;
    QAction *m_recordAction = nullptr;
    QAction *m_pauseAction = nullptr;
    QAction *m_fullShotAction = nullptr;
    QAction *m_regionShotAction = nullptr;
    QAction *m_windowShotAction = nullptr;
    QAction *m_repeatRegionShotAction = nullptr;
    QAction *m_showAction = nullptr;
    QAction *m_quitAction = nullptr;
    // Counts the tooltip's time while a recording runs.
    QTimer *m_clock = nullptr;
    // Looks after the tray while the window is in it: if the tray goes, the window comes back.
    QTimer *m_trayWatch = nullptr;
    QString m_state;
    QString m_iconPath;
};
