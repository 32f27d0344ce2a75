#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

class QDBusError;
class QDBusPendingCallWatcher;

// One call of a desktop portal method that answers through an org.freedesktop.portal.Request
// object: the answer comes later as its Response signal. One object, one call, one answer:
// answered() or failed(), never both, and nothing after close().
class SCPortalRequest : public QObject
{
    Q_OBJECT

public:
    static inline const QString SERVICE = QStringLiteral("org.freedesktop.portal.Desktop");
    static inline const QString PATH = QStringLiteral("/org/freedesktop/portal/desktop");
    static inline const QString INTERFACE = QStringLiteral("org.freedesktop.portal.Request");

    explicit SCPortalRequest(const QDBusConnection &bus, QObject *parent = nullptr);
    ~SCPortalRequest() override;

    // interface.method(arguments..., options): the handle token is added to the options here.
    void call(const QString &interface, const QString &method, const QVariantList &arguments,
              const QVariantMap &options = {});
    // Tells the portal the answer is no longer wanted.
    void close();
    // close() for a caller that goes on without the answer but must still clean up after one
    // that comes anyway (a backend unable to drop a request answers regardless): answered()
    // and failed() still come within graceMs, then the request deletes itself. It outlives its
    // parent.
    void abandon(int graceMs);
    bool isPending() const { return m_pending; }
    // The request object's path: the predicted one until the portal names another.
    QString handle() const { return m_handle; }

    // Unique in this process and valid as an object path element.
    static QString newToken();
    // The connection's unique name as the portal puts it into object paths.
    static QString senderPathPart(const QDBusConnection &bus);
    // Errors that mean there is no portal (or not this one) rather than a refusal.
    static bool meansMissing(const QString &errorName);
    static QString describe(const QDBusError &error);
    // The session a CreateSession answer names; empty when none.
    static QString sessionHandle(const QVariantMap &results);
    // Ends a portal session (org.freedesktop.portal.Session.Close), without waiting.
    static void closeSession(const QDBusConnection &bus, const QString &session);
    // The version of a portal interface that answers on the bus, asked with a short timeout;
    // 0 when none does. `detail` says which, or why not, for the log.
    static uint interfaceVersion(const QDBusConnection &bus, const QString &interface,
                                 QString *detail);

Q_SIGNALS:
    void answered(uint code, const QVariantMap &results);
    void failed(const QString &errorName, const QString &message);

private Q_SLOTS:
    void onResponse(uint code, const QVariantMap &results);

private:
    void onCallReply(QDBusPendingCallWatcher *watcher);
    void sendClose();
    bool subscribe(const QString &path);
    void unsubscribe();
    // Ends the pending call: false when it had ended already.
    bool settle();
    void fail(const QString &errorName, const QString &message);

    QDBusConnection m_bus;
    QString m_handle;
    bool m_subscribed = false;
    bool m_pending = false;
    QDBusPendingCallWatcher *m_watcher = nullptr;
};
