#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <Qt>

// Arithmetic of moving and resizing the camera window: grab zones, cursors and drags that
// keep the picture's aspect ratio.
namespace SCCameraGeometry {

enum DragMode {
    NoDrag = 0,
    Move = 1,
    TopLeft = 2,
    TopRight = 3,
    BottomLeft = 4,
    BottomRight = 5,
    Left = 6,
    Right = 7,
    Top = 8,
    Bottom = 9,
};

constexpr int EDGE_BAND = 10;
constexpr int MIN_WIDTH = 200;

// What a press at `pos` (window coordinates) on a window of `size` would drag.
DragMode dragModeAt(const QSize &size, const QPoint &pos);
Qt::CursorShape cursorFor(int mode);

// Height of a window `width` wide showing a picture of `aspect`.
int heightForWidth(int width, float aspect);
// The smallest window that still shows a picture of `aspect` (width / height).
QSize minimumSize(float aspect);

// The window's geometry after dragging by `delta` from `start` in `mode`. Resizing keeps
// `aspect`: corners pin the opposite corner, edges pin the opposite edge and grow the other
// direction about the centre; nothing gets narrower than the minimum width.
QRect dragged(int mode, const QRect &start, const QPoint &delta, float aspect);

} // namespace SCCameraGeometry
