#pragma once

#include <QString>

class QLabel;
class QPushButton;
class QWidget;

// The title row of the program's small frameless windows: a centred title and, at the
// right, a close button whose icon lights up under the pointer. Object names are the ones
// the windows' style sheets select: "titleWidget", the given title name and "closeBtn".
struct SCDialogTitleBar
{
    QWidget *bar = nullptr;
    QLabel *title = nullptr;
    QPushButton *closeButton = nullptr;

    static SCDialogTitleBar create(const QString &text, const QString &titleObjectName,
                                   QWidget *parent);
};
