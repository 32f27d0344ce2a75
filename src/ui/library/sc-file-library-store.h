#pragma once

#include "sc-file-data.h"

#include <QList>
#include <QString>

// file_data.json in the application data folder: the library as a JSON array of entries.
// A damaged file is never overwritten: it is kept aside under a dated name first, and if that
// fails, nothing is written to it for the rest of the run.
class SCFileLibraryStore
{
public:
    struct Loaded
    {
        // False when there is no readable library, or when it could not be rewritten.
        bool ok = false;
        // The entries whose files exist, in stored order.
        QList<FileData> files;
        bool damaged = false;
        // Where a damaged library was kept; empty when it could not be kept aside.
        QString damagedCopy;
    };

    QString path() const;
    // Entries whose files are gone are dropped, and the file is rewritten without them,
    // the remaining entries exactly as they were read.
    Loaded load();
    bool save(const QList<FileData> &files);

private:
    QString keepAside(const QString &reason);
    bool write(const QByteArray &json);

    bool m_blocked = false;
};
