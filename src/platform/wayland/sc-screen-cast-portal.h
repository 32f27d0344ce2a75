#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QVariantMap>

class QDBusMessage;
class QDBusPendingCallWatcher;
class SCPortalRequest;

// A screen cast through the desktop portal (org.freedesktop.portal.ScreenCast): the desktop
// asks the user for a monitor or a window, and the answer is a PipeWire node with a connection
// to read it through. A restore token from an earlier cast lets the desktop skip its dialog.
// Status and detail are for the program to phrase and log; nothing here is shown as it is.
class SCScreenCastPortal : public QObject
{
    Q_OBJECT

public:
    static inline const QString INTERFACE = QStringLiteral("org.freedesktop.portal.ScreenCast");
    static inline const QString SESSION_INTERFACE
            = QStringLiteral("org.freedesktop.portal.Session");

    enum class SourceKind { Monitor = 1, Window = 2 };
    Q_ENUM(SourceKind)
    enum class Status {
        Idle, // nothing asked, or closed
        Pending, // waiting for the desktop or the user
        Started, // a stream is there
        Cancelled, // the user said no
        Refused, // the desktop said no, failed, or did not answer
        Missing, // no screen cast portal on this bus
        Closed // the desktop ended a started cast
    };
    Q_ENUM(Status)
    struct Request
    {
        SourceKind kind = SourceKind::Monitor;
        bool showPointer = true;
        QString restoreToken;
    };
    struct Stream
    {
        quint32 node = 0;
        QSize size;
        QPoint position;
        quint32 sourceType = 0;
    };

    explicit SCScreenCastPortal(const QDBusConnection &bus = QDBusConnection::sessionBus(),
                                QObject *parent = nullptr);
    ~SCScreenCastPortal() override;

    // Asks for a cast; ends in finished(). A cast still open is closed first.
    void start(const Request &request);
    // start() and a local event loop until finished() or the timeout, which closes what is
    // pending and counts as Refused.
    Status startAndWait(const Request &request, int timeoutMs);

    Status status() const { return m_status; }
    // What happened, for the log: the step and the portal's code or the D-Bus error.
    QString detail() const { return m_detail; }
    Stream stream() const { return m_stream; }
    // The token to pass next time so the desktop need not ask again; empty if it gave none.
    QString restoreToken() const { return m_restoreToken; }
    // The PipeWire connection for the stream; the caller owns it. -1 once taken or without one.
    int takePipeWireFd();
    // Ends the cast or what is pending of it; status() is Idle after.
    void close();

    // Whether a screen cast portal answers on the bus, asked with a short timeout.
    static bool available(const QDBusConnection &bus, QString *detail);

Q_SIGNALS:
    void finished(SCScreenCastPortal::Status status);
    // The desktop ended a started cast itself, say from its own indicator. A stream that just
    // stops (its node gone) is not reported here: the portal does not watch the nodes.
    void closed();

private Q_SLOTS:
    void onSessionClosed(const QDBusMessage &message);

private:
    // The portal's calls that answer through a request, in their order.
    enum class Step { CreateSession, SelectSources, Start };

    void askCursorModes();
    void onCursorModes(QDBusPendingCallWatcher *watcher);
    void createSession();
    void selectSources();
    void startCast();
    void openPipeWireRemote();
    void onPipeWireRemote(QDBusPendingCallWatcher *watcher);
    SCPortalRequest *newRequest(Step step);
    void onAnswer(Step step, uint code, const QVariantMap &results);
    void onCallFailed(Step step, const QString &errorName, const QString &message);
    bool readStreams(const QVariantMap &results);
    void finish(Status status, const QString &detail);
    void closeSession();
    void dropPending();
    void closeFd();

    QDBusConnection m_bus;
    Request m_request;
    Status m_status = Status::Idle;
    QString m_detail;
    Stream m_stream;
    QString m_restoreToken;
    QString m_session;
    uint m_cursorModes = 0;
    int m_fd = -1;
    QPointer<SCPortalRequest> m_pending;
    Step m_pendingStep = Step::CreateSession;
    QPointer<QDBusPendingCallWatcher> m_call;
};
