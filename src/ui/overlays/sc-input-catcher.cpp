#include "sc-input-catcher.h"

#include "sc-x11.h"

#include <QCoreApplication>

#include <algorithm>

#include <xcb/xcb.h>

namespace {
constexpr uint8_t LEFT_BUTTON = 1;
// XC_crosshair of the X cursor font.
constexpr uint16_t CROSSHAIR_GLYPH = 34;
} // namespace

SCInputCatcher::SCInputCatcher(QObject *parent)
    : QObject(parent)
{
    xcb_connection_t *c = SCX11::connection();
    if (!c)
        return;
    // The pen's cross, from the server's cursor font, as over the frame itself.
    const xcb_font_t font = xcb_generate_id(c);
    xcb_open_font(c, font, 6, "cursor");
    m_cursor = xcb_generate_id(c);
    xcb_create_glyph_cursor(c, m_cursor, font, font, CROSSHAIR_GLYPH, CROSSHAIR_GLYPH + 1, 0, 0, 0,
                            0xffff, 0xffff, 0xffff);
    xcb_close_font(c, font);

    m_window = xcb_generate_id(c);
    const uint32_t mask = XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK | XCB_CW_CURSOR;
    const uint32_t values[] = {1,
                               XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE
                                       | XCB_EVENT_MASK_POINTER_MOTION,
                               m_cursor};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, m_window, SCX11::rootWindow(), 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, mask, values);
    xcb_flush(c);
    QCoreApplication::instance()->installNativeEventFilter(this);
}

SCInputCatcher::~SCInputCatcher()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
    if (xcb_connection_t *c = SCX11::connection(); c && m_window) {
        xcb_destroy_window(c, m_window);
        xcb_free_cursor(c, m_cursor);
        xcb_flush(c);
    }
}

void SCInputCatcher::setGeometry(const QRect &rect)
{
    if (rect == m_geometry)
        return;
    m_geometry = rect;
    applyGeometry();
}

void SCInputCatcher::setVisible(bool visible)
{
    xcb_connection_t *c = SCX11::connection();
    if (!c || !m_window || visible == m_visible)
        return;
    m_visible = visible;
    if (visible) {
        applyGeometry();
        xcb_map_window(c, m_window);
        const uint32_t above = XCB_STACK_MODE_ABOVE;
        xcb_configure_window(c, m_window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    } else {
        xcb_unmap_window(c, m_window);
        m_buttonDown = false;
    }
    xcb_flush(c);
}

void SCInputCatcher::raise()
{
    xcb_connection_t *c = SCX11::connection();
    if (!c || !m_window || !m_visible)
        return;
    const uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(c, m_window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    xcb_flush(c);
}

void SCInputCatcher::applyGeometry()
{
    xcb_connection_t *c = SCX11::connection();
    if (!c || !m_window || m_geometry.isEmpty())
        return;
    const QPoint topLeft = SCX11::toDevice(m_geometry.topLeft());
    const QPoint end = SCX11::toDevice(m_geometry.bottomRight() + QPoint(1, 1));
    const uint32_t values[] = {uint32_t(topLeft.x()), uint32_t(topLeft.y()),
                               uint32_t(std::max(1, end.x() - topLeft.x())),
                               uint32_t(std::max(1, end.y() - topLeft.y())), XCB_STACK_MODE_ABOVE};
    xcb_configure_window(c, m_window,
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH
                                 | XCB_CONFIG_WINDOW_HEIGHT | XCB_CONFIG_WINDOW_STACK_MODE,
                         values);
    xcb_flush(c);
}

bool SCInputCatcher::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (!m_window || eventType != "xcb_generic_event_t")
        return false;
    auto *event = static_cast<xcb_generic_event_t *>(message);
    const qreal ratio = SCX11::devicePixelRatio();
    const auto toLogical = [ratio](int16_t x, int16_t y) {
        return QPoint(qRound(x / ratio), qRound(y / ratio));
    };
    switch (event->response_type & ~0x80) {
    case XCB_BUTTON_PRESS: {
        auto *e = reinterpret_cast<xcb_button_press_event_t *>(event);
        if (e->event != m_window)
            return false;
        if (e->detail == LEFT_BUTTON) {
            m_buttonDown = true;
            emit pressed(toLogical(e->root_x, e->root_y));
        }
        return true;
    }
    case XCB_MOTION_NOTIFY: {
        auto *e = reinterpret_cast<xcb_motion_notify_event_t *>(event);
        if (e->event != m_window)
            return false;
        if (m_buttonDown)
            emit moved(toLogical(e->root_x, e->root_y));
        return true;
    }
    case XCB_BUTTON_RELEASE: {
        auto *e = reinterpret_cast<xcb_button_release_event_t *>(event);
        if (e->event != m_window)
            return false;
        if (e->detail == LEFT_BUTTON && m_buttonDown) {
            m_buttonDown = false;
            emit released(toLogical(e->root_x, e->root_y));
        }
        return true;
    }
    default:
        return false;
    }
}
