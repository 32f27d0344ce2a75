#pragma once

#include "sc-pen-annotation.h"

// A broad highlighter stroke that darkens like ink on paper: text under it stays readable.
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
