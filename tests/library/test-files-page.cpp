// The Files page and the program's links to the desktop, in the real main window and on their
// own, on a desktop without any program to open files, folders or web pages, with a private
// session bus. Settings, library and save folders live in a private home.

#include "lean-a-files.h"
#include "message-box-catcher.h"
#include "sc-desktop-open.h"
#include "sc-file-reveal.h"
#include "sc-logger.h"
#include "sc-main-window.h"
#include "sc-settings.h"
#include "sc-translator.h"
#include "test-home.h"
#include "url-catcher.h"
#include "widget-lookup.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

TestHome *g_home = nullptr;

QString defaultOf(const QString &key)
{
    for (const SCSettings::Default &d : SCSettings::defaults()) {
        if (d.key == key)
            return d.value.toString();
    }
    return {};
}

// The desktop-open messages on show: a second failure must replace the first, not stack.
int visibleMessages()
{
    const QWidgetList tops = QApplication::topLevelWidgets();
    return std::count_if(tops.begin(), tops.end(), [](QWidget *widget) {
        return qobject_cast<QMessageBox *>(widget) && widget->isVisible()
                && widget->objectName() == SCDesktopOpen::MESSAGE_NAME;
    });
}

} // namespace

// Stands in for the desktop's file manager on the test session bus.
class FakeFileManager : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QList<QStringList> calls;
    QStringList startupIds;

public Q_SLOTS:
    Q_SCRIPTABLE void ShowItems(const QStringList &uris, const QString &startupId)
    {
        calls << uris;
        startupIds << startupId;
    }
};

class TestFilesPage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void firstStartSaysWhatWentWrong();
    void desktopLinksSayWhyNothingOpens();
    void eachListKeepsItsOrder();
    // The desktop links themselves, without the main window.
    void showInFolder_data();
    void showInFolder();
    void desktopOpenSaysWhyItFailed_data();
    void desktopOpenSaysWhyItFailed();
    void desktopOpenHandsOverQuietly();

private:
    template<typename T> T *child(const char *name) { return childOf<T>(m_window.get(), name); }
    void startWindow();
    QStringList rows();
    // Runs `action` and returns the text of the message it brings up, which it closes;
    // empty when none comes.
    QString messageAfter(const std::function<void()> &action);

    QString makeFile(const QString &relative);

    QTemporaryDir m_dir;
    std::unique_ptr<SCMainWindow> m_window;
    QString m_videos;
    QString m_pictures;
};

