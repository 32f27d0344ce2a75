#pragma once

#include "sc-annotation.h"

#include <QFont>

// Typed text, placed by its top-left corner; the font grows with the thickness.
class SCTextAnnotation : public SCAnnotation
{
public:
    SCTextAnnotation(const QPointF &topLeft, const QColor &color, int thickness);

    Tool tool() const override;
    std::unique_ptr<SCAnnotation> clone() const override;
    void dragTo(const QPointF &pos, bool constrained) override;
    bool isEmpty() const override;
    void paint(QPainter &painter, int stepNumber) const override;
    QRectF boundingRect() const override;
    void translate(const QPointF &delta) override;

    QString text() const { return m_text; }
    void setText(const QString &text) { m_text = text; }
    QPointF topLeft() const { return m_topLeft; }
    QFont font() const;
    static QFont fontFor(int thickness);

private:
    QPointF m_topLeft;
    QString m_text;
};
