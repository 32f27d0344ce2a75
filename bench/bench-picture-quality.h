#pragma once

#include <QRect>
#include <QSize>
#include <QString>

#include <cstdint>
#include <optional>

class QImage;

// How close a recording of the animation is to what the screen showed: the luma of sampled
// frames against the same pictures drawn again from their time codes, by SSIM (8x8 windows
// four pixels apart, as ffmpeg's ssim filter). Frames whose time code cannot be read are
// left out.
class BenchPictureQuality
{
public:
    struct Result
    {
        double ssim = 0.0;
        int frames = 0;
    };

    // `samples` frames spread over the file, which holds `area` of the screen (all of it
    // when empty); nothing when none could be compared.
    static std::optional<Result> measure(const QString &file, const QSize &screen,
                                         uint32_t animationStartMs, int samples = 40,
                                         const QRect &area = QRect());

    // The time code in a recorded picture of `area` of the screen (all of it when empty).
    static std::optional<uint32_t> timeCode(const QImage &picture, const QSize &screen,
                                            const QRect &area);
    // Mean SSIM of two 8-bit luma pictures of one size.
    static double ssim(const QImage &a, const QImage &b);
    // The luma a file of this colour matrix ("bt709" or anything else for BT.601) holds for
    // an RGB picture, in limited range.
    static QImage luma(const QImage &rgb, bool bt709);
};
