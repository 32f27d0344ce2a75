#include "sc-file-item-delegate.h"
#include "sc-file-manager.h"
#include "sc-settings.h"

#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QListView>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolTip>
#include <QtTest>

#include <csignal>
#include <memory>
#include <sys/resource.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QJsonArray readLibrary(const QString &path)
{
    return QJsonDocument::fromJson(readAll(path)).array();
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), content.size());
}

QStringList pathsOf(const QList<FileData> &files)
{
    QStringList paths;
    for (const FileData &data : files)
        paths << data.filepath;
    return paths;
}

// Answers the next delete confirmation once it is on screen: ticks "from disk" if asked and
// clicks "Delete", or Cancel.
class DialogAnswer : public QObject
{
public:
    DialogAnswer(bool confirm, bool fromDisk)
        : m_confirm(confirm)
        , m_fromDisk(fromDisk)
    {
        m_timer.setInterval(20);
        connect(&m_timer, &QTimer::timeout, this, &DialogAnswer::poll);
        m_timer.start();
    }

    QString title;
    QString text;
    QString checkBoxText;
    bool cancelIsDefault = false;
    bool answered = false;

private:
    void poll()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        m_timer.stop();
        title = box->windowTitle();
        text = box->text();
        checkBoxText = box->checkBox() ? box->checkBox()->text() : QString();
        cancelIsDefault = box->defaultButton() == box->button(QMessageBox::Cancel);
        if (box->checkBox())
            box->checkBox()->setChecked(m_fromDisk);
        QAbstractButton *button = m_confirm
                ? box->findChild<QPushButton *>(QStringLiteral("deleteButton"))
                : box->button(QMessageBox::Cancel);
        answered = button != nullptr;
        if (button)
            button->click();
    }

    QTimer m_timer;
    bool m_confirm;
    bool m_fromDisk;
};

class UrlRecorder : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public Q_SLOTS:
    void open(const QUrl &url) { urls << url; }
};

} // namespace

class TestFileManager : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void firstStartIsEmptyAndAddWritesTheFile();
    void addReverseDeleteSurviveARestart();
    void missingFilesArePrunedAtStart();
    void malformedLibraryIsKeptAside_data();
    void malformedLibraryIsKeptAside();
    void interruptedSaveKeepsThePreviousLibrary();
    void unwritableDataFolderIsHarmless();
    void filtersAndDuplicates();
    void bulkDeletion_data();
    void bulkDeletion();
    void bulkDeletionCancelled();
    void deleteIconAsksAndKeepsSelection();
    void rowsArePaintedWithHoverIcons();
    void hoverIconsHaveToolTips();
    void folderIconOpensTheFolderWithoutFileManager();

private:
    QString makeFile(const QString &name);
    QListView *showView(SCFileManager &manager, const QString &filter);

    QTemporaryDir m_files;
    std::unique_ptr<QListView> m_view;
};

void TestFileManager::init()
{
    m_view.reset();
    const QString dataDir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir(dataDir).removeRecursively();
    QDir(m_files.path()).removeRecursively();
    QDir().mkpath(m_files.path());
}

