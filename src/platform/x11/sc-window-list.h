#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QtGui/qwindowdefs.h>

struct SCWindowInfo
{
    WId id = 0;
    // Global logical coordinates, including the window manager's frame.
    QRect frame;
    QString title;

    bool isValid() const { return id != 0; }
};

// The managed top-level windows of the desktop, as the window manager stacks them.
class SCWindowList
{
public:
    // Client windows, topmost first.
    static QList<WId> stackingOrder();
    // The visible window whose frame holds `globalPos`, skipping `excluded`.
    static SCWindowInfo windowAt(const QPoint &globalPos, const QList<WId> &excluded = {});
    static QRect frameGeometry(WId window);
    // False once the window is destroyed; a minimized window still exists.
    static bool exists(WId window);
    // "_NET_WM_NAME", else "WM_NAME"; empty when the window has neither.
    static QString title(WId window);
    // This process's own windows, which pickers leave out.
    static QList<WId> ownWindows();
};
