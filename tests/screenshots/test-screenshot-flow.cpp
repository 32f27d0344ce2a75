// Screenshots as a user takes them: the real main window's tiles and screenshot hotkey, the
// real overlay, real PNG files. The screen shows known patterns, so every saved pixel, up to
// the last row and column, can be checked; none may come from the program's own windows.

#include "sc-main-window.h"
#include "sc-note.h"
#include "sc-screenshot-countdown.h"
#include "sc-screenshot-window.h"
#include "sc-settings.h"
#include "test-home.h"
#include "widget-lookup.h"

#include "area-selector.h"
#include "desktop-input.h"
#include "pattern-widget.h"
#include "window-highlighter.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QtTest>

#include <memory>

namespace {

TestHome *g_home = nullptr;

// Another program's window, in colours of its own by its own coordinates.
QColor windowColour(int x, int y)
{
    const int cx = x / 8;
    const int cy = y / 8;
    return QColor((cx * 53 + 200) % 256, (cy * 31 + 120) % 256, (cx * 7 + cy * 11 + 30) % 256);
}

bool click(QWidget *widget)
{
    return widget && clickAt(widget->mapToGlobal(widget->rect().center()));
}

QWidget *buttonBar()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("buttonBackground") && w->isVisible())
            return w;
    return nullptr;
}

QPushButton *barButton(const char *name)
{
    QWidget *bar = buttonBar();
    return bar ? bar->findChild<QPushButton *>(QString::fromLatin1(name)) : nullptr;
}

const QColor BORDER(0, 122, 204);

QRect storedRegion()
{
    return QSettings(SCSettings::ORGANIZATION, SCSettings::APPLICATION)
            .value(SCSettings::SCREENSHOT_LAST_REGION)
            .toRect();
}

// Counts the left-button releases that reach a widget.
class ReleaseCounter : public QObject
{
public:
    int releases = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::MouseButtonRelease
            && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
            ++releases;
        return false;
    }
};

} // namespace

class TestScreenshotFlow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void fullScreenTileTakesTheWholeScreenAlone();
    void hotkeyRegionIsExactlyTheDragFramedOutside();
    void selectionMovesAndResizesOnTheScreen();
    void copyButtonPutsAPngOnTheClipboard();
    void windowPickerTakesTheWholeWindow();
    void secondRequestReplacesTheOverlay();
    void delayCountsDownOutsideThePicture();
    void lastRegionOffTheScreenIsClampedOrDraggedAgain();

private:
    template<typename T> T *child(const char *name) { return childOf<T>(m_window.get(), name); }
    SCScreenshotWindow *waitForOverlay();
    QRect selectRegionByHotkey(const QPoint &from, const QPoint &to);
    QString captureWithReturn(SCScreenshotWindow *overlay);
    QStringList savedFiles() const;

    std::unique_ptr<PatternWidget> m_desktop;
    std::unique_ptr<SCMainWindow> m_window;
    QString m_shots;
};

void TestScreenshotFlow::initTestCase()
{
    m_shots = g_home->filePath("shots");
    {
        QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
        settings.setValue(SCSettings::GENERAL_FIRST_RUN, false);
        settings.setValue(SCSettings::HOTKEYS_RECORDING, "None");
        settings.setValue(SCSettings::HOTKEYS_SCREENSHOT, "F10");
        settings.setValue(SCSettings::SCREENSHOT_SAVE_LOCATION, m_shots);
        settings.setValue(SCSettings::SCREENSHOT_FORMAT, "PNG");
    }
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    m_desktop = std::make_unique<PatternWidget>();
    m_desktop->setGeometry(screen);
    m_desktop->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_desktop.get(), 20000));
    QTRY_COMPARE_WITH_TIMEOUT(screenPixel({300, 300}), desktopColour(300, 300), 10000);

    m_window = std::make_unique<SCMainWindow>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get(), 20000));
    QVERIFY(click(child<QPushButton>("screenshotTab")));
    QTRY_COMPARE_WITH_TIMEOUT(child<QStackedWidget>("mainFunctionPages")->currentIndex(), 0, 5000);
    QVERIFY(!child<QPushButton>("repeatRegionShotBtn")->isEnabled());
}

