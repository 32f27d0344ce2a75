#include "sc-arrow-annotation.h"

#include <QPainter>
#include <QtMath>

namespace {

constexpr qreal MIN_HEAD = 14;
constexpr qreal HEAD_FACTOR = 5;
// Half the head's opening angle.
constexpr qreal HEAD_ANGLE = 25;

} // namespace

SCArrowAnnotation::SCArrowAnnotation(const QPointF &start, const QColor &color, int thickness)
    : SCLineAnnotation(start, color, thickness)
{ }

SCAnnotation::Tool SCArrowAnnotation::tool() const
{
    return Tool::Arrow;
}

std::unique_ptr<SCAnnotation> SCArrowAnnotation::clone() const
{
    return std::make_unique<SCArrowAnnotation>(*this);
}

QPolygonF SCArrowAnnotation::head() const
{
    // Never longer than most of the line, so a short arrow is still an arrow.
    const qreal length = qMin(qMax(MIN_HEAD, thickness() * HEAD_FACTOR), m_line.length() * 0.6);
    const qreal angle = qDegreesToRadians(m_line.angle());
    const qreal spread = qDegreesToRadians(HEAD_ANGLE);
    const QPointF tip = m_line.p2();
    // Qt's angles run counter-clockwise with y pointing down.
    const auto corner = [&](qreal side) {
        const qreal a = angle + M_PI + side * spread;
        return tip + QPointF(qCos(a) * length, -qSin(a) * length);
    };
    return QPolygonF({tip, corner(1), corner(-1)});
}

void SCArrowAnnotation::paint(QPainter &painter, int) const
{
    painter.setRenderHint(QPainter::Antialiasing);
    const QPolygonF arrowHead = head();
    // The shaft ends inside the head, whose point stays sharp.
    const QPointF base = (arrowHead.at(1) + arrowHead.at(2)) / 2;
    painter.setPen(QPen(color(), thickness(), Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(m_line.p1(), (base + m_line.p2()) / 2);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color());
    painter.drawPolygon(arrowHead);
}

QRectF SCArrowAnnotation::boundingRect() const
{
    return SCLineAnnotation::boundingRect().united(head().boundingRect());
}
