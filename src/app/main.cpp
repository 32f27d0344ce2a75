#include "sc-command-line.h"
#include "sc-control-client.h"
#include "sc-control-service.h"
#include "sc-crash-handler.h"
#include "sc-desktop-integration.h"
#include "sc-desktop-session.h"
#include "sc-hardware-encoders.h"
#include "sc-logger.h"
#include "sc-main-window.h"
#include "sc-review-app-permissions-window.h"
#include "sc-session-end.h"
#include "sc-settings.h"
#include "sc-single-instance.h"
#include "sc-translator.h"
#include "sc-unix-signal-watcher.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QIcon>
#include <QLocale>
#include <QLoggingCategory>
#include <QSettings>
#include <QThreadPool>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <memory>
#include <unistd.h>

namespace {

// Set for the program that a command line started because none was running; it carries the
// command out itself once it is up.
constexpr char STARTED_FOR_COMMAND[] = "VISTREL_STARTED_FOR_COMMAND";
constexpr int START_HERE = -1;

QString savedLanguage(const QSettings &settings)
{
    return settings.contains(SCSettings::GENERAL_LANGUAGE)
            ? settings.value(SCSettings::GENERAL_LANGUAGE).toString()
            : QLocale::system().name();
}

// What a command line prints is in the language the person chose for the program.
void translateCommandLine(SCTranslator &translator)
{
    const QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    if (translator.load(savedLanguage(settings)))
        QCoreApplication::installTranslator(&translator);
}

// Milliseconds since the kernel started this process (to its clock tick), so that start-up
// figures include what runs before main.
qint64 msSinceProcessStart()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // The command name may hold spaces: fields are counted from after its closing bracket.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    const long ticks = sysconf(_SC_CLK_TCK);
    timespec now {};
    if (fields.size() < 20 || ticks <= 0 || clock_gettime(CLOCK_BOOTTIME, &now) != 0)
        return -1;
    const qint64 startMs = fields.at(19).toLongLong() * 1000 / ticks;
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000 - startMs;
}

void logStartUp(const char *what)
{
    SCLogger::instance()->info(QStringLiteral("%1 %2 ms after the process started")
                                       .arg(QLatin1String(what))
                                       .arg(msSinceProcessStart()));
}

// A command line given to a second process: answered here (help, version, errors) or sent to
// the running program. START_HERE when none runs and the command starts one.
int runCommandLine(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // Scripts read this process's output: no debugging chatter in it.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    SCTranslator translator;
    translateCommandLine(translator);

    SCCommandLine commandLine;
    if (!commandLine.parse(app.arguments())) {
        fprintf(stderr, "vistrel: %s\n\n%s", qPrintable(commandLine.errorText()),
                qPrintable(commandLine.helpText()));
        return 2;
    }
    switch (commandLine.action()) {
    case SCCommandLine::Action::Help:
        printf("%s", qPrintable(commandLine.helpText()));
        return 0;
    case SCCommandLine::Action::Version:
        printf("Vistrel %s\n", VISTREL_VERSION);
        return 0;
    default:
        break;
    }
    if (SCControlClient::isServiceRunning())
        return SCControlClient::send(commandLine);
    if (commandLine.needsRunningInstance()) {
        fprintf(stderr, "vistrel: %s\n",
                qPrintable(
                        QCoreApplication::translate("SCCommandLine", "Vistrel is not running.")));
        return 1;
    }
    // Found now rather than after the program has started for nothing.
    SCControlError error;
    if (commandLine.action() == SCCommandLine::Action::StartRecording)
        SCRecordingRequest::fromOptions(commandLine.recordingOptions(), &error);
    else if (commandLine.action() == SCCommandLine::Action::Screenshot) {
        const SCScreenshotRequest request = SCScreenshotRequest::fromOptions(
                commandLine.screenshotMode(), commandLine.screenshotOptions(), &error);
        if (!error.isError() && request.mode == SCScreenshotRequest::Mode::LastRegion
            && QSettings(SCSettings::ORGANIZATION, SCSettings::APPLICATION)
                       .value(SCSettings::SCREENSHOT_LAST_REGION)
                       .toRect()
                       .isEmpty())
            error = {SCControlErrors::FAILED,
                     QCoreApplication::translate("SCMainWindow",
                                                 "No region has been captured yet.")};
    }
    if (error.isError()) {
        fprintf(stderr, "vistrel: %s\n", qPrintable(error.message));
        return 1;
    }
    return START_HERE;
}

// The command a program started for it carries out once its window is up.
void carryOut(const SCCommandLine &commandLine, SCControlService &service)
{
    switch (commandLine.action()) {
    case SCCommandLine::Action::ToggleRecording:
        service.ToggleRecording();
        break;
    case SCCommandLine::Action::StartRecording:
        service.StartRecording(commandLine.recordingOptions());
        break;
    case SCCommandLine::Action::Screenshot:
        service.TakeScreenshot(commandLine.screenshotMode(), commandLine.screenshotOptions());
        break;
    default:
        break;
    }
}

