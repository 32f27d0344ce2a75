// The file library: the stored list, and the Files list on screen with its painting, icons
// and deleting.

#include "desktop-input.h"
#include "lean-a-files.h"
#include "message-box-catcher.h"
#include "sc-desktop-open.h"
#include "sc-file-item-delegate.h"
#include "sc-file-manager.h"
#include "sc-settings.h"
#include "test-home.h"
#include "url-catcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolTip>
#include <QtTest>

#include <csignal>
#include <memory>
#include <sys/resource.h>

inline QJsonArray readLibrary(const QString &path)
{
    return QJsonDocument::fromJson(readAll(path)).array();
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
    void rowsArePaintedWithHoverIconsTipsAndActions();
    void filesDeletedOutsideLeaveTheList();
    void desktopFailuresKeepTheEntry();

private:
    QString makeFile(const QString &name);
    QListView *showView(SCFileManager &manager, const QString &filter);
    // A click on the delete (or folder) icon of a row of the list on show.
    void clickIcon(int row, bool folder = false);

    QTemporaryDir m_files;
    std::unique_ptr<QListView> m_view;
};

void TestFileManager::init()
{
    m_view.reset();
    QSettings().clear();
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

// The tooltip, the mark and the restart are checked through the main window (test-files-page).
void TestFileManager::orderIsPerList()
{
    const QString a = makeFile("a.mp4");
    const QString b = makeFile("b.mp3");
    const QString c = makeFile("c.mp4");
    const auto rows = [this] {
        QStringList names;
        for (int row = 0; row < m_view->model()->rowCount(); ++row)
            names << m_view->model()->index(row, 0).data().toString();
        return names;
    };
    SCFileManager manager;
    manager.addFile(a, "video");
    manager.addFile(b, "audio");
    manager.addFile(c, "video");
    QVERIFY(showView(manager, "video"));
    QCOMPARE(rows(), QStringList({"c.mp4", "a.mp4"}));
    manager.reverseFileOrder();
    // That it is kept per list and over a restart is test-files-page's.
    QCOMPARE(rows(), QStringList({"a.mp4", "c.mp4"}));

    // A new recording goes where the order puts it, and is the one selected.
    const QString d = makeFile("d.mp4");
    manager.addFile(d, "video");
    manager.updateListView(m_view.get(), "video");
    QCOMPARE(rows(), QStringList({"a.mp4", "c.mp4", "d.mp4"}));
    manager.selectNewestEntry();
    QCOMPARE(m_view->selectionModel()->selectedIndexes().size(), 1);
    QCOMPARE(m_view->selectionModel()->selectedIndexes().first().row(), 2);
    // The stored library itself stays newest first.
    QCOMPARE(pathsOf(manager.getAllFiles()), QStringList({d, c, b, a}));

    // A library stored oldest first, as earlier versions left it after a reversal, is read
    // newest first.
    QJsonArray oldestFirst;
    int minute = 0;
    for (const QString &path : {a, b, c}) {
        const QString date = QString("2024-03-05T14:%1:09").arg(minute++, 2, 10, QChar('0'));
        oldestFirst.append(
                QJsonObject {{"filepath", path},
                             {"properties", QJsonObject {{"type", "video"}, {"dateAdded", date}}}});
    }
    writeFile(manager.getDataFilePath(), QJsonDocument(oldestFirst).toJson());
    SCFileManager restarted;
    QCOMPARE(pathsOf(restarted.getAllFiles()), QStringList({c, b, a}));
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
    // "Not Now" instead of "Find Files".
    QTest::addColumn<bool>("decline");
    const QByteArray cutOff("[\n  {\"filepath\": \"/tmp/x.png\", \"prop");
    QTest::newRow("cut off") << cutOff << false;
    QTest::newRow("cut off, declined") << cutOff << true;
    QTest::newRow("entries, then garbage") << QByteArray(
            "[{\"filepath\": \"/tmp/x.png\", \"properties\": {}}]\x00\x00 and more", 57)
                                           << false;
    QTest::newRow("object at the top")
            << QByteArray("{\"filepath\": \"/tmp/x.png\", \"properties\": {}}") << false;
    QTest::newRow("number entry") << QByteArray("[1, 2]") << false;
    QTest::newRow("path not a string")
            << QByteArray("[{\"filepath\": 7, \"properties\": {\"type\": \"video\"}}]") << false;
}

void TestFileManager::malformedLibraryIsKeptAside()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, decline);
    // The save folders hold what the program wrote and files of the person's own.
    const QString videos = m_files.filePath("Videos");
    const QString pictures = m_files.filePath("Pictures");
    QDir().mkpath(videos);
    QDir().mkpath(pictures);
    QSettings().setValue(SCSettings::RECORDING_SAVE_LOCATION, videos);
    QSettings().setValue(SCSettings::SCREENSHOT_SAVE_LOCATION, pictures);
    const QStringList program = {videos + "/Recording_2026_12_07_06-39-50.mp4",
                                 videos + "/Recording_2026_12_07_06-39-50 (2).flac",
                                 pictures + "/Screenshot_2026-12-07_06-49-41.png",
                                 pictures + "/Screenshot_2026-12-07_06-49-41_2.jpg"};
    const QStringList foreign = {videos + "/holiday.mp4", videos + "/Recording_notes.txt",
                                 pictures + "/Screenshot_2026-12-07_06-49-41.gif",
                                 pictures + "/Recording_2026_12_07_06-39-50.mp4"};
    for (const QString &path : program + foreign)
        writeFile(path, "x");

    const QString dataPath = SCFileManager().getDataFilePath();
    QFile::remove(dataPath);
    writeFile(dataPath, content);
    const QDir dataDir = QFileInfo(dataPath).dir();

    QStringList asideFiles;
    {
        SCFileManager manager;
        QVERIFY(manager.getAllFiles().isEmpty());
        asideFiles = dataDir.entryList({"file_data.json.broken-*"}, QDir::Files);
        QCOMPARE(asideFiles.size(), 1);
        QCOMPARE(readAll(dataDir.filePath(asideFiles.first())), content);

        // Said once the list is on show, naming the kept copy, with the offer to find the
        // files again.
        QVERIFY(showView(manager, "video"));
        QMessageBox *box = nullptr;
        QTRY_VERIFY((box = MessageBoxCatcher::visibleBox(SCFileManager::DAMAGED_MESSAGE_NAME)));
        QVERIFY2(box->text().contains(asideFiles.first()), qPrintable(box->text()));
        QVERIFY(!box->styleSheet().isEmpty());
        if (decline) {
            buttonNamed(box, "Not Now")->click();
            QTRY_VERIFY(!MessageBoxCatcher::visibleBox(SCFileManager::DAMAGED_MESSAGE_NAME));
            QVERIFY(manager.getAllFiles().isEmpty());
            manager.addFile(makeFile("new.png"), "screenshot");
            QCOMPARE(readLibrary(dataPath).size(), 1);
            return;
        }
        QVERIFY(buttonNamed(box, "Find Files"));
        buttonNamed(box, "Find Files")->click();
        QTRY_COMPARE(m_view->model()->rowCount(), 1);
        QCOMPARE(pathsOf(manager.getFilesByType("video")), QStringList({program[0]}));
        QCOMPARE(pathsOf(manager.getFilesByType("audio")), QStringList({program[1]}));
        QStringList shots = pathsOf(manager.getFilesByType("screenshot"));
        shots.sort();
        QCOMPARE(shots, QStringList({program[2], program[3]}));
        QCOMPARE(readLibrary(dataPath).size(), 4);
        QVERIFY(QDateTime::fromString(
                        readLibrary(dataPath).at(0)["properties"]["dateAdded"].toString(),
                        Qt::ISODate)
                        .isValid());

        // Once only.
        manager.updateListView(m_view.get(), "audio");
        QCoreApplication::processEvents();
        QVERIFY(!MessageBoxCatcher::visibleBox(SCFileManager::DAMAGED_MESSAGE_NAME));
    }
    // The rebuilt library is sound: the next start finds it and says nothing.
    SCFileManager next;
    QCOMPARE(next.getAllFiles().size(), 4);
    QVERIFY(showView(next, "video"));
    QCoreApplication::processEvents();
    QVERIFY(!MessageBoxCatcher::visibleBox(SCFileManager::DAMAGED_MESSAGE_NAME));
    QCOMPARE(readAll(dataDir.filePath(asideFiles.first())), content);
}