void TestFilesPage::startWindow()
{
    m_window = std::make_unique<SCMainWindow>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

QStringList TestFilesPage::rows()
{
    auto *list = child<QListView>("fileListView");
    QStringList names;
    for (int row = 0; row < list->model()->rowCount(); ++row)
        names << list->model()->index(row, 0).data().toString();
    return names;
}

QString TestFilesPage::messageAfter(const std::function<void()> &action)
{
    action();
    QMessageBox *box = nullptr;
    if (!QTest::qWaitFor([&box] {
            return (box = MessageBoxCatcher::visibleBox("desktopOpenMessage")) != nullptr;
        }))
        return {};
    const QString text = box->text();
    box->close();
    return QTest::qWaitFor([] { return !MessageBoxCatcher::visibleBox("desktopOpenMessage"); })
            ? text
            : QString();
}

QString TestFilesPage::makeFile(const QString &relative)
{
    writeFile(m_dir.filePath(relative), "x");
    return m_dir.filePath(relative);
}

void TestFilesPage::initTestCase()
{
    m_videos = defaultOf(SCSettings::RECORDING_SAVE_LOCATION);
    m_pictures = defaultOf(SCSettings::SCREENSHOT_SAVE_LOCATION);
    QVERIFY(m_videos.startsWith(g_home->path()));
    // Recordings and screenshots of earlier days, and a library that is beyond repair.
    const QDateTime day(QDate(2026, 12, 7), QTime(6, 39, 50));
    writeFile(m_videos + "/Recording_2026_12_07_06-39-50.mp4", "x", day);
    writeFile(m_videos + "/Recording_2026_12_07_07-10-00.mp4", "x", day.addSecs(1810));
    writeFile(m_videos + "/Recording_2026_12_07_08-00-00.mp3", "x", day.addSecs(4810));
    writeFile(m_pictures + "/Screenshot_2026-12-07_06-49-41.png", "x", day.addSecs(591));
    writeFile(m_videos + "/my own film.mp4", "x");
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    writeFile(data + "/file_data.json", QByteArray("\x89PNG\r\n\x1a\n[{\"filepath\":", 22));
    startWindow();
}

void TestFilesPage::firstStartSaysWhatWentWrong()
{
    // The welcome page found no browser: said, and logged.
    QMessageBox *welcome = nullptr;
    QTRY_VERIFY((welcome = MessageBoxCatcher::visibleBox("desktopOpenMessage")));
    QVERIFY2(welcome->text().contains("https://"), qPrintable(welcome->text()));
    QVERIFY(QSettings().contains(SCSettings::GENERAL_FIRST_RUN));
    QVERIFY(readAll(SCLogger::instance()->logFilePath()).contains("Could not open https://"));
    welcome->close();

    // The damaged library is told about, and the empty lists say that they are empty.
    QMessageBox *damaged = nullptr;
    QTRY_VERIFY((damaged = MessageBoxCatcher::visibleBox("libraryDamagedMessage")));
    QTest::mouseClick(child<QPushButton>("fileTab"), Qt::LeftButton);
    auto *placeholder = child<QLabel>("fileListPlaceholder");
    QTRY_VERIFY(placeholder->isVisible());
    QCOMPARE(placeholder->text(), QString("No video recordings yet"));

    QVERIFY(buttonNamed(damaged, "Find Files"));
    buttonNamed(damaged, "Find Files")->click();
    QTRY_COMPARE(rows(),
                 QStringList({"Recording_2026_12_07_07-10-00.mp4",
                              "Recording_2026_12_07_06-39-50.mp4"}));
    QVERIFY(!placeholder->isVisible());
    QTest::mouseClick(child<QPushButton>("audioTab"), Qt::LeftButton);
    QCOMPARE(rows(), QStringList({"Recording_2026_12_07_08-00-00.mp3"}));
    QTest::mouseClick(child<QPushButton>("imageTab"), Qt::LeftButton);
    QCOMPARE(rows(), QStringList({"Screenshot_2026-12-07_06-49-41.png"}));
}

void TestFilesPage::desktopLinksSayWhyNothingOpens()
{
    const auto click = [this](const char *button) {
        return [this, button] { QTest::mouseClick(child<QPushButton>(button), Qt::LeftButton); };
    };
    const QString videos = QDir::toNativeSeparators(m_videos);
    const QString pictures = QDir::toNativeSeparators(m_pictures);
    // The folder button of the Files page opens the folder of the list on show.
    QString text = messageAfter(click("openTypeFolderBtn"));
    QVERIFY2(text.contains(pictures), qPrintable(text));
    QTest::mouseClick(child<QPushButton>("videoTab"), Qt::LeftButton);
    text = messageAfter(click("openTypeFolderBtn"));
    QVERIFY2(text.contains(videos), qPrintable(text));
    // Open Folder on the Recording and Screenshot pages.
    QTest::mouseClick(child<QPushButton>("recordingTab"), Qt::LeftButton);
    text = messageAfter(click("openFolderBtn"));
    QVERIFY2(text.contains(videos), qPrintable(text));
    QTest::mouseClick(child<QPushButton>("screenshotTab"), Qt::LeftButton);
    text = messageAfter(click("openScreenshotFileLocationBtn"));
    QVERIFY2(text.contains(pictures), qPrintable(text));

    // Help -> Guide, FAQ and Open Log Folder of the menu button.
    const QString logs
            = QDir::toNativeSeparators(QFileInfo(SCLogger::instance()->logFilePath()).path());
    for (const QString &entry : QStringList {"Guide", "FAQ", "Open Log Folder"}) {
        QTest::mouseClick(child<QPushButton>("menuBtn"), Qt::LeftButton);
        QMenu *menu = nullptr;
        QTRY_VERIFY((menu = m_window->findChild<QMenu *>("mainMenu")) && menu->isVisible());
        QAction *chosen = nullptr;
        for (QMenu *sub : menu->findChildren<QMenu *>()) {
            for (QAction *action : sub->actions())
                chosen = sub->title() == "Help" && action->text() == entry ? action : chosen;
        }
        QVERIFY(chosen);
        menu->close();
        text = messageAfter([chosen] { chosen->trigger(); });
        QVERIFY2(text.contains(entry == "Open Log Folder" ? logs : QString("https://")),
                 qPrintable(entry + ": " + text));
        QTRY_VERIFY(!m_window->findChild<QMenu *>("mainMenu"));
    }
}

void TestFilesPage::eachListKeepsItsOrder()
{
    QTest::mouseClick(child<QPushButton>("fileTab"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>("videoTab"), Qt::LeftButton);
    auto *order = child<QPushButton>("fileOrderBtn");
    QCOMPARE(order->toolTip(), QString("Newest first"));
    const QImage newestMark = order->grab().toImage();
    const QStringList newestFirst = rows();
    QTest::mouseClick(order, Qt::LeftButton);
    QCOMPARE(order->toolTip(), QString("Oldest first"));
    QVERIFY(order->grab().toImage() != newestMark);
    QStringList oldestFirst = newestFirst;
    std::reverse(oldestFirst.begin(), oldestFirst.end());
    QCOMPARE(rows(), oldestFirst);
    QTest::mouseClick(child<QPushButton>("imageTab"), Qt::LeftButton);
    QCOMPARE(order->toolTip(), QString("Newest first"));

    // After a restart: the same orders, and nothing more to say.
    m_window.reset();
    startWindow();
    QTest::mouseClick(child<QPushButton>("fileTab"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>("videoTab"), Qt::LeftButton);
    QCOMPARE(child<QPushButton>("fileOrderBtn")->toolTip(), QString("Oldest first"));
    QCOMPARE(rows(), oldestFirst);
    QTest::mouseClick(child<QPushButton>("audioTab"), Qt::LeftButton);
    QCOMPARE(child<QPushButton>("fileOrderBtn")->toolTip(), QString("Newest first"));
    // A language change reaches the tooltip and the placeholder.
    SCTranslator german;
    QVERIFY(german.load("de_DE"));
    QCoreApplication::installTranslator(&german);
    QTRY_COMPARE(child<QPushButton>("fileOrderBtn")->toolTip(), QString("Neueste zuerst"));
    QCOMPARE(child<QLabel>("fileListPlaceholder")->text(), QString("Noch keine Audioaufnahmen"));
    QCoreApplication::removeTranslator(&german);
    QTRY_COMPARE(child<QPushButton>("fileOrderBtn")->toolTip(), QString("Newest first"));
    QCoreApplication::processEvents();
    QVERIFY(!MessageBoxCatcher::visibleBox("desktopOpenMessage")
            && !MessageBoxCatcher::visibleBox("libraryDamagedMessage"));
}

void TestFilesPage::showInFolder_data()
{
    QTest::addColumn<QString>("relative");
    QTest::addColumn<QString>("manager");
    QTest::newRow("blanks, quotes, letters")
            << "My \"best\" shots/it's Müller's Ärger – 東京 $(x) `y`.png"
            << "answers";
    QTest::newRow("percent and hash") << "100% #1 ?.png"
                                      << "answers";
    QTest::newRow("no file manager") << "no manager/it's \"here\".png"
                                     << "none";
    // On the bus, but without the method: it answers with an error.
    QTest::newRow("erroring file manager") << "broken/shot.png"
                                           << "errors";
}

// The file manager is asked to show the file; without one that answers, the folder opens.
void TestFilesPage::showInFolder()
{
    QFETCH(QString, relative);
    QFETCH(QString, manager);
    QDBusConnection bus = QDBusConnection::sessionBus();
    QVERIFY2(bus.isConnected(), "needs a session bus: run inside scripts/test-env.sh");
    UrlCatcher opened {QStringList {QStringLiteral("file")}};
    FakeFileManager fake;
    QObject nothing;
    if (manager != "none") {
        QVERIFY(bus.registerObject(SCFileReveal::PATH, manager == "answers" ? &fake : &nothing,
                                   QDBusConnection::ExportScriptableSlots));
        QVERIFY(bus.registerService(SCFileReveal::SERVICE));
    }
    QVERIFY(bus.interface()->isServiceRegistered(SCFileReveal::SERVICE) == (manager != "none"));
    const QString path = makeFile(relative);
    int answered = -1;
    SCFileReveal::showInFolder(
            path, nullptr, [&answered](bool viaFileManager) { answered = viaFileManager ? 1 : 0; });
    QTRY_VERIFY_WITH_TIMEOUT(answered != -1, 10000);
    bus.unregisterService(SCFileReveal::SERVICE);
    bus.unregisterObject(SCFileReveal::PATH);
    QCOMPARE(answered, manager == "answers" ? 1 : 0);
    if (manager != "answers") {
        QCOMPARE(opened.urls, QList<QUrl>({QUrl::fromLocalFile(QFileInfo(path).path())}));
        return;
    }
    QVERIFY(opened.urls.isEmpty());
    QCOMPARE(fake.calls.size(), 1);
    QCOMPARE(fake.calls.first().size(), 1);
    const QString uri = fake.calls.first().first();
    QVERIFY2(uri.startsWith("file:///"), qPrintable(uri));
    // A well-formed URI: nothing that a URI must escape is left raw.
    for (const QChar c : uri)
        QVERIFY2(c.unicode() > 32 && c.unicode() < 127 && c != '"' && c != ' ', qPrintable(uri));
    QCOMPARE(QUrl(uri, QUrl::StrictMode).toLocalFile(), path);
}

void TestFilesPage::desktopOpenSaysWhyItFailed_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("web page") << "web page";
    QTest::newRow("broken handler") << "broken handler";
    QTest::newRow("folder") << "folder";
    QTest::newRow("file") << "file";
    QTest::newRow("missing file") << "missing file";
}

void TestFilesPage::desktopOpenSaysWhyItFailed()
{
    QFETCH(QString, kind);
    QDesktopServices::unsetUrlHandler("file");
    // No xdg-open and no browser on the way.
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(m_dir.filePath("no-programs")));
    QObject receiver;
    QString shown;
    bool opened = true;
    if (kind == "web page" || kind == "broken handler") {
        shown = "https://example.org/guide?page=1";
        if (kind == "broken handler")
            QDesktopServices::setUrlHandler("https", &receiver, "noSuchSlot");
        opened = SCDesktopOpen::openUrl(QUrl(shown), nullptr);
        // A second failure replaces the first message instead of stacking another.
        SCDesktopOpen::openUrl(QUrl(shown), nullptr);
        QDesktopServices::unsetUrlHandler("https");
    } else if (kind == "folder") {
        shown = m_dir.filePath("not yet there");
        opened = SCDesktopOpen::openFolder(shown, nullptr);
        QVERIFY(QFileInfo(shown).isDir());
    } else if (kind == "file") {
        shown = makeFile("a clip.mp4");
        opened = SCDesktopOpen::openFile(shown, nullptr);
    } else {
        shown = m_dir.filePath("gone.png");
        opened = SCDesktopOpen::openFile(shown, nullptr);
    }
    qputenv("PATH", path);
    QVERIFY(!opened);

    QTRY_COMPARE(visibleMessages(), 1);
    QMessageBox *box = MessageBoxCatcher::visibleBox(SCDesktopOpen::MESSAGE_NAME);
    QVERIFY2(box->text().contains(shown), qPrintable(box->text()));
    QVERIFY(!box->styleSheet().isEmpty());
    QCOMPARE(box->text().contains("xdg-open"), kind != "missing file");
    QVERIFY(readAll(SCLogger::instance()->logFilePath())
                    .contains(QString("Could not open %1").arg(shown).toUtf8()));
    box->close();
    QTRY_COMPARE(visibleMessages(), 0);
}

void TestFilesPage::desktopOpenHandsOverQuietly()
{
    QDesktopServices::unsetUrlHandler("file");
    // A stand-in xdg-open that notes what it was given.
    const QString bin = m_dir.filePath("bin");
    const QString given = m_dir.filePath("given.txt");
    writeFile(bin + "/xdg-open",
              "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + QFile::encodeName(given) + "'\n");
    QVERIFY(QFile::setPermissions(bin + "/xdg-open",
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin) + ":" + path);

    const QString file = makeFile("to open/a clip.mp4");
    QVERIFY(SCDesktopOpen::openFile(file, nullptr));
    QVERIFY(SCDesktopOpen::openFolder(m_dir.filePath("to open"), nullptr));
    qputenv("PATH", path);
    QTRY_COMPARE(readAll(given).count('\n'), 2);
    // The two openers run side by side: either may write first.
    QStringList seen = QString::fromUtf8(readAll(given)).split('\n', Qt::SkipEmptyParts);
    seen.sort();
    QCOMPARE(seen,
             QStringList({QUrl::fromLocalFile(m_dir.filePath("to open")).toEncoded(),
                          QUrl::fromLocalFile(file).toEncoded()}));
    QCoreApplication::processEvents();
    QCOMPARE(visibleMessages(), 0);
}

int main(int argc, char **argv)
{
    TestHome home;
    g_home = &home;
    // A desktop without xdg-open or a browser.
    qputenv("PATH", QFile::encodeName(home.filePath("no-programs")));
    qunsetenv("BROWSER");
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(SCSettings::ORGANIZATION);
    QCoreApplication::setApplicationName(SCSettings::APPLICATION);
    TestFilesPage test;
    return QTest::qExec(&test, argc, argv);
}

#include "test-files-page.moc"
