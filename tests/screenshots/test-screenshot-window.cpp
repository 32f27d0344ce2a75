#include "desktop-input.h"
#include "flat-window.h"
#include "pattern-widget.h"
#include "sc-compositor-watcher.h"
#include "sc-screenshot-window.h"
#include "sc-screenshot.h"
#include "sc-settings.h"
#include "test-home.h"

#include <QApplication>
#include <QClipboard>
#include <QImageReader>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// Counts the left presses that reach a widget.
class PressCounter : public QObject
{
public:
    int presses = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::MouseButtonPress
            && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
            ++presses;
        return false;
    }
};

int colourDistance(const QColor &a, const QColor &b)
{
    return qAbs(a.red() - b.red()) + qAbs(a.green() - b.green()) + qAbs(a.blue() - b.blue());
}

QPixmap picture(const QColor &colour)
{
    QPixmap pixmap(40, 30);
    pixmap.fill(colour);
    return pixmap;
}

QWidget *buttonBar()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("buttonBackground") && w->isVisible())
            return w;
    return nullptr;
}

} // namespace

class TestScreenshotWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void savesNeverLoseAPicture();
    void captureSavesExactlyTheSelection_data();
    void captureSavesExactlyTheSelection();
    void insideTakesThePointerAndThePenDraws();
    void failedSaveKeepsTheOverlayOpenEscapeCancelsOnce();
    void ctrlCCopiesAndCloses();
    void cornerResizeKeepsTheMinimumAndTheScreen();
    void selectorHiddenAfterShowIsNotInThePicture();
    void barButtonsLightUpUnderThePointer();

private:
    void showOverlay(const QRect &area);

    QTemporaryDir m_dir;
    QSettings m_settings {SCSettings::ORGANIZATION, SCSettings::APPLICATION};
    PatternWidget m_pattern;
    SCScreenshot *m_screenshot = nullptr;
    std::unique_ptr<SCScreenshotWindow> m_overlay;
};

