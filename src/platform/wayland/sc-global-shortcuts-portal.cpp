#include "sc-global-shortcuts-portal.h"

#include "sc-portal-request.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>

#include <utility>

namespace {

const QString SESSION_INTERFACE = QStringLiteral("org.freedesktop.portal.Session");

// The a(sa{sv}) the portal takes and gives.
struct ShortcutEntry
{
    QString id;
    QVariantMap properties;
};

QDBusArgument &operator<<(QDBusArgument &argument, const ShortcutEntry &entry)
{
    argument.beginStructure();
    argument << entry.id << entry.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, ShortcutEntry &entry)
{
    argument.beginStructure();
    argument >> entry.id >> entry.properties;
    argument.endStructure();
    return argument;
}

} // namespace

Q_DECLARE_METATYPE(ShortcutEntry)

SCGlobalShortcutsPortal::SCGlobalShortcutsPortal(const QDBusConnection &bus, QObject *parent)
    : QObject(parent)
    , m_bus(bus)
{
    qDBusRegisterMetaType<ShortcutEntry>();
    qDBusRegisterMetaType<QList<ShortcutEntry>>();
    m_bus.connect(SCPortalRequest::SERVICE, SCPortalRequest::PATH, INTERFACE,
                  QStringLiteral("Activated"), this, SLOT(onActivated(QDBusMessage)));
    m_bus.connect(SCPortalRequest::SERVICE, SCPortalRequest::PATH, INTERFACE,
                  QStringLiteral("Deactivated"), this, SLOT(onDeactivated(QDBusMessage)));
}

SCGlobalShortcutsPortal::~SCGlobalShortcutsPortal()
{
    close();
}

bool SCGlobalShortcutsPortal::available(const QDBusConnection &bus, QString *detail)
{
    return SCPortalRequest::interfaceVersion(bus, INTERFACE, detail) > 0;
}

QString SCGlobalShortcutsPortal::triggerText(const QKeySequence &sequence)
{
    if (sequence.isEmpty())
        return QString();
    const QKeyCombination combination = sequence[0];
    QStringList parts;
    const Qt::KeyboardModifiers modifiers = combination.keyboardModifiers();
    if (modifiers & Qt::ControlModifier)
        parts << QStringLiteral("CTRL");
    if (modifiers & Qt::AltModifier)
        parts << QStringLiteral("ALT");
    if (modifiers & Qt::ShiftModifier)
        parts << QStringLiteral("SHIFT");
    if (modifiers & Qt::MetaModifier)
        parts << QStringLiteral("LOGO");
    QString key = QKeySequence(combination.key()).toString(QKeySequence::PortableText);
    // Key names follow xkb's keysyms, whose letters are lower case.
    if (key.size() == 1)
        key = key.toLower();
    parts << key;
    return parts.join(QLatin1Char('+'));
}

void SCGlobalShortcutsPortal::bind(const QVector<Shortcut> &shortcuts)
{
    close();
    m_shortcuts = shortcuts;
    m_status = Status::Pending;
    m_detail.clear();
    const QVariantMap options {
            {QStringLiteral("session_handle_token"), SCPortalRequest::newToken()}};
    newRequest(Step::CreateSession)->call(INTERFACE, QStringLiteral("CreateSession"), {}, options);
}

void SCGlobalShortcutsPortal::bindShortcuts()
{
    QList<ShortcutEntry> entries;
    for (const Shortcut &shortcut : std::as_const(m_shortcuts)) {
        QVariantMap properties {{QStringLiteral("description"), shortcut.description}};
        const QString trigger = triggerText(shortcut.preferredTrigger);
        if (!trigger.isEmpty())
            properties.insert(QStringLiteral("preferred_trigger"), trigger);
        entries.append({shortcut.id, properties});
    }
    // No window of ours to name: the XWayland windows have no handle the portal knows.
    newRequest(Step::BindShortcuts)
            ->call(INTERFACE, QStringLiteral("BindShortcuts"),
                   {QVariant::fromValue(QDBusObjectPath(m_session)), QVariant::fromValue(entries),
                    QString()});
}

SCPortalRequest *SCGlobalShortcutsPortal::newRequest(Step step)
{
    auto *request = new SCPortalRequest(m_bus, this);
    m_pending = request;
    connect(request, &SCPortalRequest::answered, this,
            [this, step](uint code, const QVariantMap &results) { onAnswer(step, code, results); });
    connect(request, &SCPortalRequest::failed, this,
            [this, step](const QString &name, const QString &message) {
                if (m_pending)
                    m_pending->deleteLater();
                m_pending = nullptr;
                closeSession();
                const QString what = step == Step::CreateSession
                        ? QStringLiteral("GlobalShortcuts.CreateSession: ")
                        : QStringLiteral("GlobalShortcuts.BindShortcuts: ");
                finish(SCPortalRequest::meansMissing(name) ? Status::Missing : Status::Refused,
                       what + name + QStringLiteral(" ") + message);
            });
    return request;
}

