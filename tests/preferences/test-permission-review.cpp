// The permission review on the test desktop: the window itself with a sound server that is
// away, and the real program, which must show the review first and go on once it is closed.

#include "desktop-input.h"
#include "sc-permission-checks.h"
#include "sc-review-app-permissions-window.h"
#include "url-catcher.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDirIterator>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

const QByteArray DEAD_SERVER = "unix:/nonexistent/vistrel-test/pulse/native";

QString readLogs(const QString &folder)
{
    QString text;
    QDirIterator it(folder, {"screen-recorder_*.log"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly))
            text += QString::fromUtf8(file.readAll());
    }
    return text;
}

} // namespace

class TestPermissionReview : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();
    void listsTheMissingSoundServerAndRechecks();
    void soundServerAddressesAreTried();
    void waylandSessionExplainsTheScreenRow();
    void programShowsReviewBeforeMainWindow();

private:
    UrlCatcher m_urls;
};

void TestPermissionReview::cleanup()
{
    qunsetenv("PULSE_SERVER");
    qunsetenv("WAYLAND_DISPLAY");
}

void TestPermissionReview::listsTheMissingSoundServerAndRechecks()
{
    {
        SCReviewAppPermissionsWindow everything;
        QVERIFY2(everything.allGranted(), "the test desktop offers every capability");
    }

    qputenv("PULSE_SERVER", DEAD_SERVER);
    SCReviewAppPermissionsWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(!window.allGranted());

    auto *microphone = window.findChild<QPushButton *>("requestMicrophoneAccessBtn");
    QVERIFY(microphone->isEnabled());
    QCOMPARE(microphone->text(), QStringLiteral("Request Access"));
    QVERIFY(window.findChild<QLabel *>("microphoneStateLabel")->isVisible());
    for (const char *granted : {"openScreenRecordingPreferencesBtn", "requestCameraAccessBtn",
                                "openAccessibilityPreferencesBtn"}) {
        auto *button = window.findChild<QPushButton *>(granted);
        QVERIFY2(!button->isEnabled(), granted);
        QCOMPARE(button->text(), QStringLiteral("Access granted"));
    }

    // Still missing: the button leads to where it can be fixed.
    microphone->click();
    QCOMPARE(m_urls.urls.size(), 1);
    QCOMPARE(m_urls.urls.first().fragment(), QStringLiteral("microphone"));
    QVERIFY(microphone->isEnabled());

    // Back again: the next press sees it.
    qunsetenv("PULSE_SERVER");
    microphone->click();
    QVERIFY(!microphone->isEnabled());
    QCOMPARE(microphone->text(), QStringLiteral("Access granted"));
    QVERIFY(!window.findChild<QLabel *>("microphoneStateLabel")->isVisible());
    QCOMPARE(m_urls.urls.size(), 1);
}

void TestPermissionReview::soundServerAddressesAreTried()
{
    QVERIFY(SCPermissionChecks::soundServerReachable());
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    const QByteArray listening = "tcp:127.0.0.1:" + QByteArray::number(server.serverPort());
    qputenv("PULSE_SERVER", listening);
    QVERIFY(SCPermissionChecks::soundServerReachable());
    // The first entry that answers counts.
    qputenv("PULSE_SERVER", DEAD_SERVER + " " + listening);
    QVERIFY(SCPermissionChecks::soundServerReachable());
    server.close();
    qputenv("PULSE_SERVER", listening);
    QVERIFY(!SCPermissionChecks::soundServerReachable());
    qputenv("PULSE_SERVER", "{not-a-machine-id");
    QVERIFY(!SCPermissionChecks::soundServerReachable());
}

void TestPermissionReview::waylandSessionExplainsTheScreenRow()
{
    qputenv("WAYLAND_DISPLAY", "wayland-0");
    SCReviewAppPermissionsWindow window;
    window.show();
    auto *screen = window.findChild<QPushButton *>("openScreenRecordingPreferencesBtn");
    QVERIFY(screen->isEnabled());
    QCOMPARE(screen->text(), QStringLiteral("Open Screen Recroding Preferences"));
    auto *why = window.findChild<QLabel *>("screenStateLabel");
    QVERIFY(why->isVisible());
    QVERIFY2(why->text().contains("XWayland"), qPrintable(why->text()));
}

void TestPermissionReview::programShowsReviewBeforeMainWindow()
{
    QTemporaryDir home;
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.insert("XDG_CONFIG_HOME", home.filePath("config"));
    env.insert("XDG_DATA_HOME", home.filePath("data"));
    env.insert("PULSE_SERVER", QString::fromLatin1(DEAD_SERVER));
    // Keep the first-run web page away from any browser.
    env.insert("BROWSER", "true");
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(QStringLiteral(VISTREL_EXECUTABLE), {});
    QVERIFY(program.waitForStarted());
    const auto stop = qScopeGuard([&program] {
        if (program.state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
            if (!program.waitForFinished(15000))
                program.kill();
        }
    });

    QString review;
    QTRY_VERIFY_WITH_TIMEOUT(!(review = xdotoolOutput({"search", "--onlyvisible", "--name",
                                                       "^Review App Permissions$"}))
                                      .isEmpty(),
                             30000);
    QString log = readLogs(home.filePath("data"));
    QVERIFY2(log.contains("Showing the permission review: screen 1, camera 1, sound server 0, "
                          "global keys 1"),
             qPrintable(log));
    QVERIFY(!log.contains("Creating main window"));
    QCOMPARE(program.state(), QProcess::Running);

    // Closing by the window manager, as a user's close button does.
    const QString id = review.split('\n').first();
    xdotool({"windowactivate", "--sync", id});
    xdotool({"key", "--clearmodifiers", "alt+F4"});
    QTRY_VERIFY_WITH_TIMEOUT(readLogs(home.filePath("data")).contains("Main window displayed"),
                             30000);
    log = readLogs(home.filePath("data"));
    QVERIFY(log.indexOf("Permission review closed") < log.indexOf("Creating main window"));
    QCOMPARE(program.state(), QProcess::Running);
}

QTEST_MAIN(TestPermissionReview)
#include "test-permission-review.moc"
