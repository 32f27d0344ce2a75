#include "sc-screen-cast-portal.h"

#include "sc-portal-request.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QEventLoop>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <unistd.h>

namespace {

const QString PROPERTIES = QStringLiteral("org.freedesktop.DBus.Properties");
const QString CLOSED = QStringLiteral("Closed");

// How long a session asked for and then given up may still be named, to be closed.
constexpr int ABANDONED_GRACE_MS = 30000;

constexpr uint CURSOR_HIDDEN = 1;
constexpr uint CURSOR_EMBEDDED = 2;
// Ask once, then restore until the user revokes it.
constexpr uint PERSIST_UNTIL_REVOKED = 2;

QString stepName(int step)
{
    static const char *const names[] = {"CreateSession", "SelectSources", "Start"};
    return QStringLiteral("ScreenCast.") + QLatin1String(names[step]);
}

QString answerName(uint code)
{
    switch (code) {
    case 1:
        return QStringLiteral("cancelled");
    case 2:
        return QStringLiteral("ended otherwise");
    default:
        return QStringLiteral("unknown code");
    }
}

// A (ii) struct such as a stream's size or position.
bool readIntPair(const QVariant &value, int *first, int *second)
{
    if (value.userType() != qMetaTypeId<QDBusArgument>())
        return false;
    const QDBusArgument argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("(ii)"))
        return false;
    argument.beginStructure();
    argument >> *first >> *second;
    argument.endStructure();
    return true;
}

QDBusMessage propertyCall(const QString &name)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
            SCPortalRequest::SERVICE, SCPortalRequest::PATH, PROPERTIES, QStringLiteral("Get"));
    call << SCScreenCastPortal::INTERFACE << name;
    return call;
}

} // namespace

SCScreenCastPortal::SCScreenCastPortal(const QDBusConnection &bus, QObject *parent)
    : QObject(parent)
    , m_bus(bus)
{ }

SCScreenCastPortal::~SCScreenCastPortal()
{
    close();
}

void SCScreenCastPortal::start(const Request &request)
{
    close();
    m_request = request;
    m_status = Status::Pending;
    m_detail.clear();
    m_restoreToken.clear();
    m_cursorModes = 0;
    // Without a bus no call ever answers; the request reports that as any other failure.
    if (request.showPointer && m_bus.isConnected())
        askCursorModes();
    else
        createSession();
}

SCScreenCastPortal::Status SCScreenCastPortal::startAndWait(const Request &request, int timeoutMs)
{
    QEventLoop loop;
    bool done = false;
    const QMetaObject::Connection connection
            = connect(this, &SCScreenCastPortal::finished, &loop, [&done, &loop] {
                  done = true;
                  loop.quit();
              });
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    start(request);
    if (!done) {
        timer.start(timeoutMs);
        loop.exec();
    }
    disconnect(connection);
    if (!done) {
        const QString waitingFor = m_pending ? stepName(int(m_pendingStep))
                                             : QStringLiteral("its properties or descriptor");
        dropPending();
        closeSession();
        closeFd();
        finish(Status::Refused,
               QStringLiteral("no answer from the desktop portal within %1 ms (waiting for %2)")
                       .arg(timeoutMs)
                       .arg(waitingFor));
    }
    return m_status;
}

int SCScreenCastPortal::takePipeWireFd()
{
    return std::exchange(m_fd, -1);
}

void SCScreenCastPortal::close()
{
    dropPending();
    closeSession();
    closeFd();
    m_stream = Stream();
    m_status = Status::Idle;
}

bool SCScreenCastPortal::available(const QDBusConnection &bus, QString *detail)
{
    return SCPortalRequest::interfaceVersion(bus, INTERFACE, detail) > 0;
}

void SCScreenCastPortal::askCursorModes()
{
    m_call = new QDBusPendingCallWatcher(
            m_bus.asyncCall(propertyCall(QStringLiteral("AvailableCursorModes"))), this);
    connect(m_call, &QDBusPendingCallWatcher::finished, this, &SCScreenCastPortal::onCursorModes);
}

void SCScreenCastPortal::onCursorModes(QDBusPendingCallWatcher *watcher)
{
    m_call = nullptr;
    watcher->deleteLater();
    const QDBusPendingReply<QDBusVariant> reply = *watcher;
    if (reply.isError() && SCPortalRequest::meansMissing(reply.error().name())) {
        finish(Status::Missing,
               QStringLiteral("ScreenCast.AvailableCursorModes: ")
                       + SCPortalRequest::describe(reply.error()));
        return;
    }
    // Without the property the pointer stays out: no mode is known to work.
    if (!reply.isError())
        m_cursorModes = reply.value().variant().toUInt();
    createSession();
}

