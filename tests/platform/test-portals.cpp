// The desktop portal's clients against the real xdg-desktop-portal frontend and the project's
// test backend, in the headless Wayland session (scripts/test-env.sh --wayland).

#include "sc-screen-cast-portal.h"
#include "sc-screenshot-portal.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using Status = SCScreenCastPortal::Status;
using ShotStatus = SCScreenshotPortal::Status;

namespace {

// The backend brings a PipeWire stream up before it answers Start, which takes a moment.
constexpr int ANSWER_TIMEOUT_MS = 30000;

// The test backend's control interface (tests/support/portal-backend/vistrel-test-portal.py).
class TestPortal
{
public:
    TestPortal()
        : m_control(QStringLiteral("org.vistrel.TestPortal"),
                    QStringLiteral("/org/vistrel/TestPortal"),
                    QStringLiteral("org.vistrel.TestPortal"))
    { }

    bool isValid() const { return m_control.isValid(); }
    QString error() const { return m_control.lastError().message(); }

    bool reset()
    {
        return m_control.call(QStringLiteral("Reset")).type() == QDBusMessage::ReplyMessage;
    }

    bool setNextResponse(const QString &method, uint code)
    {
        return m_control.call(QStringLiteral("SetNextResponse"), method, code).type()
                == QDBusMessage::ReplyMessage;
    }

    // Every call since the last reset, with the given method name ("" for all).
    QList<QJsonObject> calls(const QString &method = {})
    {
        const QDBusReply<QString> reply = m_control.call(QStringLiteral("GetLog"));
        QList<QJsonObject> found;
        const QJsonArray entries = QJsonDocument::fromJson(reply.value().toUtf8()).array();
        for (const QJsonValue &entry : entries) {
            if (method.isEmpty() || entry[QLatin1String("method")].toString() == method)
                found << entry.toObject();
        }
        return found;
    }

    QJsonObject lastCall(const QString &method)
    {
        const QList<QJsonObject> found = calls(method);
        return found.isEmpty() ? QJsonObject() : found.last();
    }

    // How often the backend was asked to close the session.
    int closes(const QString &session)
    {
        int count = 0;
        for (const QJsonObject &call : calls(QStringLiteral("Session.Close")))
            count += call[QLatin1String("session")].toString() == session;
        return count;
    }

