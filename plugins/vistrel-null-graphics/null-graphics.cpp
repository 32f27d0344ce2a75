// A libobs graphics device that draws nothing.
//
// libobs hands out outputs only once its video runs, and its video runs only on a graphics
// device. Recordings whose picture the file output reads from the screen itself need libobs
// for the sound alone; with this device libobs's video costs nothing and the process never
// loads a GPU or software-rasteriser driver (Mesa's llvmpipe alone maps some 70 MB).
// Objects keep just what libobs asks back. Read-backs give a black picture: libobs's frames
// still reach the outputs, which take their timing from them (the sound of a recording is let
// through from its first frame on).

#include <graphics/graphics.h>
// after graphics.h, whose types it uses
#include <graphics/device-exports.h>
#include <util/bmem.h>

#include <cstring>
#include <vector>

struct gs_device
{
    gs_texture_t *renderTarget = nullptr;
    gs_zstencil_t *zstencil = nullptr;
    gs_shader_t *vertexShader = nullptr;
    gs_shader_t *pixelShader = nullptr;
    gs_rect viewport = {};
    gs_cull_mode cullMode = GS_BACK;
    bool srgb = false;
};

struct gs_texture
{
    gs_texture_type type = GS_TEXTURE_2D;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t depth = 0;
    gs_color_format format = GS_UNKNOWN;
};

struct gs_stage_surface
{
    uint32_t width = 0;
    uint32_t height = 0;
    gs_color_format format = GS_UNKNOWN;
    uint32_t linesize = 0;
    std::vector<uint8_t> pixels;
};

struct gs_shader_param
{
    char unused = 0;
};

// Every name is a parameter of every shader: effects bind theirs by name and would refuse a
// shader that lacks one.
struct gs_shader
{
    gs_shader_type type = GS_SHADER_VERTEX;
    gs_shader_param param;
};

struct gs_vertex_buffer
{
    gs_vb_data *data = nullptr;
};

struct gs_index_buffer
{
    gs_index_type type = GS_UNSIGNED_SHORT;
    void *indices = nullptr;
    size_t count = 0;
};

struct gs_swap_chain
{
    char unused = 0;
};

struct gs_zstencil_buffer
{
    char unused = 0;
};

struct gs_sampler_state
{
    char unused = 0;
};

struct gs_timer
{
    char unused = 0;
};

struct gs_timer_range
{
    char unused = 0;
};

namespace {

gs_texture_t *newTexture(gs_texture_type type, uint32_t width, uint32_t height, uint32_t depth,
                         gs_color_format format)
{
    auto *texture = new gs_texture;
    texture->type = type;
    texture->width = width;
    texture->height = height;
    texture->depth = depth;
    texture->format = format;
    return texture;
}

gs_shader_t *newShader(gs_shader_type type)
{
    auto *shader = new gs_shader;
    shader->type = type;
    return shader;
}

} // namespace