QString TestFileManager::makeFile(const QString &name)
{
    const QString path = m_files.filePath(name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write("data");
    return path;
}

QListView *TestFileManager::showView(SCFileManager &manager, const QString &filter)
{
    m_view = std::make_unique<QListView>();
    m_view->resize(400, 200);
    m_view->move(100, 100);
    manager.updateListView(m_view.get(), filter);
    m_view->show();
    if (!QTest::qWaitForWindowExposed(m_view.get(), 20000))
        return nullptr;
    return m_view.get();
}

void TestFileManager::firstStartIsEmptyAndAddWritesTheFile()
{
    SCFileManager manager;
    QVERIFY(manager.getAllFiles().isEmpty());
    QVERIFY(!QFile::exists(manager.getDataFilePath()));
    QCOMPARE(QFileInfo(manager.getDataFilePath()).fileName(), QString("file_data.json"));

    const QString shot = makeFile("Screenshot_1.png");
    manager.addFile(shot, "screenshot");
    const QJsonArray library = readLibrary(manager.getDataFilePath());
    QCOMPARE(library.size(), 1);
    const QJsonObject entry = library.at(0).toObject();
    QCOMPARE(entry.keys(), QStringList({"filepath", "properties"}));
    QCOMPARE(entry.value("filepath").toString(), shot);
    const QJsonObject properties = entry.value("properties").toObject();
    QCOMPARE(properties.value("type").toString(), QString("screenshot"));
    const QDateTime added
            = QDateTime::fromString(properties.value("dateAdded").toString(), Qt::ISODate);
    QVERIFY(added.isValid());
    QVERIFY(qAbs(added.secsTo(QDateTime::currentDateTime())) < 60);
}

void TestFileManager::addReverseDeleteSurviveARestart()
{
    const QString a = makeFile("a.mp4");
    const QString b = makeFile("b.mp3");
    const QString c = makeFile("c.png");
    QJsonArray before;
    {
        SCFileManager manager;
        manager.addFile(a, "video");
        manager.addFile(b, "audio");
        manager.addFile(c, "screenshot");
        QCOMPARE(pathsOf(manager.getAllFiles()), QStringList({c, b, a}));
        QVERIFY(showView(manager, QString()));
        manager.reverseFileOrder();
        QCOMPARE(pathsOf(manager.getAllFiles()), QStringList({a, b, c}));
        QCOMPARE(m_view->model()->index(0, 0).data().toString(), QString("a.mp4"));
        before = readLibrary(manager.getDataFilePath());
    }
    QCOMPARE(before.size(), 3);

    SCFileManager restarted;
    QCOMPARE(pathsOf(restarted.getAllFiles()), QStringList({a, b, c}));
    QVERIFY(showView(restarted, QString()));

    // Delete the middle row through its delete icon, keeping the file on disk.
    const QModelIndex middle = m_view->model()->index(1, 0);
    const QRect row = m_view->visualRect(middle);
    DialogAnswer answer(true, false);
    QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {},
                      SCFileManager::FileItemDelegate::deleteIconRect(row).center());
    QVERIFY(answer.answered);
    QVERIFY(QFile::exists(b));
    QCOMPARE(pathsOf(restarted.getAllFiles()), QStringList({a, c}));
    QCOMPARE(m_view->model()->rowCount(), 2);

    m_view.reset();
    const QJsonArray after = readLibrary(restarted.getDataFilePath());
    QCOMPARE(after.size(), 2);
    QCOMPARE(after.at(0), before.at(0));
    QCOMPARE(after.at(1), before.at(2));

    SCFileManager third;
    QCOMPARE(pathsOf(third.getAllFiles()), QStringList({a, c}));
}

void TestFileManager::missingFilesArePrunedAtStart()
{
    const QString kept1 = makeFile("kept 1.mp4");
    const QString gone = makeFile("gone.png");
    const QString kept2 = makeFile("kept-2.flac");
    const QString dataPath = SCFileManager().getDataFilePath();
    QFile::remove(dataPath);

    // Entries as another version might have written them, with a member of its own.
    QJsonArray stored;
    stored.append(QJsonObject {
            {"filepath", kept1},
            {"properties", QJsonObject {{"type", "video"}, {"dateAdded", "2024-03-05T14:07:09"}}},
            {"comment", "kept as it is"}});
    stored.append(
            QJsonObject {{"filepath", gone}, {"properties", QJsonObject {{"type", "screenshot"}}}});
    stored.append(QJsonObject {{"filepath", kept2},
                               {"properties", QJsonObject {{"type", "audio"}, {"rating", 5}}}});
    writeFile(dataPath, QJsonDocument(stored).toJson());
    QVERIFY(QFile::remove(gone));

    SCFileManager manager;
    QCOMPARE(pathsOf(manager.getAllFiles()), QStringList({kept1, kept2}));
    QCOMPARE(manager.getAllFiles().at(1).properties.value("rating").toInt(), 5);
    const QJsonArray rewritten = readLibrary(dataPath);
    QCOMPARE(rewritten.size(), 2);
    QCOMPARE(rewritten.at(0), stored.at(0));
    QCOMPARE(rewritten.at(1), stored.at(2));
}

