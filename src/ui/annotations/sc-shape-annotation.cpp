#include "sc-shape-annotation.h"

#include <QtMath>

namespace {

constexpr qreal MIN_SIDE = 3;

} // namespace

SCShapeAnnotation::SCShapeAnnotation(const QPointF &start, const QColor &color, int thickness)
    : SCAnnotation(color, thickness)
    , m_start(start)
    , m_end(start)
{ }

void SCShapeAnnotation::dragTo(const QPointF &pos, bool constrained)
{
    m_end = pos;
    if (constrained) {
        // A square on the longer side, towards the pointer.
        const QPointF d = pos - m_start;
        const qreal side = qMax(qAbs(d.x()), qAbs(d.y()));
        m_end = m_start + QPointF(d.x() < 0 ? -side : side, d.y() < 0 ? -side : side);
    }
}

bool SCShapeAnnotation::isEmpty() const
{
    const QRectF r = rect();
    return r.width() < MIN_SIDE || r.height() < MIN_SIDE;
}

QRectF SCShapeAnnotation::rect() const
{
    return QRectF(m_start, m_end).normalized();
}

QRectF SCShapeAnnotation::boundingRect() const
{
    const qreal half = thickness() / 2.0;
    return rect().adjusted(-half, -half, half, half);
}

void SCShapeAnnotation::translate(const QPointF &delta)
{
    m_start += delta;
    m_end += delta;
}
