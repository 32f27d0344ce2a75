#include "sc-portal-request.h"

#include <QDBusVariant>

#include <QDBusReply>

#include <QAtomicInteger>
#include <QCoreApplication>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QTimer>

#include <utility>

namespace {

const QString RESPONSE = QStringLiteral("Response");
const QString RESPONSE_SIGNATURE = QStringLiteral("ua{sv}");

} // namespace

SCPortalRequest::SCPortalRequest(const QDBusConnection &bus, QObject *parent)
    : QObject(parent)
    , m_bus(bus)
{ }

SCPortalRequest::~SCPortalRequest()
{
    close();
}

void SCPortalRequest::call(const QString &interface, const QString &method,
                           const QVariantList &arguments, const QVariantMap &options)
{
    Q_ASSERT(!m_pending);
    m_pending = true;
    if (!m_bus.isConnected()) {
        fail(QStringLiteral("org.freedesktop.DBus.Error.Disconnected"),
             QStringLiteral("not connected to a bus"));
        return;
    }
    const QString token = newToken();
    // Subscribed before the call: the answer may come before the call's reply.
    if (!subscribe(PATH + QStringLiteral("/request/") + senderPathPart(m_bus) + QLatin1Char('/')
                   + token)) {
        fail(QStringLiteral("org.freedesktop.DBus.Error.Failed"),
             QStringLiteral("cannot subscribe to the answer at ") + m_handle);
        return;
    }
    QVariantMap withToken = options;
    withToken.insert(QStringLiteral("handle_token"), token);
    QDBusMessage message = QDBusMessage::createMethodCall(SERVICE, PATH, interface, method);
    message.setArguments(QVariantList(arguments) << withToken);
    m_watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message), this);
    connect(m_watcher, &QDBusPendingCallWatcher::finished, this, &SCPortalRequest::onCallReply);
}

void SCPortalRequest::close()
{
    if (!m_pending)
        return;
    m_pending = false;
    delete m_watcher;
    m_watcher = nullptr;
    unsubscribe();
    sendClose();
}

void SCPortalRequest::abandon(int graceMs)
{
    setParent(QCoreApplication::instance());
    if (!m_pending) {
        deleteLater();
        return;
    }
    sendClose();
    connect(this, &SCPortalRequest::answered, this, &QObject::deleteLater);
    connect(this, &SCPortalRequest::failed, this, &QObject::deleteLater);
    QTimer::singleShot(graceMs, this, [this] {
        close();
        deleteLater();
    });
}

QString SCPortalRequest::newToken()
{
    static QAtomicInteger<quint32> counter;
    return QStringLiteral("vistrel%1_%2")
            .arg(QCoreApplication::applicationPid())
            .arg(counter.fetchAndAddRelaxed(1) + 1);
}

QString SCPortalRequest::senderPathPart(const QDBusConnection &bus)
{
    QString name = bus.baseService();
    if (name.startsWith(QLatin1Char(':')))
        name.remove(0, 1);
    return name.replace(QLatin1Char('.'), QLatin1Char('_'));
}

bool SCPortalRequest::meansMissing(const QString &errorName)
{
    static const QStringList missing {
            QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown"),
            QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner"),
            QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
            QStringLiteral("org.freedesktop.DBus.Error.UnknownInterface"),
            QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"),
            QStringLiteral("org.freedesktop.DBus.Error.Disconnected"),
    };
    return missing.contains(errorName);
}

QString SCPortalRequest::describe(const QDBusError &error)
{
    return error.name() + QStringLiteral(": ") + error.message();
}

void SCPortalRequest::onCallReply(QDBusPendingCallWatcher *watcher)
{
    m_watcher = nullptr;
    watcher->deleteLater();
    const QDBusPendingReply<QDBusObjectPath> reply = *watcher;
    if (reply.isError()) {
        const QDBusError error = reply.error();
        fail(error.name(), error.message());
        return;
    }
    const QString handle = reply.value().path();
    // Portals older than the Request path scheme name their own path; an answer sent there
    // before this point is lost, which only such portals can do.
    if (handle != m_handle) {
        unsubscribe();
        if (!subscribe(handle)) {
            fail(QStringLiteral("org.freedesktop.DBus.Error.Failed"),
                 QStringLiteral("cannot subscribe to the answer at ") + handle);
        }
    }
}

void SCPortalRequest::sendClose()
{
    // Fire and forget: a request the portal has already dropped answers with an error.
    if (m_bus.isConnected() && !m_handle.isEmpty()) {
        m_bus.send(QDBusMessage::createMethodCall(SERVICE, m_handle, INTERFACE,
                                                  QStringLiteral("Close")));
    }
}

bool SCPortalRequest::settle()
{
    if (!m_pending)
        return false;
    m_pending = false;
    delete m_watcher;
    m_watcher = nullptr;
    unsubscribe();
    return true;
}

void SCPortalRequest::onResponse(uint code, const QVariantMap &results)
{
    if (settle())
        Q_EMIT answered(code, results);
}

bool SCPortalRequest::subscribe(const QString &path)
{
    m_handle = path;
    m_subscribed = m_bus.connect(SERVICE, path, INTERFACE, RESPONSE, RESPONSE_SIGNATURE, this,
                                 SLOT(onResponse(uint, QVariantMap)));
    return m_subscribed;
}

void SCPortalRequest::unsubscribe()
{
    if (!std::exchange(m_subscribed, false))
        return;
    m_bus.disconnect(SERVICE, m_handle, INTERFACE, RESPONSE, RESPONSE_SIGNATURE, this,
                     SLOT(onResponse(uint, QVariantMap)));
}

void SCPortalRequest::fail(const QString &errorName, const QString &message)
{
    // Always later, also when the call could not even be made: callers see one order of events.
    QMetaObject::invokeMethod(
            this,
            [this, errorName, message] {
                if (settle())
                    Q_EMIT failed(errorName, message);
            },
            Qt::QueuedConnection);
}

uint SCPortalRequest::interfaceVersion(const QDBusConnection &bus, const QString &interface,
                                       QString *detail)
{
    // The portal answers its properties at once when it runs; a long wait means it does not.
    constexpr int TIMEOUT_MS = 2000;
    QString why;
    uint version = 0;
    if (!bus.isConnected()) {
        why = QStringLiteral("not connected to a bus");
    } else {
        QDBusMessage call = QDBusMessage::createMethodCall(
                SERVICE, PATH, QStringLiteral("org.freedesktop.DBus.Properties"),
                QStringLiteral("Get"));
        call << interface << QStringLiteral("version");
        const QDBusReply<QDBusVariant> reply = bus.call(call, QDBus::Block, TIMEOUT_MS);
        if (reply.isValid()) {
            version = reply.value().variant().toUInt();
            why = QStringLiteral("%1 version %2")
                          .arg(interface.section(QLatin1Char('.'), -1))
                          .arg(version);
        } else {
            why = describe(reply.error());
        }
    }
    if (detail)
        *detail = why;
    return version;
}

QString SCPortalRequest::sessionHandle(const QVariantMap &results)
{
    const QVariant handle = results.value(QStringLiteral("session_handle"));
    return handle.userType() == qMetaTypeId<QDBusObjectPath>()
            ? handle.value<QDBusObjectPath>().path()
            : handle.toString();
}

void SCPortalRequest::closeSession(const QDBusConnection &bus, const QString &session)
{
    if (bus.isConnected() && !session.isEmpty()) {
        bus.send(QDBusMessage::createMethodCall(SERVICE, session,
                                                QStringLiteral("org.freedesktop.portal.Session"),
                                                QStringLiteral("Close")));
    }
}
