#include "desktop-program.h"

#include "control-bus.h"
#include "lean-a-files.h"

#include <QProcessEnvironment>
#include <QTest>

namespace DesktopProgram {

QString configDir(const QString &home)
{
    return home + QStringLiteral("/config");
}

QString dataDir(const QString &home)
{
    return home + QStringLiteral("/data");
}

bool start(QProcess &program, const QString &executable, const QString &home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configDir(home));
    env.insert(QStringLiteral("XDG_DATA_HOME"), dataDir(home));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.setStandardOutputFile(QProcess::nullDevice());
    program.start(executable, {});
    if (!program.waitForStarted())
        return false;
    const QString data = dataDir(home);
    return QTest::qWaitFor([&] { return logsUnder(data).contains("OBS initialized successfully"); },
                           30000)
            && QTest::qWaitFor([] { return ControlBus::serviceRunning(); }, 10000);
}

void stop(QProcess &program)
{
    if (program.state() == QProcess::NotRunning)
        return;
    program.terminate();
    if (!program.waitForFinished(15000)) {
        program.kill();
        program.waitForFinished();
    }
}

QString regionText(const QRect &region)
{
    return QStringLiteral("%1,%2,%3x%4")
            .arg(region.x())
            .arg(region.y())
            .arg(region.width())
            .arg(region.height());
}

} // namespace DesktopProgram
