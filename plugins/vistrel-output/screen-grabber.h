#pragma once

#include <memory>
#include <string>

struct AVFrame;
struct EffectConfig;
class PointerEffectsPainter;

// Reads one rectangle of the X screen straight from the server through shared memory, draws
// the pointer in and converts the picture to the limited-range BT.709 I420 the encoders take.
// On a machine that composes in software this costs a fraction of having the engine draw,
// read back and convert the same screen. One thread at a time.
class ScreenGrabber
{
public:
    struct Area
    {
        int x = 0;
        int y = 0;
        int width = 0;
        int height = 0;
    };

    ScreenGrabber();
    ~ScreenGrabber();
    ScreenGrabber(const ScreenGrabber &) = delete;
    ScreenGrabber &operator=(const ScreenGrabber &) = delete;

    // False, with the reason in errorMessage(), when this display cannot be read this way.
    // The area is stretched to the picture size when the two differ.
    bool open(const Area &area, int pictureWidth, int pictureHeight, bool drawPointer);
    // The pointer highlight and click ripples, drawn over the screen as the engine would.
    void showPointerEffects(const EffectConfig &config);
    // Fills an I420 frame of the picture size with the screen as it is now.
    bool grab(AVFrame *picture);
    const std::string &errorMessage() const { return m_error; }

private:
    struct Connection;

    void drawPointer();

    std::unique_ptr<Connection> m_x;
    std::unique_ptr<PointerEffectsPainter> m_effects;
    Area m_area;
    bool m_drawPointer = false;
    std::string m_error;
};
