#include "sc-screenshot-geometry.h"

#include <QtGlobal>

namespace SCScreenshotGeometry {

namespace {

// Where the bar sits inside a selection that leaves no room around it.
constexpr int BAR_INSET = 4;
constexpr int BAR_GAP = 2;

QRect keptWithin(QRect r, const QRect &bounds)
{
    if (r.right() > bounds.right())
        r.moveRight(bounds.right());
    if (r.left() < bounds.left())
        r.moveLeft(bounds.left());
    if (r.bottom() > bounds.bottom())
        r.moveBottom(bounds.bottom());
    if (r.top() < bounds.top())
        r.moveTop(bounds.top());
    return r;
}

} // namespace

QRect windowRect(const QRect &area, const QRect &screen)
{
    return area.adjusted(-MARGIN, -MARGIN, MARGIN, MARGIN).intersected(screen);
}

QRect frameRect(const QRect &area, const QRect &window)
{
    return area.adjusted(-BORDER_WIDTH, -BORDER_WIDTH, BORDER_WIDTH, BORDER_WIDTH)
            .intersected(window);
}

QList<QRect> handleRects(const QRect &area, const QRect &window)
{
    const int s = HANDLE_SIZE;
    const int before = -s;
    const int midX = area.left() + area.width() / 2 - s / 2;
    const int midY = area.top() + area.height() / 2 - s / 2;
    const int left = area.left() + before;
    const int top = area.top() + before;
    const int right = area.right() + 1;
    const int bottom = area.bottom() + 1;
    QList<QRect> handles = {
            {left, top, s, s},   {midX, top, s, s},    {right, top, s, s},   {left, midY, s, s},
            {right, midY, s, s}, {left, bottom, s, s}, {midX, bottom, s, s}, {right, bottom, s, s},
    };
    // Where the screen ends, the handle moves onto the selection instead of vanishing.
    for (QRect &handle : handles)
        handle = keptWithin(handle, window);
    return handles;
}

DragMode dragModeAt(const QRect &area, const QPoint &pos)
{
    if (!area.adjusted(-MARGIN, -MARGIN, MARGIN, MARGIN).contains(pos))
        return NoDrag;
    // Near both edges of a narrow selection, the nearer one wins.
    int h = 0;
    if (pos.x() < area.left() + GRAB_INSIDE && pos.x() - area.left() <= area.right() - pos.x())
        h = -1;
    else if (pos.x() > area.right() - GRAB_INSIDE)
        h = 1;
    int v = 0;
    if (pos.y() < area.top() + GRAB_INSIDE && pos.y() - area.top() <= area.bottom() - pos.y())
        v = -1;
    else if (pos.y() > area.bottom() - GRAB_INSIDE)
        v = 1;

    if (h < 0 && v < 0)
        return TopLeft;
    if (h > 0 && v < 0)
        return TopRight;
    if (h < 0 && v > 0)
        return BottomLeft;
    if (h > 0 && v > 0)
        return BottomRight;
    if (h < 0)
        return LeftEdge;
    if (h > 0)
        return RightEdge;
    if (v < 0)
        return TopEdge;
    if (v > 0)
        return BottomEdge;
    return Move;
}

bool isResize(int mode)
{
    return mode >= TopLeft && mode <= BottomEdge;
}

QRect dragged(int mode, const QRect &start, const QPoint &delta, const QRect &bounds,
              const QSize &minimum)
{
    if (mode == Move)
        return keptWithin(start.translated(delta), bounds);
    if (!isResize(mode))
        return start;

    QRect r = start;
    switch (mode) {
    case TopLeft:
        r.setTopLeft(start.topLeft() + delta);
        break;
    case TopRight:
        r.setTopRight(start.topRight() + delta);
        break;
    case BottomLeft:
        r.setBottomLeft(start.bottomLeft() + delta);
        break;
    case BottomRight:
        r.setBottomRight(start.bottomRight() + delta);
        break;
    case LeftEdge:
        r.setLeft(start.left() + delta.x());
        break;
    case RightEdge:
        r.setRight(start.right() + delta.x());
        break;
    case TopEdge:
        r.setTop(start.top() + delta.y());
        break;
    case BottomEdge:
        r.setBottom(start.bottom() + delta.y());
        break;
    default:
        break;
    }
    // The dragged edges stay on the screen.
    r.setLeft(qBound(bounds.left(), r.left(), bounds.right()));
    r.setRight(qBound(bounds.left(), r.right(), bounds.right()));
    r.setTop(qBound(bounds.top(), r.top(), bounds.bottom()));
    r.setBottom(qBound(bounds.top(), r.bottom(), bounds.bottom()));

    const bool movesLeft = mode == LeftEdge || mode == TopLeft || mode == BottomLeft;
    const bool movesTop = mode == TopEdge || mode == TopLeft || mode == TopRight;
    const bool resizesWidth = mode != TopEdge && mode != BottomEdge;
    const bool resizesHeight = mode != LeftEdge && mode != RightEdge;
    if (resizesWidth && r.width() < minimum.width()) {
        if (movesLeft)
            r.setLeft(r.right() - minimum.width() + 1);
        else
            r.setRight(r.left() + minimum.width() - 1);
    }
    if (resizesHeight && r.height() < minimum.height()) {
        if (movesTop)
            r.setTop(r.bottom() - minimum.height() + 1);
        else
            r.setBottom(r.top() + minimum.height() - 1);
    }
    return keptWithin(r, bounds);
}

QPoint barPosition(const QRect &area, const QSize &bar, const QRect &screen, bool fullScreen)
{
    const QPoint inside = area.topRight() + QPoint(-BAR_INSET - bar.width(), BAR_INSET);
    if (fullScreen)
        return inside;
    const int x = qBound(screen.left(), area.right() + MARGIN + 1 - bar.width(),
                         screen.right() + 1 - bar.width());
    const int below = area.bottom() + MARGIN + 1 + BAR_GAP;
    if (below + bar.height() - 1 <= screen.bottom())
        return {x, below};
    const int above = area.top() - MARGIN - BAR_GAP - bar.height();
    if (above >= screen.top())
        return {x, above};
    return {qBound(screen.left(), inside.x(), screen.right() + 1 - bar.width()), inside.y()};
}

} // namespace SCScreenshotGeometry