void SCScreenCastPortal::createSession()
{
    const QVariantMap options {
            {QStringLiteral("session_handle_token"), SCPortalRequest::newToken()}};
    newRequest(Step::CreateSession)->call(INTERFACE, QStringLiteral("CreateSession"), {}, options);
}

void SCScreenCastPortal::selectSources()
{
    const uint cursorMode = m_request.showPointer && (m_cursorModes & CURSOR_EMBEDDED)
            ? CURSOR_EMBEDDED
            : CURSOR_HIDDEN;
    QVariantMap options {
            {QStringLiteral("types"), uint(m_request.kind)},
            {QStringLiteral("multiple"), false},
            {QStringLiteral("cursor_mode"), cursorMode},
            {QStringLiteral("persist_mode"), PERSIST_UNTIL_REVOKED},
    };
    if (!m_request.restoreToken.isEmpty())
        options.insert(QStringLiteral("restore_token"), m_request.restoreToken);
    newRequest(Step::SelectSources)
            ->call(INTERFACE, QStringLiteral("SelectSources"),
                   {QVariant::fromValue(QDBusObjectPath(m_session))}, options);
}

void SCScreenCastPortal::startCast()
{
    newRequest(Step::Start)
            ->call(INTERFACE, QStringLiteral("Start"),
                   {QVariant::fromValue(QDBusObjectPath(m_session)), QString()});
}

void SCScreenCastPortal::openPipeWireRemote()
{
    if (!m_bus.isConnected()) {
        finish(Status::Missing, QStringLiteral("ScreenCast.OpenPipeWireRemote: not connected"));
        return;
    }
    QDBusMessage call
            = QDBusMessage::createMethodCall(SCPortalRequest::SERVICE, SCPortalRequest::PATH,
                                             INTERFACE, QStringLiteral("OpenPipeWireRemote"));
    call << QVariant::fromValue(QDBusObjectPath(m_session)) << QVariantMap();
    m_call = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(m_call, &QDBusPendingCallWatcher::finished, this,
            &SCScreenCastPortal::onPipeWireRemote);
}

void SCScreenCastPortal::onPipeWireRemote(QDBusPendingCallWatcher *watcher)
{
    m_call = nullptr;
    watcher->deleteLater();
    const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *watcher;
    const QString step = QStringLiteral("ScreenCast.OpenPipeWireRemote: ");
    if (reply.isError()) {
        closeSession();
        finish(SCPortalRequest::meansMissing(reply.error().name()) ? Status::Missing
                                                                   : Status::Refused,
               step + SCPortalRequest::describe(reply.error()));
        return;
    }
    if (!reply.value().isValid()) {
        closeSession();
        finish(Status::Refused,
               step + QStringLiteral("no descriptor (the bus connection cannot pass them)"));
        return;
    }
    // The reply's descriptor closes with the reply: keep a copy of our own.
    const int fd = fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        const QString why = QString::fromLocal8Bit(strerror(errno));
        closeSession();
        finish(Status::Refused, step + QStringLiteral("cannot copy the descriptor: ") + why);
        return;
    }
    m_fd = fd;
    finish(Status::Started,
           QStringLiteral("ScreenCast.Start: node %1, %2x%3 at %4,%5, source type %6, %7")
                   .arg(m_stream.node)
                   .arg(m_stream.size.width())
                   .arg(m_stream.size.height())
                   .arg(m_stream.position.x())
                   .arg(m_stream.position.y())
                   .arg(m_stream.sourceType)
                   .arg(m_restoreToken.isEmpty() ? QStringLiteral("no restore token")
                                                 : QStringLiteral("with a restore token")));
}

SCPortalRequest *SCScreenCastPortal::newRequest(Step step)
{
    auto *request = new SCPortalRequest(m_bus, this);
    m_pending = request;
    m_pendingStep = step;
    connect(request, &SCPortalRequest::answered, this,
            [this, step](uint code, const QVariantMap &results) { onAnswer(step, code, results); });
    connect(request, &SCPortalRequest::failed, this,
            [this, step](const QString &name, const QString &message) {
                onCallFailed(step, name, message);
            });
    return request;
}

