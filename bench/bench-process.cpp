#include "bench-process.h"

#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <unistd.h>

double BenchProcess::cpuSeconds(const QString &statFile)
{
    QFile file(statFile);
    if (!file.open(QIODevice::ReadOnly))
        return 0.0;
    const QByteArray stat = file.readAll();
    // utime and stime are the 14th and 15th fields, counted after the name's ')'.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0.0;
    return (fields.at(11).toDouble() + fields.at(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

long BenchProcess::peakMemoryKb(const QString &statusFile)
{
    QFile file(statusFile);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : file.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

void BenchProcess::spin(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}
