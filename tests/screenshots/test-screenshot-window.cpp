#include "desktop-input.h"
#include "sc-compositor-watcher.h"
#include "sc-screenshot-window.h"
#include "sc-screenshot.h"
#include "sc-settings.h"

#include <QApplication>
#include <QClipboard>
#include <QImageReader>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// Every 16 x 16 cell of the screen has its own colour, so a shifted grab cannot pass.
QColor patternColour(int x, int y)
{
    const int cx = x / 16;
    const int cy = y / 16;
    return QColor((cx * 29 + 40) % 256, (cy * 47 + 10) % 256, ((cx + cy) * 13 + 90) % 256);
}

class PatternWidget : public QWidget
{
public:
    PatternWidget()
        : QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnBottomHint)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

    QList<QPoint> presses;

protected:
    void mousePressEvent(QMouseEvent *event) override
    {
        presses << event->globalPosition().toPoint();
    }

    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        for (int y = 0; y < height(); y += 16)
            for (int x = 0; x < width(); x += 16)
                painter.fillRect(x, y, 16, 16, patternColour(x, y));
    }
};

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

// Pixels of `image` (taken at global `origin`) that differ from the pattern by more than
// `tolerance`, leaving out `skip` (image coordinates).
int patternMismatches(const QImage &image, const QPoint &origin, int tolerance,
                      const QRect &skip = QRect())
{
    int mismatches = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            if (skip.contains(x, y))
                continue;
            const QColor expected = patternColour(origin.x() + x, origin.y() + y);
            mismatches += colourDistance(image.pixelColor(x, y), expected) > tolerance;
        }
    return mismatches;
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
    void captureSavesExactlyTheSelection_data();
    void captureSavesExactlyTheSelection();
    void penStrokeIsInTheSavedImage();
    void failedSaveKeepsTheOverlayOpen();
    void escapeCancelsOnce();
    void ctrlCCopiesAndCloses();
    void barSitsUnderOrInside();
    void cornerResizeKeepsTheMinimumAndInsideMoves();
    void insideTakesThePointerAndThePenDraws();
    void selectorHiddenAfterShowIsNotInThePicture();
    void barButtonsLightUpUnderThePointer();

private:
    QString suffix() const;
    void showOverlay(const QRect &area);

    QTemporaryDir m_dir;
    QSettings m_settings {SCSettings::ORGANIZATION, SCSettings::APPLICATION};
    PatternWidget m_pattern;
    SCScreenshot *m_screenshot = nullptr;
    std::unique_ptr<SCScreenshotWindow> m_overlay;
};

QString TestScreenshotWindow::suffix() const
{
    return SCCompositorWatcher::instance()->isCompositing() ? "compositor" : "no-compositor";
}