void TestScreenshotFlow::cleanup()
{
    // A failed case leaves nothing open for the next one.
    if (SCScreenshotWindow *overlay = visibleTopLevel<SCScreenshotWindow>())
        overlay->cancelScreenshot();
    if (AreaSelector *selector = visibleTopLevel<AreaSelector>())
        selector->hide();
    QTRY_VERIFY_WITH_TIMEOUT(m_window->isVisible(), 5000);
}

SCScreenshotWindow *TestScreenshotFlow::waitForOverlay()
{
    // Without compositing manager the overlay appears once the screen is still.
    if (!QTest::qWaitFor([] { return visibleTopLevel<SCScreenshotWindow>() && buttonBar(); },
                         10000))
        return nullptr;
    QPointer<SCScreenshotWindow> overlay = visibleTopLevel<SCScreenshotWindow>();
    if (!QTest::qWaitForWindowExposed(overlay, 10000)
        || !QTest::qWaitFor([overlay] { return !overlay || overlay->hasKeyboard(); }, 10000))
        return nullptr;
    return overlay;
}

QRect TestScreenshotFlow::selectRegionByHotkey(const QPoint &from, const QPoint &to)
{
    if (!xdotool({"key", "F10"})
        || !QTest::qWaitFor([] { return visibleTopLevel<AreaSelector>() != nullptr; }, 10000)) {
        qWarning() << "the hotkey opened no area selector";
        return {};
    }
    AreaSelector *selector = visibleTopLevel<AreaSelector>();
    if (!QTest::qWaitForWindowExposed(selector, 10000) || !dragPointer(from, to)) {
        qWarning() << "the area selector did not show";
        return {};
    }
    SCScreenshotWindow *overlay = waitForOverlay();
    if (!overlay)
        qWarning() << "the drag opened no overlay";
    return overlay ? overlay->getArea() : QRect();
}

QString TestScreenshotFlow::captureWithReturn(SCScreenshotWindow *overlay)
{
    QSignalSpy saved(overlay, &SCScreenshotWindow::screenshotSaved);
    if (!xdotool({"key", "Return"}) || !QTest::qWaitFor([&] { return !saved.isEmpty(); }, 10000))
        return {};
    return saved.first().first().toString();
}

QStringList TestScreenshotFlow::savedFiles() const
{
    return QDir(m_shots).entryList(QDir::Files);
}

