#pragma once

#include "sc-annotation.h"

#include <QPen>
#include <QPolygonF>

// A free-hand stroke.
class SCPenAnnotation : public SCAnnotation
{
public:
    SCPenAnnotation(const QPointF &start, const QColor &color, int thickness);

    Tool tool() const override;
    std::unique_ptr<SCAnnotation> clone() const override;
    void dragTo(const QPointF &pos, bool constrained) override;
    bool isEmpty() const override;
    void paint(QPainter &painter, int stepNumber) const override;
    QRectF boundingRect() const override;
    bool contains(const QPointF &pos) const override;
    void translate(const QPointF &delta) override;

protected:
    virtual qreal strokeWidth() const;
    void paintStroke(QPainter &painter, const QPen &pen) const;

    QPolygonF m_points;
};
