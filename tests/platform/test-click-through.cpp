#include "platform-test-support.h"
#include "sc-global-pointer-monitor.h"
#include "sc-window-shape.h"

#include <QApplication>
#include <QCursor>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QWidget>

namespace {

// A region frame: a translucent window with a solid border and a see-through middle.
class FrameWindow : public QWidget
{
public:
    FrameWindow()
    {
        setWindowFlags(Qt::FramelessWindowHint | Qt::Tool | Qt::WindowStaysOnTopHint);
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_ShowWithoutActivating);
    }

    int presses = 0;
    static constexpr int BORDER = 20;

    QRect inner() const { return rect().adjusted(BORDER, BORDER, -BORDER, -BORDER); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(220, 40, 40));
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        painter.fillRect(inner(), Qt::transparent);
    }
    void mousePressEvent(QMouseEvent *) override { ++presses; }
};

} // namespace

// Clicks that reach windows of another process, or do not, and the global pointer reports.
class TestClickThrough : public QObject
{
    Q_OBJECT

private slots:
    void innerAreaPassesClicksThrough();
    void pointerMonitorReportsWithoutTakingClicks();
};

void TestClickThrough::innerAreaPassesClicksThrough()
{
    TestWindowProcess below;
    QVERIFY(below.start({"--rect", "300,300,600,400", "--title", "Below"}));
    QVERIFY(below.waitReady());

    FrameWindow frame;
    frame.setGeometry(below.client());
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    // Qt 6.4 sometimes reads the position of a freshly reparented window while the window
    // manager's frame is still at 0,0, and keeps it; asking again brings a fresh report.
    if (!QTest::qWaitFor([&] { return frame.geometry() == below.client(); }, 2000))
        frame.setGeometry(below.client());
    QTRY_COMPARE_WITH_TIMEOUT(frame.geometry(), below.client(), 5000);
    qt_mac_set_window_region_transparent_for_mouse(frame.winId(), frame.inner(), true);

    const QPoint inside = frame.geometry().center();
    const QPoint border = frame.geometry().topLeft() + QPoint(FrameWindow::BORDER / 2, 200);

    // Inside: the window below gets the click, the frame does not.
    QVERIFY(movePointer(inside));
    QVERIFY(xdotool({"click", "1"}));
    const QStringList press = below.waitForLine("press ").split(' ');
    QCOMPARE(press.size(), 3);
    QCOMPARE(QPoint(press[1].toInt(), press[2].toInt()), inside);
    QCOMPARE(frame.presses, 0);

    // On the border: the frame gets it.
    QVERIFY(movePointer(border));
    QVERIFY(xdotool({"click", "1"}));
    QTRY_COMPARE_WITH_TIMEOUT(frame.presses, 1, 5000);

    // Transparent no more: the frame takes clicks everywhere, and a click inside is the
    // next one it sees (the window below saw nothing since its last report).
    qt_mac_set_window_region_transparent_for_mouse(frame.winId(), frame.inner(), false);
    QVERIFY(movePointer(inside));
    QVERIFY(xdotool({"click", "1"}));
    QTRY_COMPARE_WITH_TIMEOUT(frame.presses, 2, 5000);
    QCOMPARE(below.pending("press "), 0);

    // A changed rectangle replaces the old one: only the new middle passes clicks.
    const QRect smaller = frame.inner().adjusted(100, 100, -100, -100);
    qt_mac_set_window_region_transparent_for_mouse(frame.winId(), smaller, true);
    const QPoint betweenOldAndNew
            = frame.geometry().topLeft() + frame.inner().topLeft() + QPoint(50, 50);
    QVERIFY(movePointer(betweenOldAndNew));
    QVERIFY(xdotool({"click", "1"}));
    QTRY_COMPARE_WITH_TIMEOUT(frame.presses, 3, 5000);
    QVERIFY(movePointer(inside + QPoint(5, 5)));
    QVERIFY(xdotool({"click", "1"}));
    QVERIFY(!below.waitForLine("press ").isEmpty());
    QCOMPARE(frame.presses, 3);

    // A rectangle over the whole window lets every click through, the border's too.
    qt_mac_set_window_region_transparent_for_mouse(frame.winId(), frame.rect(), true);
    QVERIFY(movePointer(border));
    QVERIFY(xdotool({"click", "1"}));
    QVERIFY(!below.waitForLine("press ").isEmpty());
    QCOMPARE(frame.presses, 3);
}

// Raw XInput2 events alone (no polling): xdotool's relative moves and clicks go through
// the XTEST device, as a real mouse goes through its own.
void TestClickThrough::pointerMonitorReportsWithoutTakingClicks()
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

QTEST_MAIN(TestClickThrough)
#include "test-click-through.moc"
