// The camera window's pure rules: which format opens, which are tried after a failed start,
// and how mouse drags move and resize the window with the picture's aspect ratio kept.

#include "sc-camera-format.h"
#include "sc-camera-geometry.h"

#include <QtTest>

using Mode = SCCameraFormat::Mode;
namespace G = SCCameraGeometry;

class TestCameraArithmetic : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void chosenFormat_data();
    void chosenFormat();
    void fallbackOrderTriesCommonSizesFirstThenSmallestUp();
    void dragModesFollowTheEdgeBand();
    void dragged_data();
    void dragged();
};

void TestCameraArithmetic::chosenFormat_data()
{
    QTest::addColumn<QList<Mode>>("modes");
    QTest::addColumn<int>("expected");

    QTest::newRow("more pixels beat more frames")
            << QList<Mode> {{{1280, 720}, 5, 60}, {{1920, 1080}, 5, 30}} << 1;
    QTest::newRow("largest too slow, next smooth one wins")
            << QList<Mode> {{{2592, 1944}, 2, 10}, {{640, 480}, 5, 30}, {{1280, 720}, 5, 15}} << 2;
    QTest::newRow("first of equal sizes stays")
            << QList<Mode> {{{1280, 720}, 5, 30}, {{1280, 720}, 5, 60}} << 0;
    QTest::newRow("pixel count, not width")
            << QList<Mode> {{{1600, 400}, 5, 30}, {{1024, 768}, 5, 30}} << 1;
    QTest::newRow("none smooth keeps the default")
            << QList<Mode> {{{1920, 1080}, 1, 10}, {{640, 480}, 1, 14.9f}} << -1;
    QTest::newRow("no formats") << QList<Mode> {} << -1;
}

void TestCameraArithmetic::chosenFormat()
{
    QFETCH(QList<Mode>, modes);
    QFETCH(int, expected);
    QCOMPARE(SCCameraFormat::chooseFormat(modes), expected);
}

void TestCameraArithmetic::fallbackOrderTriesCommonSizesFirstThenSmallestUp()
{
    const QList<Mode> modes = {
            {{1920, 1080}, 5, 30}, // 0
            {{1280, 720}, 5, 30}, // 1: preferred, third size
            {{640, 480}, 5, 10}, // 2: the first size but too slow
            {{176, 144}, 5, 30}, // 3: preferred, last size
            {{640, 480}, 5, 30}, // 4: preferred, first size
            {{800, 600}, 5, 15}, // 5: preferred, second size, just smooth enough
            {{320, 180}, 5, 30}, // 6: not a common size
            {{640, 480}, 5, 60}, // 7: preferred, first size, after 4 in the device's order
    };
    const SCCameraFormat::FallbackOrder order = SCCameraFormat::fallbackOrder(modes);
    QCOMPARE(order.preferred, (QList<int> {4, 7, 5, 1, 3}));
    QCOMPARE(order.others, (QList<int> {6, 2, 0}));
    QCOMPARE(SCCameraFormat::fallbackOrder({}).preferred, QList<int>());
}

void TestCameraArithmetic::dragModesFollowTheEdgeBand()
{
    const QSize size(400, 225);
    const QList<QPair<QPoint, int>> cases = {
            {{0, 0}, G::TopLeft},      {{9, 9}, G::TopLeft},         {{395, 2}, G::TopRight},
            {{2, 220}, G::BottomLeft}, {{399, 224}, G::BottomRight}, {{0, 100}, G::Left},
            {{9, 10}, G::Left},        {{399, 100}, G::Right},       {{200, 0}, G::Top},
            {{200, 224}, G::Bottom},   {{10, 10}, G::Move},          {{200, 100}, G::Move},
            {{389, 214}, G::Move},
    };
    for (const auto &c : cases)
        QVERIFY2(G::dragModeAt(size, c.first) == c.second,
                 qPrintable(QStringLiteral("at %1,%2").arg(c.first.x()).arg(c.first.y())));
}

void TestCameraArithmetic::dragged_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QPoint>("delta");
    QTest::addColumn<float>("aspect");
    QTest::addColumn<QRect>("expected");

    const float wide = 16.0f / 9.0f;
    // All from a 16:9 window of 400 x 225 at (1000, 600).
    QTest::newRow("move") << int(G::Move) << QPoint(-30, 40) << wide << QRect(970, 640, 400, 225);
    QTest::newRow("bottom-right grows, top-left pinned")
            << int(G::BottomRight) << QPoint(160, 7) << wide << QRect(1000, 600, 560, 315);
    QTest::newRow("top-left grows, bottom-right pinned")
            << int(G::TopLeft) << QPoint(-160, 0) << wide << QRect(840, 510, 560, 315);
    QTest::newRow("top-right, bottom-left pinned")
            << int(G::TopRight) << QPoint(-40, 0) << wide << QRect(1000, 623, 360, 202);
    QTest::newRow("bottom-left, top-right pinned")
            << int(G::BottomLeft) << QPoint(40, 90) << wide << QRect(1040, 600, 360, 202);
    QTest::newRow("right edge grows about the vertical centre")
            << int(G::Right) << QPoint(160, 50) << wide << QRect(1000, 555, 560, 315);
    QTest::newRow("left edge, right pinned")
            << int(G::Left) << QPoint(-160, 0) << wide << QRect(840, 555, 560, 315);
    QTest::newRow("bottom edge grows about the horizontal centre")
            << int(G::Bottom) << QPoint(0, 90) << wide << QRect(920, 600, 560, 315);
    QTest::newRow("top edge, bottom pinned")
            << int(G::Top) << QPoint(0, -90) << wide << QRect(920, 510, 560, 315);
    QTest::newRow("corner stops at the minimum width")
            << int(G::BottomRight) << QPoint(-350, -200) << wide << QRect(1000, 600, 200, 112);
    QTest::newRow("left edge stops at the minimum, right and centre stay")
            << int(G::Left) << QPoint(390, 0) << wide << QRect(1200, 656, 200, 112);
    QTest::newRow("top-left stops at the minimum, bottom-right stays")
            << int(G::TopLeft) << QPoint(300, 300) << wide << QRect(1200, 713, 200, 112);
    QTest::newRow("top edge stops at the minimum, bottom and centre stay")
            << int(G::Top) << QPoint(0, 500) << wide << QRect(1100, 713, 200, 112);
    QTest::newRow("no camera: square")
            << int(G::BottomRight) << QPoint(0, 0) << 1.0f << QRect(1000, 600, 400, 400);
}

void TestCameraArithmetic::dragged()
{
    QFETCH(int, mode);
    QFETCH(QPoint, delta);
    QFETCH(float, aspect);
    QFETCH(QRect, expected);
    QCOMPARE(G::dragged(mode, QRect(1000, 600, 400, 225), delta, aspect), expected);
}

QTEST_APPLESS_MAIN(TestCameraArithmetic)
#include "test-camera-arithmetic.moc"
