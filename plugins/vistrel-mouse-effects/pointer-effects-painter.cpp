#include "pointer-effects-painter.h"

#include <algorithm>
#include <cmath>

namespace {

// Straight alpha over the picture, as the filter blends: colour * a + picture * (1 - a).
template<typename Coverage>
void blendShape(const BgrxPicture &picture, float x, float y, float reach, const Rgba &color,
                Coverage coverage)
{
    if (color.a <= 0.f)
        return;
    const int left = std::max(0, int(std::floor(x - reach)));
    const int top = std::max(0, int(std::floor(y - reach)));
    const int right = std::min(picture.width, int(std::ceil(x + reach)));
    const int bottom = std::min(picture.height, int(std::ceil(y + reach)));
    const float source[3] = {color.b * 255.f, color.g * 255.f, color.r * 255.f};
    for (int py = top; py < bottom; ++py) {
        uint8_t *row = picture.pixels + (long)py * picture.stride;
        for (int px = left; px < right; ++px) {
            const float d = std::hypot(px + 0.5f - x, py + 0.5f - y);
            const float a = color.a * std::clamp(coverage(d), 0.f, 1.f);
            if (a <= 0.f)
                continue;
            uint8_t *pixel = row + px * 4;
            for (int c = 0; c < 3; ++c)
                pixel[c] = uint8_t(std::lround(source[c] * a + pixel[c] * (1.f - a)));
        }
    }
}

} // namespace

void PointerShapes::disc(const BgrxPicture &picture, float x, float y, float radius,
                         const Rgba &color)
{
    blendShape(picture, x, y, radius + 1.f, color, [radius](float d) { return radius - d + 0.5f; });
}

void PointerShapes::ring(const BgrxPicture &picture, float x, float y, float radius, float width,
                         const Rgba &color)
{
    blendShape(picture, x, y, radius + width * 0.5f + 1.f, color,
               [radius, width](float d) { return width * 0.5f - std::fabs(d - radius) + 0.5f; });
}

bool PointerEffectsPainter::start(const EffectConfig &config)
{
    m_config = config;
    m_rings.clear();
    m_started = (config.showCircle || config.showClicks) && m_tracker.start(std::string());
    return m_started;
}

void PointerEffectsPainter::paint(const BgrxPicture &picture, int originX, int originY,
                                  double seconds)
{
    using namespace PointerEffectGeometry;
    if (!m_started)
        return;
    m_clicks.clear();
    const PointerTracker::State pointer = m_tracker.take(m_clicks);
    if (m_config.showClicks) {
        for (const PointerTracker::Click &click : m_clicks)
            if (click.button == leftButton || click.button == rightButton)
                m_rings.push_back({float(click.x), float(click.y), click.button, seconds});
    }
    while (!m_rings.empty() && seconds - m_rings.front().start >= ringSeconds)
        m_rings.erase(m_rings.begin());

    if (m_config.showCircle && pointer.valid)
        PointerShapes::disc(picture, float(pointer.x - originX), float(pointer.y - originY),
                            circleRadius, m_config.circleColor);
    for (const Ring &ring : m_rings) {
        const float t = std::min(1.f, float((seconds - ring.start) / ringSeconds));
        Rgba color = ring.button == leftButton ? m_config.leftClickColor : m_config.rightClickColor;
        color.a *= 1.f - t;
        PointerShapes::ring(picture, ring.x - float(originX), ring.y - float(originY),
                            ringRadius(t), ringWidth, color);
    }
}
