#include "sc-text-annotation.h"

#include <QFontMetricsF>
#include <QPainter>

namespace {

constexpr int BASE_PIXEL_SIZE = 10;
constexpr int PIXELS_PER_THICKNESS = 3;

} // namespace

SCTextAnnotation::SCTextAnnotation(const QPointF &topLeft, const QColor &color, int thickness)
    : SCAnnotation(color, thickness)
    , m_topLeft(topLeft)
{ }

SCAnnotation::Tool SCTextAnnotation::tool() const
{
    return Tool::Text;
}

std::unique_ptr<SCAnnotation> SCTextAnnotation::clone() const
{
    return std::make_unique<SCTextAnnotation>(*this);
}

void SCTextAnnotation::dragTo(const QPointF &, bool) { }

bool SCTextAnnotation::isEmpty() const
{
    return m_text.trimmed().isEmpty();
}

QFont SCTextAnnotation::fontFor(int thickness)
{
    QFont font;
    font.setPixelSize(BASE_PIXEL_SIZE + thickness * PIXELS_PER_THICKNESS);
    return font;
}

QFont SCTextAnnotation::font() const
{
    return fontFor(thickness());
}

void SCTextAnnotation::paint(QPainter &painter, int) const
{
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setPen(color());
    painter.setFont(font());
    painter.drawText(boundingRect(), Qt::AlignLeft | Qt::AlignTop, m_text);
}

QRectF SCTextAnnotation::boundingRect() const
{
    const QFontMetricsF metrics(font());
    const QRectF text = metrics.boundingRect(QRectF(m_topLeft, QSizeF(1e5, 1e5)),
                                             Qt::AlignLeft | Qt::AlignTop, m_text);
    return QRectF(m_topLeft, text.size().expandedTo(QSizeF(1, metrics.height())));
}

void SCTextAnnotation::translate(const QPointF &delta)
{
    m_topLeft += delta;
}
