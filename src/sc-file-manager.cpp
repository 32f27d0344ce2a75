#include "sc-file-manager.h"

#include "sc-file-item-delegate.h"
#include "sc-file-reveal.h"
#include "sc-logger.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QListView>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QSaveFile>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QUrl>
#include <QtDebug>

#include <algorithm>

namespace {

const QString DATA_FILE_NAME = QStringLiteral("file_data.json");
const char *CURRENT_FILTER = "currentFilter";

// Why the document cannot be a library, or an empty string when it can.
QString shapeProblem(const QJsonDocument &document)
{
    if (!document.isArray())
        return QStringLiteral("the top level is not an array");
    const QJsonArray entries = document.array();
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QJsonValue entry = entries.at(i);
        if (!entry.isObject())
            return QStringLiteral("entry %1 is not an object").arg(i);
        const QJsonObject object = entry.toObject();
        if (!object.value(QStringLiteral("filepath")).isString())
            return QStringLiteral("entry %1 has no \"filepath\" string").arg(i);
        const QJsonValue properties = object.value(QStringLiteral("properties"));
        if (!properties.isUndefined() && !properties.isObject())
            return QStringLiteral("entry %1 has \"properties\" that are not an object").arg(i);
    }
    return QString();
}

} // namespace

SCFileManager::SCFileManager(QObject *parent)
    : QObject(parent)
    , m_model(new QStandardItemModel(this))
    , m_delegate(new FileItemDelegate(this))
{
    loadFromFile();
}

SCFileManager::~SCFileManager()
{
    saveToFile();
}

QString SCFileManager::getDataFilePath() const
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(dir);
    return QDir(dir).filePath(DATA_FILE_NAME);
}

void SCFileManager::addFile(const QString &filePath, const QString &type)
{
    FileData data;
    data.filepath = filePath;
    data.properties.insert(QStringLiteral("type"), type);
    data.properties.insert(QStringLiteral("dateAdded"),
                           QDateTime::currentDateTime().toString(Qt::ISODate));
    m_files.prepend(data);
    saveToFile();
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

void SCFileManager::updateListView(QListView *view, const QString &filter)
{
    if (!view)
        return;
    m_listView = view;
    m_model->clear();
    const QList<FileData> files = filter.isEmpty() ? getAllFiles() : getFilesByType(filter);

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

    for (const FileData &data : files) {
        auto *item = new QStandardItem(QFileInfo(data.filepath).fileName());
        item->setData(data.filepath, PathRole);
        m_model->appendRow(item);
    }

    view->removeEventFilter(this);
    view->installEventFilter(this);
}

void SCFileManager::selectListViewItemByIndex(int row)
{
    if (!m_listView || row < 0 || row >= m_files.size())
        return;
    const QModelIndex index = m_model->index(row, 0);
    if (!index.isValid() || !m_listView->selectionModel())
        return;
    m_listView->clearSelection();
    m_listView->setCurrentIndex(index);
    m_listView->selectionModel()->select(index, QItemSelectionModel::Select);
    m_listView->scrollTo(index, QAbstractItemView::EnsureVisible);
}

void SCFileManager::reverseFileOrder()
{
    if (!m_listView || m_files.isEmpty())
        return;
    std::reverse(m_files.begin(), m_files.end());
    updateListView(m_listView, m_listView->property(CURRENT_FILTER).toString());
    saveToFile();
}

void SCFileManager::removeFirstEntry(const QString &path)
{
    const auto it = std::find_if(m_files.begin(), m_files.end(),
                                 [&path](const FileData &data) { return data.filepath == path; });
    if (it != m_files.end())
        m_files.erase(it);
}

void SCFileManager::deleteSelectedFiles(QListView *view)
{
    if (!view || !view->selectionModel() || !m_model)
        return;
    const QModelIndexList selected = view->selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return;

    QMessageBox box;
    box.setIcon(QMessageBox::Question);
    box.setStyleSheet(loadMessageBoxStyle());
    box.setWindowTitle(tr("Delete"));
    box.setText(tr("Do you want to delete %1 files?").arg(selected.size()));
    auto *fromDisk = new QCheckBox(tr("Delete files from disk as well."));
    box.setCheckBox(fromDisk);
    QPushButton *deleteButton = box.addButton(tr("Delete"), QMessageBox::ActionRole);
    deleteButton->setObjectName(QStringLiteral("deleteButton"));
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Cancel);
    box.exec();
    if (box.clickedButton() != deleteButton)
        return;

    QStringList paths;
    for (const QModelIndex &index : selected) {
        const QString path = index.data(PathRole).toString();
        if (!path.isEmpty())
            paths.append(path);
    }
    const bool removeFromDisk = fromDisk->isChecked();
    for (const QString &path : paths) {
        if (removeFromDisk && !QFile::remove(path))
            qDebug() << "Could not delete file:" << path;
        removeFirstEntry(path);
    }
    saveToFile();
    updateListView(view, view->property(CURRENT_FILTER).toString());
}

