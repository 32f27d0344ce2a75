#pragma once

#include "sc-shape-annotation.h"

#include <QImage>

// Hides what lies under a dragged rectangle by rewriting the picture's pixels there: the
// saved file keeps no trace of the original. The pixels are averaged over cells of at least
// MIN_CELL device pixels, which no deblurring can undo.
class SCRedactionAnnotation : public SCShapeAnnotation
{
public:
    static constexpr int MIN_CELL = 12;

    SCRedactionAnnotation(const QPointF &start, const QColor &color, int thickness);

    // Only an outline: the redaction itself is made on the picture.
    void paint(QPainter &painter, int stepNumber) const override;
    QRectF boundingRect() const override;
    bool isRedaction() const override;
    void redact(QImage &image, const QTransform &toDevice) const override;

protected:
    // Rewrites `area` of `image` (32 bits per pixel); `cell` is in device pixels.
    virtual void rewrite(QImage &image, const QRect &area, int cell) const = 0;
    virtual int cellSize() const;
    // Averages of `area` over a grid of cells no smaller than `cell`; one pixel per cell.
    static QImage cellAverages(const QImage &image, const QRect &area, int cell);
    // The cell grid's edges along one side of `length` pixels.
    static QVector<int> cellEdges(int length, int cell);
};
