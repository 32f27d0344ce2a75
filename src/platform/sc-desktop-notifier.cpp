#include "sc-desktop-notifier.h"

#include "sc-desktop-open.h"
#include "sc-file-reveal.h"
#include "sc-logger.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace {

// A server started on demand by the bus may take a moment; a notice later than this is no use.
constexpr int REPLY_TIMEOUT_MS = 5000;

} // namespace

SCDesktopNotifier::SCDesktopNotifier(QObject *parent)
    : QObject(parent)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    // By the well-known name: the bus follows whichever process owns it now.
    bus.connect(SERVICE, PATH, INTERFACE, QStringLiteral("ActionInvoked"), this,
                SLOT(onActionInvoked(uint, QString)));
    bus.connect(SERVICE, PATH, INTERFACE, QStringLiteral("NotificationClosed"), this,
                SLOT(onNotificationClosed(uint, uint)));
}

void SCDesktopNotifier::notify(const QString &summary, const QString &text, const QString &filePath)
{
    const Notice notice {summary, text, filePath};
    if (m_server == Server::Present) {
        send(notice);
        return;
    }
    m_waiting << notice;
    // A server that was missing is asked again: it may have started since.
    if (m_server != Server::Asking)
        askServer();
}

void SCDesktopNotifier::askServer()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        serverMissing(QStringLiteral("no session bus"));
        return;
    }
    m_server = Server::Asking;
    const QDBusMessage call = QDBusMessage::createMethodCall(SERVICE, PATH, INTERFACE,
                                                             QStringLiteral("GetCapabilities"));
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, REPLY_TIMEOUT_MS), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, &SCDesktopNotifier::onCapabilities);
}

void SCDesktopNotifier::onCapabilities(QDBusPendingCallWatcher *watcher)
{
    watcher->deleteLater();
    const QDBusPendingReply<QStringList> reply = *watcher;
    if (reply.isError()) {
        serverMissing(reply.error().name() + QStringLiteral(": ") + reply.error().message());
        return;
    }
    m_server = Server::Present;
    m_capabilities = reply.value();
    if (std::exchange(m_toldMissing, false))
        SCLogger::instance()->info(QStringLiteral("Desktop notifications are shown again"));
    for (const Notice &notice : std::exchange(m_waiting, {}))
        send(notice);
}

void SCDesktopNotifier::send(const Notice &notice)
{
    QStringList actions;
    if (!notice.filePath.isEmpty() && m_capabilities.contains(QLatin1String("actions")))
        actions = QStringList {OPEN_ACTION, tr("Open"), FOLDER_ACTION, tr("Show in Folder")};
    // A server that reads markup would take "<" or "&" in a file name for it.
    const QString text = m_capabilities.contains(QLatin1String("body-markup"))
            ? notice.text.toHtmlEscaped()
            : notice.text;
    const QVariantMap hints {{QStringLiteral("desktop-entry"), APP_ID}};
    QDBusMessage call
            = QDBusMessage::createMethodCall(SERVICE, PATH, INTERFACE, QStringLiteral("Notify"));
    call << QStringLiteral("Vistrel") << 0u << APP_ID << notice.summary << text << actions << hints
         << -1;
    auto *watcher = new QDBusPendingCallWatcher(
            QDBusConnection::sessionBus().asyncCall(call, REPLY_TIMEOUT_MS), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, path = notice.filePath,
             offered = !actions.isEmpty()](QDBusPendingCallWatcher *w) {
                w->deleteLater();
                const QDBusPendingReply<uint> reply = *w;
                if (reply.isError()) {
                    serverMissing(reply.error().name() + QStringLiteral(": ")
                                  + reply.error().message());
                } else if (offered) {
                    m_files.insert(reply.value(), path);
                }
            });
}

void SCDesktopNotifier::serverMissing(const QString &why)
{
    m_server = Server::Missing;
    m_waiting.clear();
    // One line, not one per recording: the desktop simply has no notification area.
    if (std::exchange(m_toldMissing, true))
        return;
    SCLogger::instance()->warning(
            QStringLiteral("No desktop notification server answers (%1); notices are not shown")
                    .arg(why));
}

void SCDesktopNotifier::onActionInvoked(uint id, const QString &action)
{
    const auto file = m_files.constFind(id);
    if (file == m_files.constEnd())
        return;
    if (action == OPEN_ACTION)
        SCDesktopOpen::openFile(file.value(), nullptr);
    else if (action == FOLDER_ACTION)
        SCFileReveal::showInFolder(file.value());
}

void SCDesktopNotifier::onNotificationClosed(uint id, uint)
{
    m_files.remove(id);
}