    // Sessions the backend created and was not asked to close.
    QStringList openSessions()
    {
        QStringList open;
        for (const QJsonObject &call : calls()) {
            const QString method = call[QLatin1String("method")].toString();
            const QString session = call[QLatin1String("session")].toString();
            if (method == QLatin1String("ScreenCast.CreateSession"))
                open << session;
            else if (method == QLatin1String("Session.Close"))
                open.removeAll(session);
        }
        return open;
    }

private:
    QDBusInterface m_control;
};

QSize sessionScreen()
{
    const QList<QByteArray> words = qgetenv("VISTREL_TEST_SCREEN").split('x');
    if (words.size() < 2)
        return QSize(1920, 1080);
    return QSize(words.at(0).toInt(), words.at(1).toInt());
}

// The file name of the socket a connected unix socket talks to; empty for anything else.
QString socketPeer(int fd)
{
    struct stat info
    {
    };
    if (fstat(fd, &info) != 0 || !S_ISSOCK(info.st_mode))
        return QString();
    sockaddr_un address {};
    socklen_t length = sizeof(address);
    if (getpeername(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0
        || address.sun_family != AF_UNIX)
        return QString();
    return QFileInfo(QString::fromLocal8Bit(address.sun_path)).fileName();
}

// Reads one frame of the expected size from the node through the descriptor, as a PipeWire
// client of the cast would.
bool readsAFrame(int fd, quint32 node, const QSize &expected, QString *errors)
{
    // Straight into fakesink pipewiresrc never settles on a format: the converter offers some.
    const QString size = QStringLiteral("video/x-raw,width=%1,height=%2")
                                 .arg(expected.width())
                                 .arg(expected.height());
    // A copy without close-on-exec for the child; ours stays ours.
    const int childFd = dup(fd);
    QProcess gst;
    gst.start(QStringLiteral("gst-launch-1.0"),
              {QStringLiteral("-q"), QStringLiteral("pipewiresrc"),
               QStringLiteral("fd=%1").arg(childFd), QStringLiteral("path=%1").arg(node),
               QStringLiteral("num-buffers=1"), QStringLiteral("!"), QStringLiteral("videoconvert"),
               QStringLiteral("!"), size, QStringLiteral("!"), QStringLiteral("fakesink")});
    const bool finished = gst.waitForStarted(10000) && gst.waitForFinished(ANSWER_TIMEOUT_MS);
    ::close(childFd);
    *errors = QString::fromLocal8Bit(gst.readAllStandardError()).right(300);
    if (!finished)
        gst.kill();
    return finished && gst.exitStatus() == QProcess::NormalExit && gst.exitCode() == 0;
}

// A bus of its own with nothing on it and nothing to start on demand (a plain session bus
// would start the system's xdg-desktop-portal there).
class EmptyBus
{
public:
    ~EmptyBus()
    {
        QDBusConnection::disconnectFromBus(NAME);
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(5000))
            m_daemon.kill();
        m_daemon.waitForFinished(5000);
    }

    bool start()
    {
        if (!m_dir.isValid())
            return false;
        QFile config(m_dir.filePath(QStringLiteral("bus.conf")));
        if (!config.open(QIODevice::WriteOnly))
            return false;
        config.write(QStringLiteral("<busconfig><type>session</type>"
                                    "<listen>unix:path=%1</listen><auth>EXTERNAL</auth>"
                                    "<policy context=\"default\"><allow send_destination=\"*\"/>"
                                    "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy>"
                                    "</busconfig>")
                             .arg(m_dir.filePath(QStringLiteral("bus")))
                             .toUtf8());
        config.close();
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--config-file=") + config.fileName(),
                        QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                        QStringLiteral("--print-address=1")});
        QElapsedTimer waited;
        waited.start();
        while (!m_daemon.canReadLine() && waited.elapsed() < 10000
               && m_daemon.state() != QProcess::NotRunning)
            m_daemon.waitForReadyRead(100);
        const QString address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        if (address.isEmpty())
            return false;
        m_bus = QDBusConnection::connectToBus(address, NAME);
        return m_bus.isConnected();
    }

    QDBusConnection bus() const { return m_bus; }

private:
    static inline const QString NAME = QStringLiteral("no-portal");
    QTemporaryDir m_dir;
    QProcess m_daemon;
    QDBusConnection m_bus {QString()};
};

} // namespace

class TestPortals : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    // Screen casts
    void monitorCastStarted();
    void hiddenPointer();
    void windowKind();
    void restoreTokenSkipsTheDialog();
    void notStarted_data();
    void notStarted();
    void closeEndsTheSessionQuietly();
    void noAnswerInTime();

    // Screenshots
    void screenshotTaken();
    void screenshotRefused();

    // Without a portal
    void missingPortal();

private:
    TestPortal m_backend;
};

void TestPortals::initTestCase()
{
    QVERIFY2(m_backend.isValid(), qPrintable(m_backend.error()));
    QString detail;
    QVERIFY2(SCScreenCastPortal::available(QDBusConnection::sessionBus(), &detail),
             qPrintable(detail));
    QVERIFY2(detail.contains(QLatin1String("version 4")), qPrintable(detail));
}

void TestPortals::init()
{
    QVERIFY(m_backend.reset());
}

