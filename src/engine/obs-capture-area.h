#pragma once

#include <QPoint>
#include <QSize>

// A recording area as the engine needs it: the crop of the whole-screen capture and the
// canvas size, both in device pixels, from two inclusive corners in logical pixels.
class ObsCaptureArea
{
public:
    // `devicePixels`, when given, is the picture the crop is cut from, whose size need not be
    // the logical size times the ratio (a fractionally scaled output): the right and bottom
    // margins are measured from its edges.
    static ObsCaptureArea fromCorners(const QPoint &start, const QPoint &end,
                                      const QSize &screenSize, qreal ratio,
                                      const QSize &devicePixels = QSize());
    // Rounds a side up to a multiple of 4 (video encoders want even, aligned planes).
    static int roundUpTo4(int value) { return (value + 3) & ~3; }

    int left = 0;
    int right = 0;
    int top = 0;
    int bottom = 0;
    // The area itself in device pixels: the frame size written to the file.
    int frameWidth = 0;
    int frameHeight = 0;
    // The area rounded up to a multiple of 4 logical pixels, in device pixels.
    int canvasWidth = 0;
    int canvasHeight = 0;
    bool fullScreen = false;
};
