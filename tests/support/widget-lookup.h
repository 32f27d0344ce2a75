#pragma once

#include <QApplication>
#include <QString>
#include <QWidget>

// The named child of a window; a test without it cannot go on, so it stops there.
template<typename T> T *childOf(QObject *root, const char *name)
{
    T *widget = root->findChild<T *>(QString::fromLatin1(name));
    if (!widget)
        qFatal("no widget %s", name);
    return widget;
}

// The first visible top-level window of a type (a dialog, a frame, a note), or none.
template<typename T> T *visibleTopLevel()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *found = qobject_cast<T *>(w); found && found->isVisible())
            return found;
    }
    return nullptr;
}
