#pragma once

#include <QColor>
#include <QPoint>
#include <QString>
#include <QStringList>

// Real pointer and keyboard input on the session's X server, through xdotool.
bool xdotool(const QStringList &arguments);
// What xdotool printed (window ids, geometry), empty when it failed.
QString xdotoolOutput(const QStringList &arguments);
// Moves the pointer and waits until Qt sees it there.
bool movePointer(int x, int y);
inline bool movePointer(const QPoint &point)
{
    return movePointer(point.x(), point.y());
}
// A press at `from`, moves in steps to `to`, and a release there.
bool dragPointer(const QPoint &from, const QPoint &to, int steps = 8);
bool clickAt(const QPoint &point);
// The colour the X server shows at a point of the screen.
QColor screenPixel(const QPoint &point);
// The session's window manager may still be starting when a test begins, and a window mapped
// before it takes over the screen may never be managed.
bool waitForWindowManager(int timeoutMs = 30000);
