#include "platform-test-support.h"
#include "sc-global-pointer-monitor.h"
#include "sc-window-list.h"
#include "sc-window-shape.h"
#include "window-highlighter.h"

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

// Windows of another process, the picker in this one, the pointer driven by xdotool; clicks
// that reach those windows, or do not, and the global pointer reports.
class TestWindowPicker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void windowListFindsTheWindows();
    void boxFollowsThePointerShowsAndClicksReportIt();
    void hidingStopsTrackingAndShowingTracksOnce();
    // Over windows of their own, started after the picker's.
    void innerAreaPassesClicksThrough();
    void pointerMonitorReportsWithoutTakingClicks();

private:
    TestWindowProcess m_a;
    TestWindowProcess m_b;
    std::unique_ptr<WindowHighlighter> m_picker;
};

void TestWindowPicker::initTestCase()
{
    QVERIFY(m_a.start(
            {"--rect", "200,200,400,300", "--title", "Picker Target A", "--color", "#3070c0"}));
    QVERIFY(m_b.start(
            {"--rect", "800,300,500,400", "--title", "Picker Target Ä", "--color", "#c8c8c8"}));
    QVERIFY(m_a.waitReady());
    QVERIFY(m_b.waitReady());
    // Framed by the window manager: the frame is larger than the client area.
    QVERIFY(m_a.frame().contains(m_a.client()) && m_a.frame() != m_a.client());
    m_picker = std::make_unique<WindowHighlighter>();
}

void TestWindowPicker::windowListFindsTheWindows()
{
    const QList<WId> stack = SCWindowList::stackingOrder();
    QVERIFY(stack.contains(m_a.id()));
    QVERIFY(stack.contains(m_b.id()));

    const SCWindowInfo a = SCWindowList::windowAt(m_a.client().center());
    QCOMPARE(a.id, m_a.id());
    QCOMPARE(a.frame, m_a.frame());
    QCOMPARE(a.title, QStringLiteral("Picker Target A"));
    // The title bar belongs to the window too.
    QCOMPARE(SCWindowList::windowAt(QPoint(m_b.client().center().x(), m_b.frame().top() + 2)).id,
             m_b.id());
    QCOMPARE(SCWindowList::windowAt(m_b.client().center()).title,
             QStringLiteral("Picker Target Ä"));
    // Without _NET_WM_NAME the older WM_NAME gives the title.
    QVERIFY(QProcess::execute("xprop",
                              {"-id", QString::number(m_a.id()), "-remove", "_NET_WM_NAME"})
            == 0);
    QCOMPARE(SCWindowList::title(m_a.id()), QStringLiteral("Picker Target A"));
    QProcess::execute("xprop", {"-id", QString::number(m_a.id()), "-remove", "WM_NAME"});
    QCOMPARE(SCWindowList::title(m_a.id()), QString());
    // Left out on request, and nothing at a spot no window covers.
    QVERIFY(SCWindowList::windowAt(m_a.client().center(), {m_a.id()}).id != m_a.id());
    QVERIFY(!SCWindowList::windowAt(QPoint(1900, 1060)).isValid());
}

void TestWindowPicker::boxFollowsThePointerShowsAndClicksReportIt()
{
    QSignalSpy clicked(m_picker.get(), &WindowHighlighter::windowClicked);
    QVERIFY(movePointer(QPoint(50, 50)));
    m_picker->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_picker.get()));

    QVERIFY(movePointer(m_a.client().center()));
    QTRY_COMPARE_WITH_TIMEOUT(m_picker->geometry(), m_a.frame(), 5000);
    QVERIFY(movePointer(m_b.client().center() + QPoint(10, 10)));
    QTRY_COMPARE_WITH_TIMEOUT(m_picker->geometry(), m_b.frame(), 5000);
    const QRect box = m_picker->geometry();
    QImage screen;
    // The outline is drawn once the box's new place has been painted.
    QTRY_VERIFY_WITH_TIMEOUT(
            (screen = grabScreen(),
             qRed(screen.pixel(box.left() + 1, box.center().y())) > 180
                     && qGreen(screen.pixel(box.left() + 1, box.center().y())) < 80),
            5000);
    // Inside, the window shows through (tinted red at most), never a black box.
    const QColor inside = screen.pixelColor(m_b.client().center() + QPoint(40, 40));
    QVERIFY2(inside.red() > 150 && inside.green() > 120 && inside.blue() > 120,
             qPrintable(inside.name()));
    QVERIFY(inside.red() >= inside.green());

    QVERIFY(xdotool({"click", "1"}));
    QTRY_COMPARE_WITH_TIMEOUT(clicked.count(), 1, 5000);
    QCOMPARE(clicked.at(0).at(0).toRect(), m_b.frame());
    // The box never takes the click: the window under it gets it.
    QVERIFY(!m_b.waitForLine("press ").isEmpty());
    QCOMPARE(m_a.pending("press "), 0);
}

void TestWindowPicker::hidingStopsTrackingAndShowingTracksOnce()
{
    QSignalSpy clicked(m_picker.get(), &WindowHighlighter::windowClicked);
    m_picker->hide();
    const QRect before = m_picker->geometry();

    // Hidden: a click on A reaches A and nothing else happens.
    QVERIFY(movePointer(m_a.client().center()));
    QVERIFY(xdotool({"click", "1"}));
    QVERIFY(!m_a.waitForLine("press ").isEmpty());

    // Shown again without a move: a click reports the square around the pointer, once.
    m_picker->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_picker.get()));
    const QRect square(m_a.client().center() - QPoint(50, 50), QSize(100, 100));
    QCOMPARE(m_picker->geometry(), square);
    QVERIFY(xdotool({"click", "1"}));
    QVERIFY(!m_a.waitForLine("press ").isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(clicked.count(), 1, 5000);
    QCOMPARE(clicked.at(0).at(0).toRect(), square);

    // A second click reports A's frame, which the first click highlighted.
    QVERIFY(xdotool({"click", "1"}));
    QVERIFY(!m_a.waitForLine("press ").isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(clicked.count(), 2, 5000);
    QCOMPARE(clicked.at(1).at(0).toRect(), m_a.frame());
    QVERIFY(before != square);

    // Each click arrived once; a doubled tracker would have reported four.
    QVERIFY(xdotool({"mousemove", "--", QString::number(m_b.client().center().x()),
                     QString::number(m_b.client().center().y())}));
    QTRY_COMPARE_WITH_TIMEOUT(m_picker->geometry(), m_b.frame(), 5000);
    QCOMPARE(clicked.count(), 2);
    m_picker->hide();
}

void TestWindowPicker::innerAreaPassesClicksThrough()
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
void TestWindowPicker::pointerMonitorReportsWithoutTakingClicks()
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

QTEST_MAIN(TestWindowPicker)
#include "test-window-picker.moc"
