#pragma once

#include <QCoreApplication>
#include <QStringList>

// The confirmation before files leave the library. It names the files, and its "from disk as
// well" box changes the question and the button, so that it is plain which of the two
// happens: the entries leave the list, or the files are deleted.
class SCFileDeleteDialog
{
    Q_DECLARE_TR_FUNCTIONS(SCFileDeleteDialog)

public:
    enum class Choice { Cancel, RemoveFromList, DeleteFromDisk };

    // Shown modally for one or more paths, styled with `style`. Cancel is the default.
    static Choice ask(const QStringList &paths, const QString &style);

    // At most this many names are listed; the rest are counted.
    static constexpr int LISTED_NAMES = 3;
};
