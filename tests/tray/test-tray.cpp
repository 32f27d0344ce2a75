// The tray icon and the notifications of the real main window: a notification server of the
// test's own on the private bus records the notices and sends the person's clicks back, a real
// XEmbed tray (trayer) comes and goes, and the files are real, in a private home.

#include "area-selector.h"
#include "desktop-input.h"
#include "message-box-catcher.h"
#include "sc-desktop-integration.h"
#include "sc-desktop-notifier.h"
#include "sc-fullscreen-toolbar.h"
#include "sc-main-window.h"
#include "sc-screenshot-window.h"
#include "sc-settings-window.h"
#include "sc-settings.h"
#include "sc-translator.h"
#include "sc-tray-icon.h"
#include "test-home.h"
#include "url-catcher.h"
#include "widget-lookup.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QtTest>

namespace {

TestHome *g_home = nullptr;
const QString NO_SERVER_LINE = QStringLiteral("No desktop notification server answers");

void setSetting(const QString &key, const QVariant &value)
{
    QSettings(SCSettings::ORGANIZATION, SCSettings::APPLICATION).setValue(key, value);
}

QImage imageOf(const QIcon &icon)
{
    return icon.pixmap(22, 22).toImage().convertToFormat(QImage::Format_ARGB32);
}

} // namespace

// Stands in for the desktop's notification area, on a bus connection of its own.
class FakeNotificationServer : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Notice
    {
        uint id;
        QStringList fields; // app name, icon, summary, body
        QStringList actions;
        QVariantMap hints;
    };
    QList<Notice> notices;

    void sendSignal(const QString &name, const QVariantList &arguments)
    {
        QDBusMessage signal = QDBusMessage::createSignal(SCDesktopNotifier::PATH,
                                                         SCDesktopNotifier::INTERFACE, name);
        signal.setArguments(arguments);
        QDBusConnection(QStringLiteral("notification-server")).send(signal);
    }

public Q_SLOTS:
    QStringList GetCapabilities() { return {"actions", "body"}; }
    uint Notify(const QString &app, uint, const QString &icon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints, int)
    {
        notices << Notice {uint(notices.size() + 40), {app, icon, summary, body}, actions, hints};
        return notices.last().id;
    }
};

class TestTray : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void savedScreenshotIsNoticedAndItsActionsOpen();
    void repeatLastRegionWaitsForARegion();
    void recordingFromTheTrayIsShownAndNoticed();
    void noticesFollowThePreferenceAndAMissingServer();
    void trayThatAppearsLaterHoldsTheIconAsPreferred();
    void closedWindowGoesToTheTrayAndAlwaysComesBack();
    void quitsFromTheTrayMenuAndOnCloseWithoutATray();

private:
    QAction *action(const char *name) { return childOf<QAction>(m_tray->menu(), name); }
    // Triggers a tray menu item and waits for the notice it leads to.
    bool triggerForNotice(const char *name);
    bool startTray();
    void stopTray();
    void setTrayPreferences(bool icon, bool closeToTray);

    FakeNotificationServer m_server;
    std::unique_ptr<SCMainWindow> m_window;
    SCTrayIcon *m_tray = nullptr;
    MessageBoxCatcher *m_boxes = nullptr;
    UrlCatcher m_opened {QStringList {QStringLiteral("file")}};
    QProcess m_trayHost;
};

void TestTray::initTestCase()
{
    QVERIFY(g_home->openLog());
    setSetting(SCSettings::RECORDING_FORMAT, "MP4");
    setSetting(SCSettings::HOTKEYS_RECORDING, "None");
    setSetting(SCSettings::HOTKEYS_SCREENSHOT, "None");
    setSetting(SCSettings::GENERAL_FIRST_RUN, false);
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                                        QStringLiteral("notification-server"));
    QVERIFY2(bus.isConnected(), "needs a session bus: run inside scripts/test-env.sh");
    QVERIFY(bus.registerObject(SCDesktopNotifier::PATH, &m_server,
                               QDBusConnection::ExportAllSlots));
    QVERIFY(bus.registerService(SCDesktopNotifier::SERVICE));
    QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());

    m_boxes = new MessageBoxCatcher(this);
    auto translator = std::make_shared<SCTranslator>();
    QVERIFY(translator->load("en_US"));
    QCoreApplication::installTranslator(translator.get());
    m_window = std::make_unique<SCMainWindow>();
    m_window->setTranslator(translator);
    m_window->setCountdownSeconds(0);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    m_window->initObsRecording();
    QVERIFY(m_window->isEngineReady());
    m_tray = (new SCDesktopIntegration(m_window.get()))->trayIcon();
    // Shown as preferred, waiting for a tray to hold it.
    QVERIFY(m_tray->systemTrayIcon()->isVisible());
    QVERIFY(!m_tray->isInTray());
    QCOMPARE(m_tray->systemTrayIcon()->toolTip(), QString("Vistrel"));
}

