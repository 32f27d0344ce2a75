#include "sc-crash-handler.h"
#include "sc-logger.h"
#include "sc-main-window.h"
#include "sc-review-app-permissions-window.h"
#include "sc-settings.h"
#include "sc-single-instance.h"
#include "sc-translator.h"
#include "sc-unix-signal-watcher.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QIcon>
#include <QLocale>
#include <QSettings>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <memory>

namespace {

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

void chooseLanguage(QApplication &app, QSettings &settings, SCTranslator &translator)
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
// whatever is missing, start-up goes on afterwards.
void reviewPermissions()
{
    SCLogger *logger = SCLogger::instance();
    auto review = std::make_unique<SCReviewAppPermissionsWindow>();
    if (review->allGranted())
        return;
    logger->warning(QStringLiteral("Showing the permission review: screen %1, camera %2, "
                                   "sound server %3, global keys %4")
                            .arg(review->checkScreenRecordingPermission())
                            .arg(review->checkCameraPermission())
                            .arg(review->checkMicrophonePermission())
                            .arg(review->checkAccessibilityPermission()));
    QEventLoop loop;
    QObject::connect(review.get(), &SCReviewAppPermissionsWindow::closed, &loop, &QEventLoop::quit);
    review->show();
    loop.exec();
    logger->info(QStringLiteral("Permission review closed"));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(SCSettings::APPLICATION);
    QCoreApplication::setOrganizationName(SCSettings::ORGANIZATION);
    QCoreApplication::setApplicationVersion(QStringLiteral(VISTREL_VERSION));

    SCCrashHandler::initialize();

    auto app = std::make_unique<QApplication>(argc, argv);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/resources/AppIcon.svg")));

    auto instance = std::make_unique<SCSingleInstance>();
    const SCSingleInstance::Result guard = instance->acquire();
    switch (guard) {
    case SCSingleInstance::Result::AlreadyRunning:
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
    if (guard == SCSingleInstance::Result::TookOver) {
        logger->warning(QStringLiteral(
                "Took over the single-instance block of an instance that no longer runs"));
    }
    logger->info(QStringLiteral("Application starting..."));

    QApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings, true);

    auto settings = std::make_unique<QSettings>(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    auto translator = std::make_shared<SCTranslator>(app.get());
    chooseLanguage(*app, *settings, *translator);

    reviewPermissions();

    logger->info(QStringLiteral("Creating main window..."));
    auto mainWindow = std::make_unique<SCMainWindow>(nullptr);
    mainWindow->setTranslator(translator);
    mainWindow->show();
    logger->info(QStringLiteral("Main window displayed"));

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

    QTimer::singleShot(10, mainWindow.get(), &SCMainWindow::initObsRecording);

    if (instance->isAttached()) {
        instance->store({0, QCoreApplication::applicationPid()});
        logger->info(QStringLiteral("Stored window handle and process ID in shared memory"));
    }

    const int result = QApplication::exec();

    logger->info(QStringLiteral("Application exiting..."));
    instance->release();
    mainWindow.reset();
    translator.reset();
    settings.reset();
    instance.reset();
    app.reset();
    return result;
}