void TestFileManager::failedSavesKeepThePreviousLibrary()
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

    // A data folder that cannot be made: the library works in memory and harms nothing.
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
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
    qputenv("XDG_DATA_HOME", dataHome);
    QCOMPARE(readAll(blocker), QByteArray("in the way"));
}

namespace {

// Answers the next delete confirmation once it is on screen: ticks "from disk" if asked and
// clicks "Delete", or Cancel. Keeps what it said: title, text, informative text, delete button
// and check box, then text, informative text and button once "from disk" is ticked.
class DialogAnswer : public QObject
{
public:
    DialogAnswer(bool confirm, bool fromDisk)
        : m_confirm(confirm)
        , m_fromDisk(fromDisk)
    {
        connect(&m_timer, &QTimer::timeout, this, &DialogAnswer::poll);
        m_timer.start(20);
    }

    QStringList said;
    QStringList ticked;
    bool cancelIsDefault = false;
    bool answered = false;

private:
    void poll()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        m_timer.stop();
        auto *deleteButton = box->findChild<QPushButton *>(QStringLiteral("deleteButton"));
        const auto texts = [&] {
            return QStringList {box->text(), box->informativeText(),
                                deleteButton ? deleteButton->text() : QString()};
        };
        said = QStringList {box->windowTitle()} + texts()
                << (box->checkBox() ? box->checkBox()->text() : QString());
        cancelIsDefault = box->defaultButton() == box->button(QMessageBox::Cancel);
        if (box->checkBox()) {
            box->checkBox()->setChecked(true);
            ticked = texts();
            box->checkBox()->setChecked(m_fromDisk);
        }
        QAbstractButton *button = m_confirm ? deleteButton : box->button(QMessageBox::Cancel);
        answered = button != nullptr;
        if (button)
            button->click();
    }

