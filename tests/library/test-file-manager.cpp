#include "test-file-manager.h"
#include "message-box-catcher.h"
#include "sc-logger.h"
#include "sc-settings.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QSettings>
#include <QStandardPaths>

#include <csignal>
#include <sys/resource.h>

namespace {

QAbstractButton *buttonNamed(QMessageBox *box, const QString &text)
{
    for (QAbstractButton *button : box->buttons()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

} // namespace

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
    QCOMPARE(rows(), QStringList({"a.mp4", "c.mp4"}));
    QCOMPARE(QSettings().value("files/videoOrder").toString(), QString("oldestFirst"));
    QVERIFY(manager.isNewestFirst("audio"));

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
    QTest::newRow("binary garbage")
            << QByteArray("\x00\xff\xfe[{\"filepath\"\x01\x02\x80", 16) << false;
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
        QAbstractButton *find = buttonNamed(box, "Find Files");
        QVERIFY(find);
        find->click();
        QTRY_COMPARE(m_view->model()->rowCount(), 1);
        QCOMPARE(pathsOf(manager.getFilesByType("video")), QStringList({program[0]}));
        QCOMPARE(pathsOf(manager.getFilesByType("audio")), QStringList({program[1]}));
        QCOMPARE(sorted(pathsOf(manager.getFilesByType("screenshot"))),
                 QStringList({program[2], program[3]}));
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

int main(int argc, char **argv)
{
    // A private data folder: the library never touches the user's own.
    QTemporaryDir dataHome;
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome.filePath("data")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dataHome.filePath("config")));
    QApplication app(argc, argv);
    SCLogger::instance()->initialize(dataHome.filePath("test.log"));
    QCoreApplication::setOrganizationName(SCSettings::ORGANIZATION);
    QCoreApplication::setApplicationName(SCSettings::APPLICATION);
    TestFileManager test;
    return QTest::qExec(&test, argc, argv);
}
