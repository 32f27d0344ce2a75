#pragma once

#include <QString>

class QLabel;
class QPushButton;
class QWidget;

// The title row of the program's small frameless windows: a centred title and, at the
// right, a close button whose icon lights up under the pointer. Object names are the ones
// the windows' style sheets select: "titleWidget", the given title name and "closeBtn".
class QVBoxLayout;

struct SCDialogTitleBar
{
    QWidget *bar = nullptr;
    QLabel *title = nullptr;
    QPushButton *closeButton = nullptr;

    // Set by createFrame: the window's central widget, its column with the bar on top.
    QWidget *central = nullptr;
    QVBoxLayout *column = nullptr;

    static SCDialogTitleBar create(const QString &text, const QString &titleObjectName,
                                   QWidget *parent);
    // The whole frame of a dialog-like window: a central widget whose column starts with the
    // title bar; the caller adds the body and sets the central widget.
    static SCDialogTitleBar createFrame(const QString &text, const QString &titleObjectName,
                                        QWidget *window);
};
