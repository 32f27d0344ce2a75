#include "sc-file-manager.h"

#include "sc-desktop-open.h"
#include "sc-file-delete-dialog.h"
#include "sc-file-item-delegate.h"
#include "sc-file-reveal.h"
#include "sc-library-scan.h"
#include "sc-logger.h"
#include "sc-media-trimmer.h"
#include "sc-settings.h"
#include "sc-trim-window.h"

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QSettings>
#include <QStandardItemModel>
#include <QTimer>
#include <QtDebug>

#include <algorithm>

namespace {

const char *CURRENT_FILTER = "currentFilter";
constexpr int CHECK_DELAY_MS = 250;

QDateTime dateAdded(const FileData &data)
{
    return QDateTime::fromString(data.properties.value(QStringLiteral("dateAdded")).toString(),
                                 Qt::ISODate);
}

} // namespace

SCFileManager::SCFileManager(QObject *parent)
    : QObject(parent)
    , m_model(new QStandardItemModel(this))
    , m_delegate(new FileItemDelegate(this))
    , m_watcher(new QFileSystemWatcher(this))
    , m_checkTimer(new QTimer(this))
{
    m_checkTimer->setSingleShot(true);
    m_checkTimer->setInterval(CHECK_DELAY_MS);
    connect(m_checkTimer, &QTimer::timeout, this, &SCFileManager::dropMissingFiles);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, m_checkTimer,
            qOverload<>(&QTimer::start));
    connect(m_model, &QStandardItemModel::rowsInserted, this, &SCFileManager::updatePlaceholder);
    connect(m_model, &QStandardItemModel::rowsRemoved, this, &SCFileManager::updatePlaceholder);
    connect(m_model, &QStandardItemModel::modelReset, this, &SCFileManager::updatePlaceholder);
    loadFromFile();
}

SCFileManager::~SCFileManager()
{
    saveToFile();
}

QString SCFileManager::getDataFilePath() const
{
    return m_store.path();
}

void SCFileManager::addFile(const QString &filePath, const QString &type)
{
    FileData data;
    data.filepath = filePath;
    data.properties.insert(QStringLiteral("type"), type);
    data.properties.insert(QStringLiteral("dateAdded"),
                           QDateTime::currentDateTime().toString(Qt::ISODate));
    m_files.prepend(data);
    if (!QFileInfo::exists(filePath))
        m_awaited.insert(filePath);
    saveToFile();
    watchFolders();
}

QList<FileData> SCFileManager::getAllFiles() const
{
    return m_files;
}

QList<FileData> SCFileManager::getFilesByType(const QString &type) const
{
    QList<FileData> result;
    for (const FileData &data : m_files) {
        if (data.properties.value(QStringLiteral("type")).toString() == type)
            result.append(data);
    }
    return result;
}

QString SCFileManager::currentFilter() const
{
    return m_listView ? m_listView->property(CURRENT_FILTER).toString() : QString();
}

void SCFileManager::updateListView(QListView *view, const QString &filter)
{
    if (!view)
        return;
    m_listView = view;
    dropMissingFiles();
    m_model->clear();
    QList<FileData> files = filter.isEmpty() ? getAllFiles() : getFilesByType(filter);
    if (!isNewestFirst(filter))
        std::reverse(files.begin(), files.end());

    view->setModel(m_model);
    view->setItemDelegate(m_delegate);
    view->setMouseTracking(true);
    view->setFocusPolicy(Qt::NoFocus);
    view->setFrameShape(QFrame::NoFrame);
    view->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view->viewport()->setAttribute(Qt::WA_Hover);
    view->viewport()->removeEventFilter(this);
    view->viewport()->installEventFilter(this);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setProperty(CURRENT_FILTER, filter);

    if (!m_placeholder || m_placeholder->parentWidget() != view->viewport()) {
        delete m_placeholder.data();
        m_placeholder = new QLabel(view->viewport());
        m_placeholder->setObjectName(QStringLiteral("fileListPlaceholder"));
        m_placeholder->setAlignment(Qt::AlignCenter);
        m_placeholder->setWordWrap(true);
        m_placeholder->setAttribute(Qt::WA_TransparentForMouseEvents);
        m_placeholder->setStyleSheet(QStringLiteral("color: #6E7686; background: transparent;"));
    }

    for (const FileData &data : files) {
        auto *item = new QStandardItem(QFileInfo(data.filepath).fileName());
        item->setData(data.filepath, PathRole);
        const QString type = data.properties.value(QStringLiteral("type")).toString();
        item->setData(type != QLatin1String("screenshot")
                              && SCMediaTrimmer::isSupported(data.filepath),
                      TrimmableRole);
        m_model->appendRow(item);
    }

    view->removeEventFilter(this);
    view->installEventFilter(this);
    updatePlaceholder();
    updateOrderButton();

    if (m_damageToTell) {
        m_damageToTell = false;
        QTimer::singleShot(0, this, &SCFileManager::offerRebuild);
    }
}

