// Starts the real program under the test session's X display, with a private home,
// settings store and temporary folder, and watches what it does through its log.

#include "desktop-input.h"

#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {
constexpr int START_DEADLINE_MS = 60000;
}

class TestStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void secondStartExitsQuietly();
    void terminationQuitsCleanlyKilledInstanceDoesNotBlock();
    void languageFollowsSystemLocaleThenStore();

private:
    QProcess *start(const QMap<QString, QString> &extraEnv = {});
    QString logsDir() const { return m_home->filePath("data/Ombrant/Vistrel/logs"); }
    QString configFile() const { return m_home->filePath("config/Ombrant/Vistrel.conf"); }
    QStringList logFiles() const;
    QString allLogs() const;
    bool logContains(const QString &text) const { return allLogs().contains(text); }
    void stop(QProcess *process);

    std::unique_ptr<QTemporaryDir> m_home;
    QList<QProcess *> m_processes;
};

void TestStartup::init()
{
    m_home = std::make_unique<QTemporaryDir>();
    QVERIFY(m_home->isValid());
    QDir(m_home->path()).mkpath("tmp");
}

void TestStartup::cleanup()
{
    for (QProcess *process : std::as_const(m_processes))
        stop(process);
    qDeleteAll(m_processes);
    m_processes.clear();
    m_home.reset();
}

void TestStartup::stop(QProcess *process)
{
    if (process->state() == QProcess::NotRunning)
        return;
    process->terminate();
    if (!process->waitForFinished(20000)) {
        process->kill();
        process->waitForFinished(5000);
    }
}

QProcess *TestStartup::start(const QMap<QString, QString> &extraEnv)
{
    auto *process = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", m_home->path());
    env.insert("XDG_DATA_HOME", m_home->filePath("data"));
    env.insert("XDG_CONFIG_HOME", m_home->filePath("config"));
    // The single-instance block is keyed on a file in the temporary folder: a private one
    // keeps the test apart from any Vistrel the developer is running.
    env.insert("TMPDIR", m_home->filePath("tmp"));
    env.insert("LANG", "en_US.UTF-8");
    env.remove("LC_ALL");
    env.remove("LC_MESSAGES");
    for (auto it = extraEnv.begin(); it != extraEnv.end(); ++it)
        env.insert(it.key(), it.value());
    process->setProcessEnvironment(env);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(VISTREL_EXECUTABLE, {});
    m_processes << process;
    return process;
}

QStringList TestStartup::logFiles() const
{
    return QDir(logsDir()).entryList({"screen-recorder_*.log"}, QDir::Files, QDir::Name);
}

QString TestStartup::allLogs() const
{
    QString text;
    for (const QString &name : logFiles()) {
        QFile file(QDir(logsDir()).filePath(name));
        if (file.open(QIODevice::ReadOnly))
            text += QString::fromUtf8(file.readAll());
    }
    return text;
}

void TestStartup::secondStartExitsQuietly()
{
    QProcess *first = start();
    QTRY_VERIFY_WITH_TIMEOUT(logContains("Stored window handle and process ID in shared memory"),
                             START_DEADLINE_MS);
    QVERIFY(logContains("Created shared memory for single instance") == false); // before log
    // The running window is minimized; the second start must bring it back.
    const auto visibleWindows = [first] {
        // the main window, not a message that may come and go beside it
        return xdotoolOutput({"search", "--onlyvisible", "--pid",
                              QString::number(first->processId()), "--name", "^Vistrel$"})
                .split('\n', Qt::SkipEmptyParts);
    };
    QTRY_VERIFY_WITH_TIMEOUT(!visibleWindows().isEmpty(), 20000);
    // The start is settled once the engine is up; before that the window may still be shown.
    QTRY_VERIFY_WITH_TIMEOUT(logContains("OBS initialized successfully"), START_DEADLINE_MS);
    const auto minimizeAll = [&visibleWindows] {
        for (const QString &id : visibleWindows())
            xdotool({"windowminimize", id});
        return true;
    };
    QTRY_VERIFY_WITH_TIMEOUT(minimizeAll() && visibleWindows().isEmpty(), 10000);
    const QStringList logsBefore = logFiles();
    const QString textBefore = allLogs();

    QProcess *second = start();
    QVERIFY(second->waitForFinished(START_DEADLINE_MS));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);

    QCOMPARE(logFiles(), logsBefore);
    QCOMPARE(allLogs().count("=== Application Started ==="), 1);
    QVERIFY(allLogs().startsWith(textBefore));
    QCOMPARE(first->state(), QProcess::Running);
    QTRY_VERIFY_WITH_TIMEOUT(logContains("A second start: showing the window"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!visibleWindows().isEmpty(), 10000);
}

