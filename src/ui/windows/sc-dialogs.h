#pragma once

#include <QCoreApplication>
#include <QString>

class QWidget;

// The program's own message boxes and folder chooser, in its dark look: Qt's widget-based
// dialogs with a dark palette, so that they match the windows around them whatever the
// desktop's theme.
class SCDialogs
{
    Q_DECLARE_TR_FUNCTIONS(SCDialogs)

public:
    // Gives every message box and file dialog of the program the dark palette. Safe to
    // call more than once.
    static void useDarkDialogs();
    // The style sheet the program's message boxes carry.
    static QString messageBoxStyle();

    static void warn(QWidget *parent, const QString &title, const QString &text);

    // Asks for a folder to save into. A folder the program cannot write to is refused with
    // a message saying why; the result is then empty, as when the user cancels.
    static QString chooseSaveFolder(QWidget *parent, const QString &title, const QString &start);
    // Whether a file can really be created in `folder` (permission bits say little for root
    // or on some mounts); `reason` says why not, for the user.
    static bool isWritableFolder(const QString &folder, QString *reason);
};
