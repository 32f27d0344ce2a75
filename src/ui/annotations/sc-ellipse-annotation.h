#pragma once

#include "sc-shape-annotation.h"

// An ellipse, outlined or filled; a circle with Shift.
class SCEllipseAnnotation : public SCShapeAnnotation
{
public:
    SCEllipseAnnotation(const QPointF &start, const QColor &color, int thickness);

    Tool tool() const override;
    std::unique_ptr<SCAnnotation> clone() const override;
    void paint(QPainter &painter, int stepNumber) const override;
    bool hasFill() const override;
};
