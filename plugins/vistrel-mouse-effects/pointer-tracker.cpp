#include "pointer-tracker.h"

#include <util/base.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xinput.h>

namespace {

// A render thread that stops ticking must not let clicks pile up without bound.
constexpr size_t kMaxPendingClicks = 64;

// Warps (XWarpPointer) produce no raw motion, so the position is also refreshed this often.
constexpr int kRefreshMs = 100;

} // namespace

PointerTracker::~PointerTracker()
{
    stop();
}

bool PointerTracker::start(const std::string &displayName)
{
    stop();

    int screenNumber = 0;
    m_connection = xcb_connect(displayName.empty() ? nullptr : displayName.c_str(), &screenNumber);
    if (xcb_connection_has_error(m_connection)) {
        blog(LOG_WARNING, "[vistrel-mouse-effects] cannot connect to the X server");
        stop();
        return false;
    }

    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem) {
        stop();
        return false;
    }
    m_root = screens.data->root;

    const xcb_query_extension_reply_t *ext = xcb_get_extension_data(m_connection, &xcb_input_id);
    if (!ext || !ext->present) {
        blog(LOG_WARNING, "[vistrel-mouse-effects] the X server has no XInput extension");
        stop();
        return false;
    }
    m_xinputOpcode = ext->major_opcode;

    // Raw events on the root window need XInput 2 announced by this client.
    xcb_input_xi_query_version_reply_t *version = xcb_input_xi_query_version_reply(
            m_connection, xcb_input_xi_query_version(m_connection, 2, 2), nullptr);
    const bool haveXi2 = version && version->major_version >= 2;
    free(version);
    if (!haveXi2) {
        blog(LOG_WARNING, "[vistrel-mouse-effects] the X server has no XInput 2");
        stop();
        return false;
    }

    struct
    {
        xcb_input_event_mask_t head;
        uint32_t bits;
    } mask;
    mask.head.deviceid = XCB_INPUT_DEVICE_ALL_MASTER;
    mask.head.mask_len = 1;
    mask.bits = XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_MOTION;
    xcb_generic_error_t *error = xcb_request_check(
            m_connection, xcb_input_xi_select_events_checked(m_connection, m_root, 1, &mask.head));
    if (error) {
        free(error);
        blog(LOG_WARNING, "[vistrel-mouse-effects] cannot select raw pointer events");
        stop();
        return false;
    }

    if (pipe2(m_wakeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        stop();
        return false;
    }

    queryPointer();
    m_thread = std::thread([this] { run(); });
    return true;
}

void PointerTracker::stop()
{
    if (m_thread.joinable()) {
        const char byte = 0;
        (void)!write(m_wakeFds[1], &byte, 1);
        m_thread.join();
    }
    for (int &fd : m_wakeFds) {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
    if (m_connection) {
        xcb_disconnect(m_connection);
        m_connection = nullptr;
    }
}

PointerTracker::State PointerTracker::take(std::vector<Click> &clicks)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    clicks.insert(clicks.end(), m_clicks.begin(), m_clicks.end());
    m_clicks.clear();
    return m_state;
}

void PointerTracker::queryPointer()
{
    xcb_query_pointer_reply_t *reply = xcb_query_pointer_reply(
            m_connection, xcb_query_pointer(m_connection, m_root), nullptr);
    if (!reply)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    // The pointer may sit on another X screen; its root coordinates then mean nothing here.
    m_state.valid = reply->same_screen;
    m_state.x = reply->root_x;
    m_state.y = reply->root_y;
    free(reply);
}

void PointerTracker::mapButtons(std::vector<int> &buttons)
{
    // Raw events report the physical button; a left-handed mapping swaps what the user means.
    xcb_get_pointer_mapping_reply_t *reply = xcb_get_pointer_mapping_reply(
            m_connection, xcb_get_pointer_mapping(m_connection), nullptr);
    if (!reply)
        return;
    const uint8_t *map = xcb_get_pointer_mapping_map(reply);
    const int length = xcb_get_pointer_mapping_map_length(reply);
    for (int &button : buttons) {
        if (button >= 1 && button <= length)
            button = map[button - 1];
    }
    free(reply);
}

void PointerTracker::run()
{
    pollfd fds[2] = {{xcb_get_file_descriptor(m_connection), POLLIN, 0}, {m_wakeFds[0], POLLIN, 0}};
    std::vector<int> buttons;

    while (!xcb_connection_has_error(m_connection)) {
        const int ready = poll(fds, 2, kRefreshMs);
        if (ready < 0 && errno != EINTR)
            break;
        if (fds[1].revents)
            break;

        buttons.clear();
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
            if ((event->response_type & 0x7f) == XCB_GE_GENERIC) {
                auto *ge = reinterpret_cast<xcb_ge_generic_event_t *>(event);
                if (ge->extension == m_xinputOpcode
                    && ge->event_type == XCB_INPUT_RAW_BUTTON_PRESS) {
                    auto *press = reinterpret_cast<xcb_input_raw_button_press_event_t *>(event);
                    buttons.push_back(static_cast<int>(press->detail));
                }
            }
            free(event);
        }

        // Raw events carry no position; one query after the batch serves them all.
        queryPointer();

        if (buttons.empty())
            continue;
        mapButtons(buttons);
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_state.valid)
            continue;
        for (int button : buttons) {
            if (m_clicks.size() < kMaxPendingClicks)
                m_clicks.push_back({m_state.x, m_state.y, button});
        }
    }

    // A lost server must not leave a highlight frozen at its last place.
    std::lock_guard<std::mutex> lock(m_mutex);
    m_state.valid = false;
}