void SCGlobalShortcutsPortal::onAnswer(Step step, uint code, const QVariantMap &results)
{
    if (m_pending)
        m_pending->deleteLater();
    m_pending = nullptr;
    const QString name = step == Step::CreateSession
            ? QStringLiteral("GlobalShortcuts.CreateSession")
            : QStringLiteral("GlobalShortcuts.BindShortcuts");
    if (code != 0) {
        closeSession();
        finish(Status::Refused, QStringLiteral("%1 answered %2").arg(name).arg(code));
        return;
    }
    if (step == Step::CreateSession) {
        m_session = SCPortalRequest::sessionHandle(results);
        if (m_session.isEmpty()) {
            finish(Status::Refused, name + QStringLiteral(" gave no session handle"));
            return;
        }
        m_bus.connect(SCPortalRequest::SERVICE, m_session, SESSION_INTERFACE,
                      QStringLiteral("Closed"), this, SLOT(onSessionClosed(QDBusMessage)));
        bindShortcuts();
        return;
    }
    readTriggers(results);
    QStringList bound;
    for (auto it = m_triggers.cbegin(); it != m_triggers.cend(); ++it)
        bound << QStringLiteral("%1=%2").arg(it.key(), it.value());
    bound.sort();
    finish(Status::Bound, name + QStringLiteral(": ") + bound.join(QStringLiteral(", ")));
}

void SCGlobalShortcutsPortal::readTriggers(const QVariantMap &results)
{
    m_triggers.clear();
    const QVariant value = results.value(QStringLiteral("shortcuts"));
    if (value.userType() != qMetaTypeId<QDBusArgument>())
        return;
    QList<ShortcutEntry> entries;
    value.value<QDBusArgument>() >> entries;
    for (const ShortcutEntry &entry : std::as_const(entries))
        m_triggers.insert(entry.id,
                          entry.properties.value(QStringLiteral("trigger_description")).toString());
}

QString SCGlobalShortcutsPortal::ourShortcut(const QDBusMessage &message) const
{
    const QVariantList arguments = message.arguments();
    if (m_status != Status::Bound || arguments.size() < 2)
        return QString();
    const QVariant session = arguments[0];
    const QString path = session.userType() == qMetaTypeId<QDBusObjectPath>()
            ? session.value<QDBusObjectPath>().path()
            : session.toString();
    return path == m_session ? arguments[1].toString() : QString();
}

void SCGlobalShortcutsPortal::onActivated(const QDBusMessage &message)
{
    const QString id = ourShortcut(message);
    if (!id.isEmpty())
        emit activated(id);
}

void SCGlobalShortcutsPortal::onDeactivated(const QDBusMessage &message)
{
    const QString id = ourShortcut(message);
    if (!id.isEmpty())
        emit deactivated(id);
}

void SCGlobalShortcutsPortal::onSessionClosed(const QDBusMessage &)
{
    m_bus.disconnect(SCPortalRequest::SERVICE, m_session, SESSION_INTERFACE,
                     QStringLiteral("Closed"), this, SLOT(onSessionClosed(QDBusMessage)));
    m_session.clear();
    m_triggers.clear();
    m_status = Status::Idle;
    m_detail = QStringLiteral("the desktop closed the shortcuts session");
}

void SCGlobalShortcutsPortal::closeSession()
{
    if (m_session.isEmpty())
        return;
    m_bus.disconnect(SCPortalRequest::SERVICE, m_session, SESSION_INTERFACE,
                     QStringLiteral("Closed"), this, SLOT(onSessionClosed(QDBusMessage)));
    SCPortalRequest::closeSession(m_bus, std::exchange(m_session, QString()));
}

void SCGlobalShortcutsPortal::close()
{
    if (m_pending) {
        // A session being created is still named in its answer: closed once it comes.
        m_pending->disconnect(this);
        const QDBusConnection bus = m_bus;
        connect(m_pending, &SCPortalRequest::answered, [bus](uint, const QVariantMap &results) {
            SCPortalRequest::closeSession(bus, SCPortalRequest::sessionHandle(results));
        });
        m_pending->abandon(30000);
        m_pending = nullptr;
    }
    closeSession();
    m_triggers.clear();
    m_status = Status::Idle;
}

void SCGlobalShortcutsPortal::finish(Status status, const QString &detail)
{
    m_status = status;
    m_detail = detail;
    emit finished(status);
}
