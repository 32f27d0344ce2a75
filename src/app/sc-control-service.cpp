#include "sc-control-service.h"

#include "sc-control-request.h"
#include "sc-logger.h"
#include "sc-main-window.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QTimer>

namespace {

SCLogger *logger()
{
    return SCLogger::instance();
}

} // namespace

SCControlService::SCControlService(SCMainWindow *window, QObject *parent)
    : QObject(parent)
    , m_window(window)
{
    connect(window, &SCMainWindow::recordingStarted, this, [this](const QString &path) {
        answer(m_waitingForStart, path);
        emit RecordingStarted(path);
    });
    connect(window, &SCMainWindow::recordingStartFailed, this,
            [this](const QString &errorName, const QString &reason) {
                refuse(m_waitingForStart, errorName, reason);
                if (errorName == SCControlErrors::FAILED)
                    emit RecordingFailed(reason);
            });
    connect(window, &SCMainWindow::recordingFinished, this, [this](const QString &path) {
        answer(m_waitingForStop, path);
        emit RecordingFinished(path);
    });
    connect(window, &SCMainWindow::recordingFailed, this, [this](const QString &reason) {
        refuse(m_waitingForStop, SCControlErrors::FAILED, reason);
        emit RecordingFailed(reason);
    });
    connect(window, &SCMainWindow::screenshotFinished, this,
            [this](const QString &path) { answer(m_waitingForScreenshot, path); });
    connect(window, &SCMainWindow::screenshotFailed, this, [this](const QString &reason) {
        refuse(m_waitingForScreenshot, SCControlErrors::FAILED, reason);
    });
    connect(window, &SCMainWindow::screenshotSaved, this, &SCControlService::ScreenshotSaved);
    connect(window, &SCMainWindow::controlStateChanged, this, &SCControlService::announceState);
}

bool SCControlService::registerOnBus()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        logger()->warning(QStringLiteral("No session bus (%1): the control interface is off")
                                  .arg(bus.lastError().message()));
        return false;
    }
    if (!bus.registerObject(PATH, this,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals
                                    | QDBusConnection::ExportAllProperties)) {
        logger()->warning(QStringLiteral("The control object could not be put on the bus: %1")
                                  .arg(bus.lastError().message()));
        return false;
    }
    if (!bus.registerService(SERVICE)) {
        logger()->warning(QStringLiteral("The bus name %1 could not be had: %2")
                                  .arg(SERVICE, bus.lastError().message()));
        bus.unregisterObject(PATH);
        return false;
    }
    logger()->info(QStringLiteral("Control interface on the session bus as %1").arg(SERVICE));
    return true;
}

QString SCControlService::state() const
{
    return m_window ? m_window->controlState() : QStringLiteral("idle");
}

SCControlService::Pending SCControlService::takeCall(bool returnsPath)
{
    Pending call;
    call.returnsPath = returnsPath;
    if (calledFromDBus()) {
        setDelayedReply(true);
        call.message = message();
        call.fromBus = true;
    }
    return call;
}

void SCControlService::answer(QList<Pending> &waiting, const QString &path)
{
    const QList<Pending> calls = std::exchange(waiting, {});
    for (const Pending &call : calls) {
        if (!call.fromBus)
            continue;
        QDBusMessage reply = call.message.createReply();
        if (call.returnsPath)
            reply << path;
        QDBusConnection::sessionBus().send(reply);
    }
}

void SCControlService::refuse(QList<Pending> &waiting, const QString &errorName,
                              const QString &message)
{
    const QList<Pending> calls = std::exchange(waiting, {});
    for (const Pending &call : calls) {
        if (call.fromBus)
            QDBusConnection::sessionBus().send(call.message.createErrorReply(errorName, message));
        else
            logger()->warning(QStringLiteral("Command not carried out: %1").arg(message));
    }
}

void SCControlService::refuseCall(const QString &errorName, const QString &message)
{
    if (calledFromDBus())
        sendErrorReply(errorName, message);
    else
        logger()->warning(QStringLiteral("Command not carried out: %1").arg(message));
}

