#pragma once

#include <string>

extern "C" {
#include <libavutil/pixfmt.h>
}

struct AVFrame;
struct SwsContext;

// Puts a 32-bit RGB picture into a frame of the file's picture size: limited-range BT.709
// I420 for the encoders, or BGRX for those that make their own palette. A source of the
// frame's size is copied or converted as it is; one of another size is stretched to the
// frame, or fitted in whole, centred, with black bars.
class PictureConverter
{
public:
    enum class Target { I420, Bgrx };

    PictureConverter() = default;
    ~PictureConverter();
    PictureConverter(const PictureConverter &) = delete;
    PictureConverter &operator=(const PictureConverter &) = delete;

    // source: AV_PIX_FMT_BGR0 or AV_PIX_FMT_RGB0. False, with the reason in errorMessage(),
    // when no conversion for these sizes exists.
    bool configure(int width, int height, AVPixelFormat source, int pictureWidth, int pictureHeight,
                   bool fit, Target target);
    bool configured() const { return m_width > 0; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    void convert(const uint8_t *pixels, int stride, AVFrame *picture) const;
    const std::string &errorMessage() const { return m_error; }

private:
    void release();

    SwsContext *m_scaler = nullptr;
    int m_width = 0;
    int m_height = 0;
    int m_pictureWidth = 0;
    int m_pictureHeight = 0;
    // Where a fitted source lands in the frame.
    int m_fitX = 0;
    int m_fitY = 0;
    bool m_fitted = false;
    bool m_bgrx = false;
    std::string m_error;
};
