#include "area-selector.h"
#include "desktop-input.h"
#include "pattern-widget.h"
#include "sc-compositor-watcher.h"
#include "sc-countdown-widget.h"
#include "sc-draw-window.h"
#include "sc-fullscreen-toolbar.h"

#include <QGuiApplication>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <cstdlib>

#define SHOW_FRAME(rect)                                                                           \
    do {                                                                                           \
        const QString error = showFrameOver(rect);                                                 \
        QVERIFY2(error.isEmpty(), qPrintable(error));                                              \
    } while (false)

// The frame around a recorded area and the other overlays, over a patterned screen: what
// they take of the pointer and what they leave of the screen below them.
class TestDrawWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void resizeContentReportsInnerRect();
    void innerClickPassesBorderDragResizes();
    void barDragMovesFrame();
    void drawingModeTakesTheDragScreenShowsThrough();
    void closingStopsRecordingFirst();
    void followsACompositorStartingLater();
    void countdownIsADiscToolbarIsDark();
    void selectorDimsTheScreen();

private:
    static QPoint centreOf(QWidget *w) { return w->mapToGlobal(w->rect().center()); }
    QPushButton *button(const char *name) const
    {
        return m_frame->buttonBar()->findChild<QPushButton *>(QLatin1String(name));
    }
    QString showFrameOver(const QRect &frameGeometry);
    static QImage grabScreen() { return QGuiApplication::primaryScreen()->grabWindow(0).toImage(); }
    static bool near(const QColor &a, const QColor &b, int tolerance = 4)
    {
        return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance
                && qAbs(a.blue() - b.blue()) <= tolerance;
    }
    // The screen shows the pattern there: nothing of an overlay is left over it.
    static bool showsPattern(const QImage &screen, const QPoint &p)
    {
        return near(screen.pixelColor(p), desktopColour(p.x(), p.y()));
    }

    PatternWidget m_pattern;
    DrawWindow *m_frame = nullptr;
};

// Run in a session with a compositing manager and in one without (VISTREL_EXPECT_COMPOSITOR=0).
void TestDrawWindow::initTestCase()
{
    QCOMPARE(SCCompositorWatcher::instance()->isCompositing(),
             qEnvironmentVariable("VISTREL_EXPECT_COMPOSITOR", "1") == "1");
    m_pattern.setGeometry(QGuiApplication::primaryScreen()->geometry());
    m_pattern.show();
    QVERIFY(QTest::qWaitForWindowExposed(&m_pattern, 20000));
    // Painted on screen, not only mapped: the selector photographs what is there.
    QTRY_COMPARE_WITH_TIMEOUT(screenPixel({950, 530}), desktopColour(950, 530), 10000);
}

void TestDrawWindow::init()
{
    QVERIFY(movePointer(1900, 1000));
    m_pattern.presses.clear();
    m_frame = new DrawWindow;
}

void TestDrawWindow::cleanup()
{
    delete m_frame;
    m_frame = nullptr;
}

QString TestDrawWindow::showFrameOver(const QRect &frameGeometry)
{
    m_frame->setGeometry(frameGeometry);
    m_frame->show();
    if (!QTest::qWaitForWindowExposed(m_frame))
        return QStringLiteral("frame not exposed");
    if (!QTest::qWaitForWindowExposed(m_frame->buttonBar()))
        return QStringLiteral("bar not exposed");
    // Let the window manager settle the position and the frame paint (and set its shapes).
    const QPoint barAt = frameGeometry.topLeft() - QPoint(0, 30);
    const QPoint onBorder = frameGeometry.topLeft() + QPoint(1, frameGeometry.height() / 2);
    const bool placed = QTest::qWaitFor(
            [&] {
                return m_frame->mapToGlobal(QPoint(0, 0)) == frameGeometry.topLeft()
                        && m_frame->buttonBar()->mapToGlobal(QPoint(0, 0)) == barAt
                        && screenPixel(onBorder) == QColor(0, 122, 204);
            },
            5000);
    if (placed)
        return {};
    QString where;
    QDebug(&where) << "frame at" << m_frame->mapToGlobal(QPoint(0, 0)) << m_frame->geometry()
                   << "bar at" << m_frame->buttonBar()->mapToGlobal(QPoint(0, 0))
                   << m_frame->buttonBar()->geometry();
    return where;
}