void TestFileManager::malformedLibraryIsKeptAside_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("cut off") << QByteArray("[\n  {\"filepath\": \"/tmp/x.png\", \"prop");
    QTest::newRow("not JSON") << QByteArray("hello");
    QTest::newRow("object at the top")
            << QByteArray("{\"filepath\": \"/tmp/x.png\", \"properties\": {}}");
    QTest::newRow("number entry") << QByteArray("[1, 2]");
    QTest::newRow("path not a string")
            << QByteArray("[{\"filepath\": 7, \"properties\": {\"type\": \"video\"}}]");
}

void TestFileManager::malformedLibraryIsKeptAside()
{
    QFETCH(QByteArray, content);
    const QString dataPath = SCFileManager().getDataFilePath();
    QFile::remove(dataPath);
    writeFile(dataPath, content);

    QStringList asideFiles;
    {
        SCFileManager manager;
        QVERIFY(manager.getAllFiles().isEmpty());
        const QDir dir = QFileInfo(dataPath).dir();
        asideFiles = dir.entryList({"file_data.json.broken-*"}, QDir::Files);
        QCOMPARE(asideFiles.size(), 1);
        QCOMPARE(readAll(dir.filePath(asideFiles.first())), content);

        manager.addFile(makeFile("new.png"), "screenshot");
    }
    QCOMPARE(readLibrary(dataPath).size(), 1);
    const QDir dir = QFileInfo(dataPath).dir();
    QCOMPARE(readAll(dir.filePath(asideFiles.first())), content);
}

void TestFileManager::interruptedSaveKeepsThePreviousLibrary()
{
    const QString a = makeFile("a.mp4");
    const QString b = makeFile("b.png");
    QByteArray previous;
    QString dataPath;
    {
        SCFileManager manager;
        manager.addFile(a, "video");
        manager.addFile(b, "screenshot");
        dataPath = manager.getDataFilePath();
        previous = readAll(dataPath);
        QVERIFY(previous.size() > 100);

        // The next write is cut off after 100 bytes, as a full disk or a crash would.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit original {};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &original), 0);
        rlimit limited = original;
        limited.rlim_cur = 100;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
        manager.addFile(makeFile("c.png"), "screenshot");
        const bool saved = manager.saveToFile();
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &original), 0);

        QVERIFY(!saved);
        QCOMPARE(readAll(dataPath), previous);
        QCOMPARE(QFileInfo(dataPath).dir().entryList(QDir::Files), QStringList({"file_data.json"}));
        QCOMPARE(manager.getAllFiles().size(), 3);
    }
    // The destructor's own save completed the library without the limit.
    QCOMPARE(readLibrary(dataPath).size(), 3);
}

void TestFileManager::unwritableDataFolderIsHarmless()
{
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    const QString blocker = m_files.filePath("afile");
    writeFile(blocker, "in the way");
    qputenv("XDG_DATA_HOME", QFile::encodeName(blocker + "/sub"));
    {
        SCFileManager manager;
        QVERIFY(manager.getAllFiles().isEmpty());
        manager.addFile(makeFile("x.png"), "screenshot");
        QCOMPARE(manager.getAllFiles().size(), 1);
        QVERIFY(!manager.saveToFile());
    }
    qputenv("XDG_DATA_HOME", saved);
    QCOMPARE(readAll(blocker), QByteArray("in the way"));
}