void TestScreenshotWindow::initTestCase()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    m_pattern.setGeometry(screen->geometry());
    m_pattern.show();
    QVERIFY(QTest::qWaitForWindowExposed(&m_pattern, 20000));
    QTRY_COMPARE_WITH_TIMEOUT(m_pattern.geometry(), screen->geometry(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(
            patternMismatches(screen->grabWindow(0, 300, 300, 64, 64).toImage(), {300, 300}) == 0,
            10000);
    m_screenshot = new SCScreenshot(this);
    qInfo() << "compositing:" << SCCompositorWatcher::instance()->isCompositing();
}

void TestScreenshotWindow::init()
{
    m_settings.setValue(SCSettings::SCREENSHOT_SAVE_LOCATION, m_dir.filePath("shots"));
    m_settings.setValue(SCSettings::SCREENSHOT_FORMAT, "PNG");
    m_overlay = std::make_unique<SCScreenshotWindow>(m_screenshot);
}

void TestScreenshotWindow::cleanup()
{
    m_overlay.reset();
    QTRY_VERIFY(!buttonBar());
}

void TestScreenshotWindow::showOverlay(const QRect &area)
{
    m_overlay->setArea(area);
    m_overlay->setFullScreen(false);
    m_overlay->show();
    // Without compositing manager the overlay appears a moment later.
    QTRY_VERIFY_WITH_TIMEOUT(m_overlay->isVisible(), 10000);
    QVERIFY(QTest::qWaitForWindowExposed(m_overlay.get(), 20000));
    QCOMPARE(m_overlay->getArea(), area);
    // Frame and handles lie outside the selection.
    QTRY_COMPARE_WITH_TIMEOUT(m_overlay->geometry(), area.adjusted(-8, -8, 8, 8), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(m_overlay->hasKeyboard(), 10000);
}

// Straight through SCScreenshot: what cannot be taken or saved is said, and no save replaces
// another picture of the same second.
void TestScreenshotWindow::savesNeverLoseAPicture()
{
    SCScreenshot screenshot;
    QSignalSpy errors(&screenshot, &SCScreenshot::error);
    QVERIFY(!screenshot.saveScreenshot(QPixmap(), QString()));
    QVERIFY(screenshot.captureArea(QRect(10, 10, 0, 50)).isNull());
    QVERIFY(screenshot.captureWindow(0).isNull());
    QCOMPARE(errors.size(), 3);
    QCOMPARE(errors.at(0).first().toString(), QString("Cannot save empty screenshot"));
    QCOMPARE(errors.at(1).first().toString(), QString("Invalid area specified"));
    QCOMPARE(errors.at(2).first().toString(), QString("Invalid window ID"));
    QVERIFY(QFileInfo(m_dir.filePath("shots")).isDir());
    QVERIFY(QDir(m_dir.filePath("shots")).isEmpty());
    QVERIFY(screenshot.getLastSavedPath().isEmpty());

    // A path given by the caller is the one written, twice over.
    const QString given = m_dir.filePath("given/name.png");
    QVERIFY(screenshot.saveScreenshot(picture(Qt::red), given));
    QVERIFY(screenshot.saveScreenshot(picture(Qt::blue), given));
    QCOMPARE(screenshot.getLastSavedPath(), given);
    QCOMPARE(QImage(given).pixelColor(0, 0), QColor(Qt::blue));
    QCOMPARE(QDir(m_dir.filePath("given")).entryList(QDir::Files), QStringList({"name.png"}));

    // Start early in a second so that the saves share it.
    QTRY_VERIFY_WITH_TIMEOUT(QTime::currentTime().msec() < 300, 2000);
    const QString name = screenshot.generateFileName();
    QStringList paths;
    for (const QColor colour : {Qt::red, Qt::blue, Qt::green}) {
        QVERIFY(screenshot.saveScreenshot(picture(colour), QString()));
        paths << screenshot.getLastSavedPath();
        QCOMPARE(QImage(paths.last()).pixelColor(0, 0), colour);
    }
    if (screenshot.generateFileName() != name)
        QSKIP("the second changed between the saves");
    QCOMPARE(QFileInfo(paths[0]).fileName(), name);
    QCOMPARE(QFileInfo(paths[1]).fileName(), QString(name).replace(".png", "_2.png"));
    QCOMPARE(QFileInfo(paths[2]).fileName(), QString(name).replace(".png", "_3.png"));
}

void TestScreenshotWindow::captureSavesExactlyTheSelection_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QByteArray>("encoded");
    QTest::addColumn<int>("tolerance");
    QTest::newRow("PNG") << "PNG" << QByteArray("png") << 0;
    QTest::newRow("JPG") << "JPG" << QByteArray("jpeg") << 90;
}

void TestScreenshotWindow::captureSavesExactlyTheSelection()
{
    QFETCH(QString, format);
    QFETCH(QByteArray, encoded);
    QFETCH(int, tolerance);
    m_settings.setValue(SCSettings::SCREENSHOT_FORMAT, format);
    // A save folder that is not there yet, several levels deep.
    const QString folder = m_dir.filePath("new/" + format + "/shots");
    m_settings.setValue(SCSettings::SCREENSHOT_SAVE_LOCATION, folder);
    const QRect area(300, 200, 400, 300);
    showOverlay(area);

    QSignalSpy saved(m_overlay.get(), &SCScreenshotWindow::screenshotSaved);
    m_overlay->saveScreenshot();
    QTRY_COMPARE_WITH_TIMEOUT(saved.count(), 1, 10000);
    QVERIFY(!m_overlay->isVisible());
    const QString path = saved.first().first().toString();
    QCOMPARE(QFileInfo(path).absolutePath(), folder);
    const QRegularExpression name(
            QStringLiteral(R"(^Screenshot_\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d\.%1$)")
                    .arg(format.toLower()));
    QVERIFY2(name.match(QFileInfo(path).fileName()).hasMatch(), qPrintable(path));
    QCOMPARE(QImageReader::imageFormat(path), encoded);
    const QImage image(path);
    QCOMPARE(image.size(), area.size());
    const int mismatches = patternMismatches(image, area.topLeft(), tolerance);
    // JPEG smears the sharp cell edges; the frame's blue would fail whole rows and columns.
    QVERIFY2(mismatches <= (encoded == "png" ? 0 : image.width() * image.height() / 10),
             qPrintable(QString::number(mismatches)));
    const auto edgeMismatches = [&](const QRect &band) {
        return patternMismatches(image.copy(band), area.topLeft() + band.topLeft(), tolerance);
    };
    for (const QRect &band :
         {QRect(0, 0, 400, 1), QRect(0, 299, 400, 1), QRect(0, 0, 1, 300), QRect(399, 0, 1, 300)})
        QVERIFY(edgeMismatches(band) <= std::max(band.width(), band.height()) / 4);
}

// All through the X server, as a user would: a click inside, the pen on, a stroke and a
// single click, Return.
void TestScreenshotWindow::insideTakesThePointerAndThePenDraws()
{
    const QRect area(500, 300, 400, 300);
    showOverlay(area);
    m_pattern.presses.clear();
    PressCounter counter;
    m_overlay->installEventFilter(&counter);
    const QPoint dot = area.topLeft() + QPoint(350, 150);
    // The press starts a move of the selection instead of reaching the window below.
    QVERIFY(clickAt(dot));
    QTRY_COMPARE_WITH_TIMEOUT(counter.presses, 1, 5000);
    QCOMPARE(m_overlay->getArea(), area);

    QWidget *bar = buttonBar();
    QVERIFY(bar);
    QVERIFY(QTest::qWaitForWindowExposed(bar, 20000));
    auto *pen = bar->findChild<QPushButton *>("drawButton");
    QVERIFY(pen);
    QVERIFY(clickAt(pen->mapToGlobal(pen->rect().center())));
    QTRY_VERIFY_WITH_TIMEOUT(pen->isChecked(), 10000);
    QVERIFY(dragPointer(area.topLeft() + QPoint(50, 150), area.topLeft() + QPoint(300, 150), 12));
    // With the pen on, a click without a move is a dot.
    QVERIFY(clickAt(dot));
    QVERIFY(movePointer(10, 10));

    QSignalSpy saved(m_overlay.get(), &SCScreenshotWindow::screenshotSaved);
    QVERIFY(xdotool({"key", "Return"}));
    QTRY_COMPARE_WITH_TIMEOUT(saved.count(), 1, 10000);
    QCOMPARE(m_pattern.presses.size(), 0);
    const QImage image(saved.first().first().toString());
    QCOMPARE(image.size(), QSize(400, 300));
    // The stroke runs through image row 150 from x 50 to 300.
    for (int x = 60; x <= 280; x += 10)
        QVERIFY2(colourDistance(image.pixelColor(x, 150), Qt::red) <= 6,
                 qPrintable(QString("x %1: %2").arg(x).arg(image.pixelColor(x, 150).name())));
    QVERIFY2(colourDistance(image.pixelColor(350, 150), Qt::red) <= 6,
             qPrintable(image.pixelColor(350, 150).name()));
    // Away from their row the picture is the screen.
    QCOMPARE(patternMismatches(image, area.topLeft(), 0, desktopColour, QRect(0, 144, 400, 13)), 0);
}

void TestScreenshotWindow::failedSaveKeepsTheOverlayOpenEscapeCancelsOnce()
{
    QFile blocker(m_dir.filePath("afile"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    // Tests run as root, so a regular file in the way stands in for a read-only folder.
    m_settings.setValue(SCSettings::SCREENSHOT_SAVE_LOCATION, m_dir.filePath("afile/sub"));
    const QString previous = m_screenshot->getLastSavedPath();
    const QRect area(200, 200, 300, 200);
    showOverlay(area);
    QSignalSpy errors(m_screenshot, &SCScreenshot::error);
    QSignalSpy saved(m_overlay.get(), &SCScreenshotWindow::screenshotSaved);
    QVERIFY(xdotool({"key", "Return"}));
    QTRY_COMPARE_WITH_TIMEOUT(errors.count(), 1, 10000);
    const QString message = errors.first().first().toString();
    QVERIFY2(message.startsWith("Failed to save screenshot to "
                                + m_dir.filePath("afile/sub/Screenshot_"))
                     && message.endsWith(".png"),
             qPrintable(message));
    QCOMPARE(saved.count(), 0);
    QCOMPARE(m_screenshot->getLastSavedPath(), previous);
    QTRY_VERIFY_WITH_TIMEOUT(m_overlay->isVisible() && buttonBar(), 10000);

    QWidget *bar = buttonBar();
    QVERIFY(bar);
    // Right-aligned under the handles, clear of the selection.
    QTRY_COMPARE(bar->geometry().topLeft(), area.bottomRight() + QPoint(9 - bar->width(), 11));
    QSignalSpy cancelled(m_overlay.get(), &SCScreenshotWindow::screenshotCancelled);
    // Another window of the program got the focus, as when the window manager passes it on:
    // the key still reaches the selection.
    m_pattern.activateWindow();
    QTRY_VERIFY_WITH_TIMEOUT(m_pattern.isActiveWindow(), 10000);
    QVERIFY(xdotool({"key", "Escape"}));
    QTRY_COMPARE_WITH_TIMEOUT(cancelled.count(), 1, 10000);
    QVERIFY(!m_overlay->isVisible());
    QVERIFY(!bar->isVisible());
    QVERIFY(xdotool({"key", "Escape"}));
    QVERIFY(!cancelled.wait(200));
}

void TestScreenshotWindow::ctrlCCopiesAndCloses()
{
    const QRect area(640, 400, 400, 300);
    showOverlay(area);
    QSignalSpy copied(m_overlay.get(), &SCScreenshotWindow::screenshotCopied);
    QSignalSpy saved(m_overlay.get(), &SCScreenshotWindow::screenshotSaved);
    QVERIFY(xdotool({"key", "ctrl+c"}));
    QTRY_COMPARE_WITH_TIMEOUT(copied.count(), 1, 10000);
    QVERIFY(!m_overlay->isVisible());
    QCOMPARE(saved.count(), 0);
    QVERIFY(QGuiApplication::clipboard()->mimeData()->hasFormat("image/png"));
    const QImage image = QGuiApplication::clipboard()->image();
    QCOMPARE(image.size(), area.size());
    QCOMPARE(patternMismatches(image, area.topLeft()), 0);
}

// Moving and resizing with the real pointer are in test-screenshot-flow; here the limits.
void TestScreenshotWindow::cornerResizeKeepsTheMinimumAndTheScreen()
{
    const QRect area(300, 200, 400, 300);
    showOverlay(area);
    // Drag the top-left handle, outside the selection, far past the bottom-right corner.
    const QPoint handle(4, 4);
    QTest::mousePress(m_overlay.get(), Qt::LeftButton, {}, handle);
    QTest::mouseMove(m_overlay.get(), handle + QPoint(600, 500));
    QTest::mouseRelease(m_overlay.get(), Qt::LeftButton, {}, handle + QPoint(600, 500));
    QTRY_COMPARE(m_overlay->getArea().bottomRight(), area.bottomRight());
    QCOMPARE(m_overlay->getArea().size(), QSize(100, 100));
    // Moved far past the top-left corner, it stops at the screen's edge.
    const QRect small = m_overlay->getArea();
    const QPoint outside = QPoint(58, 58) - small.topLeft() - QPoint(500, 500);
    QTest::mousePress(m_overlay.get(), Qt::LeftButton, {}, QPoint(58, 58));
    QTest::mouseMove(m_overlay.get(), outside);
    QTest::mouseRelease(m_overlay.get(), Qt::LeftButton, {}, outside);
    QTRY_COMPARE(m_overlay->getArea(), QRect(QPoint(0, 0), small.size()));
    // There the frame comes inside, over the selection's edge.
    QCOMPARE(m_overlay->geometry(), QRect(0, 0, 108, 108));
}

void TestScreenshotWindow::selectorHiddenAfterShowIsNotInThePicture()
{
    // As after a region selection: the selector still covers the screen when the overlay is
    // shown, and goes away right after.
    FlatWindow cover(QColor("#202020"));
    cover.show();
    QTRY_COMPARE_WITH_TIMEOUT(screenPixel({700, 500}), QColor("#202020"), 5000);

    const QRect area(600, 400, 400, 300);
    m_overlay->setArea(area);
    m_overlay->show();
    cover.hide();
    QTRY_VERIFY_WITH_TIMEOUT(m_overlay->isVisible(), 10000);
    QVERIFY(QTest::qWaitForWindowExposed(m_overlay.get(), 20000));
    QTRY_VERIFY_WITH_TIMEOUT(m_overlay->hasKeyboard(), 10000);
    // The screen itself has long forgotten the cover when the user captures.
    const QPoint probe = area.center();
    QTRY_COMPARE_WITH_TIMEOUT(screenPixel(probe), desktopColour(probe.x(), probe.y()), 10000);
    QSignalSpy saved(m_overlay.get(), &SCScreenshotWindow::screenshotSaved);
    m_overlay->saveScreenshot();
    QTRY_COMPARE_WITH_TIMEOUT(saved.count(), 1, 10000);
    QCOMPARE(patternMismatches(QImage(saved.first().first().toString()), area.topLeft()), 0);
}

void TestScreenshotWindow::barButtonsLightUpUnderThePointer()
{
    const QRect full = QGuiApplication::primaryScreen()->geometry();
    m_overlay->setArea(full);
    m_overlay->setFullScreen(true);
    m_overlay->show();
    QTRY_VERIFY_WITH_TIMEOUT(m_overlay->isVisible(), 10000);
    QVERIFY(QTest::qWaitForWindowExposed(m_overlay.get(), 20000));
    QWidget *bar = buttonBar();
    QVERIFY(bar);
    QVERIFY(QTest::qWaitForWindowExposed(bar, 20000));
    // Over a full-screen selection the bar sits inside its top-right corner.
    QTRY_COMPARE(bar->geometry().topLeft(), full.topRight() + QPoint(-4 - bar->width(), 4));
    auto *close = bar->findChild<QPushButton *>("cancelButton");
    auto *capture = bar->findChild<QPushButton *>("saveButton");
    auto *copy = bar->findChild<QPushButton *>("copyButton");
    QVERIFY(close && capture && copy);
    QCOMPARE(close->toolTip(), QString("Close Window"));
    QCOMPARE(capture->toolTip(), QString("Capture"));
    QCOMPARE(copy->toolTip(), QString("Copy (Ctrl+C)"));

    const QPoint corner = close->mapToGlobal(QPoint(2, 2));
    QTRY_COMPARE_WITH_TIMEOUT(screenPixel(corner), QColor("#28282E"), 10000);
    QVERIFY(movePointer(close->mapToGlobal(close->rect().center())));
    // The close button turns red, its icon white.
    QTRY_COMPARE_WITH_TIMEOUT(screenPixel(corner), QColor("#E81123"), 10000);
    const auto hasWhite = [close] {
        const QPoint at = close->mapToGlobal(QPoint());
        const QImage button
                = QGuiApplication::primaryScreen()->grabWindow(0, at.x(), at.y(), 30, 30).toImage();
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 30; ++x)
                if (button.pixelColor(x, y).lightness() > 230)
                    return true;
        return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(hasWhite(), 10000);
    QVERIFY(movePointer(10, 10));
    QTRY_COMPARE_WITH_TIMEOUT(screenPixel(corner), QColor("#28282E"), 10000);
}

int main(int argc, char **argv)
{
    TestHome home;
    QApplication app(argc, argv);
    TestScreenshotWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "test-screenshot-window.moc"