void SCFileManager::updatePlaceholder()
{
    if (!m_placeholder || !m_listView)
        return;
    const QString filter = currentFilter();
    if (filter == QLatin1String("video"))
        m_placeholder->setText(tr("No video recordings yet"));
    else if (filter == QLatin1String("audio"))
        m_placeholder->setText(tr("No audio recordings yet"));
    else if (filter == QLatin1String("screenshot"))
        m_placeholder->setText(tr("No screenshots yet"));
    else
        m_placeholder->setText(tr("No files yet"));
    m_placeholder->setGeometry(m_listView->viewport()->rect());
    m_placeholder->setVisible(m_model->rowCount() == 0);
}

void SCFileManager::selectListViewItemByIndex(int row)
{
    if (!m_listView || row < 0 || row >= m_model->rowCount())
        return;
    const QModelIndex index = m_model->index(row, 0);
    if (!index.isValid() || !m_listView->selectionModel())
        return;
    m_listView->clearSelection();
    m_listView->setCurrentIndex(index);
    m_listView->selectionModel()->select(index, QItemSelectionModel::Select);
    m_listView->scrollTo(index, QAbstractItemView::EnsureVisible);
}

void SCFileManager::selectNewestEntry()
{
    if (m_listView)
        selectListViewItemByIndex(isNewestFirst(currentFilter()) ? 0 : m_model->rowCount() - 1);
}

QString SCFileManager::orderKey(const QString &filter)
{
    if (filter == QLatin1String("video"))
        return SCSettings::FILES_VIDEO_ORDER;
    if (filter == QLatin1String("audio"))
        return SCSettings::FILES_AUDIO_ORDER;
    if (filter == QLatin1String("screenshot"))
        return SCSettings::FILES_SCREENSHOT_ORDER;
    return QStringLiteral("files/%1Order").arg(filter.isEmpty() ? QStringLiteral("all") : filter);
}

bool SCFileManager::isNewestFirst(const QString &filter) const
{
    const QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    return settings.value(orderKey(filter)).toString() != SCSettings::FILES_OLDEST_FIRST;
}

void SCFileManager::reverseFileOrder()
{
    if (!m_listView)
        return;
    const QString filter = currentFilter();
    QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    settings.setValue(orderKey(filter),
                      isNewestFirst(filter) ? SCSettings::FILES_OLDEST_FIRST
                                            : SCSettings::FILES_NEWEST_FIRST);
    updateListView(m_listView, filter);
}

void SCFileManager::setOrderButton(QAbstractButton *button)
{
    m_orderButton = button;
    updateOrderButton();
}

void SCFileManager::retranslate()
{
    updatePlaceholder();
    updateOrderButton();
}

void SCFileManager::updateOrderButton()
{
    if (!m_orderButton || !m_listView)
        return;
    const bool newest = isNewestFirst(currentFilter());
    const QString order = newest ? tr("Newest first") : tr("Oldest first");
    m_orderButton->setToolTip(order);
    m_orderButton->setAccessibleName(order);
    m_orderButton->setIcon(QIcon(newest ? QStringLiteral(":/res/forms/images/order-newest.svg")
                                        : QStringLiteral(":/res/forms/images/order-oldest.svg")));
}

void SCFileManager::removeFirstEntry(const QString &path)
{
    const auto it = std::find_if(m_files.begin(), m_files.end(),
                                 [&path](const FileData &data) { return data.filepath == path; });
    if (it != m_files.end())
        m_files.erase(it);
}