// A second start asks the running instance to come forward: its window restored and raised,
// wherever it was. The block's handle stays 0; the process id names whom to ask.
void activateRunningInstance(quint64 windowHandle, qint64 processId)
{
    Q_UNUSED(windowHandle);
    if (processId > 0 && SCSingleInstance::isInstanceAlive(processId))
        ::kill(static_cast<pid_t>(processId), SIGUSR1);
}

void startLog()
{
    SCLogger *logger = SCLogger::instance();
    const QString dir = SCLogger::defaultLogDirectory();
    QDir logDir(dir);
    if (!logDir.exists())
        logDir.mkpath(QStringLiteral("."));
    const QString path = dir + QStringLiteral("/screen-recorder_")
            + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"))
            + QStringLiteral(".log");
    if (!logger->initialize(path)) {
        fputs("Failed to initialize logger\n", stderr);
    } else {
        logger->info(QStringLiteral("Logger initialized successfully"));
        logger->info(QStringLiteral("Log file: %1").arg(path));
    }
}

void chooseLanguage(QApplication &app, const QSettings &settings, SCTranslator &translator)
{
    SCLogger *logger = SCLogger::instance();
    QString code;
    if (settings.contains(SCSettings::GENERAL_LANGUAGE)) {
        code = settings.value(SCSettings::GENERAL_LANGUAGE).toString();
    } else {
        code = QLocale::system().name();
        logger->info(QStringLiteral("System locale: %1").arg(code));
    }
    if (translator.load(code)) {
        app.installTranslator(&translator);
        logger->info(QStringLiteral("Loaded translation for: %1").arg(code));
    } else {
        translator.load(QStringLiteral("en_US"));
        app.installTranslator(&translator);
        logger->info(QStringLiteral("Loaded fallback translation (en_US)"));
    }
}

// Shows what the session lacks, if anything, and waits until the user closes the window;
// whatever is missing, start-up goes on afterwards. A program that a command line started only
// logs it: a script or a key binding waits for its command, not for someone to close a window.
void reviewPermissions(bool wait)
{
    SCLogger *logger = SCLogger::instance();
    auto review = std::make_unique<SCReviewAppPermissionsWindow>();
    if (review->allGranted())
        return;
    logger->warning(QStringLiteral("%1: screen %2, camera %3, sound server %4, global keys %5")
                            .arg(wait ? QStringLiteral("Showing the permission review")
                                      : QStringLiteral("Started for a command, not showing the "
                                                       "permission review"))
                            .arg(review->checkScreenRecordingPermission())
                            .arg(review->checkCameraPermission())
                            .arg(review->checkMicrophonePermission())
                            .arg(review->checkAccessibilityPermission()));
    if (!wait)
        return;
    QEventLoop loop;
    QObject::connect(review.get(), &SCReviewAppPermissionsWindow::closed, &loop, &QEventLoop::quit);
    review->show();
    loop.exec();
    logger->info(QStringLiteral("Permission review closed"));
}

