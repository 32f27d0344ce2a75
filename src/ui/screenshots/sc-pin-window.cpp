#include "sc-pin-window.h"

#include "sc-screenshot.h"
#include "sc-x11.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QCursor>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <xcb/xcb.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

constexpr qreal MIN_ZOOM = 0.1;
constexpr qreal MAX_ZOOM = 8.0;
// Each wheel notch zooms by this factor, so that in and out again returns to the same size.
constexpr qreal ZOOM_STEP = 1.1;
constexpr int WHEEL_NOTCH = 120;
// Longer than a window manager takes to carry out a move.
constexpr int SETTLE_MS = 500;
// Inside the window, around the picture, so the picture's pixels stay where they were taken.
constexpr int BORDER = 1;
// Grey stands out against light and dark screens alike.
const QColor BORDER_COLOR(128, 128, 128);

} // namespace

SCPinWindow::SCPinWindow(const QPixmap &picture, const QPoint &globalTopLeft, QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , m_picture(picture)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::StrongFocus);

    m_menu = new QMenu(this);
    QAction *copy = m_menu->addAction(tr("Copy"), this,
                                      [this]() { SCScreenshot::copyToClipboard(m_picture); });
    copy->setShortcut(QKeySequence::Copy);
    QAction *actual
            = m_menu->addAction(tr("Original size (100 %)"), this, [this]() { setZoom(1.0); });
    actual->setShortcut(Qt::CTRL | Qt::Key_0);
    m_menu->addSeparator();
    QAction *close = m_menu->addAction(tr("Close"), this, &QWidget::close);
    close->setShortcut(Qt::Key_Escape);
    // The menu shows the keys; the window answers them.
    addActions({copy, actual, close});

    place(globalTopLeft - QPoint(BORDER, BORDER), pictureSize(m_zoom));
}

qreal SCPinWindow::zoom() const
{
    return m_zoom;
}

void SCPinWindow::setZoom(qreal zoom)
{
    const QPoint pointer = QCursor::pos();
    const QRect onScreen(topLeft(), size());
    zoomAround(zoom, onScreen.contains(pointer) ? QPointF(pointer) : QRectF(onScreen).center());
}

void SCPinWindow::place(const QPoint &topLeft, const QSize &size)
{
    m_topLeft = topLeft;
    m_placed.start();
    setGeometry(QRect(topLeft, size));
}

QPoint SCPinWindow::topLeft()
{
    // Qt's idea of a new top-level's position can stay at the window manager's frame origin
    // (0, 0) for a while after mapping, and the window manager may move the window itself:
    // the server knows where it is, once it has carried out the last request. Until then,
    // that request is where the window goes.
    if (m_placed.isValid() && m_placed.elapsed() < SETTLE_MS)
        return m_topLeft;
    xcb_connection_t *connection = SCX11::connection();
    if (!connection || !testAttribute(Qt::WA_WState_Created))
        return m_topLeft;
    xcb_translate_coordinates_reply_t *reply = xcb_translate_coordinates_reply(
            connection,
            xcb_translate_coordinates(connection, uint32_t(winId()), SCX11::rootWindow(), 0, 0),
            nullptr);
    if (!reply)
        return m_topLeft;
    const QPoint device(reply->dst_x, reply->dst_y);
    std::free(reply);
    m_topLeft = SCX11::toLogical(QRect(device, QSize(1, 1))).topLeft();
    return m_topLeft;
}

QSize SCPinWindow::pictureSize(qreal zoom) const
{
    const QSizeF logical = QSizeF(m_picture.size()) / m_picture.devicePixelRatio() * zoom;
    return QSize(std::max(1, int(std::lround(logical.width()))),
                 std::max(1, int(std::lround(logical.height()))))
            + QSize(2 * BORDER, 2 * BORDER);
}

void SCPinWindow::zoomAround(qreal zoom, const QPointF &globalAnchor)
{
    zoom = std::clamp(zoom, MIN_ZOOM, MAX_ZOOM);
    // Steps in and out again come back to the sharp, unscaled picture.
    if (std::abs(zoom - 1.0) < 0.01)
        zoom = 1.0;
    if (qFuzzyCompare(zoom, m_zoom))
        return;
    // The picture's point under the anchor, in logical pixels at 100 %.
    const QPointF inside = (globalAnchor - QPointF(topLeft() + QPoint(BORDER, BORDER))) / m_zoom;
    m_zoom = zoom;
    place((globalAnchor - inside * m_zoom - QPointF(BORDER, BORDER)).toPoint(),
          pictureSize(m_zoom));
    update();
}

void SCPinWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // A tool window alone still shows in some task bars and pagers. Qt keeps states it finds
    // on a window that is not mapped yet, and the window manager drops them at each unmap.
    xcb_connection_t *connection = SCX11::connection();
    if (!connection)
        return;
    const uint32_t states[]
            = {SCX11::atom("_NET_WM_STATE_SKIP_TASKBAR"), SCX11::atom("_NET_WM_STATE_SKIP_PAGER")};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, uint32_t(winId()),
                        SCX11::atom("_NET_WM_STATE"), XCB_ATOM_ATOM, 32, 2, states);
}

void SCPinWindow::paintEvent(QPaintEvent *)
{
    // At the zoom asked for, not scaled to the widget: while the window manager works through
    // quick wheel steps, Qt takes the sizes of earlier steps for a moment, and a picture
    // stretched to one of them would show another point under the pointer.
    const QRect frame(QPoint(0, 0), pictureSize(m_zoom));
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, !qFuzzyCompare(m_zoom, 1.0));
    painter.setPen(BORDER_COLOR);
    painter.drawRect(frame.adjusted(0, 0, -1, -1));
    painter.drawPixmap(frame.adjusted(BORDER, BORDER, -BORDER, -BORDER), m_picture);
}

void SCPinWindow::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_dragging = true;
    m_dragOffset = event->globalPosition().toPoint() - topLeft();
    setCursor(Qt::ClosedHandCursor);
}

void SCPinWindow::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragging)
        place(event->globalPosition().toPoint() - m_dragOffset, size());
}

void SCPinWindow::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && m_dragging) {
        m_dragging = false;
        unsetCursor();
    }
}

void SCPinWindow::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        close();
}

void SCPinWindow::wheelEvent(QWheelEvent *event)
{
    m_wheelRest += event->angleDelta().y();
    const int notches = m_wheelRest / WHEEL_NOTCH;
    m_wheelRest -= notches * WHEEL_NOTCH;
    if (notches != 0)
        zoomAround(m_zoom * std::pow(ZOOM_STEP, notches), event->globalPosition());
    event->accept();
}

void SCPinWindow::contextMenuEvent(QContextMenuEvent *event)
{
    m_dragging = false;
    m_menu->popup(event->globalPos());
}
