#include "sc-permission-checks.h"

#include "sc-desktop-session.h"
#include "sc-global-hotkey.h"
#include "sc-screen-cast-portal.h"
#include "sc-x11.h"

#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

const QString HELP_PAGE = QStringLiteral("https://www.ombrant.com/vistrel/help/linux-permissions");

// Connects without blocking for longer than the timeout; true once the peer accepted.
bool connectWithin(int fd, const sockaddr *address, socklen_t length, int timeoutMs)
{
    const int flags = fcntl(fd, F_GETFL, 0);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    if (::connect(fd, address, length) == 0)
        return true;
    if (errno != EINPROGRESS && errno != EAGAIN)
        return false;
    pollfd watch {fd, POLLOUT, 0};
    if (poll(&watch, 1, timeoutMs) != 1)
        return false;
    int error = 0;
    socklen_t size = sizeof(error);
    return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

bool unixSocketAnswers(const QString &path, int timeoutMs)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const QByteArray native = QFile::encodeName(path);
    if (native.isEmpty() || native.size() >= static_cast<int>(sizeof(address.sun_path)))
        return false;
    memcpy(address.sun_path, native.constData(), native.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool ok
            = connectWithin(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address), timeoutMs);
    close(fd);
    return ok;
}

bool tcpServerAnswers(QString hostAndPort, int timeoutMs)
{
    QString port = QStringLiteral("4713");
    if (hostAndPort.startsWith(QLatin1Char('['))) {
        const int end = hostAndPort.indexOf(QLatin1Char(']'));
        if (end < 0)
            return false;
        if (hostAndPort.mid(end + 1).startsWith(QLatin1Char(':')))
            port = hostAndPort.mid(end + 2);
        hostAndPort = hostAndPort.mid(1, end - 1);
    } else if (hostAndPort.count(QLatin1Char(':')) == 1) {
        port = hostAndPort.section(QLatin1Char(':'), 1);
        hostAndPort = hostAndPort.section(QLatin1Char(':'), 0, 0);
    }
    addrinfo hints {};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (getaddrinfo(hostAndPort.toUtf8().constData(), port.toUtf8().constData(), &hints, &found)
        != 0)
        return false;
    bool ok = false;
    for (addrinfo *entry = found; entry && !ok; entry = entry->ai_next) {
        const int fd = socket(entry->ai_family, entry->ai_socktype | SOCK_CLOEXEC, 0);
        if (fd < 0)
            continue;
        ok = connectWithin(fd, entry->ai_addr, entry->ai_addrlen, timeoutMs);
        close(fd);
    }
    freeaddrinfo(found);
    return ok;
}

// One entry of PULSE_SERVER: "unix:/path", "/path", "tcp:host:port", "tcp6:...", "host",
// optionally preceded by "{machine-id}".
bool serverEntryAnswers(QString entry, int timeoutMs)
{
    if (entry.startsWith(QLatin1Char('{'))) {
        const int end = entry.indexOf(QLatin1Char('}'));
        entry = end < 0 ? QString() : entry.mid(end + 1);
    }
    if (entry.isEmpty())
        return false;
    if (entry.startsWith(QLatin1String("unix:")))
        return unixSocketAnswers(entry.mid(5), timeoutMs);
    if (entry.startsWith(QLatin1Char('/')))
        return unixSocketAnswers(entry, timeoutMs);
    for (const QLatin1String prefix :
         {QLatin1String("tcp4:"), QLatin1String("tcp6:"), QLatin1String("tcp:")}) {
        if (entry.startsWith(prefix))
            return tcpServerAnswers(entry.mid(prefix.size()), timeoutMs);
    }
    return tcpServerAnswers(entry, timeoutMs);
}

} // namespace

SCPermissionChecks::ScreenAccess SCPermissionChecks::screenAccess()
{
    // Asked afresh: the review may be shown again after the session's variables changed.
    if (SCDesktopSession::detect() == SCDesktopSession::Kind::Wayland) {
        QString detail;
        if (SCScreenCastPortal::available(QDBusConnection::sessionBus(), &detail))
            return ScreenAccess::Portal;
        qWarning().noquote() << "No screen-cast portal:" << detail;
        return ScreenAccess::NoPortal;
    }
    if (!SCX11::connection())
        return ScreenAccess::None;
    return ScreenAccess::Full;
}

bool SCPermissionChecks::soundServerReachable(int timeoutMs)
{
    const QString configured = qEnvironmentVariable("PULSE_SERVER").trimmed();
    if (!configured.isEmpty()) {
        const QStringList entries = configured.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        for (const QString &entry : entries) {
            if (serverEntryAnswers(entry, timeoutMs))
                return true;
        }
        return false;
    }
    QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty())
        runtime = QStringLiteral("/run/user/%1").arg(getuid());
    if (unixSocketAnswers(runtime + QStringLiteral("/pulse/native"), timeoutMs))
        return true;
    // A system-wide server.
    return unixSocketAnswers(QStringLiteral("/run/pulse/native"), timeoutMs)
            || unixSocketAnswers(QStringLiteral("/var/run/pulse/native"), timeoutMs);
}

QStringList SCPermissionChecks::unreadableVideoDevices(const QString &devDir)
{
    QStringList unreadable;
    const QStringList nodes
            = QDir(devDir).entryList({QStringLiteral("video*")}, QDir::System | QDir::Files);
    for (const QString &node : nodes) {
        const QString path = devDir + QLatin1Char('/') + node;
        // Capturing needs the node opened for reading and writing.
        if (access(QFile::encodeName(path).constData(), R_OK | W_OK) != 0)
            unreadable << path;
    }
    return unreadable;
}

bool SCPermissionChecks::keyGrabPossible()
{
    if (!SCX11::connection())
        return false;
    // A combination nobody binds, so that a refusal means grabs are refused as such.
    SCGlobalHotkey probe(QKeySequence(Qt::CTRL | Qt::ALT | Qt::SHIFT | Qt::META | Qt::Key_F12),
                         true);
    const bool registered = probe.isRegistered();
    if (!registered)
        qWarning() << "Global key grab refused:" << probe.errorString();
    probe.resetShortcut();
    return registered;
}

void SCPermissionChecks::openSystemPreferences(const char *pane)
{
    const QString name = QString::fromLatin1(pane);
    struct Tool
    {
        QString program;
        QStringList arguments;
    };
    QList<Tool> tools;
    if (name == QLatin1String("Microphone")) {
        tools = {{QStringLiteral("pavucontrol"), {QStringLiteral("--tab=4")}},
                 {QStringLiteral("gnome-control-center"), {QStringLiteral("sound")}},
                 {QStringLiteral("systemsettings"), {QStringLiteral("kcm_pulseaudio")}}};
    } else if (name == QLatin1String("Accessibility")) {
        tools = {{QStringLiteral("gnome-control-center"), {QStringLiteral("keyboard")}},
                 {QStringLiteral("systemsettings"), {QStringLiteral("kcm_keys")}}};
    }
    for (const Tool &tool : std::as_const(tools)) {
        if (!QStandardPaths::findExecutable(tool.program).isEmpty()
            && QProcess::startDetached(tool.program, tool.arguments))
            return;
    }
    // Screen capture and camera access are no desktop setting on Linux: the page explains.
    QUrl help(HELP_PAGE);
    help.setFragment(name.toLower());
    if (!QDesktopServices::openUrl(help))
        qWarning() << "Could not open" << help.toString();
}