void SCFileManager::removeRows(const QStringList &paths)
{
    for (int row = m_model->rowCount() - 1; row >= 0; --row) {
        if (paths.contains(m_model->index(row, 0).data(PathRole).toString()))
            m_model->removeRow(row);
    }
}

// A file that is already gone counts as deleted; one that stays is reported and kept listed.
bool SCFileManager::removeFromDisk(const QString &path, QStringList *failures)
{
    QFile file(path);
    if (file.remove() || !file.exists())
        return true;
    SCLogger::instance()->warning(
            QStringLiteral("Could not delete %1: %2").arg(path, file.errorString()));
    failures->append(tr("\"%1\" could not be deleted: %2")
                             .arg(QDir::toNativeSeparators(path), file.errorString()));
    return false;
}

void SCFileManager::reportFailedDeletions(const QStringList &failures, QWidget *parent)
{
    if (!failures.isEmpty())
        SCDesktopOpen::tell(tr("Delete"), failures.join(QLatin1Char('\n')), parent);
}

void SCFileManager::deleteSelectedFiles(QListView *view)
{
    if (!view || !view->selectionModel() || !m_model)
        return;
    QModelIndexList selected = view->selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return;
    std::sort(selected.begin(), selected.end(),
              [](const QModelIndex &a, const QModelIndex &b) { return a.row() < b.row(); });
    QStringList paths;
    for (const QModelIndex &index : selected) {
        const QString path = index.data(PathRole).toString();
        if (!path.isEmpty())
            paths.append(path);
    }

    const auto choice = SCFileDeleteDialog::ask(paths, loadMessageBoxStyle());
    if (choice == SCFileDeleteDialog::Choice::Cancel)
        return;
    QStringList failures;
    for (const QString &path : paths) {
        if (choice == SCFileDeleteDialog::Choice::RemoveFromList || removeFromDisk(path, &failures))
            removeFirstEntry(path);
    }
    saveToFile();
    watchFolders();
    updateListView(view, view->property(CURRENT_FILTER).toString());
    reportFailedDeletions(failures, view);
}

void SCFileManager::deleteSingleFile(QListView *view, const QModelIndex &index, const QString &path)
{
    // The row index may go stale while the dialog runs its own event loop.
    const QPersistentModelIndex row(index);
    const auto choice = SCFileDeleteDialog::ask({path}, loadMessageBoxStyle());
    if (choice == SCFileDeleteDialog::Choice::Cancel)
        return;
    QStringList failures;
    if (choice == SCFileDeleteDialog::Choice::DeleteFromDisk && !removeFromDisk(path, &failures)) {
        reportFailedDeletions(failures, view);
        return;
    }
    removeFirstEntry(path);
    if (row.isValid() && row.model() == m_model)
        m_model->removeRow(row.row());
    saveToFile();
    watchFolders();
    if (view)
        view->viewport()->update();
}

bool SCFileManager::handleMousePress(QListView *view, const QPoint &pos)
{
    const QModelIndex index = view->indexAt(pos);
    if (!index.isValid())
        return false;
    const QRect row = view->visualRect(index);
    const QString path = index.data(PathRole).toString();

    if (FileItemDelegate::folderIconRect(row).contains(pos)) {
        if (path.isEmpty())
            return true;
        if (QFileInfo::exists(path)) {
            SCFileReveal::showInFolder(path, view);
        } else {
            SCDesktopOpen::openFile(path, view); // says that it is gone
            QTimer::singleShot(0, this, &SCFileManager::dropMissingFiles);
        }
        return true;
    }
    if (index.data(TrimmableRole).toBool() && FileItemDelegate::trimIconRect(row).contains(pos)) {
        openTrimWindow(path);
        return true;
    }
    if (FileItemDelegate::deleteIconRect(row).contains(pos)) {
        if (!path.isEmpty())
            deleteSingleFile(view, index, path);
        return true;
    }
    return false;
}

