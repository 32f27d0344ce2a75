#pragma once

#include "sc-file-manager.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QListView>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// The file library: the stored list (test-file-manager.cpp) and the Files list on screen
// (test-file-manager-list.cpp), one program.

inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline QJsonArray readLibrary(const QString &path)
{
    return QJsonDocument::fromJson(readAll(path)).array();
}

inline void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), content.size());
}

inline QStringList pathsOf(const QList<FileData> &files)
{
    QStringList paths;
    for (const FileData &data : files)
        paths << data.filepath;
    return paths;
}

class TestFileManager : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    // the stored library
    void firstStartIsEmptyAndAddWritesTheFile();
    void orderIsPerList();
    void missingFilesArePrunedAtStart();
    void malformedLibraryIsKeptAside_data();
    void malformedLibraryIsKeptAside();
    void failedSavesKeepThePreviousLibrary();
    // the Files list: painting, icons, deleting
    void deleteIconAsksThenTakesOnlyItsEntry();
    void filtersAndDuplicates();
    void bulkDeletion_data();
    void bulkDeletion();
    void deletionThatFailsKeepsTheEntry();
    void rowsArePaintedWithHoverIconsTipsAndActions();
    void filesDeletedOutsideLeaveTheList();
    void doubleClickWithoutOpenerSaysSo();

private:
    QString makeFile(const QString &name);
    QListView *showView(SCFileManager &manager, const QString &filter);
    // A click on the delete (or folder) icon of a row of the list on show.
    void clickIcon(int row, bool folder = false);

    QTemporaryDir m_files;
    std::unique_ptr<QListView> m_view;
};
