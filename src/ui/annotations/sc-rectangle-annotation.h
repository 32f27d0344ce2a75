#pragma once

#include "sc-shape-annotation.h"

// A box, outlined or filled.
class SCRectangleAnnotation : public SCShapeAnnotation
{
public:
    SCRectangleAnnotation(const QPointF &start, const QColor &color, int thickness);

    Tool tool() const override;
    std::unique_ptr<SCAnnotation> clone() const override;
    void paint(QPainter &painter, int stepNumber) const override;
    bool hasFill() const override;
};
