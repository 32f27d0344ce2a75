#pragma once

#include "sc-line-annotation.h"

#include <QPolygonF>

// A line with a filled head at the release point, the head growing with the thickness.
class SCArrowAnnotation : public SCLineAnnotation
{
public:
    SCArrowAnnotation(const QPointF &start, const QColor &color, int thickness);

    Tool tool() const override;
    std::unique_ptr<SCAnnotation> clone() const override;
    void paint(QPainter &painter, int stepNumber) const override;
    QRectF boundingRect() const override;

    QPolygonF head() const;
};
