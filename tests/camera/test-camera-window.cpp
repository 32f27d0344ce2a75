// The camera window. The test desktop has no camera: the format rules and the drag
// arithmetic are checked as pure functions; the window itself for what it reports, that it
// survives the fallback attempts, where it appears and that it stays where the user put it;
// and the main window's webcam switch refusing without a camera.

#include "desktop-input.h"
#include "message-box-catcher.h"
#include "sc-camera-format.h"
#include "sc-camera-geometry.h"
#include "sc-camera-window.h"
#include "sc-main-window.h"
#include "sc-multimedia-check.h"
#include "sc-settings.h"
#include "sc-switch-widget.h"
#include "test-home.h"

#include <QLabel>
#include <QScreen>
#include <QtTest>

namespace {
TestHome *g_home = nullptr;
}

using Mode = SCCameraFormat::Mode;
namespace G = SCCameraGeometry;

class TestCameraWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void chosenFormat_data();
    void chosenFormat();
    void fallbackOrderTriesCommonSizesFirstThenSmallestUp();
    void dragModesFollowTheEdgeBand();
    void dragged_data();
    void dragged();
    void withoutCameraReportsEveryTwoSecondsAndSurvives();
    void firstShowAtBottomRightThenWhereTheUserLeftIt();
    void webcamSwitchRefusesWithoutCamera();
};

void TestCameraWindow::initTestCase()
{
    QVERIFY(g_home->openLog());
    QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    settings.setValue(SCSettings::GENERAL_FIRST_RUN, false);
    settings.setValue(SCSettings::HOTKEYS_RECORDING, "None");
    settings.setValue(SCSettings::HOTKEYS_SCREENSHOT, "None");
}

void TestCameraWindow::chosenFormat_data()
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

void TestCameraWindow::chosenFormat()
{
    QFETCH(QList<Mode>, modes);
    QFETCH(int, expected);
    QCOMPARE(SCCameraFormat::chooseFormat(modes), expected);
}

void TestCameraWindow::fallbackOrderTriesCommonSizesFirstThenSmallestUp()
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

void TestCameraWindow::dragModesFollowTheEdgeBand()
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

void TestCameraWindow::dragged_data()
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

void TestCameraWindow::dragged()
{
    QFETCH(int, mode);
    QFETCH(QPoint, delta);
    QFETCH(float, aspect);
    QFETCH(QRect, expected);
    QCOMPARE(G::dragged(mode, QRect(1000, 600, 400, 225), delta, aspect), expected);
}

void TestCameraWindow::withoutCameraReportsEveryTwoSecondsAndSurvives()
{
    QVERIFY(SCMultimediaCheck::backendAvailable());
    SCCameraWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    const QString found = QStringLiteral("Info: Found 0 camera devices");
    const QString none = QStringLiteral(
            "Warning: No camera devices detected. Check camera connection and permissions.");
    const QString fallback = QStringLiteral("Info: Attempting to use fallback camera...");
    const int before = g_home->count(found);
    QTRY_VERIFY_WITH_TIMEOUT(g_home->count(found) >= before + 2, 10000);
    QVERIFY(g_home->count(none) >= before + 2);
    QVERIFY(g_home->count(fallback) >= 2);
    // There is no default camera either, and the log must not claim one started.
    QVERIFY(g_home->count("Error: Failed to initialize fallback camera: No camera detected") >= 2);
    QCOMPARE(g_home->count("Fallback camera started"), 0);
    QVERIFY(window.isVisible());
    auto *status = window.findChild<QLabel *>(QStringLiteral("cameraStatusLabel"));
    QVERIFY(status && status->isVisible());
    QCOMPARE(status->text(), QStringLiteral("No camera device found!"));

    // The diagnostics from the worker thread: the Qt that really runs, the backend found.
    QTRY_VERIFY_WITH_TIMEOUT(
            g_home->count("Warning: QMediaDevices reports NO video input devices are available"),
            5000);
    QCOMPARE(g_home->count(QStringLiteral("Info: Qt version: %1\n").arg(qVersion())), 1);
    QVERIFY(g_home->count("      - libgstreamermediaplugin.so") >= 1);
    QCOMPARE(g_home->count("No Qt Multimedia backend"), 0);
}

void TestCameraWindow::firstShowAtBottomRightThenWhereTheUserLeftIt()
{
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    SCCameraWindow window;
    QSignalSpy geometry(&window, &SCCameraWindow::windowGeometryChanged);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_COMPARE_WITH_TIMEOUT(window.geometry().bottomRight(), area.bottomRight() - QPoint(20, 20),
                              5000);
    const QRect first = window.geometry();

    // Moved by the middle, then made larger by the bottom-right corner with the real
    // pointer; without a camera the picture's ratio is taken as square.
    const QPoint middle = first.center();
    QVERIFY(dragPointer(middle, middle - QPoint(300, 200)));
    QTRY_COMPARE_WITH_TIMEOUT(window.pos(), first.topLeft() - QPoint(300, 200), 5000);
    const QRect moved = window.geometry();
    QCOMPARE(geometry.last().at(0).toPoint(), moved.topLeft());
    QCOMPARE(geometry.last().at(1).toPoint(),
             moved.topLeft() + QPoint(moved.width(), moved.height()));

    const QPoint corner = moved.bottomRight() - QPoint(3, 3);
    QVERIFY(dragPointer(corner, corner + QPoint(100, 0)));
    QTRY_COMPARE_WITH_TIMEOUT(
            window.geometry(),
            QRect(moved.topLeft(), QSize(moved.width() + 100, moved.width() + 100)), 5000);
    const QRect left = window.geometry();
    QVERIFY(movePointer(area.x() + 5, area.y() + 5));

    window.hide();
    QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), 5000);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_COMPARE_WITH_TIMEOUT(window.geometry(), left, 5000);
}

void TestCameraWindow::webcamSwitchRefusesWithoutCamera()
{
    auto *boxes = new MessageBoxCatcher(this);
    SCMainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *webcam = window.findChild<SCSwitchWidget *>(QStringLiteral("webcamSwitch"));
    QVERIFY(webcam);
    QVERIFY(!webcam->isChecked());
    QTest::mouseClick(webcam, Qt::LeftButton, {}, webcam->rect().center());
    QTRY_COMPARE_WITH_TIMEOUT(boxes->texts, QStringList {"No camera device found!"}, 5000);
    QCOMPARE(boxes->titles, QStringList {"Warning"});
    QTRY_VERIFY_WITH_TIMEOUT(!webcam->isChecked(), 5000);
    QCOMPARE(g_home->count("Creating new camera window"), 0);
    delete boxes;
}

int main(int argc, char **argv)
{
    TestHome home;
    g_home = &home;
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(SCSettings::ORGANIZATION);
    QCoreApplication::setApplicationName(SCSettings::APPLICATION);
    TestCameraWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "test-camera-window.moc"