void TestStartup::terminationQuitsCleanlyKilledInstanceDoesNotBlock()
{
    QProcess *first = start();
    QTRY_VERIFY_WITH_TIMEOUT(logContains("Stored window handle"), START_DEADLINE_MS);
    first->terminate();
    QVERIFY(first->waitForFinished(20000));
    QCOMPARE(first->exitStatus(), QProcess::NormalExit);
    QCOMPARE(first->exitCode(), 0);
    QVERIFY(logContains("Application exiting..."));

    // The block went with it: the next start creates a fresh one.
    QDir(logsDir()).removeRecursively();
    QProcess *second = start();
    QTRY_VERIFY_WITH_TIMEOUT(logContains("Stored window handle"), START_DEADLINE_MS);
    QVERIFY(!logContains("Took over"));

    // A killed instance leaves its block behind; the next start takes it over.
    ::kill(static_cast<pid_t>(second->processId()), SIGKILL);
    QVERIFY(second->waitForFinished(10000));
    QDir(logsDir()).removeRecursively();
    QProcess *next = start();
    QTRY_VERIFY_WITH_TIMEOUT(logContains("Main window displayed"), START_DEADLINE_MS);
    QTRY_VERIFY_WITH_TIMEOUT(logContains("Stored window handle"), START_DEADLINE_MS);
    QCOMPARE(next->state(), QProcess::Running);
    const QString log = allLogs();
    QVERIFY2(log.contains("Took over the single-instance block"), qPrintable(log));

    // The instance that took over is now the one that blocks further starts.
    QProcess *third = start();
    QVERIFY(third->waitForFinished(START_DEADLINE_MS));
    QCOMPARE(third->exitCode(), 0);
    QCOMPARE(next->state(), QProcess::Running);
}

void TestStartup::languageFollowsSystemLocaleThenStore()
{
    const QString language = QStringLiteral("General/language");
    const struct
    {
        QString lang;
        QString expected;
    } systems[] = {{"de_DE.UTF-8", "Loaded translation for: de_DE"},
                   {"sv_SE.UTF-8", "Loaded fallback translation (en_US)"}};
    for (const auto &system : systems) {
        QFile::remove(configFile());
        QDir(logsDir()).removeRecursively();
        QProcess *first = start({{"LANG", system.lang}});
        QTRY_VERIFY_WITH_TIMEOUT(logContains("Main window displayed"), START_DEADLINE_MS);
        const QString log = allLogs();
        QVERIFY2(log.contains("System locale: " + system.lang.left(5)), qPrintable(log));
        QVERIFY2(log.contains(system.expected), qPrintable(log));
        stop(first);

        // The main window stored the default language, so the next start follows the store.
        QCOMPARE(QSettings(configFile(), QSettings::NativeFormat).value(language).toString(),
                 QString("en_US"));
        QDir(logsDir()).removeRecursively();
        QProcess *second = start({{"LANG", system.lang}});
        QTRY_VERIFY_WITH_TIMEOUT(logContains("Main window displayed"), START_DEADLINE_MS);
        QVERIFY(!logContains("System locale:"));
        QVERIFY(logContains("Loaded translation for: en_US"));
        stop(second);
    }

    // A stored language without a translation falls back, and stays stored.
    QSettings(configFile(), QSettings::NativeFormat).setValue(language, "tlh_XX");
    QDir(logsDir()).removeRecursively();
    QProcess *last = start();
    QTRY_VERIFY_WITH_TIMEOUT(logContains("Main window displayed"), START_DEADLINE_MS);
    QVERIFY(logContains("Loaded fallback translation (en_US)"));
    stop(last);
    QCOMPARE(QSettings(configFile(), QSettings::NativeFormat).value(language).toString(),
             QString("tlh_XX"));
}

QTEST_GUILESS_MAIN(TestStartup)
#include "test-startup.moc"
