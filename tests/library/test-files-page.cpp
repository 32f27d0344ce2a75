// The Files page and the program's links to the desktop, in the real main window on a desktop
// without any program to open files, folders or web pages. Settings, library and save
// folders live in a private home.

#include "message-box-catcher.h"
#include "sc-logger.h"
#include "sc-main-window.h"
#include "sc-settings.h"
#include "sc-translator.h"
#include "test-home.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QtTest>

#include <memory>

namespace {

TestHome *g_home = nullptr;

void writeFile(const QString &path, const QByteArray &content, const QDateTime &modified = {})
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
    file.flush();
    if (modified.isValid())
        QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
}

QString defaultOf(const QString &key)
{
    for (const SCSettings::Default &d : SCSettings::defaults()) {
        if (d.key == key)
            return d.value.toString();
    }
    return {};
}

} // namespace

class TestFilesPage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void firstStartSaysWhatWentWrong();
    void desktopLinksSayWhyNothingOpens();
    void eachListKeepsItsOrder();

private:
    template<typename T> T *child(const char *name)
    {
        T *widget = m_window->findChild<T *>(QString::fromLatin1(name));
        if (!widget)
            qFatal("no widget %s", name);
        return widget;
    }
    void startWindow();
    QStringList rows();
    // Runs `action` and returns the text of the message it brings up, which it closes;
    // empty when none comes.
    QString messageAfter(const std::function<void()> &action);

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
    QFile log(SCLogger::instance()->logFilePath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("Could not open https://"));
    welcome->close();

    // The damaged library is told about, and the empty lists say that they are empty.
    QMessageBox *damaged = nullptr;
    QTRY_VERIFY((damaged = MessageBoxCatcher::visibleBox("libraryDamagedMessage")));
    QTest::mouseClick(child<QPushButton>("fileTab"), Qt::LeftButton);
    auto *placeholder = child<QLabel>("fileListPlaceholder");
    QTRY_VERIFY(placeholder->isVisible());
    QCOMPARE(placeholder->text(), QString("No video recordings yet"));

    QAbstractButton *find = nullptr;
    for (QAbstractButton *button : damaged->buttons())
        find = button->text() == "Find Files" ? button : find;
    QVERIFY(find);
    find->click();
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
