#pragma once

#include <QList>
#include <QSize>

// Which of a camera's formats to open, and in which order to try the others when the
// chosen one cannot be started. Works on plain descriptions so it needs no device.
namespace SCCameraFormat {

struct Mode
{
    QSize resolution;
    float minFrameRate = 0;
    float maxFrameRate = 0;
};

// Below this a webcam picture looks like a slide show.
constexpr float MIN_SMOOTH_FRAME_RATE = 15.0f;

// Index of the largest format (by pixels) that reaches the smooth frame rate; the first of
// equal sizes wins. -1 when none does, so the camera keeps its own default.
int chooseFormat(const QList<Mode> &modes);

struct FallbackOrder
{
    // Common resolutions that most webcams deliver, each only at a smooth frame rate.
    QList<int> preferred;
    // Everything else, smallest first.
    QList<int> others;
};

// The formats to try, as indices, when the chosen one cannot be started. Each appears once.
FallbackOrder fallbackOrder(const QList<Mode> &modes);

} // namespace SCCameraFormat