void TestDrawWindow::resizeContentReportsInnerRect()
{
    m_frame->move(300, 250);
    QSignalSpy changed(m_frame, &DrawWindow::windowGeometryChanged);
    m_frame->resizeContent(640, 480);
    QCOMPARE(m_frame->size(), QSize(648, 488));
    QCOMPARE(m_frame->pos(), QPoint(300, 250));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toBool(), false);
    const QPoint topLeft = changed.at(0).at(1).toPoint();
    const QPoint bottomRight = changed.at(0).at(2).toPoint();
    QCOMPARE(topLeft, QPoint(304, 254));
    QCOMPARE(QRect(topLeft, bottomRight).size(), QSize(640, 480));
    // The bar follows the width.
    QCOMPARE(m_frame->buttonBar()->width(), 648);
}

void TestDrawWindow::innerClickPassesBorderDragResizes()
{
    SHOW_FRAME(QRect(300, 250, 600, 400));
    QSignalSpy changed(m_frame, &DrawWindow::windowGeometryChanged);
    m_pattern.presses.clear();
    QVERIFY(clickAt({600, 450}));
    QTRY_COMPARE(m_pattern.presses.size(), 1);
    QVERIFY(clickAt({320, 270}));
    QTRY_COMPARE(m_pattern.presses.size(), 2);
    QCOMPARE(m_frame->geometry(), QRect(300, 250, 600, 400));
    QCOMPARE(changed.count(), 0);
    m_pattern.presses.clear();

    // On the painted border: without a compositing manager the frame is cut to what it
    // paints, so only the border itself can be grabbed there.
    const int grabX = SCCompositorWatcher::instance()->isCompositing() ? 306 : 302;
    QVERIFY(dragPointer({grabX, 450}, {grabX - 50, 470}));
    QTRY_COMPARE(m_frame->geometry(), QRect(QPoint(250, 250), QPoint(899, 649)));
    QTRY_COMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toBool(), false);
    QCOMPARE(changed.at(0).at(1).toPoint(), QPoint(254, 254));
    QCOMPARE(changed.at(0).at(2).toPoint(), QPoint(895, 645));
    QCOMPARE(m_pattern.presses.size(), 0);
    QTRY_COMPARE(m_frame->buttonBar()->geometry(), QRect(250, 220, 650, 30));

    // The bottom-right corner with the ratio kept.
    m_frame->setLockRatio(true);
    QVERIFY(dragPointer({897, 647}, {962, 647}));
    QTRY_COMPARE(changed.count(), 2);
    QCOMPARE(m_frame->geometry(), QRect(QPoint(250, 250), QPoint(964, 689)));
}

void TestDrawWindow::barDragMovesFrame()
{
    SHOW_FRAME(QRect(300, 250, 600, 400));
    QSignalSpy changed(m_frame, &DrawWindow::windowGeometryChanged);
    auto *label = m_frame->buttonBar()->findChild<QLabel *>(QStringLiteral("timerLabel"));
    const QPoint from = centreOf(label);
    QVERIFY(dragPointer(from, from + QPoint(-100, 60)));
    QTRY_VERIFY(!changed.isEmpty() && !changed.last().at(0).toBool());
    QCOMPARE(m_frame->geometry(), QRect(200, 310, 600, 400));
    QVERIFY(changed.count() >= 2);
    for (int i = 0; i < changed.count() - 1; ++i)
        QCOMPARE(changed.at(i).at(0).toBool(), true);
    QCOMPARE(changed.last().at(1).toPoint(), QPoint(204, 314));
    QTRY_COMPARE(m_frame->buttonBar()->geometry().topLeft(), QPoint(200, 280));
}

