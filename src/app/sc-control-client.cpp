#include "sc-control-client.h"

#include "sc-command-line.h"
#include "sc-control-service.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QHash>
#include <QThread>

#include <cstdio>

namespace {

// A start waits for its countdown, a stop for the file, a screenshot for the person's choice.
constexpr int CALL_TIMEOUT_MS = 10 * 60 * 1000;

QString tr(const char *text)
{
    return QCoreApplication::translate("SCControlClient", text);
}

void printError(const QString &message)
{
    fprintf(stderr, "vistrel: %s\n", qPrintable(message));
}

} // namespace

bool SCControlClient::isServiceRunning()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface()
            && bus.interface()->isServiceRegistered(SCControlService::SERVICE).value();
}

bool SCControlClient::waitForService(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!isServiceRunning()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(100);
    }
    return true;
}

int SCControlClient::send(const SCCommandLine &commandLine)
{
    using Action = SCCommandLine::Action;
    static const QHash<Action, QString> METHODS = {
            {Action::ToggleRecording, QStringLiteral("ToggleRecording")},
            {Action::StartRecording, QStringLiteral("StartRecording")},
            {Action::StopRecording, QStringLiteral("StopRecording")},
            {Action::PauseRecording, QStringLiteral("PauseRecording")},
            {Action::ResumeRecording, QStringLiteral("ResumeRecording")},
            {Action::TogglePause, QStringLiteral("TogglePause")},
            {Action::Screenshot, QStringLiteral("TakeScreenshot")},
            {Action::Start, QStringLiteral("Show")},
            {Action::Show, QStringLiteral("Show")},
            {Action::Quit, QStringLiteral("Quit")},
    };
    const QString method = METHODS.value(commandLine.action());
    if (method.isEmpty())
        return 0;
    QVariantList arguments;
    if (commandLine.action() == Action::StartRecording)
        arguments << commandLine.recordingOptions();
    else if (commandLine.action() == Action::Screenshot)
        arguments << commandLine.screenshotMode() << commandLine.screenshotOptions();

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        printError(tr("No session bus: %1").arg(bus.lastError().message()));
        return 1;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
            SCControlService::SERVICE, SCControlService::PATH, SCControlService::INTERFACE, method);
    call.setArguments(arguments);
    const QDBusMessage reply = bus.call(call, QDBus::Block, CALL_TIMEOUT_MS);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        printError(reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage());
        return 1;
    }
    const QList<QVariant> values = reply.arguments();
    if (!values.isEmpty() && !values.first().toString().isEmpty())
        printf("%s\n", qPrintable(values.first().toString()));
    return 0;
}
