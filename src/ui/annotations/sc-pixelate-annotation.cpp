#include "sc-pixelate-annotation.h"

SCPixelateAnnotation::SCPixelateAnnotation(const QPointF &start, const QColor &color, int thickness)
    : SCRedactionAnnotation(start, color, thickness)
{ }

SCAnnotation::Tool SCPixelateAnnotation::tool() const
{
    return Tool::Pixelate;
}

std::unique_ptr<SCAnnotation> SCPixelateAnnotation::clone() const
{
    return std::make_unique<SCPixelateAnnotation>(*this);
}

void SCPixelateAnnotation::rewrite(QImage &image, const QRect &area, int cell) const
{
    const QImage averages = cellAverages(image, area, cell);
    const QVector<int> xs = cellEdges(area.width(), cell);
    const QVector<int> ys = cellEdges(area.height(), cell);
    for (int cy = 0; cy + 1 < ys.size(); ++cy) {
        for (int y = area.top() + ys[cy]; y < area.top() + ys[cy + 1]; ++y) {
            auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int cx = 0; cx + 1 < xs.size(); ++cx) {
                const QRgb value = averages.pixel(cx, cy);
                for (int x = area.left() + xs[cx]; x < area.left() + xs[cx + 1]; ++x)
                    line[x] = value;
            }
        }
    }
}
