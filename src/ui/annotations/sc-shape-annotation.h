#pragma once

#include "sc-annotation.h"

// A mark spanned by a dragged rectangle.
class SCShapeAnnotation : public SCAnnotation
{
public:
    SCShapeAnnotation(const QPointF &start, const QColor &color, int thickness);

    void dragTo(const QPointF &pos, bool constrained) override;
    bool isEmpty() const override;
    QRectF boundingRect() const override;
    void translate(const QPointF &delta) override;

    QRectF rect() const;

protected:
    QPointF m_start;
    QPointF m_end;
};
