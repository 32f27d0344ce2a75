#include "pipewire-grabber.h"

#include <obs-module.h>
#include <util/platform.h>

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#define LOG_PREFIX "[vistrel-output] "

namespace {

AVPixelFormat pixelFormatOf(uint32_t format)
{
    switch (format) {
    case SPA_VIDEO_FORMAT_BGRx:
    case SPA_VIDEO_FORMAT_BGRA:
        return AV_PIX_FMT_BGR0;
    case SPA_VIDEO_FORMAT_RGBx:
    case SPA_VIDEO_FORMAT_RGBA:
        return AV_PIX_FMT_RGB0;
    default:
        return AV_PIX_FMT_NONE;
    }
}

} // namespace

struct PipeWireGrabber::Stream
{
    PipeWireGrabber *owner = nullptr;
    uint32_t node = 0;
    pw_thread_loop *loop = nullptr;
    pw_context *context = nullptr;
    pw_core *core = nullptr;
    pw_registry *registry = nullptr;
    pw_stream *stream = nullptr;
    spa_hook coreListener {};
    spa_hook registryListener {};
    spa_hook streamListener {};
    bool streamed = false;

    // Written on PipeWire's thread; the grab reads the held buffer under the same lock.
    std::mutex mutex;
    std::condition_variable arrived;
    spa_video_info_raw info {};
    AVPixelFormat format = AV_PIX_FMT_NONE;
    pw_buffer *held = nullptr;
    const uint8_t *pixels = nullptr;
    int stride = 0;
    // The part of the buffer that shows the picture: all of it, or what the desktop's crop
    // says (a window cast in a larger buffer).
    int width = 0;
    int height = 0;
    uint64_t arrival = 0;
    std::string failure;

