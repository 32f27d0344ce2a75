#include "sc-camera-format.h"

#include <algorithm>

namespace SCCameraFormat {

namespace {

qint64 pixelCount(const QSize &size)
{
    return qint64(size.width()) * size.height();
}

} // namespace

int chooseFormat(const QList<Mode> &modes)
{
    int best = -1;
    for (int i = 0; i < modes.size(); ++i) {
        if (modes[i].maxFrameRate < MIN_SMOOTH_FRAME_RATE)
            continue;
        if (best < 0 || pixelCount(modes[i].resolution) > pixelCount(modes[best].resolution))
            best = i;
    }
    return best;
}

FallbackOrder fallbackOrder(const QList<Mode> &modes)
{
    static const QList<QSize> preferred
            = {{640, 480}, {800, 600}, {1280, 720}, {320, 240}, {352, 288}, {176, 144}};
    FallbackOrder order;
    for (const QSize &size : preferred) {
        for (int i = 0; i < modes.size(); ++i) {
            if (modes[i].resolution == size && modes[i].maxFrameRate >= MIN_SMOOTH_FRAME_RATE)
                order.preferred << i;
        }
    }
    for (int i = 0; i < modes.size(); ++i) {
        if (!order.preferred.contains(i))
            order.others << i;
    }
    std::stable_sort(order.others.begin(), order.others.end(), [&modes](int a, int b) {
        return pixelCount(modes[a].resolution) < pixelCount(modes[b].resolution);
    });
    return order;
}

} // namespace SCCameraFormat
