#include "obs-capture-area.h"

#include <QtTest>

// Logical recording areas to the engine's device-pixel crop and canvas.
class TestCaptureArea : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void regionOnARetinaScreen();
    void canvasRoundsUpToMultipleOfFour();
    void fullScreenHasNoCrop();
    void cropLeavesExactlyTheArea_data();
    void cropLeavesExactlyTheArea();
};

void TestCaptureArea::regionOnARetinaScreen()
{
    const auto a = ObsCaptureArea::fromCorners({100, 50}, {739, 409}, {1440, 900}, 2.0);
    QCOMPARE(a.left, 200);
    QCOMPARE(a.top, 100);
    QCOMPARE(a.right, 1400);
    QCOMPARE(a.bottom, 980);
    QCOMPARE(a.frameWidth, 1280);
    QCOMPARE(a.frameHeight, 720);
    QCOMPARE(a.canvasWidth, 1280);
    QCOMPARE(a.canvasHeight, 720);
    QVERIFY(!a.fullScreen);
}

void TestCaptureArea::canvasRoundsUpToMultipleOfFour()
{
    const auto a = ObsCaptureArea::fromCorners({0, 0}, {1000, 499}, {1440, 900}, 2.0);
    QCOMPARE(a.frameWidth, 2002);
    QCOMPARE(a.canvasWidth, 2008);
    QCOMPARE(a.canvasHeight, 1000);
    QCOMPARE(ObsCaptureArea::roundUpTo4(1367), 1368);
    QCOMPARE(ObsCaptureArea::roundUpTo4(1368), 1368);
    QCOMPARE(ObsCaptureArea::roundUpTo4(1), 4);
}

void TestCaptureArea::fullScreenHasNoCrop()
{
    const auto a = ObsCaptureArea::fromCorners({0, 0}, {1919, 1079}, {1920, 1080}, 1.0);
    QVERIFY(a.fullScreen);
    QCOMPARE(a.left + a.right + a.top + a.bottom, 0);
    QCOMPARE(a.frameWidth, 1920);
    QCOMPARE(a.canvasHeight, 1080);
}

void TestCaptureArea::cropLeavesExactlyTheArea_data()
{
    QTest::addColumn<QPoint>("start");
    QTest::addColumn<QPoint>("end");
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<double>("ratio");
    QTest::newRow("1x") << QPoint(37, 11) << QPoint(500, 333) << QSize(1920, 1080) << 1.0;
    QTest::newRow("2x") << QPoint(1, 2) << QPoint(3, 4) << QSize(1440, 900) << 2.0;
    QTest::newRow("reversed") << QPoint(800, 600) << QPoint(100, 50) << QSize(1280, 720) << 1.0;
    QTest::newRow("outside") << QPoint(-20, -5) << QPoint(5000, 100) << QSize(1280, 720) << 1.0;
}

void TestCaptureArea::cropLeavesExactlyTheArea()
{
    QFETCH(QPoint, start);
    QFETCH(QPoint, end);
    QFETCH(QSize, screen);
    QFETCH(double, ratio);
    const auto a = ObsCaptureArea::fromCorners(start, end, screen, ratio);
    QCOMPARE(a.left + a.frameWidth + a.right, int(screen.width() * ratio));
    QCOMPARE(a.top + a.frameHeight + a.bottom, int(screen.height() * ratio));
    QVERIFY(a.left >= 0 && a.right >= 0 && a.top >= 0 && a.bottom >= 0);
    QCOMPARE(a.canvasWidth % 4, 0);
    QVERIFY(a.canvasWidth >= a.frameWidth && a.canvasWidth < a.frameWidth + 4 * ratio);
}

QTEST_GUILESS_MAIN(TestCaptureArea)
#include "test-capture-area.moc"
