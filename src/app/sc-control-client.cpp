#include "sc-control-client.h"

#include "sc-command-line.h"
#include "sc-control-service.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>
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
    QString method;
    QVariantList arguments;
    switch (commandLine.action()) {
    case Action::ToggleRecording:
        method = QStringLiteral("ToggleRecording");
        break;
    case Action::StartRecording:
        method = QStringLiteral("StartRecording");
        arguments << commandLine.recordingOptions();
        break;
    case Action::StopRecording:
        method = QStringLiteral("StopRecording");
        break;
    case Action::PauseRecording:
        method = QStringLiteral("PauseRecording");
        break;
    case Action::ResumeRecording:
        method = QStringLiteral("ResumeRecording");
        break;
    case Action::Screenshot:
        method = QStringLiteral("TakeScreenshot");
        arguments << commandLine.screenshotMode() << commandLine.screenshotOptions();
        break;
    case Action::Start:
    case Action::Show:
        method = QStringLiteral("Show");
        break;
    case Action::Quit:
        method = QStringLiteral("Quit");
        break;
    case Action::Version:
    case Action::Help:
        return 0;
    }

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
