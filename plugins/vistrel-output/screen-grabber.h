#pragma once

#include "picture-converter.h"
#include "picture-grabber.h"

#include <memory>
#include <string>

class PointerEffectsPainter;

// Reads one rectangle of the X screen straight from the server through shared memory, draws
// the pointer in and converts the picture to the limited-range BT.709 I420 most encoders
// take, or keeps its pixels for those that quantise colours themselves (GIF).
// On a machine that composes in software this costs a fraction of having the engine draw,
// read back and convert the same screen. One thread at a time.
class ScreenGrabber : public PictureGrabber
{
public:
    ScreenGrabber();
    ~ScreenGrabber() override;
    ScreenGrabber(const ScreenGrabber &) = delete;
    ScreenGrabber &operator=(const ScreenGrabber &) = delete;

    // False, with the reason in errorMessage(), when this display cannot be read this way.
    // The area is stretched to the picture size when the two differ.
    bool open(const Area &area, int pictureWidth, int pictureHeight, bool drawPointer,
              PictureFormat format = PictureFormat::I420);
    bool moveTo(const Area &area) override;
    void showPointerEffects(const EffectConfig &config) override;
    bool grab(AVFrame *picture) override;
    // True once the X server has gone away.
    bool displayLost() const override;

private:
    struct Connection;

    bool createImage(Connection &x, int width, int height);
    bool chooseConverter(int width, int height);
    void drawPointer();

    std::unique_ptr<Connection> m_x;
    std::unique_ptr<PointerEffectsPainter> m_effects;
    Area m_area;
    int m_firstWidth = 0;
    int m_firstHeight = 0;
    int m_pictureWidth = 0;
    int m_pictureHeight = 0;
    PictureConverter m_converter;
    bool m_bgrx = false;
    bool m_drawPointer = false;
};
