#pragma once

#include <QHash>
#include <QObject>

class SCDesktopNotifier;
class SCMainWindow;
class SCTrayIcon;

// The program on the desktop beside its main window: the tray icon, and notices when a
// recording or screenshot is saved or a recording ends on its own. A child of the window it
// follows.
class SCDesktopIntegration : public QObject
{
    Q_OBJECT

public:
    explicit SCDesktopIntegration(SCMainWindow *window);
    ~SCDesktopIntegration() override;

    SCTrayIcon *trayIcon() const { return m_tray; }

private:
    bool noticesWanted() const;
    void onRecordingFinished(const QString &path);
    void onScreenshotSaved(const QString &path);
    void onRecordingFailed(const QString &reason);

    SCTrayIcon *m_tray = nullptr;
    SCDesktopNotifier *m_notifier = nullptr;
    // Why a recording that just finished was stopped, when it was not the person.
    QHash<QString, QString> m_interruptions;
};
