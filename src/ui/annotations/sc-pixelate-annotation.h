#pragma once

#include "sc-redaction-annotation.h"

// Large flat blocks of the average colour.
class SCPixelateAnnotation : public SCRedactionAnnotation
{
public:
    SCPixelateAnnotation(const QPointF &start, const QColor &color, int thickness);

    Tool tool() const override;
    std::unique_ptr<SCAnnotation> clone() const override;

protected:
    void rewrite(QImage &image, const QRect &area, int cell) const override;
};