void TestFileManager::filtersAndDuplicates()
{
    const QString video = makeFile("v.mp4");
    const QString audio = makeFile("a.mp3");
    const QString odd = makeFile("odd.bin");
    SCFileManager manager;
    manager.addFile(video, "video");
    manager.addFile(audio, "audio");
    manager.addFile(audio, "audio");
    manager.addFile(odd, "Audio");
    // An entry without a type only shows without a filter.
    QJsonArray library = readLibrary(manager.getDataFilePath());
    library.append(QJsonObject {{"filepath", video}, {"properties", QJsonObject()}});
    writeFile(manager.getDataFilePath(), QJsonDocument(library).toJson());
    manager.loadFromFile();

    QCOMPARE(pathsOf(manager.getFilesByType("audio")), QStringList({audio, audio}));
    QCOMPARE(pathsOf(manager.getFilesByType("video")), QStringList({video}));
    QCOMPARE(manager.getAllFiles().size(), 5);

    QVERIFY(showView(manager, "audio"));
    QCOMPARE(m_view->model()->rowCount(), 2);
    QCOMPARE(m_view->property("currentFilter").toString(), QString("audio"));
    QCOMPARE(m_view->model()->index(0, 0).data(SCFileManager::PathRole).toString(), audio);
    manager.updateListView(m_view.get(), QString());
    QCOMPARE(m_view->model()->rowCount(), 5);

    // Deleting one of the two equal entries removes only the first.
    DialogAnswer answer(true, false);
    const QRect row = m_view->visualRect(m_view->model()->index(1, 0));
    QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {},
                      SCFileManager::FileItemDelegate::deleteIconRect(row).center());
    QVERIFY(answer.answered);
    QCOMPARE(answer.title, QString("Delete"));
    QCOMPARE(answer.text, QString("Do you want to delete this file?"));
    QCOMPARE(answer.checkBoxText, QString("Delete file from disk as well."));
    QVERIFY(answer.cancelIsDefault);
    QCOMPARE(pathsOf(manager.getFilesByType("audio")), QStringList({audio}));
    QVERIFY(QFile::exists(audio));
}

void TestFileManager::bulkDeletion_data()
{
    QTest::addColumn<bool>("fromDisk");
    QTest::newRow("library only") << false;
    QTest::newRow("from disk") << true;
}

void TestFileManager::bulkDeletion()
{
    QFETCH(bool, fromDisk);
    const QString a = makeFile("a.png");
    const QString b = makeFile("b.png");
    const QString c = makeFile("c.png");
    const QString video = makeFile("v.mp4");
    SCFileManager manager;
    manager.addFile(video, "video");
    manager.addFile(a, "screenshot");
    manager.addFile(b, "screenshot");
    manager.addFile(c, "screenshot");
    QVERIFY(showView(manager, "screenshot"));

    // Rows c, b, a: select c and a.
    QItemSelectionModel *selection = m_view->selectionModel();
    selection->select(m_view->model()->index(0, 0), QItemSelectionModel::Select);
    selection->select(m_view->model()->index(2, 0), QItemSelectionModel::Select);

    DialogAnswer answer(true, fromDisk);
    manager.deleteSelectedFiles(m_view.get());
    QVERIFY(answer.answered);
    QCOMPARE(answer.title, QString("Delete"));
    QCOMPARE(answer.text, QString("Do you want to delete 2 files?"));
    QCOMPARE(answer.checkBoxText, QString("Delete files from disk as well."));
    QVERIFY(answer.cancelIsDefault);

    QCOMPARE(pathsOf(manager.getAllFiles()), QStringList({b, video}));
    QCOMPARE(QFile::exists(a), !fromDisk);
    QCOMPARE(QFile::exists(c), !fromDisk);
    QVERIFY(QFile::exists(b));
    // Rebuilt with the same filter.
    QCOMPARE(m_view->model()->rowCount(), 1);
    QCOMPARE(m_view->model()->index(0, 0).data().toString(), QString("b.png"));
    QCOMPARE(readLibrary(manager.getDataFilePath()).size(), 2);
}

