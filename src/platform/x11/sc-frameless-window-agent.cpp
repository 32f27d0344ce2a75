#include "sc-frameless-window-agent.h"

#include "sc-window-list.h"

#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

SCFramelessWindowAgent::SCFramelessWindowAgent(QWidget *parent)
    : QObject(parent)
{ }

bool SCFramelessWindowAgent::setup(QWidget *window)
{
    if (!window)
        return false;
    m_window = window;
    const bool wasVisible = window->isVisible();
    // Stays a Qt::Window, so the task bar and window switching still list it.
    window->setWindowFlags(window->windowFlags() | Qt::Window | Qt::FramelessWindowHint);
    if (wasVisible)
        window->show();
    return true;
}

void SCFramelessWindowAgent::setTitleBar(QWidget *titleBar)
{
    if (m_titleBar == titleBar)
        return;
    if (m_titleBar)
        m_titleBar->removeEventFilter(this);
    m_titleBar = titleBar;
    if (titleBar)
        titleBar->installEventFilter(this);
}

QWidget *SCFramelessWindowAgent::titleBar() const
{
    return m_titleBar;
}

void SCFramelessWindowAgent::setHitTestVisible(QWidget *child, bool visible)
{
    if (!child)
        return;
    if (visible) {
        if (!m_hitTestVisible.contains(child)) {
            m_hitTestVisible.insert(child);
            connect(child, &QObject::destroyed, this,
                    [this, child] { m_hitTestVisible.remove(child); });
        }
    } else {
        m_hitTestVisible.remove(child);
    }
}

bool SCFramelessWindowAgent::isHitTestVisible(QWidget *child) const
{
    return m_hitTestVisible.contains(child);
}

bool SCFramelessWindowAgent::isDragArea(const QPoint &globalPos) const
{
    if (!m_titleBar)
        return false;
    const QPoint local = m_titleBar->mapFromGlobal(globalPos);
    if (!m_titleBar->rect().contains(local))
        return false;
    for (QWidget *w = m_titleBar->childAt(local); w && w != m_titleBar; w = w->parentWidget()) {
        if (m_hitTestVisible.contains(w))
            return false;
    }
    return true;
}

bool SCFramelessWindowAgent::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_titleBar || !m_window)
        return QObject::eventFilter(watched, event);

    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        const QPoint global = mouse->globalPosition().toPoint();
        if (mouse->button() != Qt::LeftButton || !isDragArea(global))
            break;
        // The window manager's own move keeps snapping and edge resistance; not every
        // window manager offers it.
        QWindow *handle = m_window->window()->windowHandle();
        if (handle && handle->startSystemMove()) {
            m_manualMove = false;
        } else {
            m_manualMove = true;
            // Ask the server where the window is: Qt may hold a stale position for a
            // window the window manager has just reparented.
            const QRect actual = SCWindowList::frameGeometry(m_window->winId());
            m_pressOffset = global - (actual.isNull() ? m_window->pos() : actual.topLeft());
        }
        return true;
    }
    case QEvent::MouseMove: {
        if (!m_manualMove)
            break;
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (!(mouse->buttons() & Qt::LeftButton)) {
            m_manualMove = false;
            break;
        }
        m_window->move(mouse->globalPosition().toPoint() - m_pressOffset);
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (m_manualMove && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
            m_manualMove = false;
            return true;
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
