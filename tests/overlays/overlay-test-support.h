#pragma once

#include <QCursor>
#include <QProcess>
#include <QStringList>
#include <QTest>

// Real pointer and keyboard input on the session's X server.
inline bool xdotool(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    if (!process.waitForFinished(10000))
        return false;
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Moves the pointer and waits until Qt sees it there.
inline bool movePointer(int x, int y)
{
    if (!xdotool({"mousemove", QString::number(x), QString::number(y)}))
        return false;
    return QTest::qWaitFor([&] { return QCursor::pos() == QPoint(x, y); }, 5000);
}

// A press at `from`, moves in steps to `to`, and a release there.
inline bool dragPointer(const QPoint &from, const QPoint &to, int steps = 8)
{
    QStringList args {"mousemove", QString::number(from.x()), QString::number(from.y()),
                      "mousedown", "1"};
    for (int i = 1; i <= steps; ++i) {
        const QPoint p = from + (to - from) * i / steps;
        args << "sleep"
             << "0.03"
             << "mousemove" << QString::number(p.x()) << QString::number(p.y());
    }
    args << "sleep"
         << "0.05"
         << "mouseup"
         << "1";
    return xdotool(args);
}
