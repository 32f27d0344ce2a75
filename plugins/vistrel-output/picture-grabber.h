#pragma once

#include <cstdint>
#include <string>

struct AVFrame;
struct EffectConfig;

// Where the file output's pictures come from when it reads the screen itself rather than
// take the engine's: the X server, or a screen-cast stream of the desktop. One thread at a
// time.
class PictureGrabber
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

    virtual ~PictureGrabber() = default;

    // Reads another rectangle from now on. One of the first size fills the picture as at the
    // start; one of another size is fitted in whole, centred, with black bars. False, with
    // the reason in errorMessage(), when the rectangle cannot be read; the old one stays.
    virtual bool moveTo(const Area &area) = 0;
    // The pointer highlight and click ripples, where the source lets them be drawn.
    virtual void showPointerEffects(const EffectConfig &config) = 0;
    // Fills a frame of the picture size and format with the screen as it is now.
    virtual bool grab(AVFrame *picture) = 0;
    // When the picture of the last grab was shown, on the monotonic clock, for a source that
    // delivers pictures at times of its own; 0 for one read the moment it is asked.
    virtual uint64_t pictureTime() const { return 0; }
    const std::string &errorMessage() const { return m_error; }
    // True once the source has gone away: no picture can come any more.
    virtual bool displayLost() const = 0;

protected:
    std::string m_error;
};
