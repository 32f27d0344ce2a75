#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

// Arithmetic of the recording region frame: grab zones, border drags and placement.
// Rectangles are in the frame's own or in global logical coordinates as named.
namespace SCFrameGeometry {

enum DragMode {
    NoDrag = 0,
    Draw = 1,
    TopLeft = 2,
    TopRight = 3,
    BottomLeft = 4,
    BottomRight = 5,
    Left = 6,
    Right = 7,
    Top = 8,
    Bottom = 9,
    Move = 10,
};

// Width of the grab zone along each edge; wider than the painted border on purpose.
constexpr int GRAB_ZONE = 10;

// What a press at `pos` (frame coordinates) on a frame of `size` would drag.
DragMode dragModeAt(const QSize &size, const QPoint &pos, bool drawing);
bool isResize(int mode);
// The area that lets clicks through to the applications below.
QRect innerRect(const QSize &size);

// The frame's new geometry for a border drag by `delta` from `start`; the moving edges
// give way to `minimum`, the fixed ones stay. Not limited to the screen.
QRect resized(int mode, const QRect &start, const QPoint &delta, bool lockRatio,
              const QSize &minimum);
// The frame's new top-left for a drag of the frame itself, kept on `available`.
QPoint moved(const QRect &start, const QPoint &delta, const QRect &available, int barHeight);
// The frame's new top-left while the bar is dragged: only kept from leaving sideways.
QPoint barDragged(const QPoint &wanted, const QSize &frame, const QRect &available);
// A frame whose content is `physical` device pixels, centred on a screen of `screen` logical
// pixels at the origin, with a border of `border` on every side.
QRect presetFrame(const QSize &screen, qreal ratio, const QSize &physical, int border);
// Top-left of the button bar: centred on the frame, flush on top of it; kept on `screen`
// (when given) by moving it below the frame or to the screen's bottom edge.
QPoint barPosition(const QRect &frame, const QSize &bar, const QRect &screen = QRect());

} // namespace SCFrameGeometry
