#pragma once

#include <QPoint>

#include <cstdint>
#include <optional>

struct xcb_connection_t;

// A connection of the benchmark's own to the X server, to see keys pressed and windows
// mapped while another program holds the key grab and owns the windows. Times are
// CLOCK_MONOTONIC milliseconds at the moment an event was read.
class ScreenshotBenchDisplay
{
public:
    ScreenshotBenchDisplay();
    ~ScreenshotBenchDisplay();
    ScreenshotBenchDisplay(const ScreenshotBenchDisplay &) = delete;
    ScreenshotBenchDisplay &operator=(const ScreenshotBenchDisplay &) = delete;

    bool isValid() const { return m_connection != nullptr; }
    static double nowMs();

    // Forgets the events read so far.
    void drain();
    // A key press as the server saw it, whoever it goes to (raw input ignores grabs).
    std::optional<double> waitKeyPress(int timeoutMs);
    // A screen-wide window that bypasses the window manager being mapped; its id in `window`.
    std::optional<double> waitOverlayMapped(int timeoutMs, uint32_t *window);
    std::optional<double> waitUnmapped(uint32_t window, int timeoutMs);
    // The screen's pixel at `point` as it is shown (after compositing), 0xRRGGBB.
    uint32_t pixel(const QPoint &point);
    std::optional<double> waitPixelChange(const QPoint &point, uint32_t from, int timeoutMs);

private:
    struct Event
    {
        int type = 0;
        uint32_t window = 0;
        bool overrideRedirect = false;
    };
    // Reads events until `match` says yes or the time is up; the match's arrival time.
    template<typename Match> std::optional<double> waitFor(int timeoutMs, Match match);
    bool coversScreen(uint32_t window);

    xcb_connection_t *m_connection = nullptr;
    uint32_t m_root = 0;
    int m_width = 0;
    int m_height = 0;
    uint8_t m_xinputOpcode = 0;
};
