#include "sc-window-shape.h"

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <vector>

namespace {

xcb_connection_t *connection()
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

// `restore` drops the shape; otherwise an empty region is an empty shape, which for
// input means every click passes through.
void applyShape(WId window, xcb_shape_kind_t kind, const QRegion &region, qreal scale, bool restore)
{
    xcb_connection_t *c = connection();
    if (!c || !window)
        return;
    const auto id = static_cast<xcb_window_t>(window);
    if (restore) {
        xcb_shape_mask(c, XCB_SHAPE_SO_SET, kind, id, 0, 0, XCB_NONE);
    } else {
        std::vector<xcb_rectangle_t> rects;
        for (const QRect &r : region) {
            const QRect d(QPoint(qFloor(r.x() * scale), qFloor(r.y() * scale)),
                          QPoint(qCeil((r.right() + 1) * scale) - 1,
                                 qCeil((r.bottom() + 1) * scale) - 1));
            rects.push_back({static_cast<int16_t>(d.x()), static_cast<int16_t>(d.y()),
                             static_cast<uint16_t>(d.width()), static_cast<uint16_t>(d.height())});
        }
        xcb_shape_rectangles(c, XCB_SHAPE_SO_SET, kind, XCB_CLIP_ORDERING_UNSORTED, id, 0, 0,
                             static_cast<uint32_t>(rects.size()), rects.data());
    }
    xcb_flush(c);
}

qreal scaleOf(QWidget *window)
{
    return window->windowHandle() ? window->windowHandle()->devicePixelRatio() : 1.0;
}

} // namespace

namespace SCWindowShape {

void setInputRegion(QWidget *window, const QRegion &region)
{
    applyShape(window->winId(), XCB_SHAPE_SK_INPUT, region, scaleOf(window), region.isNull());
}

void setVisibleRegion(QWidget *window, const QRegion &region)
{
    applyShape(window->winId(), XCB_SHAPE_SK_BOUNDING, region, scaleOf(window), region.isNull());
}

} // namespace SCWindowShape

void qt_mac_set_window_region_transparent_for_mouse(WId window, const QRect &rect, bool transparent)
{
    QWidget *widget = QWidget::find(window);
    if (!widget)
        return;
    if (!transparent) {
        SCWindowShape::setInputRegion(widget, QRegion());
        return;
    }
    // A rectangle over the whole window leaves an empty region, which must stay empty
    // (all clicks pass) rather than read as "no shape".
    applyShape(window, XCB_SHAPE_SK_INPUT, QRegion(widget->rect()) - QRegion(rect), scaleOf(widget),
               false);
}
