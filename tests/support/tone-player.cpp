#include "tone-player.h"

std::unique_ptr<QProcess> playTone(double seconds, const QString &sink, int hz, double silenceFirst)
{
    auto process = std::make_unique<QProcess>();
    const QString device = sink.isEmpty() ? QString() : QStringLiteral(" -d ") + sink;
    process->start(QStringLiteral("sh"),
                   {QStringLiteral("-c"),
                    QStringLiteral("sox -q -n -t wav - synth %1 sine %2 pad %3 | paplay%4")
                            .arg(seconds)
                            .arg(hz)
                            .arg(silenceFirst)
                            .arg(device)});
    process->waitForStarted();
    return process;
}
