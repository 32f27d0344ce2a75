#include "sc-marker-annotation.h"

#include <QPainter>

namespace {

constexpr int MIN_WIDTH = 12;
constexpr int WIDTH_FACTOR = 4;
constexpr int OPACITY = 100;

} // namespace

SCMarkerAnnotation::SCMarkerAnnotation(const QPointF &start, const QColor &color, int thickness)
    : SCPenAnnotation(start, color, thickness)
{ }

SCAnnotation::Tool SCMarkerAnnotation::tool() const
{
    return Tool::Marker;
}

std::unique_ptr<SCAnnotation> SCMarkerAnnotation::clone() const
{
    return std::make_unique<SCMarkerAnnotation>(*this);
}

qreal SCMarkerAnnotation::strokeWidth() const
{
    return qMax(MIN_WIDTH, thickness() * WIDTH_FACTOR);
}

void SCMarkerAnnotation::paint(QPainter &painter, int) const
{
    painter.save();
    // See-through, so the text under it stays readable on light and dark pages alike; one
    // path for the whole stroke, so crossings are not darker.
    QColor ink = color();
    ink.setAlpha(OPACITY);
    paintStroke(painter, QPen(ink, strokeWidth(), Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
    painter.restore();
}
