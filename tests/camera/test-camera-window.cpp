// The camera window on the test desktop, which has no camera: what it reports, that it
// survives the fallback attempts, where it appears and that it stays where the user put it;
// and the main window's webcam switch refusing without a camera.

#include "desktop-input.h"
#include "message-box-catcher.h"
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

class TestCameraWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
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
