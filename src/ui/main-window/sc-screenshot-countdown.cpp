#include "sc-screenshot-countdown.h"

#include "sc-compositor-watcher.h"
#include "sc-global-hotkey.h"
#include "sc-logger.h"
#include "sc-window-shape.h"

#include <QGuiApplication>
#include <QKeySequence>
#include <QPainter>
#include <QScreen>
#include <QTimer>

namespace {

constexpr int SIZE = 56;
constexpr int MARGIN = 24;

} // namespace

SCScreenshotCountdown::SCScreenshotCountdown(QWidget *parent)
    : QWidget(parent)
    , m_timer(new QTimer(this))
    , m_escape(new SCGlobalHotkey(this))
{
    // Above full-screen programs and menus the person opens while it counts.
    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool
                   | Qt::NoDropShadowWindowHint | Qt::X11BypassWindowManagerHint
                   | Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedSize(SIZE, SIZE);
    setCursor(Qt::PointingHandCursor);
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &SCScreenshotCountdown::tick);
    m_escape->setShortcut(QKeySequence(Qt::Key_Escape));
    connect(m_escape, &SCGlobalHotkey::activated, this, &SCScreenshotCountdown::cancel);
    // Without a compositing manager the transparent corners would show black.
    connect(SCCompositorWatcher::instance(), &SCCompositorWatcher::compositingChanged, this,
            &SCScreenshotCountdown::updateShape);
}

SCScreenshotCountdown::~SCScreenshotCountdown() = default;

void SCScreenshotCountdown::start(int seconds, const QRect &area)
{
    stop();
    if (seconds <= 0) {
        emit finished();
        return;
    }
    QScreen *screen = QGuiApplication::screenAt(area.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        const QRect available = screen->availableGeometry();
        move(available.right() - MARGIN - SIZE + 1, available.bottom() - MARGIN - SIZE + 1);
    }
    m_remaining = seconds;
    // Esc elsewhere is only taken while the count runs.
    if (!m_escape->setRegistered(true))
        SCLogger::instance()->warning(
                QStringLiteral("Esc cannot cancel the screenshot countdown: %1")
                        .arg(m_escape->errorString()));
    m_timer->start();
    show();
    raise();
    update();
}

void SCScreenshotCountdown::stop()
{
    m_timer->stop();
    m_escape->setRegistered(false);
    hide();
}

bool SCScreenshotCountdown::isCounting() const
{
    return m_timer->isActive();
}

void SCScreenshotCountdown::tick()
{
    if (--m_remaining > 0) {
        update();
        return;
    }
    stop();
    emit finished();
}

void SCScreenshotCountdown::cancel()
{
    if (!isCounting())
        return;
    stop();
    SCLogger::instance()->info(QStringLiteral("Screenshot countdown cancelled"));
    emit cancelled();
}

void SCScreenshotCountdown::mousePressEvent(QMouseEvent *event)
{
    Q_UNUSED(event);
    cancel();
}

void SCScreenshotCountdown::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0x00, 0x7A, 0xCC), 2));
    painter.setBrush(QColor(0x28, 0x28, 0x2E));
    painter.drawEllipse(QRectF(rect()).adjusted(1, 1, -1, -1));
    QFont font = this->font();
    font.setBold(true);
    font.setPixelSize(SIZE / 2);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(rect(), Qt::AlignCenter, QString::number(m_remaining));
}

void SCScreenshotCountdown::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    updateShape();
}

void SCScreenshotCountdown::updateShape()
{
    if (!testAttribute(Qt::WA_WState_Created))
        return;
    const bool compositing = SCCompositorWatcher::instance()->isCompositing();
    SCWindowShape::setVisibleRegion(this,
                                    compositing ? QRegion() : QRegion(rect(), QRegion::Ellipse));
}