    QTimer m_timer;
    bool m_confirm;
    bool m_fromDisk;
};

} // namespace

void TestFileManager::clickIcon(int row, bool folder)
{
    const QRect rect = m_view->visualRect(m_view->model()->index(row, 0));
    QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {},
                      folder ? SCFileManager::FileItemDelegate::folderIconRect(rect).center()
                             : SCFileManager::FileItemDelegate::deleteIconRect(rect).center());
}

// The delete icon of a row asks first. Cancel keeps file, entry and selection; the answer
// takes only that entry, and its file only when asked to; the stored others stay as they were.
void TestFileManager::deleteIconAsksThenTakesOnlyItsEntry()
{
    const QString a = makeFile("a.mp4");
    const QString b = makeFile("b.mp3");
    const QString c = makeFile("c.png");
    {
        SCFileManager manager;
        manager.addFile(a, "video");
        manager.addFile(b, "audio");
        manager.addFile(c, "screenshot");
    }
    const QJsonArray before = readLibrary(SCFileManager().getDataFilePath());
    QCOMPARE(before.size(), 3);

    SCFileManager manager;
    QVERIFY(showView(manager, QString()));
    manager.selectListViewItemByIndex(2);
    const auto selectedRow = [this] {
        const QModelIndexList rows = m_view->selectionModel()->selectedIndexes();
        return rows.size() == 1 ? rows.first().row() : -1;
    };
    QCOMPARE(selectedRow(), 2);
    {
        DialogAnswer cancel(false, true);
        clickIcon(1);
        QVERIFY(cancel.answered);
    }
    QVERIFY(QFile::exists(b));
    QCOMPARE(manager.getAllFiles().size(), 3);
    QCOMPARE(selectedRow(), 2);

    // The middle row, keeping its file on the disk.
    DialogAnswer keepFile(true, false);
    clickIcon(1);
    QVERIFY(keepFile.answered);
    QVERIFY(QFile::exists(b));
    QCOMPARE(pathsOf(manager.getAllFiles()), QStringList({c, a}));
    QCOMPARE(m_view->model()->rowCount(), 2);
    // And the first one from the disk as well.
    DialogAnswer fromDisk(true, true);
    clickIcon(0);
    QVERIFY(fromDisk.answered);
    QVERIFY(!QFile::exists(c));
    QCOMPARE(pathsOf(manager.getAllFiles()), QStringList({a}));
    const QJsonArray after = readLibrary(manager.getDataFilePath());
    QCOMPARE(after, QJsonArray({before.at(2)}));
    QCOMPARE(pathsOf(SCFileManager().getAllFiles()), QStringList({a}));

    // A click on the row itself, away from the icons, selects it as usual.
    const QRect row = m_view->visualRect(m_view->model()->index(0, 0));
    QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {}, QPoint(20, row.center().y()));
    QCOMPARE(selectedRow(), 0);
    // Cancelled, the delete button for the selection keeps file and entry as well.
    {
        DialogAnswer bulkCancel(false, true);
        manager.deleteSelectedFiles(m_view.get());
        QVERIFY(bulkCancel.answered);
    }
    QVERIFY(QFile::exists(a));
    QCOMPARE(manager.getAllFiles().size(), 1);

    // An empty list says what is missing, over the whole list.
    auto *placeholder = m_view->viewport()->findChild<QLabel *>();
    QVERIFY(placeholder && !placeholder->isVisible());
    DialogAnswer last(true, false);
    clickIcon(0);
    QVERIFY(last.answered);
    QTRY_VERIFY(placeholder->isVisible());
    QCOMPARE(placeholder->geometry(), m_view->viewport()->rect());
    const QList<QPair<QString, QString>> empty = {{"screenshot", "No screenshots yet"},
                                                  {"audio", "No audio recordings yet"},
                                                  {"video", "No video recordings yet"}};
    for (const auto &[filter, text] : empty) {
        manager.updateListView(m_view.get(), filter);
        QCOMPARE(placeholder->text(), text);
    }
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
    clickIcon(1);
    QVERIFY(answer.answered);
    // The dialog names the file and says which of the two will happen.
    QCOMPARE(
            answer.said,
            QStringList({"Delete", "Remove \"a.mp3\" from the list?", "The file stays on the disk.",
                         "Remove from List", "Delete file from disk as well."}));
    QCOMPARE(answer.ticked,
             QStringList({"Delete \"a.mp3\" from the disk?", "This cannot be undone.",
                          "Delete from Disk"}));
    QVERIFY(answer.cancelIsDefault);
    QCOMPARE(pathsOf(manager.getFilesByType("audio")), QStringList({audio}));
    QVERIFY(QFile::exists(audio));
}

