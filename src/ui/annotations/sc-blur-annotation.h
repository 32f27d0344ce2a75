#pragma once

#include "sc-redaction-annotation.h"

// A soft blur: the cell averages are blended smoothly into each other, so it looks blurred
// but holds no more of the original than a pixelation does.
class SCBlurAnnotation : public SCRedactionAnnotation
{
public:
    SCBlurAnnotation(const QPointF &start, const QColor &color, int thickness);

    Tool tool() const override;
    std::unique_ptr<SCAnnotation> clone() const override;

protected:
    void rewrite(QImage &image, const QRect &area, int cell) const override;
};