void SCControlService::whenEngineReady(const std::function<void()> &call)
{
    if (m_window->isEngineReady()) {
        call();
        return;
    }
    logger()->info(QStringLiteral("A command waits for the recording engine"));
    connect(m_window, &SCMainWindow::engineReady, this, call, Qt::SingleShotConnection);
}

QString SCControlService::StartRecording(const QVariantMap &options)
{
    SCControlError error;
    const SCRecordingRequest request = SCRecordingRequest::fromOptions(options, &error);
    if (error.isError()) {
        refuseCall(error.name, error.message);
        return {};
    }
    if (state() != QLatin1String("idle") || !m_waitingForStart.isEmpty()) {
        refuseCall(SCControlErrors::ALREADY_RECORDING, tr("A recording is already running."));
        return {};
    }
    startRecording(request, takeCall());
    return {};
}

void SCControlService::startRecording(const SCRecordingRequest &request, Pending call)
{
    m_waitingForStart.append(call);
    whenEngineReady([this, request] {
        // Called off while the engine came up.
        if (!m_waitingForStart.isEmpty())
            m_window->startRequested(request);
    });
}

QString SCControlService::StopRecording()
{
    const QString now = state();
    if (now == QLatin1String("idle")) {
        if (!m_waitingForStart.isEmpty()) {
            // Asked for before the engine was up: the start is called off.
            refuse(m_waitingForStart, SCControlErrors::CANCELLED,
                   tr("The recording was stopped before it started."));
            return {};
        }
        refuseCall(SCControlErrors::NOT_RECORDING, tr("No recording is running."));
        return {};
    }
    stopRecording(takeCall());
    return {};
}

void SCControlService::stopRecording(Pending call)
{
    if (state() == QLatin1String("countdown")) {
        // Nothing was recorded yet: there is no file to wait for.
        m_window->stopRequested();
        m_waitingForStop.append(call);
        answer(m_waitingForStop, QString());
        return;
    }
    m_waitingForStop.append(call);
    if (state() != QLatin1String("stopping"))
        m_window->stopRequested();
}

void SCControlService::ToggleRecording()
{
    if (state() == QLatin1String("idle") && m_waitingForStart.isEmpty())
        startRecording(SCRecordingRequest(), takeCall(false));
    else if (state() != QLatin1String("idle"))
        stopRecording(takeCall(false));
}

void SCControlService::PauseRecording()
{
    setPaused(true);
}

void SCControlService::ResumeRecording()
{
    setPaused(false);
}

void SCControlService::TogglePause()
{
    // Asked of the state when the call comes, so that a key pressed twice does both.
    setPaused(state() != QLatin1String("paused"));
}

void SCControlService::setPaused(bool pause)
{
    const QString now = state();
    if (now != QLatin1String("recording") && now != QLatin1String("paused")) {
        refuseCall(SCControlErrors::NOT_RECORDING, tr("No recording is running."));
        return;
    }
    if (!m_window->pauseRequested(pause)) {
        refuseCall(SCControlErrors::FAILED,
                   pause ? tr("The recording could not be paused.")
                         : tr("The recording could not be resumed."));
    }
}

QString SCControlService::TakeScreenshot(const QString &mode, const QVariantMap &options)
{
    SCControlError error;
    const SCScreenshotRequest request = SCScreenshotRequest::fromOptions(mode, options, &error);
    if (error.isError()) {
        refuseCall(error.name, error.message);
        return {};
    }
    if (!m_waitingForScreenshot.isEmpty()) {
        refuseCall(SCControlErrors::BUSY, tr("A screenshot is already being taken."));
        return {};
    }
    m_waitingForScreenshot.append(takeCall());
    m_window->screenshotRequested(request);
    return {};
}

void SCControlService::Show()
{
    m_window->bringToFront();
}

void SCControlService::Quit()
{
    // The answer goes out before the program winds down.
    QTimer::singleShot(0, m_window, &SCMainWindow::quitRequested);
}

void SCControlService::announceState(const QString &state)
{
    QDBusMessage changed
            = QDBusMessage::createSignal(PATH, QStringLiteral("org.freedesktop.DBus.Properties"),
                                         QStringLiteral("PropertiesChanged"));
    changed << INTERFACE << QVariantMap {{QStringLiteral("State"), state}} << QStringList();
    QDBusConnection::sessionBus().send(changed);
}
