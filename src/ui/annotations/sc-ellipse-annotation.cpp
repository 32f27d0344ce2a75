#include "sc-ellipse-annotation.h"

#include <QPainter>

SCEllipseAnnotation::SCEllipseAnnotation(const QPointF &start, const QColor &color, int thickness)
    : SCShapeAnnotation(start, color, thickness)
{ }

SCAnnotation::Tool SCEllipseAnnotation::tool() const
{
    return Tool::Ellipse;
}

std::unique_ptr<SCAnnotation> SCEllipseAnnotation::clone() const
{
    return std::make_unique<SCEllipseAnnotation>(*this);
}

bool SCEllipseAnnotation::hasFill() const
{
    return true;
}

void SCEllipseAnnotation::paint(QPainter &painter, int) const
{
    painter.setRenderHint(QPainter::Antialiasing);
    if (isFilled()) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(color());
    } else {
        painter.setPen(QPen(color(), thickness(), Qt::SolidLine, Qt::SquareCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
    }
    painter.drawEllipse(rect());
}
