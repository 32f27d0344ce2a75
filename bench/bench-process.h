#pragma once

#include <QString>

// What /proc says of a process or thread, and a wait that keeps Qt's events flowing.
namespace BenchProcess {

// User and system seconds from a /proc/.../stat file; 0 when it cannot be read.
double cpuSeconds(const QString &statFile);
// VmHWM from a /proc/PID/status file, in kB; 0 when it cannot be read.
long peakMemoryKb(const QString &statusFile);
void spin(int milliseconds);

} // namespace BenchProcess
