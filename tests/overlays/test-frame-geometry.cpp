#include "sc-frame-geometry.h"

#include <QTest>

using namespace SCFrameGeometry;

class TestFrameGeometry : public QObject
{
    Q_OBJECT

private slots:
    void dragZones_data();
    void dragZones();
    void resize_data();
    void resize();
    void moveKeepsOnScreen();
    void barDragLimitsOnlySideways();
    void presetFramesAreCentred();
};

void TestFrameGeometry::dragZones_data()
{
    QTest::addColumn<QPoint>("pos");
    QTest::addColumn<bool>("drawing");
    QTest::addColumn<int>("mode");
    // An 800 x 600 frame.
    QTest::newRow("top-left") << QPoint(0, 0) << false << int(TopLeft);
    QTest::newRow("top-right") << QPoint(790, 0) << false << int(TopRight);
    QTest::newRow("bottom-left") << QPoint(5, 595) << false << int(BottomLeft);
    QTest::newRow("bottom-right") << QPoint(799, 599) << false << int(BottomRight);
    QTest::newRow("left, beyond the painted border") << QPoint(8, 300) << false << int(Left);
    QTest::newRow("right") << QPoint(795, 300) << false << int(Right);
    QTest::newRow("top") << QPoint(400, 3) << false << int(Top);
    QTest::newRow("12 px inside") << QPoint(12, 300) << false << int(Move);
    QTest::newRow("centre") << QPoint(400, 300) << false << int(Move);
    QTest::newRow("drawing on the border") << QPoint(0, 0) << true << int(Draw);
    QTest::newRow("drawing inside") << QPoint(400, 300) << true << int(Draw);
}

void TestFrameGeometry::dragZones()
{
    QFETCH(QPoint, pos);
    QFETCH(bool, drawing);
    QFETCH(int, mode);
    QCOMPARE(int(dragModeAt(QSize(800, 600), pos, drawing)), mode);
}

void TestFrameGeometry::resize_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QPoint>("delta");
    QTest::addColumn<bool>("locked");
    QTest::addColumn<QRect>("expected");
    // An 800 x 600 frame at (100, 100): right 899, bottom 699, ratio 4/3, at least 200 x 150.
    const QRect g(100, 100, 800, 600);
    QTest::newRow("right") << int(Right) << QPoint(80, 33) << false << g.adjusted(0, 0, 80, 0);
    QTest::newRow("top") << int(Top) << QPoint(7, 40) << false << g.adjusted(0, 40, 0, 0);
    QTest::newRow("top-left") << int(TopLeft) << QPoint(10, -5) << false
                              << g.adjusted(10, -5, 0, 0);
    QTest::newRow("top-right") << int(TopRight) << QPoint(4, 6) << false << g.adjusted(0, 6, 4, 0);
    QTest::newRow("bottom-left") << int(BottomLeft) << QPoint(4, 6) << false
                                 << g.adjusted(4, 0, 0, 6);
    QTest::newRow("move is not a resize") << int(Move) << QPoint(4, 6) << false << g;
    // Right edge + 80: h = trunc(879 * 3/4) = 659, d = 59, top and bottom move by 29.
    QTest::newRow("locked right +80")
            << int(Right) << QPoint(80, 0) << true << QRect(QPoint(100, 71), QPoint(979, 728));
    QTest::newRow("locked left -40")
            << int(Left) << QPoint(-40, 0) << true << QRect(QPoint(60, 86), QPoint(899, 713));
    // Bottom + 60: w = trunc(659 * 4/3) = 878, d = 78, left and right by 39.
    QTest::newRow("locked bottom +60")
            << int(Bottom) << QPoint(0, 60) << true << QRect(QPoint(61, 100), QPoint(938, 759));
    // Bottom-right + (80, 0): bottom = 100 + trunc(879 * 3/4) = 759.
    QTest::newRow("locked bottom-right") << int(BottomRight) << QPoint(80, 0) << true
                                         << QRect(QPoint(100, 100), QPoint(979, 759));
    // Top-left + (40, 0): top = 699 - trunc((899 - 140) * 3/4) = 699 - 569 = 130.
    QTest::newRow("locked top-left")
            << int(TopLeft) << QPoint(40, 0) << true << QRect(QPoint(140, 130), QPoint(899, 699));
    QTest::newRow("minimum, left far right")
            << int(Left) << QPoint(700, 0) << false << QRect(QPoint(700, 100), g.bottomRight());
    QTest::newRow("minimum, top far down")
            << int(Top) << QPoint(0, 590) << false << QRect(QPoint(100, 550), g.bottomRight());
    QTest::newRow("minimum, top-left both") << int(TopLeft) << QPoint(900, 900) << false
                                            << QRect(QPoint(700, 550), g.bottomRight());
}

void TestFrameGeometry::resize()
{
    QFETCH(int, mode);
    QFETCH(QPoint, delta);
    QFETCH(bool, locked);
    QFETCH(QRect, expected);
    QCOMPARE(resized(mode, QRect(100, 100, 800, 600), delta, locked, QSize(200, 150)), expected);
}

void TestFrameGeometry::moveKeepsOnScreen()
{
    const QRect available(0, 0, 1920, 1080);
    const QRect g(100, 100, 800, 600);
    QCOMPARE(moved(g, QPoint(50, 20), available, 30), QPoint(150, 120));
    QCOMPARE(moved(g, QPoint(-500, -500), available, 30), QPoint(0, 0));
    // Right edge stops at the available right edge (inclusive 1919 - 800).
    QCOMPARE(moved(g, QPoint(5000, 0), available, 30).x(), 1119);
    QCOMPARE(moved(g, QPoint(0, 5000), available, 30).y(), 1079 - 600 + 30);
}

void TestFrameGeometry::barDragLimitsOnlySideways()
{
    const QRect available(0, 0, 1920, 1080);
    QCOMPARE(barDragged(QPoint(5000, -300), QSize(800, 600), available), QPoint(1119, -300));
    QCOMPARE(barDragged(QPoint(-50, 4000), QSize(800, 600), available), QPoint(0, 4000));
}

void TestFrameGeometry::presetFramesAreCentred()
{
    // 9:16 on a 1440 x 900 screen at ratio 2: 304 x 540 logical pixels of content.
    QCOMPARE(presetFrame(QSize(1440, 900), 2.0, QSize(608, 1080), 4), QRect(564, 176, 312, 548));
    // A frame taller than the screen starts above it rather than being squeezed.
    QCOMPARE(presetFrame(QSize(1920, 1080), 1.0, QSize(608, 1080), 4), QRect(652, -4, 616, 1088));
    // Odd logical sizes are truncated, as the engine's sizes are.
    QCOMPARE(presetFrame(QSize(1440, 900), 1.5, QSize(1920, 1080), 0).size(), QSize(1280, 720));
}

QTEST_MAIN(TestFrameGeometry)
#include "test-frame-geometry.moc"