extern "C" {

// --- the device ---------------------------------------------------------------------------

const char *device_get_name(void)
{
    return "Vistrel null device";
}

int device_get_type(void)
{
    return GS_DEVICE_OPENGL;
}

bool device_enum_adapters(bool (*)(void *, const char *, uint32_t), void *)
{
    return false;
}

const char *device_preprocessor_name(void)
{
    return "_OPENGL";
}

int device_create(gs_device_t **device, uint32_t)
{
    *device = new gs_device;
    return GS_SUCCESS;
}

void device_destroy(gs_device_t *device)
{
    delete device;
}

void device_enter_context(gs_device_t *) { }
void device_leave_context(gs_device_t *) { }

void *device_get_device_obj(gs_device_t *device)
{
    return device;
}

gs_swapchain_t *device_swapchain_create(gs_device_t *, const struct gs_init_data *)
{
    return new gs_swap_chain;
}

void device_resize(gs_device_t *, uint32_t, uint32_t) { }

enum gs_color_space device_get_color_space(gs_device_t *)
{
    return GS_CS_SRGB;
}

void device_update_color_space(gs_device_t *) { }

void device_get_size(const gs_device_t *, uint32_t *x, uint32_t *y)
{
    *x = 0;
    *y = 0;
}

uint32_t device_get_width(const gs_device_t *)
{
    return 0;
}

uint32_t device_get_height(const gs_device_t *)
{
    return 0;
}

gs_texture_t *device_texture_create(gs_device_t *, uint32_t width, uint32_t height,
                                    enum gs_color_format color_format, uint32_t, const uint8_t **,
                                    uint32_t)
{
    return newTexture(GS_TEXTURE_2D, width, height, 1, color_format);
}

gs_texture_t *device_cubetexture_create(gs_device_t *, uint32_t size,
                                        enum gs_color_format color_format, uint32_t,
                                        const uint8_t **, uint32_t)
{
    return newTexture(GS_TEXTURE_CUBE, size, size, 1, color_format);
}

gs_texture_t *device_voltexture_create(gs_device_t *, uint32_t width, uint32_t height,
                                       uint32_t depth, enum gs_color_format color_format, uint32_t,
                                       const uint8_t *const *, uint32_t)
{
    return newTexture(GS_TEXTURE_3D, width, height, depth, color_format);
}

gs_zstencil_t *device_zstencil_create(gs_device_t *, uint32_t, uint32_t, enum gs_zstencil_format)
{
    return new gs_zstencil_buffer;
}

gs_stagesurf_t *device_stagesurface_create(gs_device_t *, uint32_t width, uint32_t height,
                                           enum gs_color_format color_format)
{
    auto *surface = new gs_stage_surface;
    surface->width = width;
    surface->height = height;
    surface->format = color_format;
    surface->linesize = width * gs_get_format_bpp(color_format) / 8;
    surface->pixels.assign((size_t)surface->linesize * height, 0);
    return surface;
}

gs_samplerstate_t *device_samplerstate_create(gs_device_t *, const struct gs_sampler_info *)
{
    return new gs_sampler_state;
}

gs_shader_t *device_vertexshader_create(gs_device_t *, const char *, const char *, char **)
{
    return newShader(GS_SHADER_VERTEX);
}

gs_shader_t *device_pixelshader_create(gs_device_t *, const char *, const char *, char **)
{
    return newShader(GS_SHADER_PIXEL);
}

gs_vertbuffer_t *device_vertexbuffer_create(gs_device_t *, struct gs_vb_data *data, uint32_t)
{
    // The buffer owns its data, as libobs expects of every device.
    auto *buffer = new gs_vertex_buffer;
    buffer->data = data;
    return buffer;
}

gs_indexbuffer_t *device_indexbuffer_create(gs_device_t *, enum gs_index_type type, void *indices,
                                            size_t num, uint32_t)
{
    auto *buffer = new gs_index_buffer;
    buffer->type = type;
    buffer->indices = indices;
    buffer->count = num;
    return buffer;
}

gs_timer_t *device_timer_create(gs_device_t *)
{
    return new gs_timer;
}

gs_timer_range_t *device_timer_range_create(gs_device_t *)
{
    return new gs_timer_range;
}

enum gs_texture_type device_get_texture_type(const gs_texture_t *texture)
{
    return texture->type;
}

void device_load_vertexbuffer(gs_device_t *, gs_vertbuffer_t *) { }
void device_load_indexbuffer(gs_device_t *, gs_indexbuffer_t *) { }
void device_load_texture(gs_device_t *, gs_texture_t *, int) { }
void device_load_samplerstate(gs_device_t *, gs_samplerstate_t *, int) { }

void device_load_vertexshader(gs_device_t *device, gs_shader_t *vertshader)
{
    device->vertexShader = vertshader;
}

void device_load_pixelshader(gs_device_t *device, gs_shader_t *pixelshader)
{
    device->pixelShader = pixelshader;
}

void device_load_default_samplerstate(gs_device_t *, bool, int) { }

gs_shader_t *device_get_vertex_shader(const gs_device_t *device)
{
    return device->vertexShader;
}

gs_shader_t *device_get_pixel_shader(const gs_device_t *device)
{
    return device->pixelShader;
}

gs_texture_t *device_get_render_target(const gs_device_t *device)
{
    return device->renderTarget;
}

gs_zstencil_t *device_get_zstencil_target(const gs_device_t *device)
{
    return device->zstencil;
}

void device_set_render_target(gs_device_t *device, gs_texture_t *tex, gs_zstencil_t *zstencil)
{
    device->renderTarget = tex;
    device->zstencil = zstencil;
}

void device_set_render_target_with_color_space(gs_device_t *device, gs_texture_t *tex,
                                               gs_zstencil_t *zstencil, enum gs_color_space)
{
    device_set_render_target(device, tex, zstencil);
}

void device_set_cube_render_target(gs_device_t *device, gs_texture_t *cubetex, int,
                                   gs_zstencil_t *zstencil)
{
    device_set_render_target(device, cubetex, zstencil);
}

void device_enable_framebuffer_srgb(gs_device_t *device, bool enable)
{
    device->srgb = enable;
}

bool device_framebuffer_srgb_enabled(gs_device_t *device)
{
    return device->srgb;
}

void device_copy_texture(gs_device_t *, gs_texture_t *, gs_texture_t *) { }
void device_copy_texture_region(gs_device_t *, gs_texture_t *, uint32_t, uint32_t, gs_texture_t *,
                                uint32_t, uint32_t, uint32_t, uint32_t)
{ }
void device_stage_texture(gs_device_t *, gs_stagesurf_t *, gs_texture_t *) { }
void device_begin_frame(gs_device_t *) { }
void device_begin_scene(gs_device_t *) { }
void device_draw(gs_device_t *, enum gs_draw_mode, uint32_t, uint32_t) { }
void device_end_scene(gs_device_t *) { }
void device_load_swapchain(gs_device_t *, gs_swapchain_t *) { }
void device_clear(gs_device_t *, uint32_t, const struct vec4 *, float, uint8_t) { }

bool device_is_present_ready(gs_device_t *)
{
    return true;
}

void device_present(gs_device_t *) { }
void device_flush(gs_device_t *) { }

void device_set_cull_mode(gs_device_t *device, enum gs_cull_mode mode)
{
    device->cullMode = mode;
}

enum gs_cull_mode device_get_cull_mode(const gs_device_t *device)
{
    return device->cullMode;
}

void device_enable_blending(gs_device_t *, bool) { }
void device_enable_depth_test(gs_device_t *, bool) { }
void device_enable_stencil_test(gs_device_t *, bool) { }
void device_enable_stencil_write(gs_device_t *, bool) { }
void device_enable_color(gs_device_t *, bool, bool, bool, bool) { }
void device_blend_function(gs_device_t *, enum gs_blend_type, enum gs_blend_type) { }
void device_blend_function_separate(gs_device_t *, enum gs_blend_type, enum gs_blend_type,
                                    enum gs_blend_type, enum gs_blend_type)
{ }
void device_blend_op(gs_device_t *, enum gs_blend_op_type) { }
void device_depth_function(gs_device_t *, enum gs_depth_test) { }
void device_stencil_function(gs_device_t *, enum gs_stencil_side, enum gs_depth_test) { }
void device_stencil_op(gs_device_t *, enum gs_stencil_side, enum gs_stencil_op_type,
                       enum gs_stencil_op_type, enum gs_stencil_op_type)
{ }

void device_set_viewport(gs_device_t *device, int x, int y, int width, int height)
{
    device->viewport = {x, y, width, height};
}

void device_get_viewport(const gs_device_t *device, struct gs_rect *rect)
{
    *rect = device->viewport;
}

void device_set_scissor_rect(gs_device_t *, const struct gs_rect *) { }
void device_ortho(gs_device_t *, float, float, float, float, float, float) { }
void device_frustum(gs_device_t *, float, float, float, float, float, float) { }
void device_projection_push(gs_device_t *) { }
void device_projection_pop(gs_device_t *) { }

bool device_nv12_available(gs_device_t *)
{
    return false;
}

bool device_p010_available(gs_device_t *)
{
    return false;
}

bool device_is_monitor_hdr(gs_device_t *, void *)
{
    return false;
}

void device_debug_marker_begin(gs_device_t *, const char *, const float[4]) { }
void device_debug_marker_end(gs_device_t *) { }

struct gs_texture *device_texture_create_from_dmabuf(gs_device_t *, unsigned int, unsigned int,
                                                     uint32_t, enum gs_color_format, uint32_t,
                                                     const int *, const uint32_t *,
                                                     const uint32_t *, const uint64_t *)
{
    return nullptr;
}

bool device_query_dmabuf_capabilities(gs_device_t *, enum gs_dmabuf_flags *, uint32_t **, size_t *)
{
    return false;
}

bool device_query_dmabuf_modifiers_for_format(gs_device_t *, uint32_t, uint64_t **, size_t *)
{
    return false;
}

struct gs_texture *device_texture_create_from_pixmap(gs_device_t *, uint32_t, uint32_t,
                                                     enum gs_color_format, uint32_t, void *)
{
    return nullptr;
}

// --- objects --------------------------------------------------------------------------------

void gs_swapchain_destroy(gs_swapchain_t *swapchain)
{
    delete swapchain;
}

void gs_texture_destroy(gs_texture_t *tex)
{
    delete tex;
}

uint32_t gs_texture_get_width(const gs_texture_t *tex)
{
    return tex->width;
}

uint32_t gs_texture_get_height(const gs_texture_t *tex)
{
    return tex->height;
}

enum gs_color_format gs_texture_get_color_format(const gs_texture_t *tex)
{
    return tex->format;
}

bool gs_texture_map(gs_texture_t *, uint8_t **, uint32_t *)
{
    return false;
}

void gs_texture_unmap(gs_texture_t *) { }

bool gs_texture_is_rect(const gs_texture_t *)
{
    return false;
}

void *gs_texture_get_obj(gs_texture_t *tex)
{
    return tex;
}

void gs_cubetexture_destroy(gs_texture_t *cubetex)
{
    delete cubetex;
}

uint32_t gs_cubetexture_get_size(const gs_texture_t *cubetex)
{
    return cubetex->width;
}

enum gs_color_format gs_cubetexture_get_color_format(const gs_texture_t *cubetex)
{
    return cubetex->format;
}

void gs_voltexture_destroy(gs_texture_t *voltex)
{
    delete voltex;
}

uint32_t gs_voltexture_get_width(const gs_texture_t *voltex)
{
    return voltex->width;
}

uint32_t gs_voltexture_get_height(const gs_texture_t *voltex)
{
    return voltex->height;
}

uint32_t gs_voltexture_get_depth(const gs_texture_t *voltex)
{
    return voltex->depth;
}

enum gs_color_format gs_voltexture_get_color_format(const gs_texture_t *voltex)
{
    return voltex->format;
}

void gs_stagesurface_destroy(gs_stagesurf_t *stagesurf)
{
    delete stagesurf;
}

uint32_t gs_stagesurface_get_width(const gs_stagesurf_t *stagesurf)
{
    return stagesurf->width;
}

uint32_t gs_stagesurface_get_height(const gs_stagesurf_t *stagesurf)
{
    return stagesurf->height;
}

enum gs_color_format gs_stagesurface_get_color_format(const gs_stagesurf_t *stagesurf)
{
    return stagesurf->format;
}

bool gs_stagesurface_map(gs_stagesurf_t *stagesurf, uint8_t **data, uint32_t *linesize)
{
    if (stagesurf->pixels.empty())
        return false;
    *data = stagesurf->pixels.data();
    *linesize = stagesurf->linesize;
    return true;
}

void gs_stagesurface_unmap(gs_stagesurf_t *) { }

void gs_zstencil_destroy(gs_zstencil_t *zstencil)
{
    delete zstencil;
}

void gs_samplerstate_destroy(gs_samplerstate_t *samplerstate)
{
    delete samplerstate;
}

void gs_vertexbuffer_destroy(gs_vertbuffer_t *vertbuffer)
{
    if (!vertbuffer)
        return;
    gs_vbdata_destroy(vertbuffer->data);
    delete vertbuffer;
}

void gs_vertexbuffer_flush(gs_vertbuffer_t *) { }
void gs_vertexbuffer_flush_direct(gs_vertbuffer_t *, const struct gs_vb_data *) { }

struct gs_vb_data *gs_vertexbuffer_get_data(const gs_vertbuffer_t *vertbuffer)
{
    return vertbuffer->data;
}

void gs_indexbuffer_destroy(gs_indexbuffer_t *indexbuffer)
{
    if (!indexbuffer)
        return;
    bfree(indexbuffer->indices);
    delete indexbuffer;
}

void gs_indexbuffer_flush(gs_indexbuffer_t *) { }
void gs_indexbuffer_flush_direct(gs_indexbuffer_t *, const void *) { }

void *gs_indexbuffer_get_data(const gs_indexbuffer_t *indexbuffer)
{
    return indexbuffer->indices;
}

size_t gs_indexbuffer_get_num_indices(const gs_indexbuffer_t *indexbuffer)
{
    return indexbuffer->count;
}

enum gs_index_type gs_indexbuffer_get_type(const gs_indexbuffer_t *indexbuffer)
{
    return indexbuffer->type;
}

void gs_timer_destroy(gs_timer_t *timer)
{
    delete timer;
}

void gs_timer_begin(gs_timer_t *) { }
void gs_timer_end(gs_timer_t *) { }

bool gs_timer_get_data(gs_timer_t *, uint64_t *)
{
    return false;
}

void gs_timer_range_destroy(gs_timer_range_t *range)
{
    delete range;
}

void gs_timer_range_begin(gs_timer_range_t *) { }
void gs_timer_range_end(gs_timer_range_t *) { }

bool gs_timer_range_get_data(gs_timer_range_t *, bool *, uint64_t *)
{
    return false;
}

void gs_shader_destroy(gs_shader_t *shader)
{
    delete shader;
}

int gs_shader_get_num_params(const gs_shader_t *)
{
    return 0;
}

gs_sparam_t *gs_shader_get_param_by_idx(gs_shader_t *, uint32_t)
{
    return nullptr;
}

gs_sparam_t *gs_shader_get_param_by_name(gs_shader_t *shader, const char *)
{
    return &shader->param;
}

gs_sparam_t *gs_shader_get_viewproj_matrix(const gs_shader_t *shader)
{
    return const_cast<gs_sparam_t *>(&shader->param);
}

gs_sparam_t *gs_shader_get_world_matrix(const gs_shader_t *shader)
{
    return const_cast<gs_sparam_t *>(&shader->param);
}

void gs_shader_get_param_info(const gs_sparam_t *, struct gs_shader_param_info *info)
{
    info->type = GS_SHADER_PARAM_UNKNOWN;
    info->name = "";
}

void gs_shader_set_bool(gs_sparam_t *, bool) { }
void gs_shader_set_float(gs_sparam_t *, float) { }
void gs_shader_set_int(gs_sparam_t *, int) { }
void gs_shader_set_matrix3(gs_sparam_t *, const struct matrix3 *) { }
void gs_shader_set_matrix4(gs_sparam_t *, const struct matrix4 *) { }
void gs_shader_set_vec2(gs_sparam_t *, const struct vec2 *) { }
void gs_shader_set_vec3(gs_sparam_t *, const struct vec3 *) { }
void gs_shader_set_vec4(gs_sparam_t *, const struct vec4 *) { }
void gs_shader_set_texture(gs_sparam_t *, gs_texture_t *) { }
void gs_shader_set_val(gs_sparam_t *, const void *, size_t) { }
void gs_shader_set_default(gs_sparam_t *) { }
void gs_shader_set_next_sampler(gs_sparam_t *, gs_samplerstate_t *) { }

} // extern "C"