void TestPortals::monitorCastStarted()
{
    SCScreenCastPortal portal;
    QSignalSpy finished(&portal, &SCScreenCastPortal::finished);
    QCOMPARE(portal.status(), Status::Idle);
    portal.start({SCScreenCastPortal::SourceKind::Monitor, true, {}});
    QCOMPARE(portal.status(), Status::Pending);
    QVERIFY(finished.wait(ANSWER_TIMEOUT_MS));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).value<Status>(), Status::Started);
    QVERIFY2(portal.status() == Status::Started, qPrintable(portal.detail()));

    const SCScreenCastPortal::Stream stream = portal.stream();
    QVERIFY(stream.node > 0);
    QCOMPARE(stream.size, sessionScreen());
    QCOMPARE(stream.position, QPoint(0, 0));
    QCOMPARE(stream.sourceType, 1u);
    QVERIFY(!portal.restoreToken().isEmpty());
    const QJsonObject start = m_backend.lastCall(QStringLiteral("ScreenCast.Start"));
    QCOMPARE(quint32(start[QLatin1String("node")].toInt()), stream.node);

    const int fd = portal.takePipeWireFd();
    QVERIFY(fd >= 0);
    QCOMPARE(portal.takePipeWireFd(), -1);
    const int flags = fcntl(fd, F_GETFD);
    QVERIFY(flags != -1);
    QVERIFY(flags & FD_CLOEXEC);
    const QString peer = socketPeer(fd);
    QVERIFY2(peer.startsWith(QLatin1String("pipewire-0")), qPrintable(peer));
    QString errors;
    QVERIFY2(readsAFrame(fd, stream.node, sessionScreen(), &errors), qPrintable(errors));
    ::close(fd);

    QCOMPARE(start[QLatin1String("cursor_mode")].toInt(), 2);
    QCOMPARE(start[QLatin1String("persist_mode")].toInt(), 2);
    QCOMPARE(start[QLatin1String("dialog")].toBool(), true);
    const QJsonObject select = m_backend.lastCall(QStringLiteral("ScreenCast.SelectSources"));
    QCOMPARE(select[QLatin1String("types")].toInt(), 1);
    QCOMPARE(select[QLatin1String("multiple")].toBool(true), false);
}

void TestPortals::hiddenPointer()
{
    SCScreenCastPortal portal;
    const Status status = portal.startAndWait({SCScreenCastPortal::SourceKind::Monitor, false, {}},
                                              ANSWER_TIMEOUT_MS);
    QVERIFY2(status == Status::Started, qPrintable(portal.detail()));
    const QJsonObject start = m_backend.lastCall(QStringLiteral("ScreenCast.Start"));
    QCOMPARE(start[QLatin1String("cursor_mode")].toInt(), 1);
    QCOMPARE(start[QLatin1String("persist_mode")].toInt(), 2);
}

void TestPortals::windowKind()
{
    SCScreenCastPortal portal;
    const Status status = portal.startAndWait({SCScreenCastPortal::SourceKind::Window, true, {}},
                                              ANSWER_TIMEOUT_MS);
    QVERIFY2(status == Status::Started, qPrintable(portal.detail()));
    QCOMPARE(m_backend.lastCall(QStringLiteral("ScreenCast.SelectSources"))[QLatin1String("types")]
                     .toInt(),
             2);
    QCOMPARE(portal.stream().sourceType, 2u);
}

void TestPortals::restoreTokenSkipsTheDialog()
{
    SCScreenCastPortal portal;
    QVERIFY2(portal.startAndWait({}, ANSWER_TIMEOUT_MS) == Status::Started,
             qPrintable(portal.detail()));
    const QString first = portal.restoreToken();
    QVERIFY(!first.isEmpty());
    QJsonObject start = m_backend.lastCall(QStringLiteral("ScreenCast.Start"));
    QCOMPARE(start[QLatin1String("dialog")].toBool(), true);
    QVERIFY(start[QLatin1String("restored_from")].isNull());
    portal.close();

    SCScreenCastPortal::Request again;
    again.restoreToken = first;
    QVERIFY2(portal.startAndWait(again, ANSWER_TIMEOUT_MS) == Status::Started,
             qPrintable(portal.detail()));
    start = m_backend.lastCall(QStringLiteral("ScreenCast.Start"));
    QVERIFY(start[QLatin1String("restored_from")].isString());
    QCOMPARE(start[QLatin1String("dialog")].toBool(true), false);
    const QString second = portal.restoreToken();
    QVERIFY(!second.isEmpty());
    portal.close();

    // What came back is what the next cast asks with, and it works again.
    again.restoreToken = second;
    QVERIFY2(portal.startAndWait(again, ANSWER_TIMEOUT_MS) == Status::Started,
             qPrintable(portal.detail()));
    start = m_backend.lastCall(QStringLiteral("ScreenCast.Start"));
    QCOMPARE(start[QLatin1String("dialog")].toBool(true), false);
}

