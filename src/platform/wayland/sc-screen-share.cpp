#include "sc-screen-share.h"

#include "sc-logger.h"
#include "sc-settings.h"

#include <QSettings>

#include <unistd.h>

namespace {

QString tokenKey(SCScreenShare::Kind kind)
{
    return kind == SCScreenShare::Kind::Window ? SCSettings::SHARING_WINDOW_TOKEN
                                               : SCSettings::SHARING_SCREEN_TOKEN;
}

const char *statusName(SCScreenShare::Status status)
{
    switch (status) {
    case SCScreenShare::Status::Started:
        return "shared";
    case SCScreenShare::Status::Cancelled:
        return "cancelled";
    case SCScreenShare::Status::Refused:
        return "refused";
    case SCScreenShare::Status::Missing:
        return "no portal";
    case SCScreenShare::Status::Closed:
        return "closed";
    default:
        return "no answer";
    }
}

} // namespace

SCScreenShare::SCScreenShare(QObject *parent)
    : QObject(parent)
{ }

SCScreenShare::~SCScreenShare()
{
    close();
}

SCScreenShare::Status SCScreenShare::open(Kind kind, bool showPointer, int timeoutMs)
{
    close();
    m_portal = new SCScreenCastPortal(QDBusConnection::sessionBus(), this);
    connect(m_portal, &SCScreenCastPortal::closed, this, [this]() {
        SCLogger::instance()->info(QStringLiteral("The desktop ended the screen sharing"));
        emit ended();
    });
    QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    SCScreenCastPortal::Request request;
    request.kind = kind == Kind::Window ? SCScreenCastPortal::SourceKind::Window
                                        : SCScreenCastPortal::SourceKind::Monitor;
    request.showPointer = showPointer;
    request.restoreToken = settings.value(tokenKey(kind)).toString();
    const Status status = m_portal->startAndWait(request, timeoutMs);
    SCLogger::instance()->info(
            QStringLiteral("Screen sharing (%1, %2): %3 - %4")
                    .arg(kind == Kind::Window ? QStringLiteral("window") : QStringLiteral("screen"),
                         request.restoreToken.isEmpty() ? QStringLiteral("asked")
                                                        : QStringLiteral("restored"),
                         QLatin1String(statusName(status)), m_portal->detail()));
    if (status != Status::Started) {
        // A token the desktop no longer honours would fail every time.
        if (status == Status::Refused && !request.restoreToken.isEmpty())
            settings.remove(tokenKey(kind));
        close();
        return status;
    }
    // Each token works once: the next recording needs the one given now.
    const QString token = m_portal->restoreToken();
    if (token.isEmpty())
        settings.remove(tokenKey(kind));
    else
        settings.setValue(tokenKey(kind), token);
    m_fd = m_portal->takePipeWireFd();
    if (m_fd < 0) {
        SCLogger::instance()->warning(QStringLiteral("The desktop shared no PipeWire connection"));
        close();
        return Status::Refused;
    }
    return status;
}

bool SCScreenShare::isOpen() const
{
    return m_portal && m_fd >= 0;
}

quint32 SCScreenShare::node() const
{
    return m_portal ? m_portal->stream().node : 0;
}

QSize SCScreenShare::size() const
{
    return m_portal ? m_portal->stream().size : QSize();
}

QString SCScreenShare::detail() const
{
    return m_portal ? m_portal->detail() : QString();
}

void SCScreenShare::close()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (m_portal) {
        m_portal->disconnect(this);
        m_portal->close();
        m_portal->deleteLater();
        m_portal = nullptr;
    }
}

void SCScreenShare::forgetPermissions()
{
    QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    settings.remove(SCSettings::SHARING_SCREEN_TOKEN);
    settings.remove(SCSettings::SHARING_WINDOW_TOKEN);
    SCLogger::instance()->info(QStringLiteral("Screen-sharing permissions forgotten"));
}

bool SCScreenShare::hasPermissions()
{
    const QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    return settings.contains(SCSettings::SHARING_SCREEN_TOKEN)
            || settings.contains(SCSettings::SHARING_WINDOW_TOKEN);
}
