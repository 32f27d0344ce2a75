#include "obs-capture-area.h"

#include <QMargins>
#include <QtTest>

// Logical recording areas to the engine's device-pixel crop and canvas.
class TestCaptureArea : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cropLeavesExactlyTheArea_data();
    void cropLeavesExactlyTheArea();
};

void TestCaptureArea::cropLeavesExactlyTheArea_data()
{
    QTest::addColumn<QPoint>("start");
    QTest::addColumn<QPoint>("end");
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<double>("ratio");
    // Exact results where given; an empty frame checks only that the crop adds up.
    QTest::addColumn<QMargins>("crop");
    QTest::addColumn<QSize>("frame");
    QTest::addColumn<QSize>("canvas");
    QTest::newRow("region on a retina screen")
            << QPoint(100, 50) << QPoint(739, 409) << QSize(1440, 900) << 2.0
            << QMargins(200, 100, 1400, 980) << QSize(1280, 720) << QSize(1280, 720);
    QTest::newRow("canvas rounds up to a multiple of four")
            << QPoint(0, 0) << QPoint(1000, 499) << QSize(1440, 900) << 2.0
            << QMargins(0, 0, 878, 800) << QSize(2002, 1000) << QSize(2008, 1000);
    QTest::newRow("full screen has no crop")
            << QPoint(0, 0) << QPoint(1919, 1079) << QSize(1920, 1080) << 1.0 << QMargins()
            << QSize(1920, 1080) << QSize(1920, 1080);
    QTest::newRow("1x") << QPoint(37, 11) << QPoint(500, 333) << QSize(1920, 1080) << 1.0
                        << QMargins() << QSize() << QSize();
    QTest::newRow("2x") << QPoint(1, 2) << QPoint(3, 4) << QSize(1440, 900) << 2.0 << QMargins()
                        << QSize() << QSize();
    QTest::newRow("reversed") << QPoint(800, 600) << QPoint(100, 50) << QSize(1280, 720) << 1.0
                              << QMargins() << QSize() << QSize();
    QTest::newRow("outside") << QPoint(-20, -5) << QPoint(5000, 100) << QSize(1280, 720) << 1.0
                             << QMargins() << QSize() << QSize();
}

void TestCaptureArea::cropLeavesExactlyTheArea()
{
    QFETCH(QPoint, start);
    QFETCH(QPoint, end);
    QFETCH(QSize, screen);
    QFETCH(double, ratio);
    QFETCH(QMargins, crop);
    QFETCH(QSize, frame);
    QFETCH(QSize, canvas);
    const auto a = ObsCaptureArea::fromCorners(start, end, screen, ratio);
    QCOMPARE(a.left + a.frameWidth + a.right, int(screen.width() * ratio));
    QCOMPARE(a.top + a.frameHeight + a.bottom, int(screen.height() * ratio));
    QVERIFY(a.left >= 0 && a.right >= 0 && a.top >= 0 && a.bottom >= 0);
    QCOMPARE(a.canvasWidth % 4, 0);
    QVERIFY(a.canvasWidth >= a.frameWidth && a.canvasWidth < a.frameWidth + 4 * ratio);
    if (frame.isEmpty())
        return;
    QCOMPARE(QMargins(a.left, a.top, a.right, a.bottom), crop);
    QCOMPARE(QSize(a.frameWidth, a.frameHeight), frame);
    QCOMPARE(QSize(a.canvasWidth, a.canvasHeight), canvas);
    QCOMPARE(a.fullScreen, crop.isNull());
}

QTEST_GUILESS_MAIN(TestCaptureArea)
#include "test-capture-area.moc"
