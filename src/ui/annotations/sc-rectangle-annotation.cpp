#include "sc-rectangle-annotation.h"

#include <QPainter>

SCRectangleAnnotation::SCRectangleAnnotation(const QPointF &start, const QColor &color,
                                             int thickness)
    : SCShapeAnnotation(start, color, thickness)
{ }

SCAnnotation::Tool SCRectangleAnnotation::tool() const
{
    return Tool::Rectangle;
}

std::unique_ptr<SCAnnotation> SCRectangleAnnotation::clone() const
{
    return std::make_unique<SCRectangleAnnotation>(*this);
}

bool SCRectangleAnnotation::hasFill() const
{
    return true;
}

void SCRectangleAnnotation::paint(QPainter &painter, int) const
{
    painter.setRenderHint(QPainter::Antialiasing);
    if (isFilled()) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(color());
    } else {
        painter.setPen(QPen(color(), thickness(), Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        painter.setBrush(Qt::NoBrush);
    }
    painter.drawRect(rect());
}
