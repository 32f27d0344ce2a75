// A sync source for recordings: the whole screen flashes white and a 1 kHz beep sounds at
// the same instant, once a second; the flash rises from black to white over 200 ms. The beeps are
// written to PulseAudio in small chunks and each flash is timed by the stream's own latency, so it
// shows when its beep is heard. The window is drawn with plain Xlib and the server is waited for,
// so a flash is on screen as soon as it is due, even on a busy machine.
//
//   av-sync-source SECONDS

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <pulse/error.h>
#include <pulse/simple.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int RATE = 48000;
constexpr int CHUNK = RATE / 100; // 10 ms: a second is a whole number of chunks
constexpr int BEEP_SAMPLES = RATE / 10;
// long enough that no capture misses it, even one that lags on a busy machine
constexpr auto FLASH_TIME = std::chrono::milliseconds(400);
constexpr auto RAMP_TIME = std::chrono::milliseconds(200);

struct Schedule
{
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Clock::time_point> flashes;
    bool done = false;
};

void fill(Display *display, Window window, unsigned long colour)
{
    XSetWindowBackground(display, window, colour);
    XClearWindow(display, window);
    XSync(display, False);
}

} // namespace

int main(int argc, char **argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 0;
    if (seconds < 2) {
        std::fprintf(stderr, "usage: %s SECONDS (at least 2)\n", argv[0]);
        return 2;
    }
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "cannot open the display\n");
        return 3;
    }
    const int screen = DefaultScreen(display);
    const unsigned long black = BlackPixel(display, screen);
    const unsigned long white = WhitePixel(display, screen);
    XSetWindowAttributes attributes = {};
    attributes.override_redirect = True;
    attributes.background_pixel = black;
    const Window window = XCreateWindow(
            display, RootWindow(display, screen), 0, 0, DisplayWidth(display, screen),
            DisplayHeight(display, screen), 0, CopyFromParent, InputOutput, CopyFromParent,
            CWOverrideRedirect | CWBackPixel, &attributes);
    XMapRaised(display, window);
    fill(display, window, black);

    pa_sample_spec sampleFormat = {PA_SAMPLE_S16LE, RATE, 1};
    pa_buffer_attr attr;
    attr.maxlength = (uint32_t)-1;
    // Deep enough never to run dry on a busy machine, which would make the beeps late; the
    // flashes allow for it.
    attr.tlength = (uint32_t)(CHUNK * 30 * sizeof(int16_t));
    attr.prebuf = (uint32_t)-1;
    attr.minreq = (uint32_t)-1;
    attr.fragsize = (uint32_t)-1;
    int error = 0;
    pa_simple *stream = pa_simple_new(nullptr, "av-sync-source", PA_STREAM_PLAYBACK, nullptr,
                                      "beeps", &sampleFormat, nullptr, &attr, &error);
    if (!stream) {
        std::fprintf(stderr, "cannot play: %s\n", pa_strerror(error));
        return 3;
    }

    Schedule schedule;
    std::thread player([&]() {
        std::vector<int16_t> chunk(CHUNK);
        int err = 0;
        const int64_t total = (int64_t)seconds * RATE;
        for (int64_t at = 0; at < total; at += CHUNK) {
            const int64_t inSecond = at % RATE;
            const bool beep = at >= RATE && inSecond < BEEP_SAMPLES;
            for (int i = 0; i < CHUNK; ++i) {
                const double t = double(inSecond + i) / RATE;
                chunk[i] = beep ? int16_t(16000 * std::sin(2 * M_PI * 1000 * t)) : 0;
            }
            if (beep && inSecond == 0) {
                // This chunk is heard once what is queued ahead of it has played.
                const pa_usec_t latency = pa_simple_get_latency(stream, &err);
                std::lock_guard<std::mutex> lock(schedule.mutex);
                schedule.flashes.push_back(Clock::now() + std::chrono::microseconds(latency));
                schedule.wake.notify_one();
            }
            if (pa_simple_write(stream, chunk.data(), chunk.size() * sizeof(int16_t), &err) < 0)
                break;
        }
        pa_simple_drain(stream, nullptr);
        std::lock_guard<std::mutex> lock(schedule.mutex);
        schedule.done = true;
        schedule.wake.notify_one();
    });

    for (;;) {
        Clock::time_point due;
        {
            std::unique_lock<std::mutex> lock(schedule.mutex);
            schedule.wake.wait(lock, [&]() { return schedule.done || !schedule.flashes.empty(); });
            if (schedule.flashes.empty())
                break;
            due = schedule.flashes.front();
            schedule.flashes.pop_front();
        }
        std::this_thread::sleep_until(due);
        const auto late = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - due);
        // The flash brightens evenly over its ramp: a picture's brightness tells how long
        // before it the flash began, finer than the pictures' own spacing.
        for (auto now = Clock::now(); now < due + RAMP_TIME; now = Clock::now()) {
            const double part = std::chrono::duration<double>(now - due) / RAMP_TIME;
            const unsigned long level = (unsigned long)std::lround(255.0 * std::max(0.0, part));
            fill(display, window, level * 0x010101UL);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        fill(display, window, white);
        std::this_thread::sleep_until(due + FLASH_TIME);
        fill(display, window, black);
        std::printf("flash %.1f ms late\n", late.count() / 1000.0);
        std::fflush(stdout);
    }

    player.join();
    pa_simple_free(stream);
    XDestroyWindow(display, window);
    XCloseDisplay(display);
    return 0;
}