void TestTray::cleanupTestCase()
{
    m_window.reset();
    stopTray();
}

bool TestTray::triggerForNotice(const char *name)
{
    const int before = m_server.notices.size();
    action(name)->trigger();
    return QTest::qWaitFor([&] { return m_server.notices.size() > before; }, 20000);
}

bool TestTray::startTray()
{
    m_trayHost.start("trayer",
                     {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "100",
                      "--height", "24"});
    return m_trayHost.waitForStarted()
            && QTest::qWaitFor([this] { return m_tray->isInTray(); }, 10000);
}

void TestTray::stopTray()
{
    if (m_trayHost.state() == QProcess::NotRunning)
        return;
    m_trayHost.terminate();
    m_trayHost.waitForFinished();
}

// Through the real preferences window, opened from the main window and saved.
void TestTray::setTrayPreferences(bool icon, bool closeToTray)
{
    QTest::mouseClick(childOf<QPushButton>(m_window.get(), "settingsBtn"), Qt::LeftButton);
    SCSettingsWindow *preferences = nullptr;
    QTRY_VERIFY((preferences = visibleTopLevel<SCSettingsWindow>()));
    childOf<QPushButton>(preferences, "desktopSettingsTab")->click();
    auto *closeBox = childOf<QCheckBox>(preferences, "closeToTrayCheckBox");
    childOf<QCheckBox>(preferences, "trayIconCheckBox")->setChecked(icon);
    // No icon, no tray to close the window to.
    QCOMPARE(closeBox->isEnabled(), icon);
    closeBox->setChecked(closeToTray);
    childOf<QDialogButtonBox>(preferences, "buttonBox")->button(QDialogButtonBox::Save)->click();
    QTRY_VERIFY(!visibleTopLevel<SCSettingsWindow>());
}

void TestTray::savedScreenshotIsNoticedAndItsActionsOpen()
{
    QVERIFY(triggerForNotice("trayFullScreenshotAction"));
    QCOMPARE(m_server.notices.size(), 1);
    const FakeNotificationServer::Notice notice = m_server.notices[0];
    const QStringList shots = QDir(g_home->filePath("Pictures/Vistrel")).entryList(QDir::Files);
    QCOMPARE(shots.size(), 1);
    const QString shot = g_home->filePath("Pictures/Vistrel/" + shots[0]);
    QCOMPARE(notice.fields,
             QStringList({"Vistrel", "org.ombrant.Vistrel", "Screenshot Saved", shots[0]}));
    QCOMPARE(notice.actions, QStringList({"open", "Open", "folder", "Show in Folder"}));
    QCOMPARE(notice.hints.value("desktop-entry").toString(), QString("org.ombrant.Vistrel"));
    // The full screen is taken with the window out of the way, and the window comes back.
    QTRY_VERIFY(m_window->isVisible());

    m_server.sendSignal("ActionInvoked", {notice.id, QString("open")});
    QTRY_COMPARE(m_opened.urls, QList<QUrl>({QUrl::fromLocalFile(shot)}));
    // No file manager on this bus: its folder is opened instead.
    m_server.sendSignal("ActionInvoked", {notice.id, QString("folder")});
    QTRY_COMPARE_WITH_TIMEOUT(m_opened.urls.size(), 2, 10000);
    QCOMPARE(m_opened.urls[1], QUrl::fromLocalFile(QFileInfo(shot).absolutePath()));
    // A notice that is gone is forgotten, and other programs' notices are none of ours.
    m_server.sendSignal("NotificationClosed", {notice.id, 2u});
    m_server.sendSignal("ActionInvoked", {notice.id, QString("open")});
    m_server.sendSignal("ActionInvoked", {notice.id + 7, QString("open")});
    QVERIFY(triggerForNotice("trayFullScreenshotAction"));
    QCOMPARE(m_opened.urls.size(), 2);
}

void TestTray::repeatLastRegionWaitsForARegion()
{
    QAction *repeat = action("trayRepeatRegionScreenshotAction");
    QCOMPARE(repeat->text(), QString("Repeat Last Region"));
    // The full screens before are no region.
    QVERIFY(!repeat->isEnabled());
    action("trayRegionScreenshotAction")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(visibleTopLevel<AreaSelector>(), 10000);
    QVERIFY(QTest::qWaitForWindowExposed(visibleTopLevel<AreaSelector>(), 10000));
    const QRect region(120, 90, 300, 200);
    QSignalSpy saved(m_window.get(), &SCMainWindow::screenshotSaved);
    // Dragged once, then taken again from the tray without a drag.
    for (bool again : {false, true}) {
        if (again)
            repeat->trigger();
        else
            QVERIFY(dragPointer(region.topLeft(), region.topLeft() + QPoint(300, 200)));
        QTRY_VERIFY_WITH_TIMEOUT(visibleTopLevel<SCScreenshotWindow>(), 10000);
        SCScreenshotWindow *overlay = visibleTopLevel<SCScreenshotWindow>();
        QCOMPARE(overlay->getArea(), region);
        QTRY_VERIFY_WITH_TIMEOUT(overlay->hasKeyboard(), 10000);
        QVERIFY(xdotool({"key", "Return"}));
        QTRY_COMPARE_WITH_TIMEOUT(saved.size(), again ? 2 : 1, 10000);
        QCOMPARE(QImage(saved.last().first().toString()).size(), region.size());
        QVERIFY(repeat->isEnabled());
    }
}

