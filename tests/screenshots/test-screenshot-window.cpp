#include "desktop-input.h"
#include "flat-window.h"
#include "pattern-widget.h"
#include "sc-annotation-document.h"
#include "sc-annotation-editor.h"
#include "sc-compositor-watcher.h"
#include "sc-pin-window.h"
#include "sc-screenshot-window.h"
#include "sc-screenshot.h"
#include "sc-settings.h"
#include "sc-text-annotation.h"
#include "sc-text-recognizer.h"
#include "test-home.h"

#include <QApplication>
#include <QClipboard>
#include <QImageReader>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QUndoStack>
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
    void everyToolByKeyAndPointer();
    void redactedTextCannotBeReadBack();
    void cropAfterAnnotatingKeepsMarksOutside();
    void pinKeepsThePictureOnTop();
    void devicePixelsAtScaleTwo();

private:
    void showOverlay(const QRect &area);
    // A mark dragged through the editor, as the pointer would.
    void drawMark(SCAnnotation::Tool tool, QPointF from, QPointF to);
    QString recognisedText();

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
    // The pattern is laid out in device pixels only at scale 1.
    QTRY_VERIFY_WITH_TIMEOUT(
            screen->devicePixelRatio() != 1
                    || patternMismatches(screen->grabWindow(0, 300, 300, 64, 64).toImage(),
                                         {300, 300})
                            == 0,
            10000);
    m_screenshot = new SCScreenshot(this);
    qInfo() << "compositing:" << SCCompositorWatcher::instance()->isCompositing();
}

