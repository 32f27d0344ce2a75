#include "obs-capture-area.h"

#include <algorithm>

ObsCaptureArea ObsCaptureArea::fromCorners(const QPoint &start, const QPoint &end,
                                           const QSize &screenSize, qreal ratio,
                                           const QSize &devicePixels)
{
    ObsCaptureArea area;
    const int x1 = std::clamp(std::min(start.x(), end.x()), 0, screenSize.width() - 1);
    const int x2 = std::clamp(std::max(start.x(), end.x()), 0, screenSize.width() - 1);
    const int y1 = std::clamp(std::min(start.y(), end.y()), 0, screenSize.height() - 1);
    const int y2 = std::clamp(std::max(start.y(), end.y()), 0, screenSize.height() - 1);
    const int width = x2 - x1 + 1;
    const int height = y2 - y1 + 1;

    // The corners are inclusive: what lies right of x2 and below y2 is cut, not x2 itself.
    area.left = int(x1 * ratio);
    area.top = int(y1 * ratio);
    area.right = int((screenSize.width() - 1 - x2) * ratio);
    area.bottom = int((screenSize.height() - 1 - y2) * ratio);
    area.frameWidth = int(width * ratio);
    area.frameHeight = int(height * ratio);
    area.canvasWidth = int(roundUpTo4(width) * ratio);
    area.canvasHeight = int(roundUpTo4(height) * ratio);
    if (devicePixels.isValid()) {
        area.right = std::max(0, devicePixels.width() - area.left - area.frameWidth);
        area.bottom = std::max(0, devicePixels.height() - area.top - area.frameHeight);
    }
    area.fullScreen
            = x1 == 0 && y1 == 0 && x2 == screenSize.width() - 1 && y2 == screenSize.height() - 1;
    return area;
}
