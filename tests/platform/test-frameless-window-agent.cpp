#include "platform-test-support.h"
#include "sc-frameless-window-agent.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QVBoxLayout>

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
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get(), 15000));
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
    QImage screen = grabScreen();
    screen.save(QDir::tempPath() + "/vistrel-frameless.png");
    // Painted at its new place: the title bar's colour under the moved title.
    QCOMPARE(screen.pixelColor(QPoint(500, 350) + QPoint(200, 3)), QColor("#2d6cdf"));
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

QTEST_MAIN(TestFramelessWindowAgent)
#include "test-frameless-window-agent.moc"
