#include "area-selector.h"

#include "sc-compositor-watcher.h"
#include "sc-x11.h"

#include <QDebug>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdlib>

AreaSelector::AreaSelector(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    // Past the window manager, which treats a frameless screen-sized window as a
    // full-screen one and may keep it from the top or from the focus when it comes back.
    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                   | Qt::X11BypassWindowManagerHint);
    // Every monitor: an area may be chosen on any of them.
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        setGeometry(screen->virtualGeometry());
        m_devicePixelRatio = screen->devicePixelRatio();
    }
    setCursor(Qt::CrossCursor);
}

QRect AreaSelector::selectionRect(const QPoint &a, const QPoint &b)
{
    // QRect::normalized() shrinks a reversed rectangle by one pixel on each side; the
    // corners themselves are what the user dragged between, whichever way.
    return QRect(QPoint(std::min(a.x(), b.x()), std::min(a.y(), b.y())),
                 QPoint(std::max(a.x(), b.x()), std::max(a.y(), b.y())));
}

QRect AreaSelector::draggedRect(const QPoint &a, const QPoint &b)
{
    return QRect(std::min(a.x(), b.x()), std::min(a.y(), b.y()), std::abs(a.x() - b.x()),
                 std::abs(a.y() - b.y()));
}

void AreaSelector::setStill(const QImage &picture)
{
    m_still = picture;
}

void AreaSelector::setExtent(Extent extent)
{
    m_extent = extent;
}

QRect AreaSelector::currentRect() const
{
    return m_extent == Extent::DraggedDistance ? draggedRect(m_startPoint, m_endPoint)
                                               : selectionRect(m_startPoint, m_endPoint);
}

QString AreaSelector::sizeLabel(const QRect &area, double devicePixelRatio)
{
    return QStringLiteral("%1 x %2")
            .arg(area.width() * devicePixelRatio)
            .arg(area.height() * devicePixelRatio);
}

void AreaSelector::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (!m_background.isNull())
        painter.drawPixmap(rect(), m_background);
    painter.fillRect(rect(), QColor(0, 0, 0, 100));
    if (!m_selecting)
        return;

    const QRect area = currentRect();
    painter.fillRect(area, QColor(255, 255, 255, 50));
    if (m_extent == Extent::DraggedDistance) {
        // A one-pixel line just around the band, so that the band is what will be taken.
        painter.setPen(QPen(Qt::white, 1));
        painter.drawRect(area.adjusted(-1, -1, 0, 0));
    } else {
        painter.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
        painter.drawRect(area);
    }
    // Over a still the caption counts its pixels, which on a scaled output are the device's.
    const double ratio = !m_still.isNull() && width() > 0 ? double(m_still.width()) / width()
                                                          : m_devicePixelRatio;
    painter.drawText(area.center(), sizeLabel(area, ratio));
}

void AreaSelector::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_selecting = true;
    m_startPoint = m_endPoint = event->position().toPoint();
    setCursor(Qt::CrossCursor);
    update();
}

void AreaSelector::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_selecting)
        return;
    m_endPoint = event->position().toPoint();
    update();
}

void AreaSelector::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_selecting)
        return;
    m_selecting = false;
    if (m_extent == Extent::DraggedDistance)
        m_endPoint = event->position().toPoint();
    m_selectedArea = currentRect();
    if (m_selectedArea.isEmpty()) {
        // A click without a drag selects nothing; the selector waits for a drag.
        update();
        return;
    }
    qDebug() << "Selected Area - X:" << m_selectedArea.x() << "Y:" << m_selectedArea.y()
             << "Width:" << m_selectedArea.width() << "Height:" << m_selectedArea.height();
    QGuiApplication::restoreOverrideCursor();
    // In global coordinates, which differ from this window's when a monitor lies left of or
    // above the origin.
    emit areaSelected(m_selectedArea.translated(geometry().topLeft()));
}

void AreaSelector::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        m_selecting = false;
        QGuiApplication::restoreOverrideCursor();
        hide();
        emit cancelled();
    }
    QWidget::keyPressEvent(event);
}

void AreaSelector::showEvent(QShowEvent *event)
{
    // The window is not mapped yet, so the grab holds only what lies below it.
    m_background = QPixmap();
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!m_still.isNull())
        m_background = QPixmap::fromImage(m_still);
    else if (screen && !SCCompositorWatcher::instance()->isCompositing())
        m_background = screen->grabWindow(0, geometry().x() - screen->geometry().x(),
                                          geometry().y() - screen->geometry().y(),
                                          geometry().width(), geometry().height());
    m_selecting = false;
    QWidget::showEvent(event);
    // Escape must reach the selector, and no window manager hands it the focus: take the
    // keyboard as soon as the window is mapped.
    m_grabAttempts = 0;
    QTimer::singleShot(0, this, &AreaSelector::grabKeyboardWhenMapped);
}

void AreaSelector::grabKeyboardWhenMapped()
{
    if (!isVisible() || !windowHandle())
        return;
    raise();
    if (windowHandle()->setKeyboardGrabEnabled(true))
        return;
    if (++m_grabAttempts < 100)
        QTimer::singleShot(20, this, &AreaSelector::grabKeyboardWhenMapped);
    else
        qWarning() << "AreaSelector: the keyboard could not be grabbed";
}

void AreaSelector::hideEvent(QHideEvent *event)
{
    if (windowHandle())
        windowHandle()->setKeyboardGrabEnabled(false);
    // A hotkey pressed while the caller is still busy must reach its grab, not ours.
    SCX11::flush();
    m_background = QPixmap();
    m_still = QImage();
    QWidget::hideEvent(event);
}
