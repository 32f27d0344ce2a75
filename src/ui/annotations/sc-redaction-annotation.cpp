#include "sc-redaction-annotation.h"

#include <QPainter>
#include <QTransform>

namespace {

constexpr int CELL_PER_THICKNESS = 4;

} // namespace

SCRedactionAnnotation::SCRedactionAnnotation(const QPointF &start, const QColor &color,
                                             int thickness)
    : SCShapeAnnotation(start, color, thickness)
{ }

void SCRedactionAnnotation::paint(QPainter &painter, int) const
{
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBrush(QColor(128, 128, 128, 96));
    painter.setPen(QPen(Qt::white, 1, Qt::DashLine));
    painter.drawRect(rect());
}

QRectF SCRedactionAnnotation::boundingRect() const
{
    return rect();
}

bool SCRedactionAnnotation::isRedaction() const
{
    return true;
}

int SCRedactionAnnotation::cellSize() const
{
    return qMax(MIN_CELL, thickness() * CELL_PER_THICKNESS);
}

void SCRedactionAnnotation::redact(QImage &image, const QTransform &toDevice) const
{
    if (image.depth() != 32)
        image = image.convertToFormat(QImage::Format_RGB32);
    const QRect area = toDevice.mapRect(rect()).toAlignedRect().intersected(image.rect());
    if (area.isEmpty())
        return;
    // The cell keeps its size in device pixels however far the screen is scaled.
    const int cell = qMax(MIN_CELL, qRound(cellSize() * qMax(1.0, toDevice.m11())));
    rewrite(image, area, cell);
}

QVector<int> SCRedactionAnnotation::cellEdges(int length, int cell)
{
    // Equal cells, none smaller than `cell`: a narrow last cell would give away its pixels.
    const int count = qMax(1, length / cell);
    QVector<int> edges;
    for (int i = 0; i <= count; ++i)
        edges << qRound(qreal(length) * i / count);
    return edges;
}

QImage SCRedactionAnnotation::cellAverages(const QImage &image, const QRect &area, int cell)
{
    const QVector<int> xs = cellEdges(area.width(), cell);
    const QVector<int> ys = cellEdges(area.height(), cell);
    QImage averages(int(xs.size()) - 1, int(ys.size()) - 1, QImage::Format_RGB32);
    for (int cy = 0; cy + 1 < ys.size(); ++cy) {
        for (int cx = 0; cx + 1 < xs.size(); ++cx) {
            quint64 r = 0, g = 0, b = 0, n = 0;
            for (int y = area.top() + ys[cy]; y < area.top() + ys[cy + 1]; ++y) {
                const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
                for (int x = area.left() + xs[cx]; x < area.left() + xs[cx + 1]; ++x) {
                    r += qRed(line[x]);
                    g += qGreen(line[x]);
                    b += qBlue(line[x]);
                    ++n;
                }
            }
            averages.setPixel(cx, cy, n ? qRgb(int(r / n), int(g / n), int(b / n)) : 0);
        }
    }
    return averages;
}
