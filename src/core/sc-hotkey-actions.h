#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// What a hotkey can do, named once for every way a key reaches the program: its own key
// grabs, the desktop's shortcut portal, and a desktop shortcut that runs a command.
struct SCHotkeyAction
{
    // Stable: the desktop keeps its shortcuts by these ids.
    QString id;
    // Where the key is kept.
    QString settingsKey;
    // The command line that does the same in the running program.
    QStringList arguments;
    // The English name, translated by label().
    const char *name;
};

class SCHotkeyActions
{
public:
    static const QVector<SCHotkeyAction> &all();
    static const SCHotkeyAction *find(const QString &id);
    static QString label(const SCHotkeyAction &action);
    // How a shortcut outside the program starts it: "vistrel" when that is what the search
    // path finds, else this executable's full path.
    static QString program();
    // The command for `action` as `executable` runs it, quoted for a shell.
    static QString command(const SCHotkeyAction &action, const QString &executable);
    static QString command(const SCHotkeyAction &action) { return command(action, program()); }
    static QString shellQuoted(const QString &word);
};
