#pragma once

#include "sc-file-data.h"

#include <QList>
#include <QObject>
#include <QPointer>

class QListView;
class QStandardItemModel;

// The library of files the program produced, kept in file_data.json and shown in a list view.
class SCFileManager : public QObject
{
    Q_OBJECT

public:
    class FileItemDelegate;

    // The full path of a row's file is stored under this role.
    static constexpr int PathRole = Qt::UserRole + 1;

    explicit SCFileManager(QObject *parent = nullptr);
    ~SCFileManager() override;

    void addFile(const QString &filePath, const QString &type);
    QList<FileData> getAllFiles() const;
    QList<FileData> getFilesByType(const QString &type) const;

    void updateListView(QListView *view, const QString &filter);
    void selectListViewItemByIndex(int row);
    void reverseFileOrder();
    void deleteSelectedFiles(QListView *view);

    bool loadFromFile();
    bool saveToFile();
    QString getDataFilePath() const;
    QString loadMessageBoxStyle() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool handleMousePress(QListView *view, const QPoint &pos);
    void deleteSingleFile(QListView *view, const QModelIndex &index, const QString &path);
    bool keepBrokenDataFile(const QString &path, const QString &reason);
    bool writeDocument(const QByteArray &json);
    void removeFirstEntry(const QString &path);

    QList<FileData> m_files;
    QPointer<QListView> m_listView;
    QStandardItemModel *m_model = nullptr;
    FileItemDelegate *m_delegate = nullptr;
    // Set when a damaged library could not be kept aside: saving would destroy it.
    bool m_saveBlocked = false;
};
