#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QKeySequence>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>
#include <QVector>

class QDBusMessage;
class QDBusObjectPath;
class SCPortalRequest;

// Keys the desktop delivers to this program whichever window has the focus, through
// org.freedesktop.portal.GlobalShortcuts: one session for the program's life, whose
// shortcuts the desktop may confirm with the user and lets them change in its own settings.
// Status and detail are for the program to phrase and log.
class SCGlobalShortcutsPortal : public QObject
{
    Q_OBJECT

public:
    static inline const QString INTERFACE
            = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

    enum class Status {
        Idle, // nothing bound, or closed
        Pending, // waiting for the desktop or the user
        Bound, // the desktop delivers the shortcuts
        Refused, // the user or the desktop said no, or it failed
        Missing // no GlobalShortcuts portal on this bus
    };
    Q_ENUM(Status)

    struct Shortcut
    {
        QString id;
        QString description;
        QKeySequence preferredTrigger;
    };

    explicit SCGlobalShortcutsPortal(const QDBusConnection &bus = QDBusConnection::sessionBus(),
                                     QObject *parent = nullptr);
    ~SCGlobalShortcutsPortal() override;

    // Binds `shortcuts` in a new session, replacing what was bound; ends in finished().
    void bind(const QVector<Shortcut> &shortcuts);
    void close();

    Status status() const { return m_status; }
    QString detail() const { return m_detail; }
    // The key the desktop settled on for each bound id, as the desktop words it; may be empty.
    QHash<QString, QString> triggers() const { return m_triggers; }

    // Whether a GlobalShortcuts portal answers on the bus, asked with a short timeout.
    static bool available(const QDBusConnection &bus, QString *detail);
    // A key combination in the words of the XDG shortcut format ("CTRL+SHIFT+F9"); empty for
    // an empty sequence.
    static QString triggerText(const QKeySequence &sequence);

Q_SIGNALS:
    void finished(SCGlobalShortcutsPortal::Status status);
    void activated(const QString &id);
    void deactivated(const QString &id);

private Q_SLOTS:
    // Activated and Deactivated: (session, id, timestamp, options).
    void onActivated(const QDBusMessage &message);
    void onDeactivated(const QDBusMessage &message);
    void onSessionClosed(const QDBusMessage &message);

private:
    enum class Step { CreateSession, BindShortcuts };
    SCPortalRequest *newRequest(Step step);
    void onAnswer(Step step, uint code, const QVariantMap &results);
    void bindShortcuts();
    void readTriggers(const QVariantMap &results);
    void closeSession();
    void finish(Status status, const QString &detail);
    // The shortcut id of a signal of our session, else empty.
    QString ourShortcut(const QDBusMessage &message) const;

    QDBusConnection m_bus;
    QVector<Shortcut> m_shortcuts;
    QPointer<SCPortalRequest> m_pending;
    QString m_session;
    QHash<QString, QString> m_triggers;
    Status m_status = Status::Idle;
    QString m_detail;
};