void TestTray::recordingFromTheTrayIsShownAndNoticed()
{
    QSystemTrayIcon *icon = m_tray->systemTrayIcon();
    const QImage idleIcon = imageOf(icon->icon());
    QCOMPARE(idleIcon, imageOf(QIcon(":/resources/AppIcon.svg")));
    QAction *record = action("trayRecordAction");
    QCOMPARE(record->text(), QString("Start Recording"));
    QVERIFY(record->isEnabled());
    record->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(m_window->controlState(), QString("recording"), 20000);
    QCOMPARE(record->text(), QString("Stop Recording"));
    QCOMPARE(imageOf(icon->icon()), imageOf(QIcon(":/res/forms/images/start-recording.svg")));
    // The time counts as on the recording controls.
    QTRY_COMPARE_WITH_TIMEOUT(icon->toolTip(), QString("Vistrel\nRecording 00:00:02"), 5000);

    // Paused from the tray: the clock stops everywhere it shows, and runs on after the resume.
    QAction *pause = action("trayPauseAction");
    QVERIFY(pause->isVisible());
    QCOMPARE(pause->text(), QString("Pause Recording"));
    pause->trigger();
    QTRY_COMPARE(m_window->controlState(), QString("paused"));
    QCOMPARE(pause->text(), QString("Resume Recording"));
    QCOMPARE(imageOf(icon->icon()), imageOf(QIcon(":/res/forms/images/pause-recording.svg")));
    const QTime pausedAt = m_window->recordingTime();
    QCOMPARE(icon->toolTip(), "Vistrel\nPaused " + pausedAt.toString("hh:mm:ss"));
    SCFullscreenToolbar *toolbar = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets())
        toolbar = toolbar ? toolbar : qobject_cast<SCFullscreenToolbar *>(w);
    QVERIFY(toolbar);
    auto *toolbarTime = childOf<QLabel>(toolbar, "timerLabel");
    QCOMPARE(toolbarTime->text(), "Paused " + pausedAt.toString("hh:mm:ss"));
    QTest::qWait(1500);
    QCOMPARE(m_window->recordingTime(), pausedAt);
    pause->trigger();
    QTRY_COMPARE(m_window->controlState(), QString("recording"));
    QCOMPARE(pause->text(), QString("Pause Recording"));
    const QString second = pausedAt.addSecs(1).toString("hh:mm:ss");
    QTRY_COMPARE_WITH_TIMEOUT(m_window->recordingTime().toString("hh:mm:ss"), second, 3000);
    QCOMPARE(toolbarTime->text(), second);
    const int before = m_server.notices.size();
    QVERIFY(triggerForNotice("trayRecordAction"));
    QCOMPARE(m_window->controlState(), QString("idle"));
    QCOMPARE(record->text(), QString("Start Recording"));
    QCOMPARE(imageOf(icon->icon()), idleIcon);
    QCOMPARE(icon->toolTip(), QString("Vistrel"));
    QVERIFY(!pause->isVisible());
    const QStringList files = QDir(g_home->filePath("Videos/Vistrel")).entryList(QDir::Files);
    QCOMPARE(files.size(), 1);
    QVERIFY(files[0].endsWith(".mp4"));
    QCOMPARE(m_server.notices[before].fields.mid(2), QStringList({"Recording Saved", files[0]}));

    // Stopped for a full disk: one notice says that the file was saved and why it stopped,
    // beside the message the window shows.
    bool diskFull = false;
    m_window->setFreeSpaceProbe(
            [&diskFull](const QString &) -> qint64 { return diskFull ? 10LL * 1024 * 1024 : -1; });
    record->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(m_window->controlState(), QString("recording"), 20000);
    diskFull = true;
    QTRY_COMPARE_WITH_TIMEOUT(m_server.notices.size(), before + 2, 20000);
    m_window->setFreeSpaceProbe({});
    const QStringList stopped = m_server.notices.last().fields;
    QCOMPARE(stopped[2], QString("Recording Stopped"));
    QVERIFY2(stopped[3].contains("less than 100 MB") && stopped[3].contains(".mp4"),
             qPrintable(stopped[3]));
    QTRY_VERIFY(m_boxes->titles.contains("Low Disk Space"));
    QVERIFY(triggerForNotice("trayFullScreenshotAction"));
    QCOMPARE(m_server.notices[before + 2].fields[2], QString("Screenshot Saved"));
}

