#pragma once

#include "effect-config.h"
#include "pointer-tracker.h"

#include <cstdint>
#include <vector>

// Sizes in X screen pixels and timing of the pointer effects, the same wherever drawn.
namespace PointerEffectGeometry {
constexpr float circleRadius = 22.f;
constexpr float ringStartRadius = 12.f;
constexpr float ringEndRadius = 64.f;
constexpr float ringWidth = 6.f;
constexpr float ringSeconds = 0.5f;
constexpr int leftButton = 1;
constexpr int rightButton = 3;

// Fast at first, slowing down: reads as a ripple. t runs from 0 to 1 over the ring's life.
inline float ringRadius(float t)
{
    const float grown = 1.f - (1.f - t) * (1.f - t);
    return ringStartRadius + (ringEndRadius - ringStartRadius) * grown;
}
} // namespace PointerEffectGeometry

// A picture of 32-bit pixels in blue, green, red, spare byte order.
struct BgrxPicture
{
    uint8_t *pixels = nullptr;
    int stride = 0;
    int width = 0;
    int height = 0;
};

// The filter's disc and ring on the processor, with the same soft one-pixel edges: coverage
// comes from the distance of each pixel's centre to the shape.
namespace PointerShapes {
void disc(const BgrxPicture &picture, float x, float y, float radius, const Rgba &color);
void ring(const BgrxPicture &picture, float x, float y, float radius, float width,
          const Rgba &color);
} // namespace PointerShapes

// Draws the pointer highlight and the click ripples into pictures read straight from the
// screen, following the pointer as the filter does.
class PointerEffectsPainter
{
public:
    // False when the pointer cannot be followed (no XInput2); nothing is drawn then.
    bool start(const EffectConfig &config);
    // origin: the root position of the picture's top-left pixel; seconds: a steady clock.
    void paint(const BgrxPicture &picture, int originX, int originY, double seconds);

private:
    struct Ring
    {
        float x;
        float y;
        int button;
        double start;
    };

    EffectConfig m_config;
    PointerTracker m_tracker;
    bool m_started = false;
    std::vector<PointerTracker::Click> m_clicks;
    std::vector<Ring> m_rings;
};
