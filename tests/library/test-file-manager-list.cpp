#include "desktop-input.h"
#include "message-box-catcher.h"
#include "sc-desktop-open.h"
#include "sc-file-item-delegate.h"
#include "test-file-manager.h"
#include "url-catcher.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QToolTip>

namespace {

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
    QString informative;
    QString buttonText;
    // As the dialog says them once "from disk" is ticked.
    QString tickedText;
    QString tickedInformative;
    QString tickedButtonText;
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
        auto *deleteButton = box->findChild<QPushButton *>(QStringLiteral("deleteButton"));
        title = box->windowTitle();
        text = box->text();
        informative = box->informativeText();
        buttonText = deleteButton ? deleteButton->text() : QString();
        checkBoxText = box->checkBox() ? box->checkBox()->text() : QString();
        cancelIsDefault = box->defaultButton() == box->button(QMessageBox::Cancel);
        if (box->checkBox()) {
            box->checkBox()->setChecked(true);
            tickedText = box->text();
            tickedInformative = box->informativeText();
            tickedButtonText = deleteButton ? deleteButton->text() : QString();
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
    QCOMPARE(answer.title, QString("Delete"));
    // The dialog names the file and says which of the two will happen.
    QCOMPARE(answer.text, QString("Remove \"a.mp3\" from the list?"));
    QCOMPARE(answer.informative, QString("The file stays on the disk."));
    QCOMPARE(answer.buttonText, QString("Remove from List"));
    QCOMPARE(answer.tickedText, QString("Delete \"a.mp3\" from the disk?"));
    QCOMPARE(answer.tickedInformative, QString("This cannot be undone."));
    QCOMPARE(answer.tickedButtonText, QString("Delete from Disk"));
    QCOMPARE(answer.checkBoxText, QString("Delete file from disk as well."));
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
    QCOMPARE(answer.title, QString("Delete"));
    QCOMPARE(answer.text, QString("Remove %1 files from the list?").arg(count));
    QCOMPARE(answer.tickedText, QString("Delete %1 files from the disk?").arg(count));
    QCOMPARE(answer.buttonText, QString("Remove from List"));
    QCOMPARE(answer.tickedButtonText, QString("Delete from Disk"));
    QString names = QString("shot-%1.png\nshot-%2.png").arg(count).arg(count - 1);
    names += count > 3 ? QString("\nshot-%1.png\nand %2 more").arg(count - 2).arg(count - 3) : "";
    QCOMPARE(answer.informative, names + "\n\nThe files stay on the disk.");
    QCOMPARE(answer.tickedInformative, names + "\n\nThis cannot be undone.");
    QCOMPARE(answer.checkBoxText, QString("Delete files from disk as well."));
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

void TestFileManager::deletionThatFailsKeepsTheEntry()
{
    // A directory in the place of the file cannot be removed as a file, not even by root.
    const QString stuck = m_files.filePath("stuck.png");
    QDir().mkpath(stuck);
    SCFileManager manager;
    manager.addFile(stuck, "screenshot");
    QVERIFY(showView(manager, "screenshot"));
    DialogAnswer answer(true, true);
    clickIcon(0);
    QVERIFY(answer.answered);
    QMessageBox *box = nullptr;
    QTRY_VERIFY((box = MessageBoxCatcher::visibleBox(SCDesktopOpen::MESSAGE_NAME)));
    QVERIFY2(box->text().contains("stuck.png"), qPrintable(box->text()));
    box->close();
    QCOMPARE(pathsOf(manager.getAllFiles()), QStringList({stuck}));
    QCOMPARE(m_view->model()->rowCount(), 1);
    QCOMPARE(readLibrary(manager.getDataFilePath()).size(), 1);
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

void TestFileManager::doubleClickWithoutOpenerSaysSo()
{
    const QString clip = makeFile("clip.mp4");
    SCFileManager manager;
    manager.addFile(clip, "video");
    QVERIFY(showView(manager, "video"));
    const QRect row = m_view->visualRect(m_view->model()->index(0, 0));
    // No xdg-open, no browser: the desktop takes nothing.
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(m_files.filePath("no-programs")));
    QTest::mouseDClick(m_view->viewport(), Qt::LeftButton, {}, QPoint(20, row.center().y()));
    qputenv("PATH", path);

    QMessageBox *box = nullptr;
    QTRY_VERIFY((box = MessageBoxCatcher::visibleBox(SCDesktopOpen::MESSAGE_NAME)));
    // What the message says and logs is in test-files-page.
    QVERIFY2(box->text().contains(clip), qPrintable(box->text()));
    box->close();
    QVERIFY(QFile::exists(clip));
    QCOMPARE(manager.getAllFiles().size(), 1);
}
