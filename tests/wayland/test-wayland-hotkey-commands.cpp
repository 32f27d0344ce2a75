// A Wayland desktop whose portal takes no hotkeys from programs (GNOME 43's, wlroots'): the
// hotkeys page says so and shows a command for each action, the command the page shows drives
// the real program, and on GNOME the page adds them to the desktop's own shortcuts through
// gsettings. Runs in the headless Wayland session without GlobalShortcuts.

#include "control-bus.h"
#include "desktop-program.h"
#include "lean-a-files.h"
#include "message-box-catcher.h"
#include "sc-gnome-shortcuts.h"
#include "sc-hotkey-actions.h"
#include "sc-settings-window.h"
#include "sc-settings.h"
#include "test-home.h"

#include <QApplication>
#include <QClipboard>
#include <QDBusInterface>
#include <QDBusReply>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

namespace {

TestHome *g_home = nullptr;

QString gsettings(const QStringList &arguments)
{
    QProcess process;
    process.start("gsettings", arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

QString entry(const QString &id, const QString &key)
{
    return gsettings(
            {"get", SCGnomeShortcuts::ENTRY_SCHEMA + ":" + SCGnomeShortcuts::pathFor(id), key});
}

} // namespace

class TestWaylandHotkeyCommands : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void pageShowsACommandForEachAction();
    void theShownCommandsDriveTheProgram();
    void gnomeButtonAddsTheShortcutsOnce();

private:
    std::unique_ptr<SCSettingsWindow> openHotkeysPage();
    QString shownCommand(SCSettingsWindow *window, const QString &id);
    bool run(const QString &command);

    QTemporaryDir m_programHome;
    QProcess m_program;
};

void TestWaylandHotkeyCommands::initTestCase()
{
    QVERIFY2(qEnvironmentVariable("XDG_SESSION_TYPE") == "wayland",
             "runs in scripts/test-env.sh --wayland with VISTREL_WAYLAND_NO_SHORTCUTS=1");
    QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    settings.setValue(SCSettings::GENERAL_FIRST_RUN, false);
}

void TestWaylandHotkeyCommands::cleanupTestCase()
{
    DesktopProgram::stop(m_program);
}

std::unique_ptr<SCSettingsWindow> TestWaylandHotkeyCommands::openHotkeysPage()
{
    auto window = std::make_unique<SCSettingsWindow>(nullptr);
    window->show();
    window->findChild<QPushButton *>("hotkeysSettingsTab")->click();
    return window;
}

QString TestWaylandHotkeyCommands::shownCommand(SCSettingsWindow *window, const QString &id)
{
    auto *field = window->findChild<QLineEdit *>("hotkeyCommand-" + id);
    return field ? field->text() : QString();
}

// A command as the desktop's keyboard settings run it: through the shell.
bool TestWaylandHotkeyCommands::run(const QString &command)
{
    QProcess shell;
    shell.setProcessEnvironment(m_program.processEnvironment());
    shell.start("/bin/sh", {"-c", command});
    return shell.waitForFinished(30000) && shell.exitCode() == 0;
}

void TestWaylandHotkeyCommands::pageShowsACommandForEachAction()
{
    auto window = openHotkeysPage();
    auto *status = window->findChild<QLabel *>("hotkeyDesktopStatus");
    QVERIFY(status && status->isVisible());
    QVERIFY2(status->text().contains("does not let programs set hotkeys"),
             qPrintable(status->text()));
    // This executable is no "vistrel" on the search path: its full path is the program.
    const QString program = QCoreApplication::applicationFilePath();
    const QMap<QString, QString> expected {{"toggle-recording", program + " --toggle-recording"},
                                           {"toggle-pause", program + " --toggle-pause"},
                                           {"screenshot-region", program + " --screenshot region"},
                                           {"screenshot-full", program + " --screenshot full"}};
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        QCOMPARE(shownCommand(window.get(), it.key()), it.value());

    auto *copy = window->findChild<QPushButton *>("copyCommand-toggle-pause");
    QVERIFY(copy && copy->isVisible());
    QGuiApplication::clipboard()->clear();
    copy->click();
    QTRY_COMPARE(QGuiApplication::clipboard()->text(), expected.value("toggle-pause"));
    // Not a GNOME desktop: nothing offered to add there.
    QVERIFY(!window->findChild<QPushButton *>("addGnomeShortcuts"));
}

// The real program, started as the desktop would, asks the desktop for no shortcuts; the
// commands of the page, with the program's path, start, pause, resume and stop a recording.
void TestWaylandHotkeyCommands::theShownCommandsDriveTheProgram()
{
    QVERIFY(m_programHome.isValid());
    const QString config = DesktopProgram::configDir(m_programHome.path());
    const QString data = DesktopProgram::dataDir(m_programHome.path());
    QSettings settings(config + "/" + SCSettings::ORGANIZATION + "/" + SCSettings::APPLICATION
                               + ".conf",
                       QSettings::IniFormat);
    settings.setValue(SCSettings::GENERAL_FIRST_RUN, false);
    settings.setValue(SCSettings::RECORDING_FORMAT, "MP4");
    settings.sync();
    QVERIFY(DesktopProgram::start(m_program, VISTREL_EXECUTABLE, m_programHome.path()));
    QVERIFY(logsUnder(data).contains("the desktop offers no GlobalShortcuts portal"));

    auto window = openHotkeysPage();
    const QString self = SCHotkeyActions::shellQuoted(QCoreApplication::applicationFilePath());
    const auto command = [&](const QString &id) {
        QString shown = shownCommand(window.get(), id);
        return shown.replace(0, self.size(), SCHotkeyActions::shellQuoted(VISTREL_EXECUTABLE));
    };
    const auto reaches = [](const QString &state) {
        return QTest::qWaitFor([&] { return ControlBus::state() == state; }, 20000);
    };
    QVERIFY(run(command("toggle-recording")));
    QVERIFY2(reaches("recording"), qPrintable(ControlBus::state()));
    QVERIFY(run(command("toggle-pause")));
    QVERIFY2(reaches("paused"), qPrintable(ControlBus::state()));
    QVERIFY(run(command("toggle-pause")));
    QVERIFY2(reaches("recording"), qPrintable(ControlBus::state()));
    QTest::qWait(1000);
    QVERIFY(run(command("toggle-recording")));
    QVERIFY2(reaches("idle"), qPrintable(ControlBus::state()));
    QVERIFY(logsUnder(data).contains("Recording stopped: "));

    // A pause asked with nothing recording is refused, and says why.
    QProcess refused;
    refused.setProcessEnvironment(m_program.processEnvironment());
    refused.start("/bin/sh", {"-c", command("toggle-pause")});
    QVERIFY(refused.waitForFinished(30000));
    QCOMPARE(refused.exitCode(), 1);
    QVERIFY(refused.readAllStandardError().contains("No recording is running."));
}

// The page writes GNOME's custom shortcuts after asking: each action with its key and the
// command shown, next to what the person had there; added twice, still once each.
void TestWaylandHotkeyCommands::gnomeButtonAddsTheShortcutsOnce()
{
    QTemporaryDir gsettingsHome;
    qputenv("XDG_CURRENT_DESKTOP", "GNOME");
    qputenv("GSETTINGS_BACKEND", "keyfile");
    qputenv("XDG_CONFIG_HOME", gsettingsHome.path().toUtf8());
    const QString own = SCGnomeShortcuts::PATH_PREFIX + "custom0/";
    gsettings({"set", SCGnomeShortcuts::SCHEMA, "custom-keybindings", "['" + own + "']"});
    QCOMPARE(gsettings({"get", SCGnomeShortcuts::SCHEMA, "custom-keybindings"}), "['" + own + "']");

    QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    settings.setValue(SCSettings::HOTKEYS_RECORDING, "F9");
    settings.setValue(SCSettings::HOTKEYS_SCREENSHOT, "F10");
    settings.setValue(SCSettings::HOTKEYS_FULL_SCREENSHOT, "Shift+F10");
    settings.setValue(SCSettings::HOTKEYS_PAUSE, SCSettings::NO_HOTKEY);
    auto window = openHotkeysPage();
    auto *add = window->findChild<QPushButton *>("addGnomeShortcuts");
    QVERIFY(add && add->isVisible());

    {
        MessageBoxCatcher declined;
        declined.answer = "&No";
        add->click();
        QCOMPARE(declined.texts.size(), 1);
    }
    QCOMPARE(gsettings({"get", SCGnomeShortcuts::SCHEMA, "custom-keybindings"}), "['" + own + "']");

    for (int round = 0; round < 2; ++round) {
        MessageBoxCatcher catcher;
        catcher.answer = "&Yes";
        add->click();
        QCOMPARE(catcher.texts.size(), 1);
        auto *result = window->findChild<QLabel *>("gnomeShortcutsResult");
        QVERIFY(result);
        QCOMPARE(result->text(), QString("Added to GNOME's keyboard shortcuts."));
    }
    const QStringList paths = SCGnomeShortcuts::parseList(
            gsettings({"get", SCGnomeShortcuts::SCHEMA, "custom-keybindings"}));
    // The pause has no key: it is not added.
    QCOMPARE(paths,
             QStringList({own, SCGnomeShortcuts::pathFor("toggle-recording"),
                          SCGnomeShortcuts::pathFor("screenshot-region"),
                          SCGnomeShortcuts::pathFor("screenshot-full")}));
    QCOMPARE(entry("toggle-recording", "binding"), QString("'F9'"));
    QCOMPARE(entry("screenshot-full", "binding"), QString("'<Shift>F10'"));
    QCOMPARE(entry("toggle-recording", "command"),
             "'" + shownCommand(window.get(), "toggle-recording") + "'");
    QCOMPARE(entry("screenshot-region", "name"), QString("'Vistrel: Capture Screenshot'"));
}

int main(int argc, char *argv[])
{
    // As the program does on a Wayland session: its windows through XWayland.
    qputenv("QT_QPA_PLATFORM", "xcb");
    TestHome home;
    g_home = &home;
    QApplication app(argc, argv);
    if (!home.openLog())
        return 1;
    TestWaylandHotkeyCommands test;
    return QTest::qExec(&test, argc, argv);
}

#include "test-wayland-hotkey-commands.moc"