void TestFileManager::bulkDeletion_data()
{
    QTest::addColumn<bool>("fromDisk");
    QTest::addColumn<int>("count");
    QTest::newRow("two, from disk") << true << 2;
    QTest::newRow("five, library only") << false << 5;
}

void TestFileManager::bulkDeletion()
{
    QFETCH(bool, fromDisk);
    QFETCH(int, count);
    const QString video = makeFile("v.mp4");
    SCFileManager manager;
    manager.addFile(video, "video");
    QStringList shots;
    for (int i = 0; i <= count; ++i) {
        shots.prepend(makeFile(QString("shot-%1.png").arg(i)));
        manager.addFile(shots.first(), "screenshot");
    }
    QVERIFY(showView(manager, "screenshot"));

    // Rows shot-N ... shot-0: select all but the last.
    QItemSelectionModel *selection = m_view->selectionModel();
    for (int row = count - 1; row >= 0; --row)
        selection->select(m_view->model()->index(row, 0), QItemSelectionModel::Select);

    DialogAnswer answer(true, fromDisk);
    manager.deleteSelectedFiles(m_view.get());
    QVERIFY(answer.answered);
    QString names = QString("shot-%1.png\nshot-%2.png").arg(count).arg(count - 1);
    names += count > 3 ? QString("\nshot-%1.png\nand %2 more").arg(count - 2).arg(count - 3) : "";
    QCOMPARE(answer.said,
             QStringList({"Delete", QString("Remove %1 files from the list?").arg(count),
                          names + "\n\nThe files stay on the disk.", "Remove from List",
                          "Delete files from disk as well."}));
    QCOMPARE(answer.ticked,
             QStringList({QString("Delete %1 files from the disk?").arg(count),
                          names + "\n\nThis cannot be undone.", "Delete from Disk"}));
    QVERIFY(answer.cancelIsDefault);

    QCOMPARE(pathsOf(manager.getAllFiles()), QStringList({shots.last(), video}));
    for (int i = 0; i < count; ++i)
        QCOMPARE(QFile::exists(shots.at(i)), !fromDisk);
    QVERIFY(QFile::exists(shots.last()));
    // Rebuilt with the same filter.
    QCOMPARE(m_view->model()->rowCount(), 1);
    QCOMPARE(m_view->model()->index(0, 0).data().toString(), QString("shot-0.png"));
    QCOMPARE(readLibrary(manager.getDataFilePath()).size(), 2);
}

