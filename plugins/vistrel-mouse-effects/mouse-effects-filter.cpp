#include "mouse-effects-filter.h"

#include "effect-config.h"
#include "pointer-effects-painter.h"

#include <obs-module.h>
#include <obs-nix-platform.h>

#include <cmath>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

// Xlib last: its macros (None, Bool, Status) clash with other headers.
#include <X11/Xlib.h>

namespace {

// Sizes in captured pixels, i.e. X screen pixels.
constexpr float kCircleRadius = PointerEffectGeometry::circleRadius;
constexpr float kRingWidth = PointerEffectGeometry::ringWidth;
constexpr float kRingSeconds = PointerEffectGeometry::ringSeconds;

// The capture source's keys are read again at most this often: the engine writes them there.
constexpr float kParentPollSeconds = 0.1f;

constexpr int kLeftButton = PointerEffectGeometry::leftButton;
constexpr int kRightButton = PointerEffectGeometry::rightButton;

// Distances are computed per pixel, so edges are smooth and quads clip to the frame trivially.
constexpr const char *kEffectSource = R"(
uniform float4x4 ViewProj;
uniform float2 center;
uniform float radius;
uniform float width;
uniform float4 color;

struct VertData {
    float4 pos : POSITION;
    float2 uv : TEXCOORD0;
};

VertData VSDefault(VertData v_in)
{
    VertData vert_out;
    vert_out.pos = mul(float4(v_in.pos.xyz, 1.0), ViewProj);
    vert_out.uv = v_in.uv;
    return vert_out;
}

float4 PSDisc(VertData v_in) : TARGET
{
    float d = distance(v_in.uv, center);
    return float4(color.rgb, color.a * saturate(radius - d + 0.5));
}

float4 PSRing(VertData v_in) : TARGET
{
    float d = distance(v_in.uv, center);
    return float4(color.rgb, color.a * saturate(width * 0.5 - abs(d - radius) + 0.5));
}

technique Disc
{
    pass
    {
        vertex_shader = VSDefault(v_in);
        pixel_shader = PSDisc(v_in);
    }
}

technique Ring
{
    pass
    {
        vertex_shader = VSDefault(v_in);
        pixel_shader = PSRing(v_in);
    }
}
)";

struct Ring
{
    float x;
    float y;
    int button;
    float start;
};

std::string platformDisplayName()
{
    if (obs_get_nix_platform() != OBS_NIX_PLATFORM_X11_EGL)
        return {};
    auto *display = static_cast<Display *>(obs_get_nix_platform_display());
    return display ? DisplayString(display) : std::string();
}

class MouseEffectsFilter
{
public:
    MouseEffectsFilter(obs_data_t *settings, obs_source_t *source);
    ~MouseEffectsFilter();

    void update(obs_data_t *settings);
    void tick(float seconds);
    void render();

private:
    void pollParentSettings(obs_source_t *parent);
    bool cropOffset(obs_source_t *target, float &x, float &y) const;
    void drawShape(const char *technique, float x, float y, float radius, float width,
                   const Rgba &color, float alphaScale, float cx, float cy);

    obs_source_t *m_source;
    PointerTracker m_tracker;

    std::mutex m_ownMutex;
    PartialEffectConfig m_own;

    // Graphics thread only from here on. The parent is polled rather than followed through
    // its signals: a filter moved between sources can then never leave a stale connection.
    PartialEffectConfig m_parentConfig;
    obs_source_t *m_polledParent = nullptr;
    float m_sinceParentPoll = 0.f;
    EffectConfig m_config = EffectConfig::defaults();
    float m_clock = 0.f;
    PointerTracker::State m_pointer;
    std::vector<PointerTracker::Click> m_newClicks;
    std::vector<Ring> m_rings;

    gs_effect_t *m_effect = nullptr;
    gs_eparam_t *m_centerParam = nullptr;
    gs_eparam_t *m_radiusParam = nullptr;
    gs_eparam_t *m_widthParam = nullptr;
    gs_eparam_t *m_colorParam = nullptr;
    gs_vertbuffer_t *m_quad = nullptr;
};

MouseEffectsFilter::MouseEffectsFilter(obs_data_t *settings, obs_source_t *source)
    : m_source(source)
{
    update(settings);

    obs_enter_graphics();
    char *errors = nullptr;
    m_effect = gs_effect_create(kEffectSource, "vistrel-mouse-effects.effect", &errors);
    if (m_effect) {
        m_centerParam = gs_effect_get_param_by_name(m_effect, "center");
        m_radiusParam = gs_effect_get_param_by_name(m_effect, "radius");
        m_widthParam = gs_effect_get_param_by_name(m_effect, "width");
        m_colorParam = gs_effect_get_param_by_name(m_effect, "color");
    } else {
        blog(LOG_WARNING, "[vistrel-mouse-effects] shader failed: %s", errors ? errors : "?");
    }
    bfree(errors);

    gs_vb_data *data = gs_vbdata_create();
    data->num = 4;
    data->points = static_cast<vec3 *>(bzalloc(sizeof(vec3) * 4));
    data->num_tex = 1;
    data->tvarray = static_cast<gs_tvertarray *>(bzalloc(sizeof(gs_tvertarray)));
    data->tvarray[0].width = 2;
    data->tvarray[0].array = bzalloc(sizeof(vec2) * 4);
    m_quad = gs_vertexbuffer_create(data, GS_DYNAMIC);
    obs_leave_graphics();

    // Without X input the filter just passes the picture through.
    m_tracker.start(platformDisplayName());
}