void TestScreenshotFlow::fullScreenTileTakesTheWholeScreenAlone()
{
    auto *pages = child<QStackedWidget>("mainFunctionPages");
    QVERIFY(click(child<QWidget>("fullScreenShotWidget")));
    SCScreenshotWindow *overlay = waitForOverlay();
    QVERIFY(overlay);
    // The main window is over the desktop pattern; it steps aside.
    QVERIFY(!m_window->isVisible());
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QCOMPARE(overlay->getArea(), screen);

    QSignalSpy saved(overlay, &SCScreenshotWindow::screenshotSaved);
    QVERIFY(click(barButton("saveButton")));
    QTRY_COMPARE_WITH_TIMEOUT(saved.count(), 1, 10000);
    const QString path = saved.first().first().toString();
    const QImage image(path);
    QCOMPARE(image.size(), screen.size());
    // Not the border, the bar (inside the top-right corner) nor the main window.
    QCOMPARE(patternMismatches(image, screen.topLeft()), 0);
    // A full screen is no region to repeat.
    QVERIFY(storedRegion().isNull());

    // Back where the person was, told by a note that does not take the keyboard.
    QTRY_VERIFY_WITH_TIMEOUT(m_window->isVisible(), 10000);
    QCOMPARE(pages->currentIndex(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(visibleTopLevel<SCNote>(), 5000);
    SCNote *note = visibleTopLevel<SCNote>();
    QVERIFY2(note->text().contains(QFileInfo(path).fileName()), qPrintable(note->text()));
    QVERIFY(!visibleTopLevel<QMessageBox>());
    QTRY_VERIFY_WITH_TIMEOUT(m_window->isActiveWindow(), 10000);
    QVERIFY(!note->isActiveWindow());
    QVERIFY(m_window->frameGeometry().contains(note->geometry()));

    // The next screenshot, taken while the note shows over the main window, has neither.
    const QPoint from = note->geometry().topLeft() - QPoint(20, 20);
    const QPoint to = note->geometry().bottomRight() + QPoint(20, 20);
    const QRect region = selectRegionByHotkey(from, to);
    QCOMPARE(region, QRect(from, QSize(to.x() - from.x(), to.y() - from.y())));
    QVERIFY(!note->isVisible());
    const QString second = captureWithReturn(visibleTopLevel<SCScreenshotWindow>());
    QCOMPARE(patternMismatches(QImage(second), region.topLeft()), 0);
    QTRY_VERIFY_WITH_TIMEOUT(visibleTopLevel<SCNote>(), 5000);
    // Gone after a few seconds by itself.
    QTRY_VERIFY_WITH_TIMEOUT(!visibleTopLevel<SCNote>(), 10000);
    QCOMPARE(pages->currentIndex(), 0);

    // The library has both, newest first.
    QVERIFY(click(child<QPushButton>("fileTab")));
    QTRY_COMPARE_WITH_TIMEOUT(pages->currentIndex(), 1, 5000);
    QVERIFY(click(child<QPushButton>("imageTab")));
    QTRY_VERIFY_WITH_TIMEOUT(child<QPushButton>("imageTab")->isChecked(), 5000);
    const QAbstractItemModel *files = child<QListView>("fileListView")->model();
    QTRY_VERIFY_WITH_TIMEOUT(files->rowCount() >= 2, 5000);
    QCOMPARE(files->index(0, 0).data(Qt::UserRole + 1).toString(), second);
    QCOMPARE(files->index(1, 0).data(Qt::UserRole + 1).toString(), path);
    QVERIFY(click(child<QPushButton>("screenshotTab")));
    QTRY_COMPARE_WITH_TIMEOUT(pages->currentIndex(), 0, 5000);
}

void TestScreenshotFlow::hotkeyRegionIsExactlyTheDragFramedOutside()
{
    // An open About window keeps the main window waiting, not the selection.
    child<QPushButton>("menuBtn")->click();
    QTRY_VERIFY(qobject_cast<QMenu *>(QApplication::activePopupWidget()));
    QWidget *menu = QApplication::activePopupWidget();
    for (QAction *action : menu->actions())
        if (action->text() == QLatin1String("About"))
            action->trigger();
    menu->close();
    QTRY_VERIFY_WITH_TIMEOUT(QApplication::activeModalWidget(), 10000);
    QPointer<QWidget> about = QApplication::activeModalWidget();
    // Out of the picture taken below.
    about->move(1300, 700);
    // A click without a drag selects nothing: the selector waits for a drag.
    QVERIFY(xdotool({"key", "F10"}));
    QTRY_VERIFY_WITH_TIMEOUT(visibleTopLevel<AreaSelector>(), 10000);
    AreaSelector *selector = visibleTopLevel<AreaSelector>();
    QVERIFY(QTest::qWaitForWindowExposed(selector, 10000));
    ReleaseCounter counter;
    selector->installEventFilter(&counter);
    QVERIFY(clickAt({500, 500}));
    QTRY_COMPARE_WITH_TIMEOUT(counter.releases, 1, 5000);
    QVERIFY(selector->isVisible());
    QVERIFY(!visibleTopLevel<SCScreenshotWindow>());

    QVERIFY(dragPointer({301, 203}, {901, 603}));
    SCScreenshotWindow *overlay = waitForOverlay();
    QVERIFY(overlay);
    const QRect area = overlay->getArea();
    QCOMPARE(area, QRect(301, 203, 600, 400));
    QVERIFY(!selector->isVisible());
    QVERIFY(!m_window->isVisible());

    // The frame is drawn around the selection, with handles at corners and edge midpoints;
    // the selection's own edge pixels show the screen.
    const auto frameProblems = [area] {
        const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
        QStringList problems;
        const auto expect = [&](const QPoint &p, const QColor &colour) {
            if (screen.pixelColor(p) != colour)
                problems << QString("%1,%2: %3 not %4")
                                    .arg(p.x())
                                    .arg(p.y())
                                    .arg(screen.pixelColor(p).name(), colour.name());
        };
        const int y = area.top() + 50;
        const int x = area.left() + 50;
        for (const QPoint &inside : {QPoint(area.left(), y), QPoint(area.right(), y),
                                     QPoint(x, area.top()), QPoint(x, area.bottom())})
            expect(inside, desktopColour(inside.x(), inside.y()));
        for (const QPoint &border :
             {QPoint(area.left() - 1, y), QPoint(area.left() - 4, y), QPoint(area.right() + 1, y),
              QPoint(area.right() + 4, y), QPoint(x, area.top() - 1), QPoint(x, area.bottom() + 4)})
            expect(border, BORDER);
        const QPoint c = area.center();
        for (const QPoint &handle :
             {QPoint(area.left() - 4, area.top() - 4), QPoint(area.right() + 4, area.bottom() + 4),
              QPoint(c.x(), area.top() - 6), QPoint(area.left() - 6, c.y()),
              QPoint(area.right() + 6, c.y()), QPoint(c.x(), area.bottom() + 6)})
            expect(handle, Qt::white);
        return problems.join("; ");
    };
    QTRY_COMPARE_WITH_TIMEOUT(frameProblems(), QString(), 5000);

    const QString path = captureWithReturn(overlay);
    const QImage image(path);
    QCOMPARE(image.size(), QSize(600, 400));
    QCOMPARE(patternMismatches(image, area.topLeft()), 0);
    QTRY_VERIFY_WITH_TIMEOUT(m_window->isVisible(), 10000);
    QVERIFY(about && about->isVisible());
    about->close();
}

void TestScreenshotFlow::selectionMovesAndResizesOnTheScreen()
{
    const QRect start = selectRegionByHotkey({400, 300}, {700, 500});
    QCOMPARE(start, QRect(400, 300, 300, 200));
    SCScreenshotWindow *overlay = visibleTopLevel<SCScreenshotWindow>();

    // Dragged inside, the selection moves.
    QVERIFY(dragPointer(start.center(), start.center() + QPoint(100, 50)));
    QTRY_COMPARE_WITH_TIMEOUT(overlay->getArea(), start.translated(100, 50), 5000);
    // The bottom-right handle resizes, the top-left corner stays.
    const QRect moved = overlay->getArea();
    QVERIFY(dragPointer(moved.bottomRight() + QPoint(4, 4), moved.bottomRight() + QPoint(124, 84)));
    QTRY_COMPARE_WITH_TIMEOUT(overlay->getArea(), QRect(moved.topLeft(), QSize(420, 280)), 5000);
    // The left edge resizes too.
    QVERIFY(dragPointer(QPoint(moved.left() - 2, moved.top() + 100),
                        QPoint(moved.left() + 18, moved.top() + 100)));
    QTRY_COMPARE_WITH_TIMEOUT(overlay->getArea(), QRect(moved.left() + 20, moved.top(), 400, 280),
                              5000);

    // Pushed against the screen's corner, it stops there at its size.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QRect before = overlay->getArea();
    QVERIFY(dragPointer(before.center(), screen.bottomRight()));
    const QRect corner(screen.right() - 399, screen.bottom() - 279, 400, 280);
    QTRY_COMPARE_WITH_TIMEOUT(overlay->getArea(), corner, 5000);
    // No room below: the bar goes above the selection, outside it.
    QWidget *bar = buttonBar();
    QTRY_VERIFY_WITH_TIMEOUT(bar->geometry().bottom() < corner.top(), 5000);

    const QImage image(captureWithReturn(overlay));
    QCOMPARE(image.size(), corner.size());
    QCOMPARE(patternMismatches(image, corner.topLeft()), 0);
    // Kept as the person left it, not as it was dragged.
    QCOMPARE(storedRegion(), corner);
}

void TestScreenshotFlow::copyButtonPutsAPngOnTheClipboard()
{
    const QStringList filesBefore = savedFiles();
    const QRect area = selectRegionByHotkey({1000, 150}, {1600, 550});
    QCOMPARE(area, QRect(1000, 150, 600, 400));
    SCScreenshotWindow *overlay = visibleTopLevel<SCScreenshotWindow>();
    QPushButton *copy = barButton("copyButton");
    QVERIFY(copy);
    QCOMPARE(copy->toolTip(), QString("Copy (Ctrl+C)"));
    QSignalSpy copied(overlay, &SCScreenshotWindow::screenshotCopied);
    QVERIFY(click(copy));
    QTRY_COMPARE_WITH_TIMEOUT(copied.count(), 1, 10000);
    QVERIFY(!overlay->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(visibleTopLevel<SCNote>(), 5000);

    // Another program asks for "image/png" through the X server.
    const QString out = g_home->filePath("clipboard.png");
    // Asynchronously: the clipboard's owner answers from its event loop.
    QProcess reader;
    reader.start(QCoreApplication::applicationFilePath(), {"--read-clipboard-png", out});
    QTRY_VERIFY_WITH_TIMEOUT(reader.state() == QProcess::NotRunning, 20000);
    QCOMPARE(reader.exitCode(), 0);
    const QImage image(out, "PNG");
    QCOMPARE(image.size(), QSize(600, 400));
    QCOMPARE(patternMismatches(image, area.topLeft()), 0);
    // Copying writes no file, as Ctrl+C always did.
    QCOMPARE(savedFiles(), filesBefore);
    QTRY_VERIFY_WITH_TIMEOUT(m_window->isVisible(), 10000);
}

void TestScreenshotFlow::windowPickerTakesTheWholeWindow()
{
    // Another program's window, partly under the main window.
    const QRect target(700, 250, 486, 341);
    QProcess other;
    other.start(QCoreApplication::applicationFilePath(),
                {"--pattern-window", QString::number(target.x()), QString::number(target.y()),
                 QString::number(target.width()), QString::number(target.height())});
    QVERIFY(other.waitForStarted());
    QTRY_COMPARE_WITH_TIMEOUT(screenPixel(target.topLeft() + QPoint(5, 5)), windowColour(5, 5),
                              20000);
    m_window->hide();
    m_window->move(target.right() - 200, target.bottom() - 120);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get(), 10000));
    const QPoint covered = m_window->frameGeometry().topLeft() + QPoint(5, 5);
    QVERIFY(target.contains(covered));
    QTRY_VERIFY_WITH_TIMEOUT(
            screenPixel(covered)
                    != windowColour(covered.x() - target.x(), covered.y() - target.y()),
            10000);

    QVERIFY(click(child<QWidget>("selectWindowShotWidget")));
    QTRY_VERIFY_WITH_TIMEOUT(visibleTopLevel<WindowHighlighter>(), 10000);
    const QPoint onTarget = target.topLeft() + QPoint(60, 40);
    QVERIFY(xdotool({"mousemove", QString::number(onTarget.x()), QString::number(onTarget.y())}));
    QTRY_COMPARE_WITH_TIMEOUT(visibleTopLevel<WindowHighlighter>()->geometry(), target, 10000);
    QVERIFY(xdotool({"click", "1"}));
    SCScreenshotWindow *overlay = waitForOverlay();
    QVERIFY(overlay);
    QCOMPARE(overlay->getArea(), target);

    const QImage image(captureWithReturn(overlay));
    QCOMPARE(image.size(), target.size());
    QCOMPARE(patternMismatches(image, QPoint(), 0, windowColour), 0);

    // Taken again without a drag: exactly that rectangle.
    QTRY_VERIFY_WITH_TIMEOUT(m_window->isVisible(), 10000);
    QCOMPARE(storedRegion(), target);
    QVERIFY(click(child<QPushButton>("repeatRegionShotBtn")));
    overlay = waitForOverlay();
    QVERIFY(overlay);
    QCOMPARE(overlay->getArea(), target);
    const QImage again(captureWithReturn(overlay));
    QCOMPARE(again.size(), target.size());
    QCOMPARE(patternMismatches(again, QPoint(), 0, windowColour), 0);
    other.kill();
    other.waitForFinished();
    QTRY_VERIFY_WITH_TIMEOUT(m_window->isVisible(), 10000);
}

void TestScreenshotFlow::secondRequestReplacesTheOverlay()
{
    QWidget *tile = child<QWidget>("fullScreenShotWidget");
    QTest::mouseRelease(tile, Qt::LeftButton, {}, tile->rect().center());
    QPointer<SCScreenshotWindow> first = waitForOverlay();
    QVERIFY(first);
    QTest::mouseRelease(tile, Qt::LeftButton, {}, tile->rect().center());
    QTRY_VERIFY_WITH_TIMEOUT(first.isNull(), 5000);
    SCScreenshotWindow *overlay = waitForOverlay();
    QVERIFY(overlay);
    // Escape ends it without a file; the main window comes back.
    QSignalSpy cancelled(overlay, &SCScreenshotWindow::screenshotCancelled);
    const QStringList filesBefore = savedFiles();
    QVERIFY(xdotool({"key", "Escape"}));
    QTRY_COMPARE_WITH_TIMEOUT(cancelled.count(), 1, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(m_window->isVisible(), 10000);
    QCOMPARE(savedFiles(), filesBefore);
}

void TestScreenshotFlow::delayCountsDownOutsideThePicture()
{
    child<QComboBox>("screenshotDelayComboBox")->setCurrentIndex(1);
    QCOMPARE(QSettings(SCSettings::ORGANIZATION, SCSettings::APPLICATION)
                     .value(SCSettings::SCREENSHOT_DELAY)
                     .toInt(),
             3);
    // The region first, then the count, which Esc calls off.
    QVERIFY(xdotool({"key", "F10"}));
    QTRY_VERIFY_WITH_TIMEOUT(visibleTopLevel<AreaSelector>(), 10000);
    QVERIFY(QTest::qWaitForWindowExposed(visibleTopLevel<AreaSelector>(), 10000));
    QVERIFY(dragPointer({300, 200}, {700, 500}));
    QTRY_VERIFY_WITH_TIMEOUT(visibleTopLevel<SCScreenshotCountdown>(), 5000);
    QVERIFY(!m_window->isVisible());
    QVERIFY(xdotool({"key", "Escape"}));
    QTRY_VERIFY_WITH_TIMEOUT(!visibleTopLevel<SCScreenshotCountdown>(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(m_window->isVisible(), 5000);
    QVERIFY(!QTest::qWaitFor([] { return visibleTopLevel<SCScreenshotWindow>(); }, 4000));

    // The full screen after the delay, corner and all, without the count.
    QElapsedTimer clock;
    clock.start();
    QVERIFY(click(child<QWidget>("fullScreenShotWidget")));
    QTRY_VERIFY_WITH_TIMEOUT(visibleTopLevel<SCScreenshotCountdown>(), 5000);
    SCScreenshotWindow *overlay = waitForOverlay();
    QVERIFY(overlay);
    QVERIFY2(clock.elapsed() >= 2700, qPrintable(QString::number(clock.elapsed())));
    const QImage image(captureWithReturn(overlay));
    QCOMPARE(patternMismatches(image, QPoint()), 0);
    child<QComboBox>("screenshotDelayComboBox")->setCurrentIndex(0);
}

void TestScreenshotFlow::lastRegionOffTheScreenIsClampedOrDraggedAgain()
{
    // As after a monitor that held it went away.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    settings.setValue(SCSettings::SCREENSHOT_LAST_REGION,
                      QRect(screen.right() - 99, screen.bottom() - 49, 300, 200));
    QVERIFY(click(child<QPushButton>("repeatRegionShotBtn")));
    SCScreenshotWindow *overlay = waitForOverlay();
    QVERIFY(overlay);
    QCOMPARE(overlay->getArea(), QRect(screen.right() - 99, screen.bottom() - 49, 100, 50));
    overlay->cancelScreenshot();
    QTRY_VERIFY_WITH_TIMEOUT(m_window->isVisible(), 10000);
    // Shown is not yet mapped: a real click before that lands on whatever was below.
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get(), 10000));
    settings.setValue(SCSettings::SCREENSHOT_LAST_REGION, screen.translated(screen.width(), 0));
    QVERIFY(click(child<QPushButton>("repeatRegionShotBtn")));
    QTRY_VERIFY_WITH_TIMEOUT(visibleTopLevel<AreaSelector>(), 10000);
}

// Helpers run as programs of their own: a window of another application, and another
// application reading the clipboard.
int runHelper(int argc, char **argv)
{
    const QByteArray mode = argv[1];
    QApplication app(argc, argv);
    if (mode == "--pattern-window" && argc == 6) {
        PatternWidget window(windowColour, false, {});
        window.setGeometry(QString(argv[2]).toInt(), QString(argv[3]).toInt(),
                           QString(argv[4]).toInt(), QString(argv[5]).toInt());
        window.show();
        return app.exec();
    }
    if (mode == "--read-clipboard-png" && argc == 3) {
        const QMimeData *data = QGuiApplication::clipboard()->mimeData();
        if (!data || !data->hasFormat("image/png"))
            return 2;
        QFile file(QString::fromLocal8Bit(argv[2]));
        return file.open(QIODevice::WriteOnly) && file.write(data->data("image/png")) > 0 ? 0 : 3;
    }
    return 1;
}

int main(int argc, char **argv)
{
    if (argc > 1
        && (qstrcmp(argv[1], "--pattern-window") == 0
            || qstrcmp(argv[1], "--read-clipboard-png") == 0))
        return runHelper(argc, argv);
    TestHome home;
    g_home = &home;
    QApplication app(argc, argv);
    TestScreenshotFlow test;
    return QTest::qExec(&test, argc, argv);
}

#include "test-screenshot-flow.moc"