void TestTray::noticesFollowThePreferenceAndAMissingServer()
{
    const int before = m_server.notices.size();
    QSignalSpy saved(m_window.get(), &SCMainWindow::screenshotSaved);
    setSetting(SCSettings::DESKTOP_NOTIFICATIONS, false);
    action("trayFullScreenshotAction")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(saved.size(), 1, 20000);
    setSetting(SCSettings::DESKTOP_NOTIFICATIONS, true);
    // Notices arrive in order: the next one being the first proves the one before never came.
    QVERIFY(triggerForNotice("trayFullScreenshotAction"));
    QCOMPARE(m_server.notices.size(), before + 1);

    // No server: the screenshots are still saved, and the log says so once.
    QDBusConnection bus(QStringLiteral("notification-server"));
    QVERIFY(bus.unregisterService(SCDesktopNotifier::SERVICE));
    QCOMPARE(g_home->count(NO_SERVER_LINE), 0);
    for (int i = 0; i < 2; ++i) {
        action("trayFullScreenshotAction")->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(saved.size(), 3 + i, 20000);
        QTRY_COMPARE(g_home->count(NO_SERVER_LINE), 1);
    }
    // A server that comes later gets the next notice.
    QVERIFY(bus.registerService(SCDesktopNotifier::SERVICE));
    QVERIFY(triggerForNotice("trayFullScreenshotAction"));
    QCOMPARE(m_server.notices.size(), before + 2);
    QCOMPARE(g_home->count(NO_SERVER_LINE), 1);
}

void TestTray::trayThatAppearsLaterHoldsTheIconAsPreferred()
{
    QVERIFY(startTray());
    QSystemTrayIcon *icon = m_tray->systemTrayIcon();
    QTRY_VERIFY(!icon->geometry().isEmpty());
    QCOMPARE(icon->contextMenu(), m_tray->menu());

    setTrayPreferences(false, false);
    QTRY_VERIFY(!icon->isVisible());
    QVERIFY(!m_tray->isInTray());
    setTrayPreferences(true, true);
    QTRY_VERIFY(m_tray->isInTray());
}

void TestTray::closedWindowGoesToTheTrayAndAlwaysComesBack()
{
    QVERIFY(m_tray->isInTray());
    QVERIFY(m_window->close());
    QVERIFY(!m_window->isVisible());
    QVERIFY(!QGuiApplication::quitOnLastWindowClosed());
    // A tray that goes away gives the window back.
    stopTray();
    QTRY_VERIFY_WITH_TIMEOUT(m_window->isVisible(), 10000);
    QVERIFY(QGuiApplication::quitOnLastWindowClosed());
}

// Quitting needs the application's own loop, as in the program.
void TestTray::quitsFromTheTrayMenuAndOnCloseWithoutATray()
{
    QVERIFY(startTray());
    QStringList steps;
    QTimer poll;
    poll.setInterval(50);
    connect(&poll, &QTimer::timeout, this, [&] {
        if (steps.isEmpty() && m_window->close())
            steps << "closed";
        else if (steps.size() == 1 && !m_window->isVisible()) {
            steps << "in the tray";
            action("trayShowAction")->trigger();
        } else if (steps.size() == 2 && m_window->isVisible()) {
            steps << "back";
            action("trayQuitAction")->trigger();
        }
    });
    poll.start();
    QTimer giveUp;
    giveUp.setSingleShot(true);
    connect(&giveUp, &QTimer::timeout, this, [] { QCoreApplication::exit(1); });
    giveUp.start(20000);
    QCOMPARE(QCoreApplication::exec(), 0);
    poll.stop();
    QCOMPARE(steps, QStringList({"closed", "in the tray", "back"}));
    // The first time the person was told where the window went.
    QVERIFY(QSettings(SCSettings::ORGANIZATION, SCSettings::APPLICATION)
                    .value(SCSettings::DESKTOP_CLOSE_TO_TRAY_TOLD)
                    .toBool());

    // Without a tray the preference does nothing: closing the window quits.
    stopTray();
    QTRY_VERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QTimer::singleShot(0, m_window.get(), &QWidget::close);
    giveUp.start(20000);
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY(!m_window->isVisible());
}

int main(int argc, char **argv)
{
    TestHome home;
    g_home = &home;
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(SCSettings::ORGANIZATION);
    QCoreApplication::setApplicationName(SCSettings::APPLICATION);
    TestTray test;
    return QTest::qExec(&test, argc, argv);
}

#include "test-tray.moc"