void TestScreenshotWindow::init()
{
    m_settings.setValue(SCSettings::SCREENSHOT_SAVE_LOCATION, m_dir.filePath("shots"));
    m_settings.setValue(SCSettings::SCREENSHOT_FORMAT, "PNG");
    m_settings.setValue(SCSettings::SCREENSHOT_TOOL, "none");
    m_settings.setValue(SCSettings::SCREENSHOT_COLOR, "#0000ff");
    m_settings.setValue(SCSettings::SCREENSHOT_THICKNESS, 4);
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
    // A name chosen in Save as says the format, whatever the setting.
    QVERIFY(screenshot.saveScreenshot(picture(Qt::red), m_dir.filePath("given/other.jpg")));
    QCOMPARE(QImageReader::imageFormat(m_dir.filePath("given/other.jpg")), QByteArray("jpeg"));

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
        QVERIFY2(colourDistance(image.pixelColor(x, 150), Qt::blue) <= 6,
                 qPrintable(QString("x %1: %2").arg(x).arg(image.pixelColor(x, 150).name())));
    QVERIFY2(colourDistance(image.pixelColor(350, 150), Qt::blue) <= 6,
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
    QCOMPARE(close->toolTip(), QString("Close Window (Esc)"));
    QCOMPARE(capture->toolTip(), QString("Capture (Ctrl+S)"));
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

void TestScreenshotWindow::drawMark(SCAnnotation::Tool tool, QPointF from, QPointF to)
{
    SCAnnotationEditor *editor = m_overlay->editor();
    editor->setTool(tool);
    editor->press(from, Qt::NoModifier);
    editor->move((from + to) / 2, Qt::NoModifier);
    editor->release(to, Qt::NoModifier);
}

bool isInk(const QImage &image, const QPoint &p)
{
    const QColor c = image.pixelColor(p);
    return c.blue() > 200 && c.red() < 70 && c.green() < 70;
}

// Every tool chosen by its key and drawn with the real pointer, the history by its keys.
void TestScreenshotWindow::everyToolByKeyAndPointer()
{
    const QRect area(300, 200, 600, 400);
    showOverlay(area);
    const QPoint a = area.topLeft();
    SCAnnotationDocument *document = m_overlay->editor()->document();
    SCAnnotationBar *bar = m_overlay->bar();
    const auto tool = [&](const char *key, const char *button) {
        QVERIFY(xdotool({"key", key}));
        QTRY_VERIFY_WITH_TIMEOUT(bar->findChild<QPushButton *>(button)->isChecked(), 5000);
    };
    tool("r", "rectangleButton");
    // The wheel sets the thickness, and the bar's slider follows.
    QVERIFY(movePointer(a + QPoint(300, 300)));
    QVERIFY(xdotool({"click", "--repeat", "2", "--delay", "50", "4"}));
    QTRY_COMPARE(m_overlay->editor()->thickness(), 6);
    QCOMPARE(bar->findChild<QSlider *>("thicknessSlider")->value(), 6);
    QVERIFY(xdotool({"click", "--repeat", "2", "--delay", "50", "5"}));
    QTRY_COMPARE(m_settings.value(SCSettings::SCREENSHOT_THICKNESS).toInt(), 4);
    QVERIFY(dragPointer(a + QPoint(20, 20), a + QPoint(120, 100)));
    tool("a", "arrowButton");
    QVERIFY(dragPointer(a + QPoint(150, 60), a + QPoint(300, 60)));
    tool("t", "textButton");
    QVERIFY(clickAt(a + QPoint(20, 200)));
    QTRY_VERIFY(m_overlay->findChild<QPlainTextEdit *>());
    QVERIFY(xdotool({"type", "Hello"}));
    QVERIFY(xdotool({"key", "ctrl+Return"}));
    QTRY_COMPARE(document->count(), 3);
    tool("n", "stepButton");
    for (int x : {400, 450, 500})
        QVERIFY(clickAt(a + QPoint(x, 60)));
    tool("x", "pixelateButton");
    QVERIFY(dragPointer(a + QPoint(20, 300), a + QPoint(200, 380)));
    QTRY_COMPARE(document->count(), 7);
    QCOMPARE(document->stepNumber(5), 3);

    const QImage beforeUndo = m_overlay->composedPicture().toImage();
    QVERIFY(xdotool({"key", "ctrl+z"}));
    QTRY_COMPARE(document->count(), 6);
    QVERIFY(m_overlay->composedPicture().toImage() != beforeUndo);
    QVERIFY(xdotool({"key", "ctrl+shift+z"}));
    QTRY_COMPARE(document->count(), 7);
    QCOMPARE(m_overlay->composedPicture().toImage(), beforeUndo);

    // The select tool moves the rectangle by its edge; Delete removes the text.
    tool("v", "selectButton");
    QVERIFY(dragPointer(a + QPoint(20, 60), a + QPoint(60, 60)));
    QTRY_COMPARE(document->at(0)->boundingRect().left(), a.x() + 58.0);
    // A double-click opens the text again.
    QVERIFY(movePointer(a + QPoint(30, 210)));
    QVERIFY(xdotool({"click", "--repeat", "2", "--delay", "80", "1"}));
    QTRY_VERIFY(m_overlay->findChild<QPlainTextEdit *>());
    QVERIFY(xdotool({"key", "End"}));
    QVERIFY(xdotool({"type", " world"}));
    QVERIFY(xdotool({"key", "ctrl+Return"}));
    QTRY_COMPARE(static_cast<const SCTextAnnotation *>(document->at(2))->text(),
                 QString("Hello world"));
    QVERIFY(clickAt(a + QPoint(30, 210)));
    QTRY_COMPARE(m_overlay->editor()->selectedIndex(), 2);
    QVERIFY(xdotool({"key", "Delete"}));
    QTRY_COMPARE(document->count(), 6);

    QSignalSpy saved(m_overlay.get(), &SCScreenshotWindow::screenshotSaved);
    QVERIFY(xdotool({"key", "ctrl+s"}));
    QTRY_COMPARE_WITH_TIMEOUT(saved.count(), 1, 10000);
    const QImage image(saved.first().first().toString());
    QCOMPARE(image.size(), area.size());
    QVERIFY(isInk(image, {60, 60})); // the rectangle's moved left edge
    QVERIFY(!isInk(image, {20, 60})); // ... no longer where it was drawn
    QVERIFY(!isInk(image, {110, 60})); // its inside is the screen
    QVERIFY(isInk(image, {289, 64})); // the arrow's head
    QVERIFY(isInk(image, {400, 50})); // a step's disc
    QVERIFY(!isInk(image, {30, 210})); // the deleted text
    QVERIFY(patternMismatches(image.copy(20, 300, 180, 80), a + QPoint(20, 300)) > 180 * 80 / 2);
    QCOMPARE(patternMismatches(image.copy(0, 130, 600, 150), a + QPoint(0, 130)), 0);
    // The tool is remembered for the next screenshot.
    QCOMPARE(m_settings.value(SCSettings::SCREENSHOT_TOOL).toString(), QString("select"));
}

QString TestScreenshotWindow::recognisedText()
{
    QSignalSpy copied(m_overlay.get(), &SCScreenshotWindow::textCopied);
    m_overlay->copyText();
    auto *recognizer = m_overlay->findChild<SCTextRecognizer *>();
    if (!recognizer)
        return QStringLiteral("(no recognizer)");
    QSignalSpy finished(recognizer, &SCTextRecognizer::finished);
    if (!finished.wait(60000))
        return QStringLiteral("(no answer)");
    const QString text = finished.first().first().toString();
    // Text found goes to the clipboard and closes the selection; none leaves it open.
    if (text.isEmpty() != (copied.count() == 0) || text.isEmpty() != m_overlay->isVisible())
        return QStringLiteral("(wrong ending)");
    if (!text.isEmpty() && QGuiApplication::clipboard()->text() != text)
        return QStringLiteral("(not on the clipboard)");
    return text;
}

// Read back first, then pixelated and blurred: none of the words survives in the file.
void TestScreenshotWindow::redactedTextCannotBeReadBack()
{
    const QStringList words {"quick", "brown", "jumps", "lazy"};
    QLabel page(QStringLiteral("The quick brown fox jumps over the lazy dog"));
    page.setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    page.setStyleSheet("background: white; color: black; font-size: 12px; padding: 10px;");
    const QRect area(400, 300, 400, 60);
    page.setGeometry(area);
    page.show();
    QTRY_COMPARE_WITH_TIMEOUT(screenPixel(area.topLeft() + QPoint(2, 2)), QColor(Qt::white), 10000);
    showOverlay(area);
    const QString plain = recognisedText();
    for (const QString &word : words)
        QVERIFY2(plain.contains(word, Qt::CaseInsensitive), qPrintable(plain));

    for (SCAnnotation::Tool redaction : {SCAnnotation::Tool::Pixelate, SCAnnotation::Tool::Blur}) {
        m_overlay = std::make_unique<SCScreenshotWindow>(m_screenshot);
        showOverlay(area);
        drawMark(redaction, area.topLeft(), area.bottomRight() + QPoint(1, 1));
        const QString redacted = recognisedText();
        QVERIFY2(!redacted.startsWith('('), qPrintable(redacted));
        for (const QString &word : words)
            QVERIFY2(!redacted.contains(word, Qt::CaseInsensitive), qPrintable(redacted));
    }
}

void TestScreenshotWindow::cropAfterAnnotatingKeepsMarksOutside()
{
    const QRect area(300, 200, 500, 300);
    showOverlay(area);
    drawMark(SCAnnotation::Tool::Rectangle, {700, 300}, {780, 400});
    m_overlay->editor()->setTool(SCAnnotation::Tool::Pen);
    // The right edge is still the frame's, with a drawing tool on.
    const QPoint edge(m_overlay->width() - 6, m_overlay->height() / 2);
    QTest::mousePress(m_overlay.get(), Qt::LeftButton, {}, edge);
    QTest::mouseMove(m_overlay.get(), edge - QPoint(200, 0));
    QTest::mouseRelease(m_overlay.get(), Qt::LeftButton, {}, edge - QPoint(200, 0));
    QTRY_COMPARE(m_overlay->getArea(), QRect(300, 200, 300, 300));
    QCOMPARE(m_overlay->editor()->document()->count(), 1);
    const QImage cropped = m_overlay->composedPicture().toImage();
    QCOMPARE(cropped.size(), QSize(300, 300));
    QCOMPARE(patternMismatches(cropped, {300, 200}), 0);
    m_overlay->setArea(area);
    QVERIFY(isInk(m_overlay->composedPicture().toImage(), {400, 150}));
}

void TestScreenshotWindow::pinKeepsThePictureOnTop()
{
    const QRect area(200, 150, 300, 200);
    showOverlay(area);
    QSignalSpy pinned(m_overlay.get(), &SCScreenshotWindow::screenshotPinned);
    auto *pin = m_overlay->bar()->findChild<QPushButton *>("pinButton");
    QVERIFY(clickAt(pin->mapToGlobal(pin->rect().center())));
    QTRY_COMPARE_WITH_TIMEOUT(pinned.count(), 1, 10000);
    QVERIFY(!m_overlay->isVisible());
    QPointer<SCPinWindow> window;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *p = qobject_cast<SCPinWindow *>(w))
            window = p;
    QVERIFY(window);
    QTRY_VERIFY(window->isVisible());
    QVERIFY(window->windowFlags() & Qt::WindowStaysOnTopHint);
    // The picture at 100 %, in at most a thin border.
    QVERIFY(window->width() - area.width() >= 0 && window->width() - area.width() <= 4);
    // The test's desktop covers the whole screen, where the window manager keeps it above
    // windows that stay on top: the pin's own keys are tested apart.
    window->close();
    QTRY_VERIFY_WITH_TIMEOUT(!window, 10000);
}

// Run with QT_SCALE_FACTOR=2: the file has the screen's device pixels and a line of one
// logical pixel is two wide.
void TestScreenshotWindow::devicePixelsAtScaleTwo()
{
    if (QGuiApplication::primaryScreen()->devicePixelRatio() != 2)
        QSKIP("runs in the scaled session");
    const QRect area(100, 100, 300, 200);
    showOverlay(area);
    m_overlay->editor()->setThickness(1);
    drawMark(SCAnnotation::Tool::Line, QPointF(120, 200.5), QPointF(350, 200.5));
    QSignalSpy saved(m_overlay.get(), &SCScreenshotWindow::screenshotSaved);
    m_overlay->saveScreenshot();
    QTRY_COMPARE_WITH_TIMEOUT(saved.count(), 1, 10000);
    const QImage image(saved.first().first().toString());
    QCOMPARE(image.size(), area.size() * 2);
    int rows = 0;
    for (int y = 180; y < 220; ++y)
        rows += isInk(image, {300, y});
    QCOMPARE(rows, 2);
}

int main(int argc, char **argv)
{
    TestHome home;
    QApplication app(argc, argv);
    TestScreenshotWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "test-screenshot-window.moc"
