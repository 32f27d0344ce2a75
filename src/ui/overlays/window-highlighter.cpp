#include "window-highlighter.h"

#include "sc-compositor-watcher.h"
#include "sc-global-pointer-monitor.h"
#include "sc-window-list.h"
#include "sc-window-shape.h"

#include <QCursor>
#include <QDebug>
#include <QPainter>
#include <QPointer>

WindowHighlighter *WindowHighlighter::s_instance = nullptr;

namespace {

// Process-wide, like the pointer itself: hiding any picker stops the tracking.
SCGlobalPointerMonitor *g_pointerMonitor = nullptr;

constexpr int OUTLINE_WIDTH = 2;

} // namespace

WindowHighlighter::WindowHighlighter(QWidget *parent)
    : QWidget(parent)
{
    // Bypassing the window manager keeps the box above every managed window, out of the
    // window list and never focused; the empty input shape lets every click through.
    setWindowFlags(Qt::FramelessWindowHint | Qt::Tool | Qt::WindowStaysOnTopHint
                   | Qt::X11BypassWindowManagerHint | Qt::WindowTransparentForInput);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_NoMousePropagation);
    s_instance = this;
    connect(SCCompositorWatcher::instance(), &SCCompositorWatcher::compositingChanged, this,
            &WindowHighlighter::updateShape);
}

WindowHighlighter::~WindowHighlighter()
{
    removeMonitor();
    if (s_instance == this)
        s_instance = nullptr;
}

void WindowHighlighter::removeMonitor()
{
    if (!g_pointerMonitor)
        return;
    // May run inside the monitor's own signal: stop now, free later.
    g_pointerMonitor->stop();
    g_pointerMonitor->deleteLater();
    g_pointerMonitor = nullptr;
}

void WindowHighlighter::showEvent(QShowEvent *event)
{
    qDebug() << "WindowHighlighter::showEvent";
    if (!g_pointerMonitor) {
        g_pointerMonitor = new SCGlobalPointerMonitor();
        QObject::connect(g_pointerMonitor, &SCGlobalPointerMonitor::moved,
                         &WindowHighlighter::onPointerMoved);
        QObject::connect(g_pointerMonitor, &SCGlobalPointerMonitor::leftButtonPressed,
                         &WindowHighlighter::onLeftButtonPressed);
        if (!g_pointerMonitor->start())
            qWarning() << "WindowHighlighter: no pointer tracking:"
                       << g_pointerMonitor->errorString();
    }
    const QPoint cursor = QCursor::pos();
    setGeometry(cursor.x() - 50, cursor.y() - 50, 100, 100);
    updateShape();
    raise();
    QWidget::showEvent(event);
}

void WindowHighlighter::hideEvent(QHideEvent *event)
{
    removeMonitor();
    QWidget::hideEvent(event);
}

void WindowHighlighter::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(QPen(Qt::red, OUTLINE_WIDTH, Qt::SolidLine));
    painter.setBrush(QColor(255, 0, 0, 30));
    painter.drawRect(rect().adjusted(1, 1, -1, -1));
}

void WindowHighlighter::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    updateShape();
}

void WindowHighlighter::updateShape()
{
    if (!testAttribute(Qt::WA_WState_Created))
        return;
    // Without compositing the translucent fill would show black: keep only the outline.
    if (SCCompositorWatcher::instance()->isCompositing()) {
        SCWindowShape::setVisibleRegion(this, QRegion());
    } else {
        const QRect inner
                = rect().adjusted(OUTLINE_WIDTH, OUTLINE_WIDTH, -OUTLINE_WIDTH, -OUTLINE_WIDTH);
        SCWindowShape::setVisibleRegion(this, QRegion(rect()) - QRegion(inner));
    }
}

void WindowHighlighter::onPointerMoved(const QPoint &globalPos)
{
    if (!s_instance)
        return;
    const SCWindowInfo info = SCWindowList::windowAt(globalPos, SCWindowList::ownWindows());
    if (!info.isValid())
        return;
    qDebug() << "Mouse at:" << globalPos.x() << globalPos.y() << "Window:" << info.id;
    s_instance->setGeometry(info.frame);
    s_instance->raise();
}

void WindowHighlighter::onLeftButtonPressed(const QPoint &globalPos)
{
    if (!s_instance)
        return;
    const SCWindowInfo info = SCWindowList::windowAt(globalPos, SCWindowList::ownWindows());
    if (!info.isValid())
        return;
    const QString name = info.title.isEmpty() ? QStringLiteral("<no name>") : info.title;
    qDebug() << "Clicked window - ID:" << info.id << "Name:" << name
             << "Bounds: x:" << info.frame.x() << "y:" << info.frame.y()
             << "w:" << info.frame.width() << "h:" << info.frame.height();
    // The rectangle the user saw highlighted, before this click moves the box.
    QPointer<WindowHighlighter> instance(s_instance);
    instance->m_clickedWindow = info.id;
    emit instance->windowClicked(instance->geometry());
    if (instance && instance->isVisible())
        instance->setGeometry(info.frame);
}
