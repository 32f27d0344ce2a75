#include "effect-config.h"

#include <obs-data.h>

#include <algorithm>
#include <charconv>

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// from_chars ignores the locale: a German desktop must still read "0.5".
std::optional<float> parseComponent(std::string_view text)
{
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    if (text.empty())
        return std::nullopt;
    float value = 0.f;
    const char *end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end)
        return std::nullopt;
    return std::clamp(value, 0.f, 1.f);
}

std::optional<Rgba> readColor(obs_data_t *settings, const char *key)
{
    obs_data_item_t *item = obs_data_item_byname(settings, key);
    if (!item)
        return std::nullopt;
    std::optional<Rgba> color;
    if (obs_data_item_has_user_value(item)) {
        if (obs_data_item_gettype(item) == OBS_DATA_STRING)
            color = parseColorString(obs_data_item_get_string(item));
        else if (obs_data_item_gettype(item) == OBS_DATA_NUMBER)
            color = colorFromAbgr(obs_data_item_get_int(item));
    }
    obs_data_item_release(&item);
    return color;
}

std::optional<bool> readBool(obs_data_t *settings, const char *key)
{
    if (!obs_data_has_user_value(settings, key))
        return std::nullopt;
    return obs_data_get_bool(settings, key);
}

} // namespace

std::optional<Rgba> parseColorString(std::string_view text)
{
    float parts[4];
    for (int i = 0; i < 4; ++i) {
        const size_t comma = text.find(',');
        if ((i < 3) != (comma != std::string_view::npos))
            return std::nullopt;
        const std::optional<float> value = parseComponent(text.substr(0, comma));
        if (!value)
            return std::nullopt;
        parts[i] = *value;
        text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    }
    return Rgba {parts[0], parts[1], parts[2], parts[3]};
}

Rgba colorFromAbgr(long long value)
{
    const auto channel = [value](int shift) {
        return static_cast<float>((static_cast<unsigned long long>(value) >> shift) & 0xff) / 255.f;
    };
    return Rgba {channel(0), channel(8), channel(16), channel(24)};
}

EffectConfig EffectConfig::defaults()
{
    EffectConfig config;
    config.circleColor = *parseColorString(MouseEffectDefaults::circleColor);
    config.leftClickColor = *parseColorString(MouseEffectDefaults::leftClickColor);
    config.rightClickColor = *parseColorString(MouseEffectDefaults::rightClickColor);
    return config;
}

PartialEffectConfig PartialEffectConfig::fromUserValues(obs_data_t *settings)
{
    PartialEffectConfig config;
    if (!settings)
        return config;
    config.showCircle = readBool(settings, MouseEffectKeys::showCircle);
    config.circleColor = readColor(settings, MouseEffectKeys::circleColor);
    config.showClicks = readBool(settings, MouseEffectKeys::showClicks);
    config.leftClickColor = readColor(settings, MouseEffectKeys::leftClickColor);
    config.rightClickColor = readColor(settings, MouseEffectKeys::rightClickColor);
    return config;
}

EffectConfig mergeConfig(const PartialEffectConfig &own, const PartialEffectConfig &parent)
{
    EffectConfig config = EffectConfig::defaults();
    config.showCircle = own.showCircle.value_or(parent.showCircle.value_or(config.showCircle));
    config.circleColor = own.circleColor.value_or(parent.circleColor.value_or(config.circleColor));
    config.showClicks = own.showClicks.value_or(parent.showClicks.value_or(config.showClicks));
    config.leftClickColor
            = own.leftClickColor.value_or(parent.leftClickColor.value_or(config.leftClickColor));
    config.rightClickColor
            = own.rightClickColor.value_or(parent.rightClickColor.value_or(config.rightClickColor));
    return config;
}
