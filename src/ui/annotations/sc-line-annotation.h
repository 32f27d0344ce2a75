#pragma once

#include "sc-annotation.h"

#include <QLineF>

// A straight line from the press to the release.
class SCLineAnnotation : public SCAnnotation
{
public:
    SCLineAnnotation(const QPointF &start, const QColor &color, int thickness);

    Tool tool() const override;
    std::unique_ptr<SCAnnotation> clone() const override;
    void dragTo(const QPointF &pos, bool constrained) override;
    bool isEmpty() const override;
    void paint(QPainter &painter, int stepNumber) const override;
    QRectF boundingRect() const override;
    bool contains(const QPointF &pos) const override;
    void translate(const QPointF &delta) override;

    QLineF line() const { return m_line; }

protected:
    QLineF m_line;
};