void TestFileManager::bulkDeletionCancelled()
{
    const QString a = makeFile("a.png");
    SCFileManager manager;
    manager.addFile(a, "screenshot");
    QVERIFY(showView(manager, QString()));
    m_view->selectionModel()->select(m_view->model()->index(0, 0), QItemSelectionModel::Select);
    DialogAnswer answer(false, true);
    manager.deleteSelectedFiles(m_view.get());
    QVERIFY(answer.answered);
    QVERIFY(QFile::exists(a));
    QCOMPARE(manager.getAllFiles().size(), 1);
}

void TestFileManager::deleteIconAsksAndKeepsSelection()
{
    const QString a = makeFile("a.png");
    const QString b = makeFile("b.png");
    SCFileManager manager;
    manager.addFile(a, "screenshot");
    manager.addFile(b, "screenshot");
    QVERIFY(showView(manager, QString()));
    manager.selectListViewItemByIndex(1);
    QCOMPARE(m_view->selectionModel()->selectedIndexes().size(), 1);
    QCOMPARE(m_view->selectionModel()->selectedIndexes().first().row(), 1);

    const QRect row = m_view->visualRect(m_view->model()->index(0, 0));
    {
        DialogAnswer cancel(false, true);
        QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {},
                          SCFileManager::FileItemDelegate::deleteIconRect(row).center());
        QVERIFY(cancel.answered);
    }
    QVERIFY(QFile::exists(b));
    QCOMPARE(manager.getAllFiles().size(), 2);
    QCOMPARE(m_view->selectionModel()->selectedIndexes().first().row(), 1);

    DialogAnswer confirm(true, true);
    QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {},
                      SCFileManager::FileItemDelegate::deleteIconRect(row).center());
    QVERIFY(confirm.answered);
    QVERIFY(!QFile::exists(b));
    QCOMPARE(pathsOf(manager.getAllFiles()), QStringList({a}));
    // A click on the row itself, away from the icons, selects it as usual.
    QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {}, QPoint(20, row.center().y()));
    QCOMPARE(m_view->selectionModel()->selectedIndexes().first().row(), 0);
}

void TestFileManager::rowsArePaintedWithHoverIcons()
{
    SCFileManager manager;
    manager.addFile(makeFile("first.png"), "screenshot");
    manager.addFile(makeFile("second.png"), "screenshot");
    manager.addFile(makeFile("third.png"), "screenshot");
    QVERIFY(showView(manager, QString()));
    manager.selectListViewItemByIndex(2);

    const QRect hoveredRow = m_view->visualRect(m_view->model()->index(0, 0));
    const QRect plainRow = m_view->visualRect(m_view->model()->index(1, 0));
    const QRect selectedRow = m_view->visualRect(m_view->model()->index(2, 0));
    QCOMPARE(hoveredRow.height(), 32);
    // The real pointer, so that no stray motion of it takes the hover away.
    const QPoint over = m_view->viewport()->mapToGlobal(QPoint(30, hoveredRow.center().y()));
    QCOMPARE(QProcess::execute("xdotool",
                               {"mousemove", QString::number(over.x()), QString::number(over.y())}),
             0);

    // Icon pixels: the tint colour, fully or partly covering the row background.
    const auto iconPixels = [](const QImage &image, const QRect &rect) {
        int count = 0;
        for (int y = rect.top(); y <= rect.bottom(); ++y)
            for (int x = rect.left(); x <= rect.right(); ++x) {
                const QColor c = image.pixelColor(x, y);
                count += c != QColor("#37373D") && c != QColor("#28282E") && c.red() <= 0x99
                        && c.blue() <= 0xB0 && c.blue() > c.red();
            }
        return count;
    };
    QImage image;
    QTRY_VERIFY_WITH_TIMEOUT(
            (image = m_view->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32),
             iconPixels(image, SCFileManager::FileItemDelegate::folderIconRect(hoveredRow)) > 10),
            5000);
    image.save(QDir::temp().filePath("vistrel-library-rows.png"));
    QVERIFY(iconPixels(image, SCFileManager::FileItemDelegate::deleteIconRect(hoveredRow)) > 10);
    QCOMPARE(iconPixels(image, SCFileManager::FileItemDelegate::folderIconRect(plainRow)), 0);
    QCOMPARE(iconPixels(image, SCFileManager::FileItemDelegate::deleteIconRect(selectedRow)), 0);

    // Backgrounds: plain rows dark, hovered and selected rows lighter; separator at the bottom.
    const int x = plainRow.width() / 2;
    QCOMPARE(image.pixelColor(x, plainRow.top() + 2), QColor("#28282E"));
    QCOMPARE(image.pixelColor(x, hoveredRow.top() + 2), QColor("#37373D"));
    QCOMPARE(image.pixelColor(x, selectedRow.top() + 2), QColor("#37373D"));
    QCOMPARE(image.pixelColor(x, plainRow.bottom()), QColor("#222222"));
    // The plain row's name is drawn in the dim text colour, the hovered row's in white.
    const auto hasColour = [&image](const QRect &rect, const QColor &colour) {
        for (int y = rect.top(); y <= rect.bottom(); ++y)
            for (int xx = rect.left(); xx <= rect.right(); ++xx)
                if (image.pixelColor(xx, y) == colour)
                    return true;
        return false;
    };
    QVERIFY(hasColour(plainRow.adjusted(8, 0, -48, -1), QColor("#99A1B0")));
    QVERIFY(hasColour(hoveredRow.adjusted(8, 0, -48, -1), QColor("#FFFFFF")));
    QVERIFY(!hasColour(plainRow.adjusted(8, 0, -48, -1), QColor("#FFFFFF")));
}

