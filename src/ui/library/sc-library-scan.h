#pragma once

#include "sc-file-data.h"

#include <QList>
#include <QString>

// Finds the files the program wrote into its save folders, by the names it gives them
// ("Recording_" or "Screenshot_" + date and time, with its counters) and its format
// extensions; recordings under other names cannot be told from the person's own files.
class SCLibraryScan
{
public:
    // Entries typed "video", "audio" or "screenshot", dated by the files' last change, newest
    // first. Only the folders themselves are searched, not their subfolders.
    static QList<FileData> programFiles(const QString &recordingFolder,
                                        const QString &screenshotFolder);

    // The type the program gives a file of this name, or an empty string for a file it did
    // not name.
    static QString typeOfName(const QString &fileName);
};
