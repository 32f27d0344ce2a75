#pragma once

#include "sc-annotation.h"

// A filled disc with its number among the screenshot's steps; the number is its place,
// so removing one renumbers the rest.
class SCStepAnnotation : public SCAnnotation
{
public:
    SCStepAnnotation(const QPointF &centre, const QColor &color, int thickness);

    Tool tool() const override;
    std::unique_ptr<SCAnnotation> clone() const override;
    void dragTo(const QPointF &pos, bool constrained) override;
    bool isEmpty() const override;
    void paint(QPainter &painter, int stepNumber) const override;
    QRectF boundingRect() const override;
    void translate(const QPointF &delta) override;

    qreal diameter() const;

private:
    QPointF m_centre;
};