MouseEffectsFilter::~MouseEffectsFilter()
{
    m_tracker.stop();
    obs_enter_graphics();
    gs_vertexbuffer_destroy(m_quad);
    gs_effect_destroy(m_effect);
    obs_leave_graphics();
}

void MouseEffectsFilter::update(obs_data_t *settings)
{
    PartialEffectConfig own = PartialEffectConfig::fromUserValues(settings);
    std::lock_guard<std::mutex> lock(m_ownMutex);
    m_own = own;
}

void MouseEffectsFilter::tick(float seconds)
{
    m_clock += seconds;
    m_sinceParentPoll += seconds;

    m_newClicks.clear();
    m_pointer = m_tracker.take(m_newClicks);
    if (m_config.showClicks) {
        for (const PointerTracker::Click &click : m_newClicks) {
            if (click.button == kLeftButton || click.button == kRightButton)
                m_rings.push_back({float(click.x), float(click.y), click.button, m_clock});
        }
    }
    while (!m_rings.empty() && m_clock - m_rings.front().start >= kRingSeconds)
        m_rings.erase(m_rings.begin());
}

void MouseEffectsFilter::pollParentSettings(obs_source_t *parent)
{
    if (parent == m_polledParent && m_sinceParentPoll < kParentPollSeconds)
        return;
    m_polledParent = parent;
    m_sinceParentPoll = 0.f;
    obs_data_t *settings = parent ? obs_source_get_settings(parent) : nullptr;
    m_parentConfig = PartialEffectConfig::fromUserValues(settings);
    obs_data_release(settings);
}

bool MouseEffectsFilter::cropOffset(obs_source_t *target, float &x, float &y) const
{
    // A crop that runs before this filter shifts the picture: add back what it cut away.
    x = 0.f;
    y = 0.f;
    while (target && obs_source_get_type(target) == OBS_SOURCE_TYPE_FILTER) {
        if (obs_source_enabled(target)
            && std::strcmp(obs_source_get_id(target), "crop_filter") == 0) {
            obs_data_t *settings = obs_source_get_settings(target);
            x += float(obs_data_get_int(settings, "left"));
            y += float(obs_data_get_int(settings, "top"));
            obs_data_release(settings);
        }
        target = obs_filter_get_target(target);
    }
    return target != nullptr;
}

void MouseEffectsFilter::render()
{
    pollParentSettings(obs_filter_get_parent(m_source));
    {
        std::lock_guard<std::mutex> lock(m_ownMutex);
        m_config = mergeConfig(m_own, m_parentConfig);
    }
    if (!m_config.showClicks)
        m_rings.clear();

    const bool drawCircle = m_config.showCircle && m_pointer.valid;
    obs_source_t *target = obs_filter_get_target(m_source);
    if (!m_effect || !m_quad || !target || (!drawCircle && m_rings.empty())) {
        obs_source_skip_video_filter(m_source);
        return;
    }

    const uint32_t width = obs_source_get_base_width(target);
    const uint32_t height = obs_source_get_base_height(target);
    float cropX = 0.f;
    float cropY = 0.f;
    if (!width || !height || !cropOffset(target, cropX, cropY)) {
        obs_source_skip_video_filter(m_source);
        return;
    }

    if (!obs_source_process_filter_begin(m_source, GS_RGBA, OBS_ALLOW_DIRECT_RENDERING))
        return;
    obs_source_process_filter_end(m_source, obs_get_base_effect(OBS_EFFECT_DEFAULT), width, height);

    // The screen capture shows the X root 1:1 from its origin; only screen 0 starts at 0,0.
    const float cx = float(width);
    const float cy = float(height);

    gs_blend_state_push();
    gs_enable_blending(true);
    gs_blend_function_separate(GS_BLEND_SRCALPHA, GS_BLEND_INVSRCALPHA, GS_BLEND_ONE,
                               GS_BLEND_INVSRCALPHA);
    // Colours are given as display values: blend them as such.
    const bool srgb = gs_framebuffer_srgb_enabled();
    gs_enable_framebuffer_srgb(false);

    if (drawCircle) {
        drawShape("Disc", float(m_pointer.x) - cropX, float(m_pointer.y) - cropY, kCircleRadius,
                  0.f, m_config.circleColor, 1.f, cx, cy);
    }
    for (const Ring &ring : m_rings) {
        const float t = std::min(1.f, (m_clock - ring.start) / kRingSeconds);
        const float radius = PointerEffectGeometry::ringRadius(t);
        const Rgba &color
                = ring.button == kLeftButton ? m_config.leftClickColor : m_config.rightClickColor;
        drawShape("Ring", ring.x - cropX, ring.y - cropY, radius, kRingWidth, color, 1.f - t, cx,
                  cy);
    }

    gs_enable_framebuffer_srgb(srgb);
    gs_blend_state_pop();
}

