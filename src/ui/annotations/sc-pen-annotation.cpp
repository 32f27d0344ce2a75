#include "sc-pen-annotation.h"

#include <QPainter>
#include <QPainterPathStroker>

SCPenAnnotation::SCPenAnnotation(const QPointF &start, const QColor &color, int thickness)
    : SCAnnotation(color, thickness)
{
    m_points << start;
}

SCAnnotation::Tool SCPenAnnotation::tool() const
{
    return Tool::Pen;
}

std::unique_ptr<SCAnnotation> SCPenAnnotation::clone() const
{
    return std::make_unique<SCPenAnnotation>(*this);
}

void SCPenAnnotation::dragTo(const QPointF &pos, bool)
{
    if (m_points.last() != pos)
        m_points << pos;
}

bool SCPenAnnotation::isEmpty() const
{
    // A click is a dot.
    return m_points.isEmpty();
}

qreal SCPenAnnotation::strokeWidth() const
{
    return thickness();
}

void SCPenAnnotation::paintStroke(QPainter &painter, const QPen &pen) const
{
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    // A click without movement would be a line of no length, which paints nothing.
    if (m_points.size() == 1)
        painter.drawPoint(m_points.first());
    else
        painter.drawPolyline(m_points);
}

void SCPenAnnotation::paint(QPainter &painter, int) const
{
    paintStroke(painter, QPen(color(), strokeWidth(), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
}

QRectF SCPenAnnotation::boundingRect() const
{
    const qreal half = strokeWidth() / 2;
    return m_points.boundingRect().adjusted(-half, -half, half, half);
}

bool SCPenAnnotation::contains(const QPointF &pos) const
{
    QPainterPath path(m_points.first());
    for (int i = 1; i < m_points.size(); ++i)
        path.lineTo(m_points.at(i));
    QPainterPathStroker stroker;
    stroker.setWidth(strokeWidth() + 2 * PICK_TOLERANCE);
    stroker.setCapStyle(Qt::RoundCap);
    return stroker.createStroke(path).contains(pos);
}

void SCPenAnnotation::translate(const QPointF &delta)
{
    m_points.translate(delta);
}
