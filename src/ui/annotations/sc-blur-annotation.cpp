#include "sc-blur-annotation.h"

#include <QPainter>

SCBlurAnnotation::SCBlurAnnotation(const QPointF &start, const QColor &color, int thickness)
    : SCRedactionAnnotation(start, color, thickness)
{ }

SCAnnotation::Tool SCBlurAnnotation::tool() const
{
    return Tool::Blur;
}

std::unique_ptr<SCAnnotation> SCBlurAnnotation::clone() const
{
    return std::make_unique<SCBlurAnnotation>(*this);
}

void SCBlurAnnotation::rewrite(QImage &image, const QRect &area, int cell) const
{
    const QImage averages = cellAverages(image, area, cell);
    // Bilinear growth of the averages; a single cell is one flat colour.
    const QImage smooth
            = averages.scaled(area.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(area.topLeft(), smooth);
}