void MouseEffectsFilter::drawShape(const char *technique, float x, float y, float radius,
                                   float width, const Rgba &color, float alphaScale, float cx,
                                   float cy)
{
    const float reach = radius + width * 0.5f + 1.f;
    const float left = std::max(0.f, x - reach);
    const float top = std::max(0.f, y - reach);
    const float right = std::min(cx, x + reach);
    const float bottom = std::min(cy, y + reach);
    if (left >= right || top >= bottom)
        return;

    gs_vb_data *data = gs_vertexbuffer_get_data(m_quad);
    auto *uv = static_cast<vec2 *>(data->tvarray[0].array);
    const float xs[4] = {left, right, left, right};
    const float ys[4] = {top, top, bottom, bottom};
    for (int i = 0; i < 4; ++i) {
        vec3_set(&data->points[i], xs[i], ys[i], 0.f);
        vec2_set(&uv[i], xs[i], ys[i]);
    }
    gs_vertexbuffer_flush(m_quad);

    vec2 center;
    vec2_set(&center, x, y);
    vec4 rgba;
    vec4_set(&rgba, color.r, color.g, color.b, color.a * alphaScale);
    gs_effect_set_vec2(m_centerParam, &center);
    gs_effect_set_float(m_radiusParam, radius);
    gs_effect_set_float(m_widthParam, width);
    gs_effect_set_vec4(m_colorParam, &rgba);

    while (gs_effect_loop(m_effect, technique)) {
        gs_load_vertexbuffer(m_quad);
        gs_load_indexbuffer(nullptr);
        gs_draw(GS_TRISTRIP, 0, 4);
    }
}

const char *filterName(void *)
{
    return "Vistrel Mouse Effects";
}

void *filterCreate(obs_data_t *settings, obs_source_t *source)
{
    return new MouseEffectsFilter(settings, source);
}

void filterDestroy(void *data)
{
    delete static_cast<MouseEffectsFilter *>(data);
}

void filterUpdate(void *data, obs_data_t *settings)
{
    static_cast<MouseEffectsFilter *>(data)->update(settings);
}

void filterTick(void *data, float seconds)
{
    static_cast<MouseEffectsFilter *>(data)->tick(seconds);
}

void filterRender(void *data, gs_effect_t *)
{
    static_cast<MouseEffectsFilter *>(data)->render();
}

void filterDefaults(obs_data_t *settings)
{
    obs_data_set_default_bool(settings, MouseEffectKeys::showCircle, false);
    obs_data_set_default_string(settings, MouseEffectKeys::circleColor,
                                MouseEffectDefaults::circleColor);
    obs_data_set_default_bool(settings, MouseEffectKeys::showClicks, false);
    obs_data_set_default_string(settings, MouseEffectKeys::leftClickColor,
                                MouseEffectDefaults::leftClickColor);
    obs_data_set_default_string(settings, MouseEffectKeys::rightClickColor,
                                MouseEffectDefaults::rightClickColor);
}

obs_properties_t *filterProperties(void *)
{
    obs_properties_t *props = obs_properties_create();
    obs_properties_add_bool(props, MouseEffectKeys::showCircle, "Highlight the pointer");
    obs_properties_add_text(props, MouseEffectKeys::circleColor, "Highlight colour (r, g, b, a)",
                            OBS_TEXT_DEFAULT);
    obs_properties_add_bool(props, MouseEffectKeys::showClicks, "Rings on clicks");
    obs_properties_add_text(props, MouseEffectKeys::leftClickColor,
                            "Left click colour (r, g, b, a)", OBS_TEXT_DEFAULT);
    obs_properties_add_text(props, MouseEffectKeys::rightClickColor,
                            "Right click colour (r, g, b, a)", OBS_TEXT_DEFAULT);
    return props;
}

obs_source_info makeInfo()
{
    obs_source_info info = {};
    info.id = kMouseEffectsFilterId;
    info.type = OBS_SOURCE_TYPE_FILTER;
    info.output_flags = OBS_SOURCE_VIDEO;
    info.get_name = filterName;
    info.create = filterCreate;
    info.destroy = filterDestroy;
    info.update = filterUpdate;
    info.video_tick = filterTick;
    info.video_render = filterRender;
    info.get_defaults = filterDefaults;
    info.get_properties = filterProperties;
    return info;
}

} // namespace

const obs_source_info &mouseEffectsFilterInfo()
{
    static const obs_source_info info = makeInfo();
    return info;
}
