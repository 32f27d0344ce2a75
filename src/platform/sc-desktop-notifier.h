#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

class QDBusPendingCallWatcher;

// Notices in the desktop's notification area (org.freedesktop.Notifications on the session
// bus). A notice about a file offers to open it or to show it in its folder, where the server
// shows actions. Without a server nothing is shown and nothing waits: the log says so once.
class SCDesktopNotifier : public QObject
{
    Q_OBJECT

public:
    static inline const QString SERVICE = QStringLiteral("org.freedesktop.Notifications");
    static inline const QString PATH = QStringLiteral("/org/freedesktop/Notifications");
    static inline const QString INTERFACE = QStringLiteral("org.freedesktop.Notifications");
    // The installed desktop entry and icon name.
    static inline const QString APP_ID = QStringLiteral("org.ombrant.Vistrel");
    static inline const QString OPEN_ACTION = QStringLiteral("open");
    static inline const QString FOLDER_ACTION = QStringLiteral("folder");

    explicit SCDesktopNotifier(QObject *parent = nullptr);

    // `text` under `summary`; with a file, the notice offers to open it or show its folder.
    void notify(const QString &summary, const QString &text, const QString &filePath = {});

private Q_SLOTS:
    void onActionInvoked(uint id, const QString &action);
    void onNotificationClosed(uint id, uint reason);

private:
    struct Notice
    {
        QString summary;
        QString text;
        QString filePath;
    };
    enum class Server { Unknown, Asking, Present, Missing };

    void askServer();
    void onCapabilities(QDBusPendingCallWatcher *watcher);
    void send(const Notice &notice);
    void serverMissing(const QString &why);

    Server m_server = Server::Unknown;
    QStringList m_capabilities;
    // Notices that wait for the server's answer about what it can show.
    QList<Notice> m_waiting;
    // The file of each notice on screen, by the server's id.
    QHash<uint, QString> m_files;
    bool m_toldMissing = false;
};
