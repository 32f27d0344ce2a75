#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct xcb_connection_t;

// Follows the X pointer and its button presses on a connection and thread of its own, so
// that rendering never waits on the X server.
class PointerTracker
{
public:
    struct Click
    {
        int x;
        int y;
        int button;
    };

    struct State
    {
        bool valid = false;
        int x = 0;
        int y = 0;
    };

    PointerTracker() = default;
    ~PointerTracker();
    PointerTracker(const PointerTracker &) = delete;
    PointerTracker &operator=(const PointerTracker &) = delete;

    // displayName may be empty for $DISPLAY. False when the server or XInput2 is missing.
    bool start(const std::string &displayName);
    void stop();

    // Latest position in root coordinates; clicks since the previous call are moved out.
    State take(std::vector<Click> &clicks);

private:
    void run();
    void queryPointer();
    void mapButtons(std::vector<int> &buttons);

    xcb_connection_t *m_connection = nullptr;
    uint32_t m_root = 0;
    uint8_t m_xinputOpcode = 0;
    int m_wakeFds[2] = {-1, -1};
    std::thread m_thread;

    std::mutex m_mutex;
    State m_state;
    std::vector<Click> m_clicks;
};