    void markLost(const std::string &why)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (failure.empty())
                failure = why;
        }
        if (!owner->m_lost.exchange(true))
            blog(LOG_INFO, LOG_PREFIX "the screen-cast stream ended: %s", why.c_str());
        arrived.notify_all();
    }

    void formatChanged(const spa_pod *param)
    {
        uint32_t mediaType = 0;
        uint32_t mediaSubtype = 0;
        if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0
            || mediaType != SPA_MEDIA_TYPE_video || mediaSubtype != SPA_MEDIA_SUBTYPE_raw)
            return;
        spa_video_info_raw raw {};
        if (spa_format_video_raw_parse(param, &raw) < 0)
            return;
        {
            std::lock_guard<std::mutex> lock(mutex);
            info = raw;
            format = pixelFormatOf(raw.format);
        }
        blog(LOG_INFO, LOG_PREFIX "screen-cast stream: %ux%u, format %u, %u/%u per second",
             raw.size.width, raw.size.height, raw.format, raw.framerate.num, raw.framerate.denom);

        // Pictures in memory the program can map: a software path has nothing else to read.
        uint8_t buffer[1024];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
        const spa_pod *params[3];
        params[0] = static_cast<const spa_pod *>(spa_pod_builder_add_object(
                &builder, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers,
                SPA_PARAM_BUFFERS_dataType,
                SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd))));
        params[1] = static_cast<const spa_pod *>(spa_pod_builder_add_object(
                &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
                SPA_POD_Id(SPA_META_Header), SPA_PARAM_META_size,
                SPA_POD_Int(sizeof(spa_meta_header))));
        params[2] = static_cast<const spa_pod *>(spa_pod_builder_add_object(
                &builder, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta, SPA_PARAM_META_type,
                SPA_POD_Id(SPA_META_VideoCrop), SPA_PARAM_META_size,
                SPA_POD_Int(sizeof(spa_meta_region))));
        pw_stream_update_params(stream, params, 3);
    }

    void process()
    {
        // Only the newest picture matters; older ones go straight back.
        pw_buffer *newest = nullptr;
        while (pw_buffer *next = pw_stream_dequeue_buffer(stream)) {
            if (newest)
                pw_stream_queue_buffer(stream, newest);
            newest = next;
        }
        if (!newest)
            return;
        spa_buffer *buffer = newest->buffer;
        const spa_data &data = buffer->datas[0];
        auto *header = static_cast<spa_meta_header *>(
                spa_buffer_find_meta_data(buffer, SPA_META_Header, sizeof(spa_meta_header)));
        // An empty chunk only moves the pointer of a metadata cursor; the picture is the same.
        if (!data.data || !data.chunk || data.chunk->size == 0
            || (data.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED)
            || (header && (header->flags & SPA_META_HEADER_FLAG_CORRUPTED))) {
            pw_stream_queue_buffer(stream, newest);
            return;
        }
        pw_buffer *released = nullptr;
        {
            std::lock_guard<std::mutex> lock(mutex);
            const int fullWidth = (int)info.size.width;
            const int fullHeight = (int)info.size.height;
            int x = 0;
            int y = 0;
            int w = fullWidth;
            int h = fullHeight;
            auto *crop = static_cast<spa_meta_region *>(
                    spa_buffer_find_meta_data(buffer, SPA_META_VideoCrop, sizeof(spa_meta_region)));
            if (crop && spa_meta_region_is_valid(crop) && crop->region.position.x >= 0
                && crop->region.position.y >= 0
                && crop->region.position.x + (int)crop->region.size.width <= fullWidth
                && crop->region.position.y + (int)crop->region.size.height <= fullHeight) {
                x = crop->region.position.x;
                y = crop->region.position.y;
                w = (int)crop->region.size.width;
                h = (int)crop->region.size.height;
            }
            const int rowBytes = data.chunk->stride > 0 ? data.chunk->stride : fullWidth * 4;
            const uint64_t needed = (uint64_t)data.chunk->offset + (uint64_t)rowBytes * fullHeight;
            if (format == AV_PIX_FMT_NONE || w <= 0 || h <= 0 || needed > data.maxsize) {
                released = newest;
            } else {
                released = held;
                held = newest;
                stride = rowBytes;
                pixels = static_cast<const uint8_t *>(data.data) + data.chunk->offset
                        + (size_t)y * rowBytes + (size_t)x * 4;
                width = w;
                height = h;
                arrival = os_gettime_ns();
            }
        }
        if (released)
            pw_stream_queue_buffer(stream, released);
        arrived.notify_all();
    }

    void bufferRemoved(pw_buffer *buffer)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (held == buffer) {
            held = nullptr;
            pixels = nullptr;
        }
    }

    static void onParamChanged(void *data, uint32_t id, const spa_pod *param)
    {
        if (id == SPA_PARAM_Format && param)
            static_cast<Stream *>(data)->formatChanged(param);
    }
    static void onProcess(void *data) { static_cast<Stream *>(data)->process(); }
    static void onRemoveBuffer(void *data, pw_buffer *buffer)
    {
        static_cast<Stream *>(data)->bufferRemoved(buffer);
    }
    static void onStateChanged(void *data, pw_stream_state, pw_stream_state state,
                               const char *error)
    {
        auto *self = static_cast<Stream *>(data);
        if (state == PW_STREAM_STATE_STREAMING)
            self->streamed = true;
        else if (state == PW_STREAM_STATE_ERROR)
            self->markLost(error ? error : "stream error");
        else if (state == PW_STREAM_STATE_UNCONNECTED && self->streamed)
            self->markLost("disconnected");
    }
    static void onGlobalRemoved(void *data, uint32_t id)
    {
        auto *self = static_cast<Stream *>(data);
        if (id == self->node)
            self->markLost("the desktop removed its screen node");
    }
    static void onCoreError(void *data, uint32_t id, int, int res, const char *message)
    {
        if (id == PW_ID_CORE && res == -EPIPE)
            static_cast<Stream *>(data)->markLost(message ? message : "connection lost");
    }

    ~Stream()
    {
        if (loop)
            pw_thread_loop_lock(loop);
        if (stream) {
            spa_hook_remove(&streamListener);
            pw_stream_disconnect(stream);
            pw_stream_destroy(stream);
        }
        if (registry) {
            spa_hook_remove(&registryListener);
            pw_proxy_destroy(reinterpret_cast<pw_proxy *>(registry));
        }
        if (core) {
            spa_hook_remove(&coreListener);
            pw_core_disconnect(core);
        }
        if (loop) {
            pw_thread_loop_unlock(loop);
            pw_thread_loop_stop(loop);
        }
        if (context)
            pw_context_destroy(context);
        if (loop)
            pw_thread_loop_destroy(loop);
    }
};

