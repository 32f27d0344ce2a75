#include "sc-file-reveal.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>
#include <QtDebug>

namespace {

// A file manager started on demand by the bus may take a moment; beyond this, open the folder.
constexpr int REPLY_TIMEOUT_MS = 5000;

void openFolder(const QString &filePath)
{
    const QString folder = QFileInfo(filePath).absolutePath();
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
        qWarning() << "Could not open folder" << folder;
}

} // namespace

namespace SCFileReveal {

void showInFolder(const QString &filePath, std::function<void(bool)> done)
{
    const QString absolute = QFileInfo(filePath).absoluteFilePath();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolder(absolute);
        if (done)
            done(false);
        return;
    }

    QDBusMessage call
            = QDBusMessage::createMethodCall(SERVICE, PATH, INTERFACE, QStringLiteral("ShowItems"));
    // A percent-encoded URI: blanks, quotes and non-ASCII letters reach the file manager intact.
    call << QStringList {QString::fromLatin1(QUrl::fromLocalFile(absolute).toEncoded())}
         << QString();
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, REPLY_TIMEOUT_MS));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [absolute, done](QDBusPendingCallWatcher *w) {
                         const bool answered = !w->isError();
                         if (!answered) {
                             qDebug() << "File manager did not answer:" << w->error().name()
                                      << w->error().message();
                             openFolder(absolute);
                         }
                         w->deleteLater();
                         if (done)
                             done(answered);
                     });
}

} // namespace SCFileReveal