void TestFileManager::hoverIconsHaveToolTips()
{
    SCFileManager manager;
    manager.addFile(makeFile("tip.png"), "screenshot");
    QVERIFY(showView(manager, QString()));
    const QRect row = m_view->visualRect(m_view->model()->index(0, 0));
    QWidget *viewport = m_view->viewport();

    const auto toolTipAt = [viewport](const QPoint &pos) {
        QHelpEvent help(QEvent::ToolTip, pos, viewport->mapToGlobal(pos));
        QApplication::sendEvent(viewport, &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    QTRY_COMPARE(toolTipAt(SCFileManager::FileItemDelegate::folderIconRect(row).center()),
                 QString("Show in Folder"));
    QTRY_COMPARE(toolTipAt(SCFileManager::FileItemDelegate::deleteIconRect(row).center()),
                 QString("Delete"));
    toolTipAt(QPoint(20, row.center().y()));
    QTRY_VERIFY(!QToolTip::isVisible());
}

void TestFileManager::folderIconOpensTheFolderWithoutFileManager()
{
    // The private test bus has no file manager, so the folder itself is opened.
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler("file", &recorder, "open");
    QDir().mkpath(m_files.filePath("sub dir"));
    const QString file = makeFile("sub dir/shot.png");
    SCFileManager manager;
    manager.addFile(file, "screenshot");
    QVERIFY(showView(manager, QString()));
    const QRect row = m_view->visualRect(m_view->model()->index(0, 0));
    QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {},
                      SCFileManager::FileItemDelegate::folderIconRect(row).center());
    QTRY_COMPARE_WITH_TIMEOUT(recorder.urls.size(), 1, 10000);
    QCOMPARE(recorder.urls.first(), QUrl::fromLocalFile(m_files.filePath("sub dir")));
    // The click did not select the row.
    QVERIFY(m_view->selectionModel()->selectedIndexes().isEmpty());
    QDesktopServices::unsetUrlHandler("file");
}

int main(int argc, char **argv)
{
    // A private data folder: the library never touches the user's own.
    QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome.path()));
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(SCSettings::ORGANIZATION);
    QCoreApplication::setApplicationName(SCSettings::APPLICATION);
    TestFileManager test;
    return QTest::qExec(&test, argc, argv);
}

#include "test-file-manager.moc"
