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
    void init();
    void cleanup();
    void isFramelessAndStaysAWindow();
    void draggingTheTitleBarMovesTheWindow();
    void titleButtonsKeepTheirClicks();

private:
    std::unique_ptr<QWidget> m_window;
    QWidget *m_titleBar = nullptr;
    QLabel *m_title = nullptr;
    QPushButton *m_button = nullptr;
    SCFramelessWindowAgent *m_agent = nullptr;
};

void TestFramelessWindowAgent::init()
{
    m_window = std::make_unique<QWidget>();
    m_window->setStyleSheet("QWidget#titleBar { background: #2d6cdf; }");
    auto *layout = new QVBoxLayout(m_window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    m_titleBar = new QWidget(m_window.get());
    m_titleBar->setObjectName("titleBar");
    m_titleBar->setAttribute(Qt::WA_StyledBackground);
    m_titleBar->setFixedHeight(40);
    auto *titleLayout = new QHBoxLayout(m_titleBar);
    m_title = new QLabel("Frameless", m_titleBar);
    m_button = new QPushButton("Close", m_titleBar);
    titleLayout->addWidget(m_title);
    titleLayout->addStretch();
    titleLayout->addWidget(m_button);
    layout->addWidget(m_titleBar);
    layout->addStretch();

    m_agent = new SCFramelessWindowAgent(m_window.get());
    QVERIFY(m_agent->setup(m_window.get()));
    m_agent->setTitleBar(m_titleBar);
    m_agent->setHitTestVisible(m_button);
    m_window->setGeometry(300, 200, 420, 260);
    m_window->show();
    if (!QTest::qWaitForWindowExposed(m_window.get(), 15000)) {
        QProcess::execute("xwininfo", {"-id", QString::number(m_window->winId()), "-all"});
        QProcess::execute("sh",
                          {"-c", "xprop -root | grep -E '_NET_(CLIENT_LIST|SUPPORTING|ACTIVE)'"});
        QFAIL("not exposed");
    }
    // Qt 6.4 sometimes keeps the position it read while the window manager's frame was
    // still at 0,0; asking again brings a fresh report.
    if (!QTest::qWaitFor([&] { return m_window->pos() == QPoint(300, 200); }, 2000))
        m_window->setGeometry(300, 200, 420, 260);
    QTRY_COMPARE_WITH_TIMEOUT(m_window->pos(), QPoint(300, 200), 5000);
}

void TestFramelessWindowAgent::cleanup()
{
    m_window.reset();
}

void TestFramelessWindowAgent::isFramelessAndStaysAWindow()
{
    QVERIFY(m_window->windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(m_window->windowType(), Qt::Window);
    // No decoration from the window manager.
    QCOMPARE(m_window->frameGeometry(), m_window->geometry());
    QVERIFY(m_agent->isHitTestVisible(m_button));
    QVERIFY(!m_agent->isHitTestVisible(m_title));
}

void TestFramelessWindowAgent::draggingTheTitleBarMovesTheWindow()
{
    if (qEnvironmentVariableIntValue("VISTREL_WITHOUT_WM_MOVE") == 1)
        QVERIFY(!m_window->windowHandle()->startSystemMove());
    const QPoint start = m_title->mapToGlobal(m_title->rect().center());
    PressCounter presses(m_titleBar);
    QVERIFY(movePointer(start));
    QVERIFY(xdotool({"mousedown", "1"}));
    // The move starts once this process has seen the press.
    QTRY_COMPARE_WITH_TIMEOUT(presses.count, 1, 5000);
    for (int step = 1; step <= 5; ++step) {
        QVERIFY(movePointer(start + QPoint(40 * step, 30 * step)));
        QCoreApplication::processEvents();
    }
    QVERIFY(xdotool({"mouseup", "1"}));
    QTRY_COMPARE_WITH_TIMEOUT(m_window->pos(), QPoint(500, 350), 5000);
    // Painted at its new place: the title bar's colour under the moved title.
    const QPoint titlePixel = QPoint(500, 350) + QPoint(200, 3);
    QTRY_COMPARE_WITH_TIMEOUT(grabScreen().pixelColor(titlePixel), QColor("#2d6cdf"), 5000);
    grabScreen().save(QDir::tempPath() + "/vistrel-frameless.png");
}

void TestFramelessWindowAgent::titleButtonsKeepTheirClicks()
{
    QSignalSpy clicked(m_button, &QPushButton::clicked);
    const QPoint pos = m_window->pos();
    const QPoint center = m_button->mapToGlobal(m_button->rect().center());
    QVERIFY(movePointer(center));
    QVERIFY(xdotool({"mousedown", "1"}));
    QVERIFY(movePointer(center + QPoint(3, 2)));
    QVERIFY(xdotool({"mouseup", "1"}));
    QTRY_COMPARE_WITH_TIMEOUT(clicked.count(), 1, 5000);
    QCOMPARE(m_window->pos(), pos);
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