void SCScreenCastPortal::onAnswer(Step step, uint code, const QVariantMap &results)
{
    if (m_pending)
        m_pending->deleteLater();
    m_pending = nullptr;
    const QString name = stepName(int(step));
    if (code != 0) {
        closeSession();
        finish(code == 1 ? Status::Cancelled : Status::Refused,
               QStringLiteral("%1 answered %2 (%3)").arg(name).arg(code).arg(answerName(code)));
        return;
    }
    switch (step) {
    case Step::CreateSession: {
        m_session = SCPortalRequest::sessionHandle(results);
        if (m_session.isEmpty()) {
            finish(Status::Refused, name + QStringLiteral(" gave no session handle"));
            return;
        }
        m_bus.connect(SCPortalRequest::SERVICE, m_session, SESSION_INTERFACE, CLOSED, this,
                      SLOT(onSessionClosed(QDBusMessage)));
        selectSources();
        break;
    }
    case Step::SelectSources:
        startCast();
        break;
    case Step::Start:
        m_restoreToken = results.value(QStringLiteral("restore_token")).toString();
        if (!readStreams(results)) {
            closeSession();
            finish(Status::Refused, name + QStringLiteral(" gave no streams"));
            return;
        }
        openPipeWireRemote();
        break;
    }
}

void SCScreenCastPortal::onCallFailed(Step step, const QString &errorName, const QString &message)
{
    if (m_pending)
        m_pending->deleteLater();
    m_pending = nullptr;
    closeSession();
    finish(SCPortalRequest::meansMissing(errorName) ? Status::Missing : Status::Refused,
           QStringLiteral("%1: %2: %3").arg(stepName(int(step)), errorName, message));
}

bool SCScreenCastPortal::readStreams(const QVariantMap &results)
{
    const QVariant streams = results.value(QStringLiteral("streams"));
    if (streams.userType() != qMetaTypeId<QDBusArgument>())
        return false;
    const QDBusArgument argument = streams.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("a(ua{sv})"))
        return false;
    bool found = false;
    argument.beginArray();
    while (!argument.atEnd()) {
        quint32 node = 0;
        QVariantMap properties;
        argument.beginStructure();
        argument >> node >> properties;
        argument.endStructure();
        // One source is asked for; a desktop that offers more gets the first one used.
        if (found)
            continue;
        found = true;
        m_stream.node = node;
        int first = 0;
        int second = 0;
        if (readIntPair(properties.value(QStringLiteral("size")), &first, &second))
            m_stream.size = QSize(first, second);
        if (readIntPair(properties.value(QStringLiteral("position")), &first, &second))
            m_stream.position = QPoint(first, second);
        m_stream.sourceType = properties.value(QStringLiteral("source_type")).toUInt();
    }
    argument.endArray();
    return found;
}

void SCScreenCastPortal::finish(Status status, const QString &detail)
{
    m_status = status;
    m_detail = detail;
    Q_EMIT finished(status);
}

void SCScreenCastPortal::onSessionClosed(const QDBusMessage &)
{
    // The desktop has already dropped the session: nothing to close on our side.
    m_bus.disconnect(SCPortalRequest::SERVICE, m_session, SESSION_INTERFACE, CLOSED, this,
                     SLOT(onSessionClosed(QDBusMessage)));
    m_session.clear();
    if (m_status == Status::Started) {
        m_status = Status::Closed;
        m_detail = QStringLiteral("the desktop closed the screen cast session");
        Q_EMIT closed();
    } else if (m_status == Status::Pending) {
        dropPending();
        finish(Status::Refused,
               QStringLiteral("the desktop closed the screen cast session before it started"));
    }
}

void SCScreenCastPortal::closeSession()
{
    if (m_session.isEmpty())
        return;
    // Unsubscribed first: an end asked for here is no news to report.
    m_bus.disconnect(SCPortalRequest::SERVICE, m_session, SESSION_INTERFACE, CLOSED, this,
                     SLOT(onSessionClosed(QDBusMessage)));
    // Fire and forget: after a failed Start the portal has closed the session itself.
    SCPortalRequest::closeSession(m_bus, std::exchange(m_session, QString()));
}

void SCScreenCastPortal::dropPending()
{
    delete m_call;
    SCPortalRequest *request = m_pending;
    m_pending = nullptr;
    if (!request)
        return;
    disconnect(request, nullptr, this, nullptr);
    if (m_pendingStep != Step::CreateSession) {
        request->close();
        request->deleteLater();
        return;
    }
    // A backend that cannot drop the request makes the session anyway: closed once named.
    connect(request, &SCPortalRequest::answered, request,
            [bus = m_bus](uint code, const QVariantMap &results) {
                if (code == 0)
                    SCPortalRequest::closeSession(bus, SCPortalRequest::sessionHandle(results));
            });
    request->abandon(ABANDONED_GRACE_MS);
}

void SCScreenCastPortal::closeFd()
{
    if (m_fd >= 0)
        ::close(std::exchange(m_fd, -1));
}
