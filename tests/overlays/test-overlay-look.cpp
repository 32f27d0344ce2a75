#include "area-selector.h"
#include "desktop-input.h"
#include "pattern-window.h"
#include "sc-countdown-widget.h"
#include "sc-draw-window.h"
#include "sc-fullscreen-toolbar.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTest>

// What the overlays leave of the screen below them.
class TestOverlayLook : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void countdownIsADisc();
    void selectorDimsTheScreen();
    void toolbarAndFrame();

private:
    static QImage grab()
    {
        QTest::qWait(400);
        return QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    }
    static bool near(const QColor &a, const QColor &b, int tolerance = 4)
    {
        return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance
                && qAbs(a.blue() - b.blue()) <= tolerance;
    }
    static QColor patternAt(const QPoint &global) { return PatternWindow::colourAt(global); }

    PatternWindow *m_pattern = nullptr;
};

void TestOverlayLook::init()
{
    QVERIFY(movePointer(1900, 1000));
    m_pattern = new PatternWindow;
    m_pattern->setWindowFlag(Qt::FramelessWindowHint);
    m_pattern->setGeometry(QGuiApplication::primaryScreen()->geometry());
    m_pattern->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_pattern));
    QTRY_COMPARE(m_pattern->mapToGlobal(QPoint(0, 0)), QPoint(0, 0));
    // Painted on screen, not only mapped: the selector photographs what is there.
    QTRY_VERIFY_WITH_TIMEOUT(near(QGuiApplication::primaryScreen()
                                          ->grabWindow(0, 950, 530, 1, 1)
                                          .toImage()
                                          .pixelColor(0, 0),
                                  patternAt(QPoint(950, 530))),
                             5000);
}

void TestOverlayLook::cleanup()
{
    delete m_pattern;
    m_pattern = nullptr;
}

void TestOverlayLook::countdownIsADisc()
{
    SCCountdownWidget countdown;
    countdown.move(500, 300);
    countdown.startCountdown(3);
    QVERIFY(QTest::qWaitForWindowExposed(&countdown));
    QTRY_COMPARE(countdown.mapToGlobal(QPoint(0, 0)), QPoint(500, 300));
    const QImage screen = grab();
    countdown.stopCountdown();

    // Outside the disc the screen shows; inside it the dark face.
    for (const QPoint &corner : {QPoint(502, 302), QPoint(697, 302), QPoint(502, 490)}) {
        QVERIFY2(near(screen.pixelColor(corner), patternAt(corner)),
                 qPrintable(screen.pixelColor(corner).name()));
    }
    QVERIFY2(near(screen.pixelColor(600, 320), QColor(0x28, 0x28, 0x2E)),
             qPrintable(screen.pixelColor(600, 320).name()));
    QVERIFY2(near(screen.pixelColor(600, 301), QColor(0x00, 0x7A, 0xCC), 40),
             qPrintable(screen.pixelColor(600, 301).name()));
}

void TestOverlayLook::selectorDimsTheScreen()
{
    AreaSelector selector;
    selector.show();
    QVERIFY(QTest::qWaitForWindowExposed(&selector));
    QVERIFY(xdotool({"mousemove", "700", "500", "mousedown", "1", "sleep", "0.05", "mousemove",
                     "900", "650", "sleep", "0.05", "mousemove", "1000", "700"}));
    const QImage screen = grab();
    QVERIFY(xdotool({"mouseup", "1"}));

    // A veil of black at 100/255 over the screen: each channel drops to about 155/255.
    for (const QPoint &p : {QPoint(100, 100), QPoint(1500, 900), QPoint(650, 450)}) {
        const QColor under = patternAt(p);
        const QColor veiled(under.red() * 155 / 255, under.green() * 155 / 255,
                            under.blue() * 155 / 255);
        QVERIFY2(near(screen.pixelColor(p), veiled, 6),
                 qPrintable(screen.pixelColor(p).name() + " instead of " + veiled.name()));
    }
    // Inside the band a white wash of 50/255 lies over the veil.
    const QPoint inBand(850, 650);
    const QColor under = patternAt(inBand);
    const auto washed = [](int c) { return c * 155 / 255 * 205 / 255 + 50; };
    const QColor band(washed(under.red()), washed(under.green()), washed(under.blue()));
    QVERIFY2(near(screen.pixelColor(inBand), band, 8),
             qPrintable(screen.pixelColor(inBand).name() + " instead of " + band.name()));
}

void TestOverlayLook::toolbarAndFrame()
{
    SCFullscreenToolbar toolbar;
    toolbar.showToolbar();
    QVERIFY(QTest::qWaitForWindowExposed(&toolbar));
    DrawWindow frame;
    frame.setGeometry(400, 300, 800, 500);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    QVERIFY(QTest::qWaitForWindowExposed(frame.buttonBar()));
    QTest::qWait(300);
    const QImage screen = grab();

    const QColor strip = screen.pixelColor(960, 25 + 20);
    QVERIFY2(strip.lightness() < 90, qPrintable(strip.name()));
    QVERIFY(near(screen.pixelColor(800, 550), patternAt(QPoint(800, 550))));
    QVERIFY(near(screen.pixelColor(401, 550), QColor(0, 122, 204)));
    // Strokes over the inside are checked with the draw window's own cases.
}

QTEST_MAIN(TestOverlayLook)
#include "test-overlay-look.moc"