void TestPortals::notStarted_data()
{
    QTest::addColumn<QString>("method");
    QTest::addColumn<uint>("code");
    QTest::addColumn<Status>("expected");
    QTest::newRow("Start cancelled") << QStringLiteral("Start") << 1u << Status::Cancelled;
    QTest::newRow("Start refused") << QStringLiteral("Start") << 2u << Status::Refused;
    QTest::newRow("SelectSources refused")
            << QStringLiteral("SelectSources") << 2u << Status::Refused;
    // The backend makes no session then, so it has none to close.
    QTest::newRow("CreateSession cancelled")
            << QStringLiteral("CreateSession") << 1u << Status::Cancelled;
}

void TestPortals::notStarted()
{
    QFETCH(QString, method);
    QFETCH(uint, code);
    QFETCH(Status, expected);
    QVERIFY(m_backend.setNextResponse(method, code));
    SCScreenCastPortal portal;
    QCOMPARE(portal.startAndWait({}, ANSWER_TIMEOUT_MS), expected);
    QCOMPARE(portal.status(), expected);
    QVERIFY2(portal.detail().contains(
                     QStringLiteral("ScreenCast.%1 answered %2").arg(method).arg(code)),
             qPrintable(portal.detail()));
    QCOMPARE(portal.takePipeWireFd(), -1);
    QCOMPARE(portal.stream().node, 0u);
    QVERIFY(portal.restoreToken().isEmpty());
    // The backend's forced answer was the one the client got, not some other failure.
    const QString full = QStringLiteral("ScreenCast.") + method;
    QCOMPARE(m_backend.calls(full).size(), 1);
    if (method != QLatin1String("Start"))
        QVERIFY(m_backend.calls(QStringLiteral("ScreenCast.Start")).isEmpty());
    // Nothing stays open on the desktop.
    if (method != QLatin1String("CreateSession"))
        QTRY_VERIFY_WITH_TIMEOUT(m_backend.openSessions().isEmpty(), 10000);
}

void TestPortals::closeEndsTheSessionQuietly()
{
    QString session;
    {
        SCScreenCastPortal portal;
        QSignalSpy closed(&portal, &SCScreenCastPortal::closed);
        QVERIFY2(portal.startAndWait({}, ANSWER_TIMEOUT_MS) == Status::Started,
                 qPrintable(portal.detail()));
        session = m_backend.lastCall(QStringLiteral("ScreenCast.Start"))[QLatin1String("session")]
                          .toString();
        QVERIFY(!session.isEmpty());
        QCOMPARE(m_backend.closes(session), 0);

        portal.close();
        QCOMPARE(portal.status(), Status::Idle);
        QCOMPARE(portal.takePipeWireFd(), -1);
        QTRY_COMPARE_WITH_TIMEOUT(m_backend.closes(session), 1, 10000);
        portal.close();
        QCOMPARE(portal.status(), Status::Idle);
        // A round trip to the frontend: whatever it sent about the session has arrived by now.
        QVERIFY(SCScreenCastPortal::available(QDBusConnection::sessionBus(), nullptr));
        QCoreApplication::processEvents();
        QCOMPARE(closed.count(), 0);
        QCOMPARE(m_backend.closes(session), 1);

        QVERIFY2(portal.startAndWait({}, ANSWER_TIMEOUT_MS) == Status::Started,
                 qPrintable(portal.detail()));
        session = m_backend.lastCall(QStringLiteral("ScreenCast.Start"))[QLatin1String("session")]
                          .toString();
        QCOMPARE(m_backend.closes(session), 0);
    }
    // Going away closes what is open.
    QTRY_COMPARE_WITH_TIMEOUT(m_backend.closes(session), 1, 10000);
}

void TestPortals::noAnswerInTime()
{
    SCScreenCastPortal portal;
    QSignalSpy finished(&portal, &SCScreenCastPortal::finished);
    // Nobody answers a cast within a millisecond: the backend alone needs a stream first.
    // Without the pointer the session is asked for at once, so there is one to give up.
    QCOMPARE(portal.startAndWait({SCScreenCastPortal::SourceKind::Monitor, false, {}}, 1),
             Status::Refused);
    QVERIFY2(portal.detail().contains(QLatin1String("no answer")), qPrintable(portal.detail()));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(portal.takePipeWireFd(), -1);

    // The abandoned attempt's late answers change nothing, and the next one works.
    QVERIFY2(portal.startAndWait({}, ANSWER_TIMEOUT_MS) == Status::Started,
             qPrintable(portal.detail()));
    QCOMPARE(finished.count(), 2);
    const QString live
            = m_backend.lastCall(QStringLiteral("ScreenCast.Start"))[QLatin1String("session")]
                      .toString();
    QCOMPARE(m_backend.calls(QStringLiteral("ScreenCast.Start")).size(), 1);
    // The abandoned session did not stay open on the desktop.
    QTRY_COMPARE_WITH_TIMEOUT(m_backend.openSessions(), QStringList {live}, 10000);
    portal.close();
    QTRY_VERIFY_WITH_TIMEOUT(m_backend.openSessions().isEmpty(), 10000);
}

