#pragma once

#include "sc-file-data.h"
#include "sc-file-library-store.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>

class QAbstractButton;
class QFileSystemWatcher;
class QLabel;
class QListView;
class QStandardItemModel;
class QTimer;

// The library of files the program produced, kept in file_data.json and shown in a list view.
// The stored list is newest first; each list of the Files page (one per type) is shown in its
// own order, kept in the settings. Entries whose files are deleted outside the program leave
// the library while it runs.
class SCFileManager : public QObject
{
    Q_OBJECT

public:
    class FileItemDelegate;

    // The full path of a row's file is stored under this role.
    static constexpr int PathRole = Qt::UserRole + 1;
    // Whether a row's file can be trimmed (a recording of a type the trimmer cuts).
    static constexpr int TrimmableRole = Qt::UserRole + 2;
    // Object name of the context menu of a row.
    static inline const QString CONTEXT_MENU_NAME = QStringLiteral("fileContextMenu");
    // Object name of the message about a damaged library.
    static inline const QString DAMAGED_MESSAGE_NAME = QStringLiteral("libraryDamagedMessage");

    explicit SCFileManager(QObject *parent = nullptr);
    ~SCFileManager() override;

    void addFile(const QString &filePath, const QString &type);
    QList<FileData> getAllFiles() const;
    QList<FileData> getFilesByType(const QString &type) const;

    void updateListView(QListView *view, const QString &filter);
    void selectListViewItemByIndex(int row);
    // Selects the entry added last, at the top or the bottom of the list by its order.
    void selectNewestEntry();
    // Turns the order of the list on show; the new order is kept for that list.
    void reverseFileOrder();
    void deleteSelectedFiles(QListView *view);
    // Opens the Trim window on a recording; the file it saves joins the library.
    void openTrimWindow(const QString &path);

    // The settings key holding the order of the list with this filter.
    static QString orderKey(const QString &filter);
    bool isNewestFirst(const QString &filter) const;
    // The button that reverses the order shows the order of the list on show.
    void setOrderButton(QAbstractButton *button);
    // Sets the texts of the list's placeholder and the order button in the current language.
    void retranslate();

    // Drops the entries whose files are gone; returns how many.
    int dropMissingFiles();
    // Lists again the files the program wrote into the save folders of the settings that the
    // library does not hold; returns how many were added.
    int rebuildFromSaveFolders();

    bool loadFromFile();
    bool saveToFile();
    QString getDataFilePath() const;
    QString loadMessageBoxStyle() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool handleMousePress(QListView *view, const QPoint &pos);
    void showContextMenu(QListView *view, const QPoint &pos);
    void addTrimmedFile(const QString &source, const QString &path);
    void deleteSingleFile(QListView *view, const QModelIndex &index, const QString &path);
    bool removeFromDisk(const QString &path, QStringList *failures);
    void reportFailedDeletions(const QStringList &failures, QWidget *parent);
    void removeFirstEntry(const QString &path);
    void removeRows(const QStringList &paths);
    void sortNewestFirst();
    void watchFolders();
    void offerRebuild();
    void updatePlaceholder();
    void updateOrderButton();
    QString currentFilter() const;

    SCFileLibraryStore m_store;
    QList<FileData> m_files;
    QPointer<QListView> m_listView;
    QStandardItemModel *m_model = nullptr;
    FileItemDelegate *m_delegate = nullptr;
    QPointer<QLabel> m_placeholder;
    QPointer<QAbstractButton> m_orderButton;
    QFileSystemWatcher *m_watcher = nullptr;
    // Folder changes come in bursts; the entries are checked once the burst is over.
    QTimer *m_checkTimer = nullptr;
    // Recordings are listed when they start, before their file exists: not missing yet.
    QSet<QString> m_awaited;
    // A damaged library is told about once, when the list is first shown.
    bool m_damageToTell = false;
    QString m_damagedCopy;
};
