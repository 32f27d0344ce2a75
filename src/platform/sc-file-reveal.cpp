#include "sc-file-reveal.h"

#include "sc-desktop-open.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QPointer>
#include <QUrl>
#include <QWidget>
#include <QtDebug>

namespace {

// A file manager started on demand by the bus may take a moment; beyond this, open the folder.
constexpr int REPLY_TIMEOUT_MS = 5000;

void openFolder(const QString &filePath, QWidget *parent)
{
    SCDesktopOpen::openFolder(QFileInfo(filePath).absolutePath(), parent);
}

} // namespace

namespace SCFileReveal {

void showInFolder(const QString &filePath, QWidget *parent, std::function<void(bool)> done)
{
    const QString absolute = QFileInfo(filePath).absoluteFilePath();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolder(absolute, parent);
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
    QObject::connect(
            watcher, &QDBusPendingCallWatcher::finished, watcher,
            [absolute, done, owner = QPointer<QWidget>(parent)](QDBusPendingCallWatcher *w) {
                const bool answered = !w->isError();
                if (!answered) {
                    qDebug() << "File manager did not answer:" << w->error().name()
                             << w->error().message();
                    openFolder(absolute, owner);
                }
                w->deleteLater();
                if (done)
                    done(answered);
            });
}

} // namespace SCFileReveal
