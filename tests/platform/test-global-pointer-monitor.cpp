#include "platform-test-support.h"
#include "sc-global-pointer-monitor.h"

#include <QApplication>
#include <QCursor>
#include <QSignalSpy>

// Raw XInput2 events alone (no polling): xdotool's relative moves and clicks go through
// the XTEST device, as a real mouse goes through its own.
class TestGlobalPointerMonitor : public QObject
{
    Q_OBJECT

private slots:
    void reportsRawMotionAndLeftClicks();
    void stopEndsTheReports();
};

void TestGlobalPointerMonitor::reportsRawMotionAndLeftClicks()
{
    TestWindowProcess target;
    QVERIFY(target.start({"--rect", "300,300,500,400", "--title", "Target"}));
    QVERIFY(target.waitReady());
    QVERIFY(movePointer(QPoint(400, 400)));
    QTRY_COMPARE_WITH_TIMEOUT(QCursor::pos(), QPoint(400, 400), 5000);

    SCGlobalPointerMonitor monitor;
    monitor.setPollInterval(0);
    QVERIFY2(monitor.start(), qPrintable(monitor.errorString()));
    QVERIFY(monitor.isActive());
    QSignalSpy moved(&monitor, &SCGlobalPointerMonitor::moved);
    QSignalSpy pressed(&monitor, &SCGlobalPointerMonitor::leftButtonPressed);

    QVERIFY(xdotool({"mousemove_relative", "--", "30", "20"}));
    QTRY_VERIFY_WITH_TIMEOUT(!moved.isEmpty() && moved.last().at(0).toPoint() == QPoint(430, 420),
                             5000);

    // A right click is not reported; the left click after it is, once, at the pointer.
    QVERIFY(xdotool({"click", "3"}));
    QVERIFY(xdotool({"click", "1"}));
    QTRY_COMPARE_WITH_TIMEOUT(pressed.count(), 1, 5000);
    QCOMPARE(pressed.at(0).at(0).toPoint(), QPoint(430, 420));
    // Not taken away: the window under the pointer got both presses.
    QVERIFY(!target.waitForLine("press 430 420").isEmpty());
    QVERIFY(!target.waitForLine("press 430 420").isEmpty());
    QCOMPARE(pressed.count(), 1);
}

void TestGlobalPointerMonitor::stopEndsTheReports()
{
    TestWindowProcess target;
    QVERIFY(target.start({"--rect", "300,300,500,400", "--title", "Target"}));
    QVERIFY(target.waitReady());
    QVERIFY(movePointer(QPoint(500, 500)));
    QTRY_COMPARE_WITH_TIMEOUT(QCursor::pos(), QPoint(500, 500), 5000);

    SCGlobalPointerMonitor monitor;
    QVERIFY(monitor.start());
    QSignalSpy pressed(&monitor, &SCGlobalPointerMonitor::leftButtonPressed);
    QVERIFY(xdotool({"click", "1"}));
    QTRY_COMPARE_WITH_TIMEOUT(pressed.count(), 1, 5000);
    QVERIFY(!target.waitForLine("press ").isEmpty());

    monitor.stop();
    QVERIFY(!monitor.isActive());
    QVERIFY(xdotool({"click", "1"}));
    QVERIFY(!target.waitForLine("press ").isEmpty());
    // Started again, the next click is reported once.
    QVERIFY(monitor.start());
    QVERIFY(xdotool({"click", "1"}));
    QVERIFY(!target.waitForLine("press ").isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(pressed.count(), 2, 5000);
}

QTEST_MAIN(TestGlobalPointerMonitor)
#include "test-global-pointer-monitor.moc"
