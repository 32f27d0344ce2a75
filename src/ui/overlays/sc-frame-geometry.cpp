#include "sc-frame-geometry.h"

#include <algorithm>

namespace SCFrameGeometry {

DragMode dragModeAt(const QSize &size, const QPoint &pos, bool drawing)
{
    if (drawing)
        return Draw;
    const int w = size.width();
    const int h = size.height();
    const int z = GRAB_ZONE;
    if (QRect(0, 0, z, z).contains(pos))
        return TopLeft;
    if (QRect(w - z, 0, z, z).contains(pos))
        return TopRight;
    if (QRect(0, h - z, z, z).contains(pos))
        return BottomLeft;
    if (QRect(w - z, h - z, z, z).contains(pos))
        return BottomRight;
    if (QRect(0, z, z, h - 2 * z).contains(pos))
        return Left;
    if (QRect(w - z, z, z, h - 2 * z).contains(pos))
        return Right;
    if (QRect(z, 0, w - 2 * z, z).contains(pos))
        return Top;
    if (QRect(z, h - z, w - 2 * z, z).contains(pos))
        return Bottom;
    return Move;
}

bool isResize(int mode)
{
    return mode >= TopLeft && mode <= Bottom;
}

QRect innerRect(const QSize &size)
{
    return {GRAB_ZONE, GRAB_ZONE, size.width() - 2 * GRAB_ZONE, size.height() - 2 * GRAB_ZONE};
}

QRect resized(int mode, const QRect &g, const QPoint &delta, bool lockRatio, const QSize &minimum)
{
    QRect r = g;
    const double ratio = lockRatio && g.height() > 0 ? double(g.width()) / g.height() : 0.0;
    const bool lock = ratio > 0.0;
    switch (mode) {
    case TopLeft:
        r.setTopLeft(g.topLeft() + delta);
        if (lock)
            r.setTop(g.bottom() - int((g.right() - r.left()) / ratio));
        break;
    case TopRight:
        r.setTopRight(g.topRight() + delta);
        if (lock)
            r.setTop(g.bottom() - int((r.right() - g.left()) / ratio));
        break;
    case BottomLeft:
        r.setBottomLeft(g.bottomLeft() + delta);
        if (lock)
            r.setBottom(g.top() + int((g.right() - r.left()) / ratio));
        break;
    case BottomRight:
        r.setBottomRight(g.bottomRight() + delta);
        if (lock)
            r.setBottom(g.top() + int((r.right() - g.left()) / ratio));
        break;
    case Left:
    case Right:
        if (mode == Left)
            r.setLeft(g.left() + delta.x());
        else
            r.setRight(g.right() + delta.x());
        if (lock) {
            const int h = int((r.right() - r.left()) / ratio);
            const int d = h - g.height();
            r.setTop(g.top() - d / 2);
            r.setBottom(g.bottom() + d / 2);
        }
        break;
    case Top:
    case Bottom:
        if (mode == Top)
            r.setTop(g.top() + delta.y());
        else
            r.setBottom(g.bottom() + delta.y());
        if (lock) {
            const int w = int((r.bottom() - r.top()) * ratio);
            const int d = w - g.width();
            r.setLeft(g.left() - d / 2);
            r.setRight(g.right() + d / 2);
        }
        break;
    default:
        return g;
    }

    // Edges are inclusive: the pulled-back edge leaves exactly the minimum size.
    if (r.width() < minimum.width()) {
        if (mode == Left || mode == TopLeft || mode == BottomLeft)
            r.setLeft(r.right() - minimum.width() + 1);
        else if (mode == Right || mode == TopRight || mode == BottomRight)
            r.setRight(r.left() + minimum.width() - 1);
    }
    if (r.height() < minimum.height()) {
        if (mode == Top || mode == TopLeft || mode == TopRight)
            r.setTop(r.bottom() - minimum.height() + 1);
        else if (mode == Bottom || mode == BottomLeft || mode == BottomRight)
            r.setBottom(r.top() + minimum.height() - 1);
    }
    return r;
}

QPoint moved(const QRect &start, const QPoint &delta, const QRect &available, int barHeight)
{
    QPoint p = start.topLeft() + delta;
    p.setX(std::max(available.left(), std::min(available.right() - start.width(), p.x())));
    p.setY(std::max(available.top(),
                    std::min(available.bottom() - start.height() + barHeight, p.y())));
    return p;
}

QPoint barDragged(const QPoint &wanted, const QSize &frame, const QRect &available)
{
    return {std::max(available.left(), std::min(available.right() - frame.width(), wanted.x())),
            wanted.y()};
}

QPoint barPosition(const QRect &frame, const QSize &bar, const QRect &screen)
{
    const int x = frame.left() + (frame.width() - bar.width()) / 2;
    const int above = frame.top() - bar.height();
    if (screen.isEmpty() || above >= screen.top())
        return {x, above};
    // No room above: below the frame, and where the frame fills the screen's height, at the
    // screen's bottom edge over the frame, so that stop stays within reach.
    const int below = frame.bottom() + 1;
    const int y = below + bar.height() - 1 <= screen.bottom() ? below
                                                              : screen.bottom() - bar.height() + 1;
    return {std::clamp(x, screen.left(), std::max(screen.left(), screen.right() - bar.width() + 1)),
            y};
}

QRect presetFrame(const QSize &screen, qreal ratio, const QSize &physical, int border)
{
    const int width = int(physical.width() / ratio) + 2 * border;
    const int height = int(physical.height() / ratio) + 2 * border;
    return {(screen.width() - width) / 2, (screen.height() - height) / 2, width, height};
}

} // namespace SCFrameGeometry
