#pragma once

#include <QProcess>
#include <QRect>
#include <QString>

// The built program started as a desktop session starts it, in a private home: settings in
// `home`/config, library and log in `home`/data, Qt's platform its own choice.
namespace DesktopProgram {

QString configDir(const QString &home);
QString dataDir(const QString &home);
// Starts `executable` and waits until its engine is up and its control interface answers;
// false when it is not within half a minute.
bool start(QProcess &program, const QString &executable, const QString &home);
// Terminates it, and kills it when it does not end.
void stop(QProcess &program);
// "X,Y,WxH", as the control interface takes a region.
QString regionText(const QRect &region);

} // namespace DesktopProgram
