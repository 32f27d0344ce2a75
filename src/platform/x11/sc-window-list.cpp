#include "sc-window-list.h"

#include "sc-x11.h"

#include <QGuiApplication>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace {

struct FreeDeleter
{
    void operator()(void *p) const { std::free(p); }
};
template<typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

// Requests for one window, sent together so a whole stack costs one round trip.
struct Pending
{
    xcb_window_t window;
    xcb_get_window_attributes_cookie_t attributes;
    xcb_get_geometry_cookie_t geometry;
    xcb_translate_coordinates_cookie_t origin;
    xcb_get_property_cookie_t extents;
};

Pending request(xcb_connection_t *c, xcb_window_t window, xcb_window_t root)
{
    return {window, xcb_get_window_attributes(c, window), xcb_get_geometry(c, window),
            xcb_translate_coordinates(c, window, root, 0, 0),
            xcb_get_property(c, false, window, SCX11::atom("_NET_FRAME_EXTENTS"), XCB_ATOM_CARDINAL,
                             0, 4)};
}

// Device-pixel frame rectangle; null when the window is unmapped or gone.
QRect collect(xcb_connection_t *c, const Pending &p)
{
    Reply<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(c, p.attributes, nullptr));
    Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, p.geometry, nullptr));
    Reply<xcb_translate_coordinates_reply_t> origin(
            xcb_translate_coordinates_reply(c, p.origin, nullptr));
    Reply<xcb_get_property_reply_t> extents(xcb_get_property_reply(c, p.extents, nullptr));
    // Minimized windows and those of other desktops are unmapped.
    if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE || !geometry || !origin)
        return QRect();
    const int border = geometry->border_width;
    QRect rect(origin->dst_x - border, origin->dst_y - border, geometry->width + 2 * border,
               geometry->height + 2 * border);
    if (extents && extents->format == 32 && xcb_get_property_value_length(extents.get()) >= 16) {
        const auto *e = static_cast<const uint32_t *>(xcb_get_property_value(extents.get()));
        // left, right, top, bottom
        rect.adjust(-static_cast<int>(e[0]), -static_cast<int>(e[2]), static_cast<int>(e[1]),
                    static_cast<int>(e[3]));
    }
    return rect;
}

QString textProperty(xcb_connection_t *c, xcb_window_t window, uint32_t property, uint32_t type)
{
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            c, xcb_get_property(c, false, window, property, type, 0, 4096), nullptr));
    if (!reply || reply->format != 8 || reply->type == XCB_ATOM_NONE)
        return QString();
    const auto *data = static_cast<const char *>(xcb_get_property_value(reply.get()));
    const int length = xcb_get_property_value_length(reply.get());
    if (reply->type == SCX11::atom("UTF8_STRING"))
        return QString::fromUtf8(data, length);
    return QString::fromLatin1(data, length);
}

} // namespace

QList<WId> SCWindowList::stackingOrder()
{
    QList<WId> result;
    xcb_connection_t *c = SCX11::connection();
    if (!c)
        return result;
    Reply<xcb_get_property_reply_t> reply(
            xcb_get_property_reply(c,
                                   xcb_get_property(c, false, SCX11::rootWindow(),
                                                    SCX11::atom("_NET_CLIENT_LIST_STACKING"),
                                                    XCB_ATOM_WINDOW, 0, 1u << 16),
                                   nullptr));
    if (!reply || reply->format != 32)
        return result;
    const auto *windows = static_cast<const xcb_window_t *>(xcb_get_property_value(reply.get()));
    const int count = xcb_get_property_value_length(reply.get()) / 4;
    // The property lists bottom to top.
    result.reserve(count);
    for (int i = count - 1; i >= 0; --i)
        result.append(windows[i]);
    return result;
}

SCWindowInfo SCWindowList::windowAt(const QPoint &globalPos, const QList<WId> &excluded)
{
    xcb_connection_t *c = SCX11::connection();
    if (!c)
        return {};
    const xcb_window_t root = SCX11::rootWindow();
    std::vector<Pending> pending;
    for (WId id : stackingOrder()) {
        if (!excluded.contains(id))
            pending.push_back(request(c, static_cast<xcb_window_t>(id), root));
    }
    const QPoint devicePos = SCX11::toDevice(globalPos);
    SCWindowInfo found;
    for (const Pending &p : pending) {
        // Every reply is collected, also after a hit, so none is left queued.
        const QRect frame = collect(c, p);
        if (!found.isValid() && !frame.isNull() && frame.contains(devicePos)) {
            found.id = p.window;
            found.frame = SCX11::toLogical(frame);
        }
    }
    if (found.isValid())
        found.title = title(found.id);
    return found;
}

QRect SCWindowList::frameGeometry(WId window)
{
    xcb_connection_t *c = SCX11::connection();
    if (!c || !window)
        return QRect();
    const QRect frame
            = collect(c, request(c, static_cast<xcb_window_t>(window), SCX11::rootWindow()));
    return frame.isNull() ? frame : SCX11::toLogical(frame);
}

bool SCWindowList::exists(WId window)
{
    xcb_connection_t *c = SCX11::connection();
    if (!c || !window)
        return false;
    Reply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
            c, xcb_get_window_attributes(c, static_cast<xcb_window_t>(window)), nullptr));
    return attributes != nullptr;
}

QString SCWindowList::title(WId window)
{
    xcb_connection_t *c = SCX11::connection();
    if (!c || !window)
        return QString();
    const auto id = static_cast<xcb_window_t>(window);
    const QString name
            = textProperty(c, id, SCX11::atom("_NET_WM_NAME"), SCX11::atom("UTF8_STRING"));
    if (!name.isEmpty())
        return name;
    return textProperty(c, id, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY);
}

QList<WId> SCWindowList::ownWindows()
{
    QList<WId> result;
    const QWindowList windows = QGuiApplication::allWindows();
    for (QWindow *window : windows) {
        if (window->handle())
            result.append(window->winId());
    }
    return result;
}