void TestDrawWindow::drawingModeTakesTheDragScreenShowsThrough()
{
    SHOW_FRAME(QRect(300, 250, 600, 400));
    QPushButton *pen = button("drawToggleButton");
    QVERIFY(clickAt(centreOf(pen)));
    QTRY_VERIFY(m_frame->isDrawing());
    QTest::qWait(300);
    m_pattern.presses.clear();
    QSignalSpy changed(m_frame, &DrawWindow::windowGeometryChanged);

    // A drag over the inside draws, and the stroke is on screen, in red.
    QVERIFY(dragPointer({450, 400}, {750, 500}));
    QTRY_COMPARE(m_frame->strokes().size(), 1);
    const QPolygonF first = m_frame->strokes().first();
    QCOMPARE(first.first(), QPointF(150, 150));
    QCOMPARE(first.last(), QPointF(450, 250));
    QVERIFY(movePointer(1500, 1000));
    QTest::qWait(400);
    const QImage screen = grabScreen();
    const QColor onStroke = screen.pixelColor(600, 450);
    QVERIFY2(onStroke.red() > 180 && onStroke.green() < 90 && onStroke.blue() < 90,
             qPrintable(onStroke.name()));

    // The stroke does not make the rest of the inside opaque.
    int checked = 0;
    for (int y = 270; y < 630; y += 17) {
        for (int x = 320; x < 880; x += 23) {
            if (y > 385 && y < 515)
                continue; // near the stroke
            QVERIFY2(showsPattern(screen, {x, y}),
                     qPrintable(QStringLiteral("at %1,%2: %3 instead of %4")
                                        .arg(x)
                                        .arg(y)
                                        .arg(screen.pixelColor(x, y).name(),
                                             desktopColour(x, y).name())));
            ++checked;
        }
    }
    QVERIFY(checked > 250);
    // The border is painted blue, the bar dark.
    QCOMPARE(screen.pixelColor(301, 450), QColor(0, 122, 204));
    QCOMPARE(screen.pixelColor(898, 450), QColor(0, 122, 204));
    const QColor bar = screen.pixelColor(600, 250 - 15);
    QVERIFY2(bar.red() < 60 && bar.green() < 60 && bar.blue() < 60, qPrintable(bar.name()));

    // A drag starting on the border draws too.
    QVERIFY(dragPointer({302, 300}, {400, 300}));
    QTRY_COMPARE(m_frame->strokes().size(), 2);
    QCOMPARE(m_frame->geometry(), QRect(300, 250, 600, 400));
    QCOMPARE(m_pattern.presses.size(), 0);
    QCOMPARE(changed.count(), 0);

    // Pen off: strokes are kept but the inside passes clicks again.
    QVERIFY(clickAt(centreOf(pen)));
    QTRY_VERIFY(!m_frame->isDrawing());
    QCOMPARE(m_frame->strokes().size(), 2);
    QTest::qWait(200);
    QVERIFY(clickAt({600, 450}));
    QTRY_COMPARE(m_pattern.presses.size(), 1);

    QVERIFY(clickAt(centreOf(button("clearButton"))));
    QTRY_VERIFY(m_frame->strokes().isEmpty());
}

