#include "screenshot-bench-display.h"

#include <xcb/xcb.h>
#include <xcb/xinput.h>

#include <poll.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

ScreenshotBenchDisplay::ScreenshotBenchDisplay()
{
    int screenNumber = 0;
    xcb_connection_t *c = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(c)) {
        xcb_disconnect(c);
        return;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&screens);
    m_root = screens.data->root;
    m_width = screens.data->width_in_pixels;
    m_height = screens.data->height_in_pixels;

    const xcb_query_extension_reply_t *ext = xcb_get_extension_data(c, &xcb_input_id);
    xcb_input_xi_query_version_reply_t *version = ext && ext->present
            ? xcb_input_xi_query_version_reply(c, xcb_input_xi_query_version(c, 2, 2), nullptr)
            : nullptr;
    const bool rawKeys = version && version->major_version >= 2;
    std::free(version);
    if (!rawKeys) {
        xcb_disconnect(c);
        return;
    }
    m_xinputOpcode = ext->major_opcode;
    struct
    {
        xcb_input_event_mask_t head;
        uint32_t mask;
    } selection;
    selection.head.deviceid = XCB_INPUT_DEVICE_ALL_MASTER;
    selection.head.mask_len = 1;
    selection.mask = XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS;
    xcb_input_xi_select_events(c, m_root, 1, &selection.head);
    // Maps and unmaps of the root's children, override-redirect ones included.
    const uint32_t events = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, m_root, XCB_CW_EVENT_MASK, &events);
    xcb_flush(c);
    m_connection = c;
}

ScreenshotBenchDisplay::~ScreenshotBenchDisplay()
{
    if (m_connection)
        xcb_disconnect(m_connection);
}

double ScreenshotBenchDisplay::nowMs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6;
}

template<typename Match>
std::optional<double> ScreenshotBenchDisplay::waitFor(int timeoutMs, Match match)
{
    const double end = nowMs() + timeoutMs;
    while (true) {
        while (xcb_generic_event_t *raw = xcb_poll_for_event(m_connection)) {
            const double at = nowMs();
            Event event;
            event.type = raw->response_type & 0x7f;
            if (event.type == XCB_MAP_NOTIFY) {
                const auto *map = reinterpret_cast<xcb_map_notify_event_t *>(raw);
                event.window = map->window;
                event.overrideRedirect = map->override_redirect;
            } else if (event.type == XCB_UNMAP_NOTIFY) {
                event.window = reinterpret_cast<xcb_unmap_notify_event_t *>(raw)->window;
            } else if (event.type == XCB_GE_GENERIC) {
                const auto *generic = reinterpret_cast<xcb_ge_generic_event_t *>(raw);
                if (generic->extension == m_xinputOpcode)
                    event.type = -generic->event_type;
            }
            std::free(raw);
            if (match(event))
                return at;
        }
        const double left = end - nowMs();
        if (left <= 0 || xcb_connection_has_error(m_connection))
            return std::nullopt;
        pollfd fd {xcb_get_file_descriptor(m_connection), POLLIN, 0};
        poll(&fd, 1, int(left) + 1);
    }
}

void ScreenshotBenchDisplay::drain()
{
    waitFor(0, [](const Event &) { return false; });
}

std::optional<double> ScreenshotBenchDisplay::waitKeyPress(int timeoutMs)
{
    return waitFor(timeoutMs, [](const Event &e) { return e.type == -XCB_INPUT_RAW_KEY_PRESS; });
}

bool ScreenshotBenchDisplay::coversScreen(uint32_t window)
{
    xcb_get_geometry_reply_t *geometry
            = xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr);
    const bool covers = geometry && geometry->width >= m_width && geometry->height >= m_height;
    std::free(geometry);
    return covers;
}

std::optional<double> ScreenshotBenchDisplay::waitOverlayMapped(int timeoutMs, uint32_t *window)
{
    return waitFor(timeoutMs, [&](const Event &e) {
        if (e.type != XCB_MAP_NOTIFY || !e.overrideRedirect || !coversScreen(e.window))
            return false;
        *window = e.window;
        return true;
    });
}

std::optional<double> ScreenshotBenchDisplay::waitUnmapped(uint32_t window, int timeoutMs)
{
    return waitFor(timeoutMs, [&](const Event &e) {
        return e.type == XCB_UNMAP_NOTIFY && e.window == window;
    });
}

uint32_t ScreenshotBenchDisplay::pixel(const QPoint &point)
{
    xcb_get_image_reply_t *image
            = xcb_get_image_reply(m_connection,
                                  xcb_get_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, m_root,
                                                int16_t(point.x()), int16_t(point.y()), 1, 1, ~0u),
                                  nullptr);
    uint32_t value = 0;
    if (image && xcb_get_image_data_length(image) >= 4)
        std::memcpy(&value, xcb_get_image_data(image), 4);
    std::free(image);
    return value & 0xffffff;
}

std::optional<double> ScreenshotBenchDisplay::waitPixelChange(const QPoint &point, uint32_t from,
                                                              int timeoutMs)
{
    // Each look is one round trip to the server, a fraction of a millisecond.
    const double end = nowMs() + timeoutMs;
    while (nowMs() < end) {
        if (pixel(point) != from)
            return nowMs();
    }
    return std::nullopt;
}
