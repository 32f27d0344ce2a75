#pragma once

#include <memory>
#include <string>

struct AVFrame;
struct EffectConfig;
class PointerEffectsPainter;

// Reads one rectangle of the X screen straight from the server through shared memory, draws
// the pointer in and converts the picture to the limited-range BT.709 I420 most encoders
// take, or keeps its pixels for those that quantise colours themselves (GIF).
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

    // What grab() fills: limited-range BT.709 I420, or the screen's own BGRX pixels.
    enum class PictureFormat { I420, Bgrx };

    ScreenGrabber();
    ~ScreenGrabber();
    ScreenGrabber(const ScreenGrabber &) = delete;
    ScreenGrabber &operator=(const ScreenGrabber &) = delete;

    // False, with the reason in errorMessage(), when this display cannot be read this way.
    // The area is stretched to the picture size when the two differ.
    bool open(const Area &area, int pictureWidth, int pictureHeight, bool drawPointer,
              PictureFormat format = PictureFormat::I420);
    // Reads another rectangle from now on. One of the first size fills the picture as at the
    // start; one of another size is fitted in whole, centred, with black bars. False, with
    // the reason in errorMessage(), when the rectangle cannot be read; the old one stays.
    bool moveTo(const Area &area);
    // The pointer highlight and click ripples, drawn over the screen as the engine would.
    void showPointerEffects(const EffectConfig &config);
    // Fills a frame of the picture size and format with the screen as it is now.
    bool grab(AVFrame *picture);
    const std::string &errorMessage() const { return m_error; }
    // True once the X server has gone away: no picture can come any more.
    bool displayLost() const;

private:
    struct Connection;

    bool createImage(Connection &x, int width, int height);
    bool chooseConverter(Connection &x, int width, int height);
    void convert(AVFrame *picture);
    void drawPointer();

    std::unique_ptr<Connection> m_x;
    std::unique_ptr<PointerEffectsPainter> m_effects;
    Area m_area;
    int m_firstWidth = 0;
    int m_firstHeight = 0;
    int m_pictureWidth = 0;
    int m_pictureHeight = 0;
    // Where a fitted area lands in the picture; the whole picture otherwise.
    int m_fitX = 0;
    int m_fitY = 0;
    bool m_fitted = false;
    bool m_bgrx = false;
    bool m_drawPointer = false;
    std::string m_error;
};