bool SCFileManager::eventFilter(QObject *watched, QEvent *event)
{
    QListView *view = m_listView;
    if (!view || (watched != view && watched != view->viewport()))
        return QObject::eventFilter(watched, event);

    if (watched == view) {
        if (event->type() == QEvent::Show) {
            dropMissingFiles();
        } else if (event->type() == QEvent::LanguageChange) {
            retranslate();
        }
        return QObject::eventFilter(watched, event);
    }

    if (event->type() == QEvent::Resize) {
        updatePlaceholder();
    } else if (event->type() == QEvent::ContextMenu) {
        showContextMenu(view, static_cast<QContextMenuEvent *>(event)->pos());
        return true;
    } else if (event->type() == QEvent::MouseButtonPress) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (handleMousePress(view, mouse->position().toPoint()))
            return true;
    } else if (event->type() == QEvent::MouseButtonDblClick) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        const QModelIndex index = view->indexAt(mouse->position().toPoint());
        const QString path = index.isValid() ? index.data(PathRole).toString() : QString();
        if (!path.isEmpty() && !SCDesktopOpen::openFile(path, view) && !QFileInfo::exists(path))
            QTimer::singleShot(0, this, &SCFileManager::dropMissingFiles);
    }
    return QObject::eventFilter(watched, event);
}

void SCFileManager::showContextMenu(QListView *view, const QPoint &pos)
{
    const QModelIndex index = view->indexAt(pos);
    const QString path = index.isValid() ? index.data(PathRole).toString() : QString();
    if (path.isEmpty())
        return;
    auto *menu = new QMenu(view);
    menu->setObjectName(CONTEXT_MENU_NAME);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->setStyleSheet(QStringLiteral(
            "QMenu { background-color: #252526; border: 1px solid #1E1E1E; padding: 5px 0px; }"
            "QMenu::item { color: #99A1B0; padding: 6px 20px; }"
            "QMenu::item:selected { background-color: #37373D; color: #FFFFFF; }"));
    const QPersistentModelIndex row(index);
    if (index.data(TrimmableRole).toBool()) {
        QAction *trim = menu->addAction(QIcon(QStringLiteral(":/res/forms/images/trim.svg")),
                                        tr("Trim..."));
        trim->setObjectName(QStringLiteral("trimAction"));
        connect(trim, &QAction::triggered, this, [this, path] { openTrimWindow(path); });
    }
    QAction *reveal = menu->addAction(QIcon(QStringLiteral(":/res/forms/images/folder.svg")),
                                      tr("Show in Folder"));
    connect(reveal, &QAction::triggered, this, [this, view, row] {
        if (row.isValid())
            handleMousePress(view,
                             FileItemDelegate::folderIconRect(view->visualRect(row)).center());
    });
    QAction *remove
            = menu->addAction(QIcon(QStringLiteral(":/res/forms/images/delete.svg")), tr("Delete"));
    connect(remove, &QAction::triggered, this, [this, view, row, path] {
        if (row.isValid())
            deleteSingleFile(view, row, path);
    });
    menu->popup(view->viewport()->mapToGlobal(pos));
}

void SCFileManager::openTrimWindow(const QString &path)
{
    if (!QFileInfo::exists(path)) {
        SCDesktopOpen::openFile(path, m_listView); // says that it is gone
        QTimer::singleShot(0, this, &SCFileManager::dropMissingFiles);
        return;
    }
    // One window per file: asking again brings it forward.
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *open = qobject_cast<SCTrimWindow *>(widget);
        if (open && open->sourcePath() == path) {
            open->raise();
            open->activateWindow();
            return;
        }
    }
    auto *window = new SCTrimWindow(path, m_listView ? m_listView->window() : nullptr);
    window->setWindowFlag(Qt::Window);
    connect(window, &SCTrimWindow::saved, this,
            [this, path](const QString &saved) { addTrimmedFile(path, saved); });
    if (QWidget *main = window->parentWidget())
        window->move(main->geometry().center() - window->rect().center());
    window->show();
}

void SCFileManager::addTrimmedFile(const QString &source, const QString &path)
{
    QString type = QStringLiteral("video");
    for (const FileData &data : std::as_const(m_files)) {
        if (data.filepath == source)
            type = data.properties.value(QStringLiteral("type")).toString();
    }
    addFile(path, type);
    if (m_listView && (currentFilter().isEmpty() || currentFilter() == type)) {
        updateListView(m_listView, currentFilter());
        selectNewestEntry();
    }
}

