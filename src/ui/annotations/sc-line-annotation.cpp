#include "sc-line-annotation.h"

#include <QPainter>
#include <QtMath>

namespace {

constexpr qreal MIN_LENGTH = 3;

} // namespace

SCLineAnnotation::SCLineAnnotation(const QPointF &start, const QColor &color, int thickness)
    : SCAnnotation(color, thickness)
    , m_line(start, start)
{ }

SCAnnotation::Tool SCLineAnnotation::tool() const
{
    return Tool::Line;
}

std::unique_ptr<SCAnnotation> SCLineAnnotation::clone() const
{
    return std::make_unique<SCLineAnnotation>(*this);
}

void SCLineAnnotation::dragTo(const QPointF &pos, bool constrained)
{
    m_line.setP2(pos);
    if (constrained) {
        // Shift keeps the line at a multiple of 45 degrees.
        const qreal angle = qRound(m_line.angle() / 45.0) * 45.0;
        m_line.setAngle(angle);
    }
}

bool SCLineAnnotation::isEmpty() const
{
    return m_line.length() < MIN_LENGTH;
}

void SCLineAnnotation::paint(QPainter &painter, int) const
{
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(color(), thickness(), Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(m_line);
}

QRectF SCLineAnnotation::boundingRect() const
{
    const qreal half = thickness() / 2.0;
    return QRectF(m_line.p1(), m_line.p2()).normalized().adjusted(-half, -half, half, half);
}

bool SCLineAnnotation::contains(const QPointF &pos) const
{
    // Distance from the segment.
    const QPointF d = m_line.p2() - m_line.p1();
    const qreal lengthSquared = QPointF::dotProduct(d, d);
    qreal t = lengthSquared > 0 ? QPointF::dotProduct(pos - m_line.p1(), d) / lengthSquared : 0;
    t = qBound(0.0, t, 1.0);
    const QPointF nearest = m_line.p1() + t * d;
    return QLineF(nearest, pos).length() <= thickness() / 2.0 + PICK_TOLERANCE;
}

void SCLineAnnotation::translate(const QPointF &delta)
{
    m_line.translate(delta);
}