// A command for a program that is still starting (its permission review may be open): handed
// over once it is on the bus, or refused with a reason after a while.
int handOver(const SCCommandLine &commandLine)
{
    if (SCControlClient::waitForService(30000))
        return SCControlClient::send(commandLine);
    SCTranslator translator;
    translateCommandLine(translator);
    fprintf(stderr, "vistrel: %s\n",
            qPrintable(QCoreApplication::translate(
                    "SCCommandLine",
                    "Vistrel is still starting. If its permission review window is open, close "
                    "it and try again.")));
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(SCSettings::APPLICATION);
    QCoreApplication::setOrganizationName(SCSettings::ORGANIZATION);
    QCoreApplication::setApplicationVersion(QStringLiteral(VISTREL_VERSION));

    if (argc > 1 && !qEnvironmentVariableIsSet(STARTED_FOR_COMMAND)) {
        const int status = runCommandLine(argc, argv);
        if (status != START_HERE)
            return status;
        // A fresh process image: nothing of the command-line side's bus connection remains.
        qputenv(STARTED_FOR_COMMAND, "1");
        execv("/proc/self/exe", argv);
        perror("vistrel");
        return 1;
    }
    const bool startedForCommand = qEnvironmentVariableIsSet(STARTED_FOR_COMMAND);
    qunsetenv(STARTED_FOR_COMMAND);

    SCCrashHandler::initialize();

    const QString qtPlatform = SCDesktopSession::chooseQtPlatform();
    auto app = std::make_unique<QApplication>(argc, argv);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/resources/AppIcon.svg")));

    SCCommandLine commandLine;
    if (startedForCommand)
        commandLine.parse(QCoreApplication::arguments());

    auto instance = std::make_unique<SCSingleInstance>();
    const SCSingleInstance::Result guard = instance->acquire();
    switch (guard) {
    case SCSingleInstance::Result::AlreadyRunning:
        // Another start got there first: the command goes to it once it is on the bus.
        if (startedForCommand)
            return handOver(commandLine);
        activateRunningInstance(instance->runningInstance().windowHandle,
                                instance->runningInstance().processId);
        return 0;
    case SCSingleInstance::Result::Unguarded:
        SCLogger::instance()->error(
                QStringLiteral("Unable to create shared memory: %1").arg(instance->errorString()));
        break;
    case SCSingleInstance::Result::TookOver:
    case SCSingleInstance::Result::Created:
        SCLogger::instance()->info(QStringLiteral("Created shared memory for single instance"));
        break;
    }

    startLog();
    SCLogger *logger = SCLogger::instance();
    logger->info(
            QStringLiteral("%1; windows on Qt's %2 platform%3")
                    .arg(SCDesktopSession::describe(), QGuiApplication::platformName(),
                         qtPlatform.isEmpty() ? QString() : QStringLiteral(" (XWayland, chosen)")));
    if (guard == SCSingleInstance::Result::TookOver) {
        logger->warning(QStringLiteral(
                "Took over the single-instance block of an instance that no longer runs"));
    }
    logger->info(QStringLiteral("Application starting..."));

    QApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings, true);

    auto settings = std::make_unique<QSettings>(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    auto translator = std::make_shared<SCTranslator>(app.get());
    chooseLanguage(*app, *settings, *translator);

    reviewPermissions(!startedForCommand);

    logger->info(QStringLiteral("Creating main window..."));
    auto mainWindow = std::make_unique<SCMainWindow>(nullptr);
    mainWindow->setTranslator(translator);
    // Tray icon and notifications; a child of the window, gone with it.
    new SCDesktopIntegration(mainWindow.get());
    QObject::connect(mainWindow.get(), &SCMainWindow::firstPainted,
                     [] { logStartUp("Main window shown"); });
    QObject::connect(mainWindow.get(), &SCMainWindow::engineReady, [] {
        logStartUp("Engine ready");
        // Opening a graphics card's encoder can take a moment: known before the first
        // recording asks.
        QThreadPool::globalInstance()->start([] { SCHardwareEncoders::probes(); });
    });
    // The engine starts once the window's first picture is on screen, so the window never
    // waits for it; a window that is not painted soon (started hidden) starts it anyway.
    QTimer engineStart;
    engineStart.setSingleShot(true);
    QObject::connect(&engineStart, &QTimer::timeout, mainWindow.get(),
                     &SCMainWindow::initObsRecording);
    QObject::connect(mainWindow.get(), &SCMainWindow::firstPainted, &engineStart, [&engineStart] {
        if (engineStart.isActive())
            engineStart.start(0);
    });
    engineStart.start(1000);
    mainWindow->show();
    logger->info(QStringLiteral("Main window displayed"));
    SCSessionEnd::arm([window = mainWindow.get()] { window->finishFilesNow(); });
    QObject::connect(mainWindow.get(), &SCMainWindow::engineReady, &SCSessionEnd::renew);
    QObject::connect(mainWindow.get(), &SCMainWindow::recordingStarted, &SCSessionEnd::renew);

    SCUnixSignalWatcher signalWatcher;
    QObject::connect(&signalWatcher, &SCUnixSignalWatcher::terminationRequested, app.get(),
                     [logger](int sig) {
                         logger->info(QStringLiteral("Signal %1 received, quitting").arg(sig));
                         QApplication::quit();
                     });
    QObject::connect(&signalWatcher, &SCUnixSignalWatcher::activationRequested, mainWindow.get(),
                     [logger, window = mainWindow.get()] {
                         logger->info(QStringLiteral("A second start: showing the window"));
                         window->bringToFront();
                     });

    auto controlService = std::make_unique<SCControlService>(mainWindow.get());
    controlService->registerOnBus();
    if (startedForCommand) {
        logger->info(QStringLiteral("Started for the command line: %1")
                             .arg(QCoreApplication::arguments().mid(1).join(QLatin1Char(' '))));
        carryOut(commandLine, *controlService);
    }

    if (instance->isAttached()) {
        instance->store({0, QCoreApplication::applicationPid()});
        logger->info(QStringLiteral("Stored window handle and process ID in shared memory"));
    }

    const int result = QApplication::exec();
    SCSessionEnd::disarm();

    logger->info(QStringLiteral("Application exiting..."));
    instance->release();
    controlService.reset();
    mainWindow.reset();
    translator.reset();
    settings.reset();
    instance.reset();
    app.reset();
    return result;
}
