#include "sc-step-annotation.h"

#include <QPainter>

namespace {

constexpr qreal MIN_DIAMETER = 24;
constexpr qreal DIAMETER_FACTOR = 7;

} // namespace

SCStepAnnotation::SCStepAnnotation(const QPointF &centre, const QColor &color, int thickness)
    : SCAnnotation(color, thickness)
    , m_centre(centre)
{ }

SCAnnotation::Tool SCStepAnnotation::tool() const
{
    return Tool::Step;
}

std::unique_ptr<SCAnnotation> SCStepAnnotation::clone() const
{
    return std::make_unique<SCStepAnnotation>(*this);
}

void SCStepAnnotation::dragTo(const QPointF &pos, bool)
{
    // Placed where the button is let go.
    m_centre = pos;
}

bool SCStepAnnotation::isEmpty() const
{
    return false;
}

qreal SCStepAnnotation::diameter() const
{
    return qMax(MIN_DIAMETER, thickness() * DIAMETER_FACTOR);
}

void SCStepAnnotation::paint(QPainter &painter, int stepNumber) const
{
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF disc = boundingRect();
    painter.setPen(Qt::NoPen);
    painter.setBrush(color());
    painter.drawEllipse(disc);
    // Dark digits on light discs (yellow, white), light ones on the rest.
    painter.setPen(color().lightnessF() > 0.6 ? Qt::black : Qt::white);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(qRound(diameter() * 0.55));
    painter.setFont(font);
    painter.drawText(disc, Qt::AlignCenter, QString::number(stepNumber));
}

QRectF SCStepAnnotation::boundingRect() const
{
    const qreal d = diameter();
    return QRectF(m_centre - QPointF(d / 2, d / 2), QSizeF(d, d));
}

void SCStepAnnotation::translate(const QPointF &delta)
{
    m_centre += delta;
}