void TestScreenshotWindow::initTestCase()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    m_pattern.setGeometry(screen->geometry());
    m_pattern.show();
    QVERIFY(QTest::qWaitForWindowExposed(&m_pattern, 20000));
    QTRY_COMPARE_WITH_TIMEOUT(m_pattern.geometry(), screen->geometry(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(
            patternMismatches(screen->grabWindow(0, 300, 300, 64, 64).toImage(), {300, 300}, 0)
                    == 0,
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
    QTest::qWait(50);
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
    const QRect area(300, 200, 400, 300);
    showOverlay(area);

    QSignalSpy saved(m_overlay.get(), &SCScreenshotWindow::screenshotSaved);
    m_overlay->saveScreenshot();
    QTRY_COMPARE_WITH_TIMEOUT(saved.count(), 1, 10000);
    QVERIFY(!m_overlay->isVisible());
    const QString path = saved.first().first().toString();
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
    QVERIFY(edgeMismatches(QRect(0, 0, 400, 1)) <= 400 / 4);
    QVERIFY(edgeMismatches(QRect(0, 299, 400, 1)) <= 400 / 4);
    QVERIFY(edgeMismatches(QRect(0, 0, 1, 300)) <= 300 / 4);
    QVERIFY(edgeMismatches(QRect(399, 0, 1, 300)) <= 300 / 4);
}

void TestScreenshotWindow::penStrokeIsInTheSavedImage()
{
    const QRect area(500, 300, 400, 300);
    showOverlay(area);
    QWidget *bar = buttonBar();
    QVERIFY(bar);
    QVERIFY(QTest::qWaitForWindowExposed(bar, 20000));
    auto *pen = bar->findChild<QPushButton *>("drawButton");
    QVERIFY(pen);
    const QPoint penCentre = pen->mapToGlobal(pen->rect().center());

    // All through the X server, as a user would: pen on, one stroke, Return.
    QVERIFY(xdotool({"mousemove", QString::number(penCentre.x()), QString::number(penCentre.y()),
                     "click", "1"}));

    QTRY_VERIFY_WITH_TIMEOUT(pen->isChecked(), 10000);
    const int y = area.y() + 150;
    QVERIFY(xdotool(
            {"mousemove", QString::number(area.x() + 50), QString::number(y), "mousedown", "1"}));
    for (int x = area.x() + 60; x <= area.x() + 300; x += 20)
        QVERIFY(xdotool({"mousemove", QString::number(x), QString::number(y)}));
    QVERIFY(xdotool({"mouseup", "1"}));
    QVERIFY(xdotool({"mousemove", "10", "10"}));
    QTest::qWait(300);
    QGuiApplication::primaryScreen()->grabWindow(0).save(
            QDir::temp().filePath(QString("vistrel-overlay-%1.png").arg(suffix())));

    QSignalSpy saved(m_overlay.get(), &SCScreenshotWindow::screenshotSaved);
    QVERIFY(xdotool({"key", "Return"}));
    QTRY_COMPARE_WITH_TIMEOUT(saved.count(), 1, 10000);
    const QImage image(saved.first().first().toString());
    QCOMPARE(image.size(), QSize(400, 300));
    // The stroke runs through image row 150 from x 50 to 300.
    for (int x = 60; x <= 280; x += 10)
        QVERIFY2(colourDistance(image.pixelColor(x, 150), Qt::red) <= 6,
                 qPrintable(QString("x %1: %2").arg(x).arg(image.pixelColor(x, 150).name())));
    // Away from the stroke the picture is the screen.
    const QRect strokeBand(0, 144, 400, 13);
    QCOMPARE(patternMismatches(image, area.topLeft(), 0, strokeBand), 0);
}

void TestScreenshotWindow::failedSaveKeepsTheOverlayOpen()
{
    QFile blocker(m_dir.filePath("afile"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    m_settings.setValue(SCSettings::SCREENSHOT_SAVE_LOCATION, m_dir.filePath("afile/sub"));
    showOverlay(QRect(200, 200, 300, 200));
    QSignalSpy errors(m_screenshot, &SCScreenshot::error);
    QSignalSpy saved(m_overlay.get(), &SCScreenshotWindow::screenshotSaved);
    QVERIFY(xdotool({"key", "Return"}));
    QTRY_COMPARE_WITH_TIMEOUT(errors.count(), 1, 10000);
    QVERIFY(errors.first().first().toString().startsWith(
            "Failed to save screenshot to " + m_dir.filePath("afile/sub/Screenshot_")));
    QCOMPARE(saved.count(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(m_overlay->isVisible() && buttonBar(), 10000);
}

void TestScreenshotWindow::escapeCancelsOnce()
{
    showOverlay(QRect(200, 200, 300, 200));
    QWidget *bar = buttonBar();
    QVERIFY(bar);
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
    QTest::qWait(200);
    QCOMPARE(cancelled.count(), 1);
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
    QCOMPARE(patternMismatches(image, area.topLeft(), 0), 0);
}

void TestScreenshotWindow::barSitsUnderOrInside()
{
    const QRect area(300, 200, 400, 300);
    showOverlay(area);
    QWidget *bar = buttonBar();
    QVERIFY(bar && bar->isVisible());
    // Right-aligned under the handles, clear of the selection.
    QTRY_COMPARE(bar->geometry().topLeft(), area.bottomRight() + QPoint(9 - bar->width(), 11));
    const QRect full = QGuiApplication::primaryScreen()->geometry();
    m_overlay->setArea(full);
    m_overlay->setFullScreen(true);
    QTRY_COMPARE(bar->geometry().topLeft(), full.topRight() + QPoint(-4 - bar->width(), 4));
}

void TestScreenshotWindow::cornerResizeKeepsTheMinimumAndInsideMoves()
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
    // A press well inside moves the selection, and it stays on the screen.
    const QRect before = m_overlay->getArea();
    QTest::mousePress(m_overlay.get(), Qt::LeftButton, {}, QPoint(58, 58));
    QTest::mouseMove(m_overlay.get(), QPoint(88, 98));
    QTest::mouseRelease(m_overlay.get(), Qt::LeftButton, {}, QPoint(88, 98));
    QTRY_COMPARE(m_overlay->getArea(), before.translated(30, 40));
    const QRect moved = m_overlay->getArea();
    QTest::mousePress(m_overlay.get(), Qt::LeftButton, {}, QPoint(58, 58));
    QTest::mouseMove(m_overlay.get(), QPoint(58, 58) - moved.topLeft() - QPoint(500, 500));
    QTest::mouseRelease(m_overlay.get(), Qt::LeftButton, {},
                        QPoint(58, 58) - moved.topLeft() - QPoint(500, 500));
    QTRY_COMPARE(m_overlay->getArea(), QRect(QPoint(0, 0), moved.size()));
    // At the screen's edge the frame comes inside, over the selection's edge.
    QCOMPARE(m_overlay->geometry(), QRect(0, 0, 108, 108));
}

void TestScreenshotWindow::insideTakesThePointerAndThePenDraws()
{
    const QRect area(300, 200, 400, 300);
    showOverlay(area);
    m_pattern.presses.clear();
    PressCounter counter;
    m_overlay->installEventFilter(&counter);
    const QPoint inside = area.center();
    QVERIFY(xdotool(
            {"mousemove", QString::number(inside.x()), QString::number(inside.y()), "click", "1"}));
    // The press starts a move of the selection instead of reaching the window below.
    QTRY_COMPARE_WITH_TIMEOUT(counter.presses, 1, 5000);
    QCOMPARE(m_pattern.presses.size(), 0);
    QCOMPARE(m_overlay->getArea(), area);

    // With the pen on, the same click is a stroke (a dot) on the picture.
    m_overlay->drawOnScreenshot();
    QVERIFY(xdotool(
            {"mousemove", QString::number(inside.x()), QString::number(inside.y()), "click", "1"}));
    QVERIFY(xdotool({"mousemove", "10", "10"}));
    QSignalSpy saved(m_overlay.get(), &SCScreenshotWindow::screenshotSaved);
    QVERIFY(xdotool({"key", "Return"}));
    QTRY_COMPARE_WITH_TIMEOUT(saved.count(), 1, 10000);
    QCOMPARE(m_pattern.presses.size(), 0);
    const QImage image(saved.first().first().toString());
    const QPoint dot = inside - area.topLeft();
    QVERIFY2(colourDistance(image.pixelColor(dot), Qt::red) <= 6,
             qPrintable(image.pixelColor(dot).name()));
}

void TestScreenshotWindow::selectorHiddenAfterShowIsNotInThePicture()
{
    // As after a region selection: the selector still covers the screen when the overlay is
    // shown, and goes away right after.
    QWidget cover(nullptr, Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    cover.setStyleSheet("background: #202020;");
    cover.setGeometry(QGuiApplication::primaryScreen()->geometry());
    cover.show();
    QVERIFY(QTest::qWaitForWindowExposed(&cover, 20000));
    QTRY_VERIFY_WITH_TIMEOUT(QGuiApplication::primaryScreen()
                                             ->grabWindow(0, 700, 500, 1, 1)
                                             .toImage()
                                             .pixelColor(0, 0)
                                     == QColor("#202020"),
                             5000);

    const QRect area(600, 400, 400, 300);
    m_overlay->setArea(area);
    m_overlay->show();
    cover.hide();
    QTRY_VERIFY_WITH_TIMEOUT(m_overlay->isVisible(), 10000);
    QVERIFY(QTest::qWaitForWindowExposed(m_overlay.get(), 20000));
    QTRY_VERIFY_WITH_TIMEOUT(m_overlay->hasKeyboard(), 10000);
    // The screen itself has long forgotten the cover when the user captures.
    const QPoint probe = area.center();
    QTRY_COMPARE_WITH_TIMEOUT(QGuiApplication::primaryScreen()
                                      ->grabWindow(0, probe.x(), probe.y(), 1, 1)
                                      .toImage()
                                      .pixelColor(0, 0),
                              patternColour(probe.x(), probe.y()), 10000);
    QSignalSpy saved(m_overlay.get(), &SCScreenshotWindow::screenshotSaved);
    m_overlay->saveScreenshot();
    QTRY_COMPARE_WITH_TIMEOUT(saved.count(), 1, 10000);
    const QImage image(saved.first().first().toString());
    QCOMPARE(patternMismatches(image, area.topLeft(), 0), 0);
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
    auto *close = bar->findChild<QPushButton *>("cancelButton");
    auto *capture = bar->findChild<QPushButton *>("saveButton");
    QVERIFY(close && capture);
    QCOMPARE(close->toolTip(), QString("Close Window"));
    QCOMPARE(capture->toolTip(), QString("Capture"));
    auto *copy = bar->findChild<QPushButton *>("copyButton");
    QVERIFY(copy);
    QCOMPARE(copy->toolTip(), QString("Copy (Ctrl+C)"));

    const auto screenAt = [](QWidget *w, const QPoint &p) {
        const QPoint g = w->mapToGlobal(p);
        return QGuiApplication::primaryScreen()
                ->grabWindow(0, g.x(), g.y(), 1, 1)
                .toImage()
                .pixelColor(0, 0);
    };
    QTRY_COMPARE_WITH_TIMEOUT(screenAt(close, QPoint(2, 2)), QColor("#28282E"), 10000);
    const QPoint centre = close->mapToGlobal(close->rect().center());
    QVERIFY(xdotool({"mousemove", QString::number(centre.x()), QString::number(centre.y())}));
    // The close button turns red, its icon white.
    QTRY_COMPARE_WITH_TIMEOUT(screenAt(close, QPoint(2, 2)), QColor("#E81123"), 10000);
    QImage button;
    QTRY_VERIFY_WITH_TIMEOUT(
            (button = QGuiApplication::primaryScreen()
                              ->grabWindow(0, close->mapToGlobal(QPoint()).x(),
                                           close->mapToGlobal(QPoint()).y(), 30, 30)
                              .toImage(),
             [&button] {
                 for (int y = 0; y < 30; ++y)
                     for (int x = 0; x < 30; ++x)
                         if (button.pixelColor(x, y).lightness() > 230)
                             return true;
                 return false;
             }()),
            10000);
    QGuiApplication::primaryScreen()->grabWindow(0).save(
            QDir::temp().filePath(QString("vistrel-overlay-full-%1.png").arg(suffix())));
    QVERIFY(xdotool({"mousemove", "10", "10"}));
    QTRY_COMPARE_WITH_TIMEOUT(screenAt(close, QPoint(2, 2)), QColor("#28282E"), 10000);
}

int main(int argc, char **argv)
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QApplication app(argc, argv);
    TestScreenshotWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "test-screenshot-window.moc"