void TestDrawWindow::closingStopsRecordingFirst()
{
    SHOW_FRAME(QRect(300, 250, 600, 400));
    QStringList order;
    connect(m_frame, &DrawWindow::startRecording, this, [&] { order << "start"; });
    connect(m_frame, &DrawWindow::stopRecording, this, [&] { order << "stop"; });
    connect(m_frame, &DrawWindow::hideDrawWindow, this, [&] { order << "hide"; });
    QWidget *bar = m_frame->buttonBar();
    QPushButton *start = button("startButton");
    QPushButton *close = button("closeButton");

    QPushButton *pause = button("pauseButton");
    QVERIFY(!pause->isVisible());
    QVERIFY(clickAt(centreOf(start)));
    QTRY_COMPARE(order, QStringList({"start"}));
    QCOMPARE(start->toolTip(), QStringLiteral("Stop Recording"));
    // Pausing is there while recording; the owner's answer sets the look.
    m_frame->setRecordingState(true);
    QTRY_VERIFY(pause->isVisible());
    QSignalSpy paused(m_frame, &DrawWindow::pauseToggled);
    QVERIFY(clickAt(centreOf(pause)));
    QTRY_COMPARE(paused.count(), 1);
    QCOMPARE(paused.at(0).at(0).toBool(), true);
    m_frame->setPausedState(true);
    m_frame->updateTimerLabel(QStringLiteral("00:00:07"));
    auto *time = bar->findChild<QLabel *>(QStringLiteral("timerLabel"));
    QCOMPARE(time->text(), QStringLiteral("Paused 00:00:07"));
    QCOMPARE(pause->toolTip(), QStringLiteral("Resume Recording"));
    QVERIFY(clickAt(centreOf(pause)));
    QTRY_COMPARE(paused.count(), 2);
    QCOMPARE(paused.at(1).at(0).toBool(), false);
    QVERIFY(clickAt(centreOf(close)));
    QTRY_COMPARE(order, QStringList({"start", "stop", "hide"}));
    QVERIFY(!m_frame->isVisible());
    QVERIFY(!bar->isVisible());
    QCOMPARE(start->toolTip(), QStringLiteral("Start Recording"));
    QCOMPARE(time->text(), QStringLiteral("00:00:07"));

    // Closing while idle only hides.
    order.clear();
    SHOW_FRAME(QRect(300, 250, 600, 400));
    QVERIFY(clickAt(centreOf(close)));
    QTRY_COMPARE(order, QStringList({"hide"}));

    // A right click on the border closes frame and bar, stopping a recording first.
    order.clear();
    SHOW_FRAME(QRect(300, 250, 600, 400));
    m_frame->setRecordingState(true);
    QVERIFY(movePointer(301, 450));
    QVERIFY(xdotool({"click", "3"}));
    QTRY_COMPARE(order, QStringList({"stop", "hide"}));
    QVERIFY(!m_frame->isVisible());
    QVERIFY(!bar->isVisible());

    // Closed from outside, the bar goes too.
    SHOW_FRAME(QRect(300, 250, 600, 400));
    QVERIFY(bar->isVisible());
    m_frame->close();
    QVERIFY(!bar->isVisible());
}

// The window's bounding shape as the X server holds it: what it shows of itself.
static QRegion boundingShape(QWidget *window)
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t *c = x11->connection();
    xcb_shape_get_rectangles_reply_t *reply = xcb_shape_get_rectangles_reply(
            c, xcb_shape_get_rectangles(c, xcb_window_t(window->winId()), XCB_SHAPE_SK_BOUNDING),
            nullptr);
    QRegion region;
    if (!reply)
        return region;
    const xcb_rectangle_t *rects = xcb_shape_get_rectangles_rectangles(reply);
    for (int i = 0; i < xcb_shape_get_rectangles_rectangles_length(reply); ++i)
        region += QRect(rects[i].x, rects[i].y, rects[i].width, rects[i].height);
    std::free(reply);
    return region;
}

void TestDrawWindow::followsACompositorStartingLater()
{
    if (SCCompositorWatcher::instance()->isCompositing())
        QSKIP("needs a session without compositing manager");
    SHOW_FRAME(QRect(300, 250, 600, 400));
    QVERIFY(clickAt(centreOf(button("drawToggleButton"))));
    QTRY_VERIFY(m_frame->isDrawing());
    QVERIFY(dragPointer({450, 400}, {550, 400}));
    QTRY_COMPARE(m_frame->strokes().size(), 1);

    // Cut to the border ring and the stroke.
    const QRegion plain = boundingShape(m_frame);
    QVERIFY(plain.contains(QPoint(1, 200)));
    QVERIFY(plain.contains(QPoint(200, 150)));
    QVERIFY(!plain.contains(QPoint(300, 300)));
    QCOMPARE(plain, m_frame->paintedRegion());

    QSignalSpy changed(SCCompositorWatcher::instance(), &SCCompositorWatcher::compositingChanged);
    QProcess compositor;
    compositor.start(QStringLiteral("xcompmgr"), {});
    QVERIFY(compositor.waitForStarted());
    QVERIFY(changed.wait(10000) || !changed.isEmpty());
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.last().first().toBool(), true);
    // Whole again: the compositing manager blends the transparent inside.
    QTRY_COMPARE(boundingShape(m_frame), QRegion(m_frame->rect()));

    compositor.terminate();
    QVERIFY(compositor.waitForFinished(5000));
    QTRY_VERIFY_WITH_TIMEOUT(!SCCompositorWatcher::instance()->isCompositing(), 10000);
    QCOMPARE(changed.count(), 2);
    QTRY_COMPARE(boundingShape(m_frame), m_frame->paintedRegion());

    // A second start is seen as well: the watch outlives the first owner.
    compositor.start(QStringLiteral("xcompmgr"), {});
    QVERIFY(compositor.waitForStarted());
    QTRY_COMPARE_WITH_TIMEOUT(changed.count(), 3, 10000);
    QVERIFY(SCCompositorWatcher::instance()->isCompositing());
    QTRY_COMPARE(boundingShape(m_frame), QRegion(m_frame->rect()));
    compositor.terminate();
    QVERIFY(compositor.waitForFinished(5000));
}

