#pragma once

#include <QDateTime>
#include <QString>

// Names of recording files: a typed name is a name, never a path, and a recording never
// replaces a file that already exists.
class SCRecordingName
{
public:
    static constexpr int MAX_NAME_BYTES = 200;

    // "Recording_" + the date and time, as the program names recordings by default.
    static QString generated(const QDateTime &when);

    // The typed name made safe as one file name: separators and control characters become
    // "_", leading dots and surrounding blanks go, and the result is cut to a length every
    // file system takes. Empty when nothing usable is left.
    static QString sanitize(const QString &typed);

    // The base name (folder + "/" + name, without extension) whose file with `extension`
    // does not exist yet: the name itself, else "name (2)", "name (3)", ...
    static QString uniqueBase(const QString &folder, const QString &name, const QString &extension);
};