void SCFileManager::deleteSingleFile(QListView *view, const QModelIndex &index, const QString &path)
{
    QMessageBox box;
    box.setIcon(QMessageBox::Question);
    box.setStyleSheet(loadMessageBoxStyle());
    box.setWindowTitle(QStringLiteral("Delete"));
    box.setText(QStringLiteral("Do you want to delete this file?"));
    auto *fromDisk = new QCheckBox(QStringLiteral("Delete file from disk as well."));
    box.setCheckBox(fromDisk);
    QPushButton *deleteButton = box.addButton(QStringLiteral("Delete"), QMessageBox::ActionRole);
    deleteButton->setObjectName(QStringLiteral("deleteButton"));
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Cancel);
    // The row index may go stale while the dialog runs its own event loop.
    const QPersistentModelIndex row(index);
    box.exec();
    if (box.clickedButton() != deleteButton)
        return;

    if (fromDisk->isChecked() && !QFile::remove(path))
        qDebug() << "Could not delete file:" << path;
    removeFirstEntry(path);
    if (row.isValid() && row.model() == m_model)
        m_model->removeRow(row.row());
    saveToFile();
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
        if (!path.isEmpty())
            SCFileReveal::showInFolder(path);
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

    if (event->type() == QEvent::MouseButtonPress && watched == view->viewport()) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (handleMousePress(view, mouse->position().toPoint()))
            return true;
    } else if (event->type() == QEvent::MouseButtonDblClick && watched == view->viewport()) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        const QModelIndex index = view->indexAt(mouse->position().toPoint());
        const QString path = index.isValid() ? index.data(PathRole).toString() : QString();
        if (!path.isEmpty())
            QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    }
    return QObject::eventFilter(watched, event);
}

bool SCFileManager::keepBrokenDataFile(const QString &path, const QString &reason)
{
    const QString aside = path + QStringLiteral(".broken-")
            + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = aside;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = aside + QLatin1Char('-') + QString::number(n);
    if (QFile::rename(path, target) || QFile::copy(path, target)) {
        SCLogger::instance()->warning(
                QStringLiteral("File library %1 is unreadable (%2); kept as %3, starting empty")
                        .arg(path, reason, target));
        return true;
    }
    SCLogger::instance()->error(
            QStringLiteral("File library %1 is unreadable (%2) and could not be kept aside; "
                           "it will not be overwritten in this run")
                    .arg(path, reason));
    return false;
}

bool SCFileManager::loadFromFile()
{
    const QString path = getDataFilePath();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qDebug() << "Could not open file for reading:" << path;
        return false;
    }
    const QByteArray content = file.readAll();
    file.close();

    m_files.clear();
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(content, &parseError);
    QString problem = parseError.error != QJsonParseError::NoError
            ? QStringLiteral("%1 at offset %2").arg(parseError.errorString()).arg(parseError.offset)
            : shapeProblem(document);
    if (!problem.isEmpty()) {
        // Keep the user's data for repair instead of letting the next save overwrite it.
        m_saveBlocked = !keepBrokenDataFile(path, problem);
        return false;
    }

    QJsonArray kept;
    bool pruned = false;
    for (const QJsonValue &entry : document.array()) {
        const QJsonObject object = entry.toObject();
        FileData data;
        data.filepath = object.value(QStringLiteral("filepath")).toString();
        data.properties = object.value(QStringLiteral("properties")).toObject().toVariantMap();
        if (QFileInfo::exists(data.filepath)) {
            m_files.append(data);
            kept.append(entry);
        } else {
            pruned = true;
        }
    }

    if (pruned && !writeDocument(QJsonDocument(kept).toJson(QJsonDocument::Indented))) {
        qDebug() << "Could not open file for writing:" << path;
        return false;
    }
    return true;
}

bool SCFileManager::writeDocument(const QByteArray &json)
{
    if (m_saveBlocked)
        return false;
    // Written beside the library and renamed over it: an interrupted save leaves the old one.
    QSaveFile file(getDataFilePath());
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(json) != json.size() || !file.flush()) {
        file.cancelWriting();
        file.commit();
        return false;
    }
    return file.commit();
}

bool SCFileManager::saveToFile()
{
    QJsonArray entries;
    for (const FileData &data : m_files)
        entries.append(data.toJson());
    return writeDocument(QJsonDocument(entries).toJson(QJsonDocument::Indented));
}

QString SCFileManager::loadMessageBoxStyle() const
{
    QFile file(QStringLiteral(":/res/style/message-box.qss"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    return QString::fromUtf8(file.readAll());
}