void TestDrawWindow::countdownIsADiscToolbarIsDark()
{
    SCCountdownWidget countdown;
    countdown.move(500, 300);
    countdown.startCountdown(3);
    SCFullscreenToolbar toolbar;
    toolbar.showToolbar();
    QVERIFY(QTest::qWaitForWindowExposed(&countdown));
    QVERIFY(QTest::qWaitForWindowExposed(&toolbar));
    QTRY_COMPARE(countdown.mapToGlobal(QPoint(0, 0)), QPoint(500, 300));
    // Outside the disc the screen shows; inside it the dark face with its blue rim.
    QTRY_VERIFY_WITH_TIMEOUT(near(screenPixel({600, 320}), QColor(0x28, 0x28, 0x2E))
                                     && screenPixel({850, 30}).lightness() < 90,
                             5000);
    const QImage screen = grabScreen();
    countdown.stopCountdown();
    for (const QPoint &corner : {QPoint(502, 302), QPoint(697, 302), QPoint(502, 490)})
        QVERIFY2(showsPattern(screen, corner), qPrintable(screen.pixelColor(corner).name()));
    QVERIFY2(near(screen.pixelColor(600, 301), QColor(0x00, 0x7A, 0xCC), 40),
             qPrintable(screen.pixelColor(600, 301).name()));
    // Gone from the screen before the next case photographs it.
    countdown.hide();
    toolbar.hide();
    QTRY_VERIFY_WITH_TIMEOUT(
            showsPattern(grabScreen(), {600, 320}) && showsPattern(grabScreen(), {960, 45}), 5000);
}

void TestDrawWindow::selectorDimsTheScreen()
{
    AreaSelector selector;
    selector.show();
    QVERIFY(QTest::qWaitForWindowExposed(&selector));
    QVERIFY(xdotool({"mousemove", "700", "500", "mousedown", "1", "sleep", "0.05", "mousemove",
                     "900", "650", "sleep", "0.05", "mousemove", "1000", "700"}));
    // A veil of black at 100/255 over the screen: each channel drops to about 155/255;
    // inside the band a white wash of 50/255 lies over the veil.
    const auto veiled = [](const QPoint &p, bool inBand) {
        const QColor under = desktopColour(p.x(), p.y());
        const auto channel = [inBand](int c) {
            return inBand ? c * 155 / 255 * 205 / 255 + 50 : c * 155 / 255;
        };
        return QColor(channel(under.red()), channel(under.green()), channel(under.blue()));
    };
    QTRY_VERIFY_WITH_TIMEOUT(near(screenPixel({850, 650}), veiled({850, 650}, true), 8), 5000);
    const QImage screen = grabScreen();
    QVERIFY(xdotool({"mouseup", "1"}));
    for (const QPoint &p : {QPoint(100, 100), QPoint(1500, 900), QPoint(650, 450)})
        QVERIFY2(
                near(screen.pixelColor(p), veiled(p, false), 6),
                qPrintable(screen.pixelColor(p).name() + " instead of " + veiled(p, false).name()));
}

QTEST_MAIN(TestDrawWindow)
#include "test-draw-window.moc"
