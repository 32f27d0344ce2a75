#include "bench-time-code.h"

#include <QImage>
#include <QPainter>

namespace {

// A cell reads as one, zero or neither: compression blurs edges, so only its middle counts
// and grey is refused rather than guessed.
int readCell(const QImage &image, const QRect &cell)
{
    const QRect middle = cell.adjusted(cell.width() / 4, cell.height() / 4, -cell.width() / 4,
                                       -cell.height() / 4);
    long sum = 0;
    int count = 0;
    for (int y = middle.top(); y <= middle.bottom(); ++y)
        for (int x = middle.left(); x <= middle.right(); ++x) {
            if (!image.valid(x, y))
                return -1;
            sum += qGray(image.pixel(x, y));
            ++count;
        }
    const long mean = count ? sum / count : 128;
    if (mean > 170)
        return 1;
    if (mean < 85)
        return 0;
    return -1;
}

QRect cellRect(const QPoint &origin, int row, int bit, int cell)
{
    return QRect(origin.x() + bit * cell, origin.y() + row * (cell + cell / 2), cell, cell);
}

} // namespace

QRect BenchTimeCode::area(const QPoint &origin, int cell)
{
    return QRect(origin, QSize((BITS + 2) * cell, 2 * cell + cell / 2));
}

void BenchTimeCode::paint(QPainter &painter, const QPoint &origin, uint32_t value, int cell)
{
    painter.fillRect(area(origin, cell), Qt::black);
    for (int row = 0; row < 2; ++row) {
        painter.fillRect(cellRect(origin, row, 0, cell), Qt::white);
        for (int bit = 0; bit < BITS; ++bit)
            if (value & (1u << (BITS - 1 - bit)))
                painter.fillRect(cellRect(origin, row, bit + 1, cell), Qt::white);
    }
}

std::optional<uint32_t> BenchTimeCode::read(const QImage &image, const QPoint &origin, int cell)
{
    uint32_t rows[2] = {0, 0};
    for (int row = 0; row < 2; ++row) {
        // A white cell before the bits and a black one after: a blank screen is no code.
        if (readCell(image, cellRect(origin, row, 0, cell)) != 1
            || readCell(image, cellRect(origin, row, BITS + 1, cell)) != 0)
            return std::nullopt;
        for (int bit = 0; bit < BITS; ++bit) {
            const int bitValue = readCell(image, cellRect(origin, row, bit + 1, cell));
            if (bitValue < 0)
                return std::nullopt;
            rows[row] = (rows[row] << 1) | uint32_t(bitValue);
        }
    }
    if (rows[0] != rows[1])
        return std::nullopt;
    return rows[0];
}
