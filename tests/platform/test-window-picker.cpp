#include "platform-test-support.h"
#include "sc-window-list.h"
#include "window-highlighter.h"

#include <QApplication>
#include <QSignalSpy>

// Two windows of another process, the picker in this one, the pointer driven by xdotool.
class TestWindowPicker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void windowListFindsTheWindows();
    void boxFollowsThePointerShowsAndClicksReportIt();
    void hidingStopsTrackingAndShowingTracksOnce();

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

QTEST_MAIN(TestWindowPicker)
#include "test-window-picker.moc"
