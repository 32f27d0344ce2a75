#pragma once

#include <optional>
#include <string_view>

struct obs_data;
typedef struct obs_data obs_data_t;

// Straight (not premultiplied) colour, components 0..1.
struct Rgba
{
    float r = 0.f;
    float g = 0.f;
    float b = 0.f;
    float a = 0.f;
};

// Settings keys shared with the screen capture source, so that the engine can write them to
// either the capture source or this filter.
namespace MouseEffectKeys {
constexpr const char *showCircle = "show_fixed_circle";
constexpr const char *circleColor = "fixed_circle_color";
constexpr const char *showClicks = "show_click_animation";
constexpr const char *leftClickColor = "left_click_color";
constexpr const char *rightClickColor = "right_click_color";
} // namespace MouseEffectKeys

namespace MouseEffectDefaults {
constexpr const char *circleColor = "0.0, 1.0, 0.5, 0.3";
constexpr const char *leftClickColor = "0.0, 0.0, 1.0, 0.7";
constexpr const char *rightClickColor = "1.0, 0.0, 0.0, 0.7";
} // namespace MouseEffectDefaults

struct EffectConfig
{
    bool showCircle = false;
    Rgba circleColor;
    bool showClicks = false;
    Rgba leftClickColor;
    Rgba rightClickColor;

    static EffectConfig defaults();
};

// The values one settings object sets explicitly; unset keys stay empty.
struct PartialEffectConfig
{
    std::optional<bool> showCircle;
    std::optional<Rgba> circleColor;
    std::optional<bool> showClicks;
    std::optional<Rgba> leftClickColor;
    std::optional<Rgba> rightClickColor;

    static PartialEffectConfig fromUserValues(obs_data_t *settings);
};

// The filter's own values win over the capture source's; defaults fill the rest.
EffectConfig mergeConfig(const PartialEffectConfig &own, const PartialEffectConfig &parent);

// "r, g, b, a" with components 0..1, as the engine writes colours.
std::optional<Rgba> parseColorString(std::string_view text);

// libobs's integer colour layout 0xAABBGGRR.
Rgba colorFromAbgr(long long value);
