#pragma once

#include <QRect>

#include <cstdint>
#include <optional>

class QImage;
class QPainter;

// A 32-bit number drawn as two identical rows of black and white squares between a white
// and a black marker, big enough to survive a lossy video encoder and read back from a
// decoded frame.
class BenchTimeCode
{
public:
    static constexpr int BITS = 32;
    static constexpr int CELL = 32;
    static constexpr int ROW_GAP = CELL / 2;

    // Where the code sits when drawn at `origin` with cells of `cell` pixels (the gap
    // between the rows is half a cell).
    static QRect area(const QPoint &origin, int cell = CELL);
    static void paint(QPainter &painter, const QPoint &origin, uint32_t value, int cell = CELL);
    // The value, or nothing when the two rows disagree (a frame caught mid-repaint) or the
    // picture is not a code at all.
    static std::optional<uint32_t> read(const QImage &image, const QPoint &origin, int cell = CELL);
};