PipeWireGrabber::PipeWireGrabber() = default;

PipeWireGrabber::~PipeWireGrabber() = default;

bool PipeWireGrabber::open(int fd, uint32_t node, const Area &area, int pictureWidth,
                           int pictureHeight, PictureFormat format, int timeoutMs)
{
    m_stream.reset();
    m_lost = false;
    m_bgrx = format == PictureFormat::Bgrx;
    m_pictureWidth = pictureWidth;
    m_pictureHeight = pictureHeight;
    if (fd < 0 || node == 0) {
        if (fd >= 0)
            ::close(fd);
        m_error = "no screen-cast stream was handed over";
        return false;
    }
    static std::once_flag initialised;
    std::call_once(initialised, [] { pw_init(nullptr, nullptr); });

    auto stream = std::make_unique<Stream>();
    stream->owner = this;
    stream->node = node;
    stream->loop = pw_thread_loop_new("vistrel-cast", nullptr);
    stream->context = stream->loop
            ? pw_context_new(pw_thread_loop_get_loop(stream->loop), nullptr, 0)
            : nullptr;
    if (!stream->context || pw_thread_loop_start(stream->loop) < 0) {
        ::close(fd);
        m_error = "PipeWire cannot be started in this process";
        return false;
    }

    static const pw_core_events coreEvents = [] {
        pw_core_events events {};
        events.version = PW_VERSION_CORE_EVENTS;
        events.error = Stream::onCoreError;
        return events;
    }();
    static const pw_registry_events registryEvents = [] {
        pw_registry_events events {};
        events.version = PW_VERSION_REGISTRY_EVENTS;
        events.global_remove = Stream::onGlobalRemoved;
        return events;
    }();
    static const pw_stream_events streamEvents = [] {
        pw_stream_events events {};
        events.version = PW_VERSION_STREAM_EVENTS;
        events.state_changed = Stream::onStateChanged;
        events.param_changed = Stream::onParamChanged;
        events.remove_buffer = Stream::onRemoveBuffer;
        events.process = Stream::onProcess;
        return events;
    }();

    pw_thread_loop_lock(stream->loop);
    // The core owns the descriptor from here on, also when the connection fails.
    stream->core = pw_context_connect_fd(stream->context, fd, nullptr, 0);
    bool connected = false;
    if (stream->core) {
        pw_core_add_listener(stream->core, &stream->coreListener, &coreEvents, stream.get());
        stream->registry = pw_core_get_registry(stream->core, PW_VERSION_REGISTRY, 0);
        if (stream->registry)
            pw_registry_add_listener(stream->registry, &stream->registryListener, &registryEvents,
                                     stream.get());
        stream->stream
                = pw_stream_new(stream->core, "Vistrel screen",
                                pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                                  "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    }
    if (stream->stream) {
        pw_stream_add_listener(stream->stream, &stream->streamListener, &streamEvents,
                               stream.get());
        uint8_t buffer[1024];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
        const spa_rectangle size {(uint32_t)std::max(1, pictureWidth),
                                  (uint32_t)std::max(1, pictureHeight)};
        const spa_rectangle smallest {1, 1};
        const spa_rectangle largest {16384, 16384};
        const spa_fraction rate {30, 1};
        const spa_fraction slowest {0, 1};
        const spa_fraction fastest {360, 1};
        const spa_pod *params[1];
        params[0] = static_cast<const spa_pod *>(spa_pod_builder_add_object(
                &builder, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
                SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
                SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
                SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx,
                                       SPA_VIDEO_FORMAT_BGRA, SPA_VIDEO_FORMAT_RGBx,
                                       SPA_VIDEO_FORMAT_RGBA),
                SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&size, &smallest, &largest),
                SPA_FORMAT_VIDEO_framerate,
                SPA_POD_CHOICE_RANGE_Fraction(&rate, &slowest, &fastest)));
        connected = pw_stream_connect(stream->stream, PW_DIRECTION_INPUT, node,
                                      static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT
                                                                   | PW_STREAM_FLAG_MAP_BUFFERS),
                                      params, 1)
                >= 0;
    }
    pw_thread_loop_unlock(stream->loop);
    if (!connected) {
        m_error = "the screen-cast stream cannot be connected";
        return false;
    }

    int width = 0;
    int height = 0;
    {
        std::unique_lock<std::mutex> lock(stream->mutex);
        const bool came = stream->arrived.wait_for(
                lock, std::chrono::milliseconds(timeoutMs),
                [this, &stream] { return stream->held || m_lost.load(); });
        if (!came || !stream->held) {
            m_error = !came ? "no picture came from the screen-cast stream in "
                            + std::to_string(timeoutMs) + " ms"
                            : "the screen-cast stream ended before its first picture ("
                            + stream->failure + ")";
            lock.unlock();
            return false;
        }
        width = stream->width;
        height = stream->height;
    }
    const Area whole {0, 0, width, height};
    const Area wanted = area.width > 0 && area.height > 0 ? area : whole;
    m_firstWidth = wanted.width;
    m_firstHeight = wanted.height;
    m_stream = std::move(stream);
    if (!chooseConverter(wanted, width, height)) {
        m_stream.reset();
        return false;
    }
    m_error.clear();
    return true;
}