void TestFileManager::rowsArePaintedWithHoverIconsTipsAndActions()
{
    SCFileManager manager;
    manager.addFile(makeFile("first.png"), "screenshot");
    manager.addFile(makeFile("second.png"), "screenshot");
    QDir().mkpath(m_files.filePath("sub dir"));
    manager.addFile(makeFile("sub dir/third.png"), "screenshot");
    QVERIFY(showView(manager, QString()));
    manager.selectListViewItemByIndex(2);

    const QRect hoveredRow = m_view->visualRect(m_view->model()->index(0, 0));
    const QRect plainRow = m_view->visualRect(m_view->model()->index(1, 0));
    const QRect selectedRow = m_view->visualRect(m_view->model()->index(2, 0));
    QCOMPARE(hoveredRow.height(), 32);
    // The real pointer, so that no stray motion of it takes the hover away.
    const QPoint over = m_view->viewport()->mapToGlobal(QPoint(30, hoveredRow.center().y()));
    QVERIFY(movePointer(over));

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

    QWidget *viewport = m_view->viewport();
    const auto toolTipAt = [viewport](const QPoint &pos) {
        QHelpEvent help(QEvent::ToolTip, pos, viewport->mapToGlobal(pos));
        QApplication::sendEvent(viewport, &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    QTRY_COMPARE(toolTipAt(SCFileManager::FileItemDelegate::folderIconRect(hoveredRow).center()),
                 QString("Show in Folder"));
    QTRY_COMPARE(toolTipAt(SCFileManager::FileItemDelegate::deleteIconRect(hoveredRow).center()),
                 QString("Delete"));
    toolTipAt(QPoint(20, hoveredRow.center().y()));
    QTRY_VERIFY(!QToolTip::isVisible());

    // The private test bus has no file manager, so the folder icon opens the folder itself,
    // and does not select the row.
    UrlCatcher opened {QStringList {QStringLiteral("file")}};
    clickIcon(0, true);
    QTRY_COMPARE_WITH_TIMEOUT(
            opened.urls, QList<QUrl>({QUrl::fromLocalFile(m_files.filePath("sub dir"))}), 10000);
    QCOMPARE(m_view->selectionModel()->selectedIndexes().size(), 1);
    QCOMPARE(m_view->selectionModel()->selectedIndexes().first().row(), 2);
}

void TestFileManager::filesDeletedOutsideLeaveTheList()
{
    const QString a = makeFile("a.png");
    const QString b = makeFile("b.png");
    QDir().mkpath(m_files.filePath("elsewhere"));
    const QString c = makeFile("elsewhere/c.png");
    // A recording is listed when it starts, before its file is written.
    const QString recording = m_files.filePath("Recording.mp4");
    SCFileManager manager;
    manager.addFile(a, "screenshot");
    manager.addFile(b, "screenshot");
    manager.addFile(c, "screenshot");
    manager.addFile(recording, "video");
    QVERIFY(showView(manager, "screenshot"));
    QCOMPARE(m_view->model()->rowCount(), 3);

    QVERIFY(QFile::remove(a));
    QTRY_COMPARE(m_view->model()->rowCount(), 2);
    QVERIFY(QDir(m_files.filePath("elsewhere")).removeRecursively());
    QTRY_COMPARE(m_view->model()->rowCount(), 1);
    QCOMPARE(m_view->model()->index(0, 0).data().toString(), QString("b.png"));
    QCOMPARE(pathsOf(manager.getFilesByType("video")), QStringList({recording}));
    QCOMPARE(readLibrary(manager.getDataFilePath()).size(), 2);

    // Once its file has been seen, a recording that is deleted goes as well.
    writeFile(recording, "x");
    manager.updateListView(m_view.get(), "video");
    QCOMPARE(m_view->model()->rowCount(), 1);
    QVERIFY(QFile::remove(recording));
    QTRY_COMPARE(m_view->model()->rowCount(), 0);
    QCOMPARE(pathsOf(manager.getAllFiles()), QStringList({b}));
    QCOMPARE(readLibrary(manager.getDataFilePath()).size(), 1);
}

// What the desktop cannot do is said, and the entry and its file stay.
void TestFileManager::desktopFailuresKeepTheEntry()
{
    // A directory in the place of the file cannot be removed as a file, not even by root.
    const QString stuck = m_files.filePath("stuck.png");
    QDir().mkpath(stuck);
    const QString clip = makeFile("clip.mp4");
    SCFileManager manager;
    manager.addFile(stuck, "screenshot");
    manager.addFile(clip, "video");
    QVERIFY(showView(manager, QString()));
    const auto message = [] {
        QMessageBox *box = nullptr;
        if (!QTest::qWaitFor([&] {
                return (box = MessageBoxCatcher::visibleBox(SCDesktopOpen::MESSAGE_NAME));
            }))
            return QString();
        const QString text = box->text();
        box->close();
        return text;
    };
    DialogAnswer answer(true, true);
    clickIcon(1);
    QVERIFY(answer.answered);
    QString text = message();
    QVERIFY2(text.contains("stuck.png"), qPrintable(text));
    QCOMPARE(pathsOf(manager.getAllFiles()), QStringList({clip, stuck}));
    QCOMPARE(m_view->model()->rowCount(), 2);
    QCOMPARE(readLibrary(manager.getDataFilePath()).size(), 2);

    // No xdg-open, no browser: the desktop takes nothing. What the message says and logs is in
    // test-files-page.
    const QRect row = m_view->visualRect(m_view->model()->index(0, 0));
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(m_files.filePath("no-programs")));
    QTest::mouseDClick(m_view->viewport(), Qt::LeftButton, {}, QPoint(20, row.center().y()));
    qputenv("PATH", path);
    text = message();
    QVERIFY2(text.contains(clip), qPrintable(text));
    QVERIFY(QFile::exists(clip));
    QCOMPARE(manager.getAllFiles().size(), 2);
}

int main(int argc, char **argv)
{
    // A private home: the library never touches the user's own.
    TestHome home;
    QApplication app(argc, argv);
    home.openLog();
    QCoreApplication::setOrganizationName(SCSettings::ORGANIZATION);
    QCoreApplication::setApplicationName(SCSettings::APPLICATION);
    TestFileManager test;
    return QTest::qExec(&test, argc, argv);
}

#include "test-file-manager.moc"
