#pragma once

#include "sc-pen-annotation.h"

// A broad see-through highlighter stroke.
class SCMarkerAnnotation : public SCPenAnnotation
{
public:
    SCMarkerAnnotation(const QPointF &start, const QColor &color, int thickness);

    Tool tool() const override;
    std::unique_ptr<SCAnnotation> clone() const override;
    void paint(QPainter &painter, int stepNumber) const override;

protected:
    qreal strokeWidth() const override;
};