bool PipeWireGrabber::chooseConverter(const Area &area, int streamWidth, int streamHeight)
{
    if (area.x < 0 || area.y < 0 || area.width <= 0 || area.height <= 0
        || area.x + area.width > streamWidth || area.y + area.height > streamHeight) {
        m_error = "the area " + std::to_string(area.width) + "x" + std::to_string(area.height)
                + " at " + std::to_string(area.x) + "," + std::to_string(area.y)
                + " is not inside the shared screen of " + std::to_string(streamWidth) + "x"
                + std::to_string(streamHeight);
        return false;
    }
    AVPixelFormat source = AV_PIX_FMT_NONE;
    {
        std::lock_guard<std::mutex> lock(m_stream->mutex);
        source = m_stream->format;
    }
    const bool fit = area.width != m_firstWidth || area.height != m_firstHeight;
    if (!m_converter.configure(
                area.width, area.height, source, m_pictureWidth, m_pictureHeight, fit,
                m_bgrx ? PictureConverter::Target::Bgrx : PictureConverter::Target::I420)) {
        m_error = m_converter.errorMessage();
        return false;
    }
    m_area = area;
    m_convertedStreamWidth = streamWidth;
    m_convertedStreamHeight = streamHeight;
    return true;
}

bool PipeWireGrabber::moveTo(const Area &area)
{
    if (!m_stream)
        return false;
    const Area previous = m_area;
    if (chooseConverter(area, m_convertedStreamWidth, m_convertedStreamHeight))
        return true;
    const std::string error = m_error;
    chooseConverter(previous, m_convertedStreamWidth, m_convertedStreamHeight);
    m_error = error;
    return false;
}

int PipeWireGrabber::streamWidth() const
{
    return m_convertedStreamWidth;
}

int PipeWireGrabber::streamHeight() const
{
    return m_convertedStreamHeight;
}

bool PipeWireGrabber::grab(AVFrame *picture)
{
    if (!m_stream)
        return false;
    if (m_lost) {
        m_error = "the screen-cast stream ended";
        return false;
    }
    std::unique_lock<std::mutex> lock(m_stream->mutex);
    if (!m_stream->held || !m_stream->pixels) {
        m_error = "the screen-cast stream has no picture now";
        return false;
    }
    const int width = m_stream->width;
    const int height = m_stream->height;
    if (width != m_convertedStreamWidth || height != m_convertedStreamHeight) {
        // A window that changed size: its whole picture is fitted into the file's.
        lock.unlock();
        if (!m_sizeChangeLogged) {
            m_sizeChangeLogged = true;
            blog(LOG_INFO, LOG_PREFIX "the shared picture is %dx%d now; fitted into the file",
                 width, height);
        }
        if (!chooseConverter({0, 0, width, height}, width, height))
            return false;
        lock.lock();
        if (!m_stream->held || m_stream->width != width || m_stream->height != height)
            return false;
    }
    const uint8_t *pixels
            = m_stream->pixels + (size_t)m_area.y * (size_t)m_stream->stride + (size_t)m_area.x * 4;
    m_converter.convert(pixels, m_stream->stride, picture);
    m_pictureTime = m_stream->arrival;
    return true;
}
