#include "sc-camera-geometry.h"

#include <cmath>

namespace SCCameraGeometry {

namespace {

// Sizes from an aspect ratio: 560 / (16 / 9.f) must give 315, not 314.
int truncated(float value)
{
    return int(value + 1e-3f);
}

float sane(float aspect)
{
    return std::isfinite(aspect) && aspect > 0 ? aspect : 1.0f;
}

} // namespace

DragMode dragModeAt(const QSize &size, const QPoint &pos)
{
    const int w = size.width();
    const int h = size.height();
    const int e = EDGE_BAND;
    if (QRect(0, 0, e, e).contains(pos))
        return TopLeft;
    if (QRect(w - e, 0, e, e).contains(pos))
        return TopRight;
    if (QRect(0, h - e, e, e).contains(pos))
        return BottomLeft;
    if (QRect(w - e, h - e, e, e).contains(pos))
        return BottomRight;
    if (QRect(0, e, e, h - 2 * e).contains(pos))
        return Left;
    if (QRect(w - e, e, e, h - 2 * e).contains(pos))
        return Right;
    if (QRect(e, 0, w - 2 * e, e).contains(pos))
        return Top;
    if (QRect(e, h - e, w - 2 * e, e).contains(pos))
        return Bottom;
    return Move;
}

Qt::CursorShape cursorFor(int mode)
{
    switch (mode) {
    case TopLeft:
    case BottomRight:
        return Qt::SizeFDiagCursor;
    case TopRight:
    case BottomLeft:
        return Qt::SizeBDiagCursor;
    case Left:
    case Right:
        return Qt::SizeHorCursor;
    case Top:
    case Bottom:
        return Qt::SizeVerCursor;
    default:
        return Qt::ArrowCursor;
    }
}

int heightForWidth(int width, float aspect)
{
    return truncated(width / sane(aspect));
}

QSize minimumSize(float aspect)
{
    return QSize(MIN_WIDTH, truncated(MIN_WIDTH / sane(aspect)));
}

QRect dragged(int mode, const QRect &start, const QPoint &delta, float aspect)
{
    if (mode == Move)
        return start.translated(delta);
    aspect = sane(aspect);

    const bool leftMoves = mode == Left || mode == TopLeft || mode == BottomLeft;
    const bool topMoves = mode == Top || mode == TopLeft || mode == TopRight;
    int w = start.width();
    int h = start.height();
    switch (mode) {
    case TopLeft:
    case BottomLeft:
    case TopRight:
    case BottomRight:
    case Left:
    case Right:
        w = leftMoves ? start.width() - delta.x() : start.width() + delta.x();
        h = truncated(w / aspect);
        break;
    case Top:
    case Bottom:
        h = topMoves ? start.height() - delta.y() : start.height() + delta.y();
        w = truncated(h * aspect);
        break;
    default:
        return start;
    }
    if (w < MIN_WIDTH) {
        w = MIN_WIDTH;
        h = truncated(w / aspect);
    }

    // Corners pin the opposite corner; an edge pins the opposite edge and keeps the centre
    // of the other direction.
    const int right = start.x() + start.width();
    const int bottom = start.y() + start.height();
    int x = start.x();
    int y = start.y();
    if (mode == Left || mode == Right)
        y = start.y() - (h - start.height()) / 2;
    if (mode == Top || mode == Bottom)
        x = start.x() - (w - start.width()) / 2;
    if (leftMoves)
        x = right - w;
    if (topMoves)
        y = bottom - h;
    return QRect(x, y, w, h);
}

} // namespace SCCameraGeometry