int SCFileManager::dropMissingFiles()
{
    QStringList gone;
    const auto missing = [this, &gone](const FileData &data) {
        if (QFileInfo::exists(data.filepath)) {
            m_awaited.remove(data.filepath);
            return false;
        }
        if (m_awaited.contains(data.filepath))
            return false;
        gone << data.filepath;
        return true;
    };
    m_files.erase(std::remove_if(m_files.begin(), m_files.end(), missing), m_files.end());
    if (gone.isEmpty())
        return 0;
    SCLogger::instance()->info(
            QStringLiteral("Files gone from the disk, no longer listed: %1").arg(gone.join(", ")));
    saveToFile();
    removeRows(gone);
    watchFolders();
    return int(gone.size());
}

void SCFileManager::watchFolders()
{
    QSet<QString> wanted;
    for (const FileData &data : m_files)
        wanted.insert(QFileInfo(data.filepath).absolutePath());
    const QStringList watched = m_watcher->directories();
    for (const QString &folder : watched) {
        if (!wanted.contains(folder))
            m_watcher->removePath(folder);
    }
    for (const QString &folder : wanted) {
        if (!watched.contains(folder) && QFileInfo(folder).isDir())
            m_watcher->addPath(folder);
    }
}

void SCFileManager::sortNewestFirst()
{
    // Stable: entries of the same second keep the order in which they were added.
    std::stable_sort(m_files.begin(), m_files.end(), [](const FileData &a, const FileData &b) {
        return dateAdded(a) > dateAdded(b);
    });
}

int SCFileManager::rebuildFromSaveFolders()
{
    const QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    const QString recordings = settings.value(SCSettings::RECORDING_SAVE_LOCATION).toString();
    const QString screenshots = settings.value(SCSettings::SCREENSHOT_SAVE_LOCATION).toString();
    QSet<QString> listed;
    for (const FileData &data : m_files)
        listed.insert(QFileInfo(data.filepath).absoluteFilePath());
    int added = 0;
    for (const FileData &data : SCLibraryScan::programFiles(recordings, screenshots)) {
        if (!listed.contains(data.filepath)) {
            m_files.append(data);
            ++added;
        }
    }
    sortNewestFirst();
    saveToFile();
    watchFolders();
    SCLogger::instance()->info(QStringLiteral("File library rebuilt: %1 files found in %2 and %3")
                                       .arg(added)
                                       .arg(recordings, screenshots));
    if (m_listView)
        updateListView(m_listView, currentFilter());
    if (added == 0) {
        SCDesktopOpen::tell(tr("File List"),
                            tr("No recordings or screenshots were found in the save folders."),
                            m_listView);
    }
    return added;
}

void SCFileManager::offerRebuild()
{
    QString text = m_damagedCopy.isEmpty()
            ? tr("The list of your files could not be read, so it starts empty. It is left as "
                 "it is and will not be overwritten.")
            : tr("The list of your files could not be read, so it starts empty. Nothing is "
                 "lost: the damaged list was kept as \"%1\".")
                      .arg(QDir::toNativeSeparators(m_damagedCopy));
    text += QStringLiteral("\n\n")
            + tr("Find the recordings and screenshots in the save folders and list them again?");
    auto *box = new QMessageBox(QMessageBox::Warning, tr("File List Damaged"), text);
    box->setObjectName(DAMAGED_MESSAGE_NAME);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setAttribute(Qt::WA_QuitOnClose, false);
    box->setStyleSheet(loadMessageBoxStyle());
    QPushButton *find = box->addButton(tr("Find Files"), QMessageBox::AcceptRole);
    box->addButton(tr("Not Now"), QMessageBox::RejectRole);
    box->setDefaultButton(find);
    connect(box, &QMessageBox::buttonClicked, this, [this, find](QAbstractButton *button) {
        if (button == find)
            rebuildFromSaveFolders();
    });
    box->show();
}

bool SCFileManager::loadFromFile()
{
    SCFileLibraryStore::Loaded loaded = m_store.load();
    m_files = loaded.files;
    if (loaded.damaged) {
        m_damageToTell = true;
        m_damagedCopy = loaded.damagedCopy;
    }
    // Earlier versions reversed the stored list itself; the lists' orders are settings now.
    sortNewestFirst();
    watchFolders();
    return loaded.ok;
}

bool SCFileManager::saveToFile()
{
    return m_store.save(m_files);
}

QString SCFileManager::loadMessageBoxStyle() const
{
    QFile file(QStringLiteral(":/res/style/message-box.qss"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    return QString::fromUtf8(file.readAll());
}