void TestPortals::screenshotTaken()
{
    SCScreenshotPortal portal;
    QSignalSpy finished(&portal, &SCScreenshotPortal::finished);
    QCOMPARE(portal.status(), ShotStatus::Idle);
    portal.take();
    QCOMPARE(portal.status(), ShotStatus::Pending);
    QVERIFY(finished.wait(ANSWER_TIMEOUT_MS));
    QCOMPARE(finished.count(), 1);
    QVERIFY2(portal.status() == ShotStatus::Taken, qPrintable(portal.detail()));
    QCOMPARE(portal.picture().size(), sessionScreen());
    QVERIFY(QFileInfo::exists(portal.pictureFile()));
    const QJsonObject call = m_backend.lastCall(QStringLiteral("Screenshot.Screenshot"));
    QCOMPARE(call[QLatin1String("file")].toString(), portal.pictureFile());
    QCOMPARE(call[QLatin1String("options")][QLatin1String("interactive")].toBool(true), false);
}

void TestPortals::screenshotRefused()
{
    QVERIFY(m_backend.setNextResponse(QStringLiteral("Screenshot"), 2));
    SCScreenshotPortal portal;
    QCOMPARE(portal.takeAndWait(ANSWER_TIMEOUT_MS), ShotStatus::Refused);
    QVERIFY2(portal.detail().contains(QLatin1String("answered 2")), qPrintable(portal.detail()));
    QVERIFY(portal.picture().isNull());
    QVERIFY(portal.pictureFile().isEmpty());
    QCOMPARE(m_backend.calls(QStringLiteral("Screenshot.Screenshot")).size(), 1);

    // The next one is taken again: the forced answer was for one call only.
    QVERIFY2(portal.takeAndWait(ANSWER_TIMEOUT_MS) == ShotStatus::Taken,
             qPrintable(portal.detail()));
    QVERIFY(!portal.picture().isNull());
}

void TestPortals::missingPortal()
{
    EmptyBus empty;
    QVERIFY(empty.start());
    const QDBusConnection bus = empty.bus();

    QString detail;
    QVERIFY(!SCScreenCastPortal::available(bus, &detail));
    QVERIFY2(detail.contains(QLatin1String("ServiceUnknown")), qPrintable(detail));

    for (const bool showPointer : {true, false}) {
        SCScreenCastPortal portal(bus);
        QSignalSpy finished(&portal, &SCScreenCastPortal::finished);
        QElapsedTimer took;
        took.start();
        portal.start({SCScreenCastPortal::SourceKind::Monitor, showPointer, {}});
        QVERIFY(finished.wait(5000));
        QVERIFY2(portal.status() == Status::Missing, qPrintable(portal.detail()));
        QVERIFY2(portal.detail().contains(QLatin1String("ServiceUnknown")),
                 qPrintable(portal.detail()));
        QVERIFY(took.elapsed() < 2000);
        QCOMPARE(portal.takePipeWireFd(), -1);
    }

    SCScreenshotPortal screenshot(bus);
    QCOMPARE(screenshot.takeAndWait(5000), ShotStatus::Missing);
    QVERIFY(screenshot.picture().isNull());

    // No bus at all is the same to the caller.
    const QDBusConnection none(QStringLiteral("never-connected"));
    QVERIFY(!SCScreenCastPortal::available(none, &detail));
    QVERIFY(!detail.isEmpty());
    SCScreenCastPortal unconnected(none);
    QVERIFY2(unconnected.startAndWait({}, 5000) == Status::Missing,
             qPrintable(unconnected.detail()));
}

QTEST_GUILESS_MAIN(TestPortals)
#include "test-portals.moc"
