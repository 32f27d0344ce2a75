#include "platform-test-support.h"
#include "sc-frameless-window-agent.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QThread>
#include <QVBoxLayout>
#include <QWindow>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Counts the presses that reach a widget, also those its children pass on.
struct PressCounter : QObject
{
    explicit PressCounter(QWidget *widget) { widget->installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *event) override
    {
        count += event->type() == QEvent::MouseButtonPress ? 1 : 0;
        return false;
    }
    int count = 0;
};

} // namespace

class TestFramelessWindowAgent : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(waitForWindowManager()); }
    void titleBarMovesTheWindowButtonsKeepTheirClicks();
};

void TestFramelessWindowAgent::titleBarMovesTheWindowButtonsKeepTheirClicks()
{
    QWidget window;
    window.setStyleSheet("QWidget#titleBar { background: #2d6cdf; }");
    auto *layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *titleBar = new QWidget(&window);
    titleBar->setObjectName("titleBar");
    titleBar->setAttribute(Qt::WA_StyledBackground);
    titleBar->setFixedHeight(40);
    auto *titleLayout = new QHBoxLayout(titleBar);
    auto *title = new QLabel("Frameless", titleBar);
    auto *button = new QPushButton("Close", titleBar);
    titleLayout->addWidget(title);
    titleLayout->addStretch();
    titleLayout->addWidget(button);
    layout->addWidget(titleBar);
    layout->addStretch();

    auto *agent = new SCFramelessWindowAgent(&window);
    QVERIFY(agent->setup(&window));
    agent->setTitleBar(titleBar);
    agent->setHitTestVisible(button);
    window.setGeometry(300, 200, 420, 260);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window, 15000));
    // Qt 6.4 sometimes keeps the position it read while the window manager's frame was
    // still at 0,0; asking again brings a fresh report.
    if (!QTest::qWaitFor([&] { return window.pos() == QPoint(300, 200); }, 2000))
        window.setGeometry(300, 200, 420, 260);
    QTRY_COMPARE_WITH_TIMEOUT(window.pos(), QPoint(300, 200), 5000);

    QVERIFY(window.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(window.windowType(), Qt::Window);
    // No decoration from the window manager.
    QCOMPARE(window.frameGeometry(), window.geometry());
    QVERIFY(agent->isHitTestVisible(button));
    QVERIFY(!agent->isHitTestVisible(title));

    // A button in the title bar keeps its click, even with the pointer moving a little.
    QSignalSpy clicked(button, &QPushButton::clicked);
    const QPoint center = button->mapToGlobal(button->rect().center());
    QVERIFY(movePointer(center));
    QVERIFY(xdotool({"mousedown", "1"}));
    QVERIFY(movePointer(center + QPoint(3, 2)));
    QVERIFY(xdotool({"mouseup", "1"}));
    QTRY_COMPARE_WITH_TIMEOUT(clicked.count(), 1, 5000);
    QCOMPARE(window.pos(), QPoint(300, 200));

    // Anywhere else the title bar drags the window.
    if (qEnvironmentVariableIntValue("VISTREL_WITHOUT_WM_MOVE") == 1)
        QVERIFY(!window.windowHandle()->startSystemMove());
    const QPoint start = title->mapToGlobal(title->rect().center());
    PressCounter presses(titleBar);
    QVERIFY(movePointer(start));
    QVERIFY(xdotool({"mousedown", "1"}));
    // The move starts once this process has seen the press.
    QTRY_COMPARE_WITH_TIMEOUT(presses.count, 1, 5000);
    for (int step = 1; step <= 5; ++step) {
        QVERIFY(movePointer(start + QPoint(40 * step, 30 * step)));
        QCoreApplication::processEvents();
    }
    QVERIFY(xdotool({"mouseup", "1"}));
    QTRY_COMPARE_WITH_TIMEOUT(window.pos(), QPoint(500, 350), 5000);
    // Painted at its new place: the title bar's colour under the moved title.
    const QPoint titlePixel = QPoint(500, 350) + QPoint(200, 3);
    QTRY_COMPARE_WITH_TIMEOUT(grabScreen().pixelColor(titlePixel), QColor("#2d6cdf"), 5000);
    QCOMPARE(clicked.count(), 1);
}

namespace {

xcb_atom_t internAtom(xcb_connection_t *c, const char *name)
{
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
            c, xcb_intern_atom(c, false, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

// The atoms the window manager announces; empty while it is still starting.
std::vector<xcb_atom_t> supportedAtoms(xcb_connection_t *c, xcb_window_t root, xcb_atom_t supported)
{
    std::vector<xcb_atom_t> atoms;
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
            c, xcb_get_property(c, false, root, supported, XCB_ATOM_ATOM, 0, 4096), nullptr);
    if (reply && reply->format == 32) {
        const auto *data = static_cast<const xcb_atom_t *>(xcb_get_property_value(reply));
        atoms.assign(data, data + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return atoms;
}

// Makes the window manager look as if it could not move windows for clients, so that
// the agent falls back to moving the window itself. Run in a session of its own.
bool hideWindowManagerMove()
{
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return false;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const xcb_atom_t supported = internAtom(c, "_NET_SUPPORTED");
    const xcb_atom_t moveResize = internAtom(c, "_NET_WM_MOVERESIZE");
    std::vector<xcb_atom_t> atoms;
    QDeadlineTimer deadline(30000);
    while ((atoms = supportedAtoms(c, root, supported)).empty() && !deadline.hasExpired())
        QThread::msleep(50);
    const auto it = std::find(atoms.begin(), atoms.end(), moveResize);
    const bool found = it != atoms.end();
    if (found) {
        atoms.erase(it);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, root, supported, XCB_ATOM_ATOM, 32,
                            static_cast<uint32_t>(atoms.size()), atoms.data());
        // A round trip, so the change is in before Qt reads the property.
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    }
    xcb_disconnect(c);
    return found;
}

} // namespace

int main(int argc, char **argv)
{
    const bool manual = qEnvironmentVariableIntValue("VISTREL_WITHOUT_WM_MOVE") == 1;
    if (manual && !hideWindowManagerMove()) {
        std::fputs("the window manager does not announce _NET_WM_MOVERESIZE\n", stderr);
        return 1;
    }
    QApplication app(argc, argv);
    TestFramelessWindowAgent test;
    return QTest::qExec(&test, argc, argv);
}
#include "test-frameless-window-agent.moc"
