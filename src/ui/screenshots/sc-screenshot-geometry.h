#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

// Arithmetic of the screenshot selection. The selection is exactly the rectangle that is
// saved; its border and handles lie around it, in a margin of the overlay window.
// Everything is in global logical coordinates.
namespace SCScreenshotGeometry {

enum DragMode {
    NoDrag = 0,
    TopLeft = 1,
    TopRight = 2,
    BottomLeft = 3,
    BottomRight = 4,
    LeftEdge = 5,
    RightEdge = 6,
    TopEdge = 7,
    BottomEdge = 8,
    PenStroke = 9,
    Move = 10,
};

constexpr int BORDER_WIDTH = 4;
constexpr int HANDLE_SIZE = 8;
// How far the overlay window reaches beyond the selection: room for border and handles.
constexpr int MARGIN = HANDLE_SIZE;
// The resize zone also reaches this far into the selection.
constexpr int GRAB_INSIDE = 6;
// Smallest selection a drag leaves; a smaller one given by the caller stays as it is.
constexpr int MINIMUM_SIZE = 100;

// The overlay window around `area`, kept on `screen`.
QRect windowRect(const QRect &area, const QRect &screen);
// The outer edge of the border: outside the selection where `window` has room for it,
// over the selection's edge where the screen ends.
QRect frameRect(const QRect &area, const QRect &window);
// Squares at the four corners and the four edge midpoints, within `window`.
QList<QRect> handleRects(const QRect &area, const QRect &window);

// What a press at `pos` would drag: a corner or edge near the border, the whole selection
// inside it, nothing outside the margin.
DragMode dragModeAt(const QRect &area, const QPoint &pos);
bool isResize(int mode);
// The selection after dragging by `delta` from `start`, kept within `bounds`; a resize
// stops at `minimum` with the opposite edges fixed.
QRect dragged(int mode, const QRect &start, const QPoint &delta, const QRect &bounds,
              const QSize &minimum);
// Top-left of the button bar: under the selection's bottom-right corner, above it where the
// screen ends below, inside its top-right corner for a full-screen selection or where
// neither fits.
QPoint barPosition(const QRect &area, const QSize &bar, const QRect &screen, bool fullScreen);

} // namespace SCScreenshotGeometry
