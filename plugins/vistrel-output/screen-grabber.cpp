#include "screen-grabber.h"

#include "pointer-effects-painter.h"

#include <util/platform.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xfixes.h>

#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

// Xlib's default answer to an error is to end the process, which would end a recording when
// the screen shrinks under its area. Errors on the grabbers' own connections are counted
// instead; everyone else's go to the handler that was there before.
std::mutex g_displaysMutex;
std::vector<Display *> g_displays;
std::atomic<int> g_errors {0};
XErrorHandler g_previousHandler = nullptr;
XIOErrorHandler g_previousIoHandler = nullptr;

bool watched(Display *display)
{
    std::lock_guard<std::mutex> lock(g_displaysMutex);
    return std::find(g_displays.begin(), g_displays.end(), display) != g_displays.end();
}

int noteError(Display *display, XErrorEvent *event)
{
    if (watched(display)) {
        ++g_errors;
        return 0;
    }
    return g_previousHandler ? g_previousHandler(display, event) : 0;
}

// The server went away under a grabber: its connection's exit handler marks it lost, and the
// recording finishes its file. The default handler would end the process here and now.
int noteConnectionLoss(Display *display)
{
    if (watched(display))
        return 0;
    return g_previousIoHandler ? g_previousIoHandler(display) : 0;
}

void watchErrors(Display *display, bool watch)
{
    std::lock_guard<std::mutex> lock(g_displaysMutex);
    if (watch) {
        static std::once_flag installed;
        std::call_once(installed, [] {
            g_previousHandler = XSetErrorHandler(noteError);
            g_previousIoHandler = XSetIOErrorHandler(noteConnectionLoss);
        });
        g_displays.push_back(display);
    } else {
        g_displays.erase(std::remove(g_displays.begin(), g_displays.end(), display),
                         g_displays.end());
    }
}

} // namespace

struct ScreenGrabber::Connection
{
    Display *display = nullptr;
    Window root = 0;
    XImage *image = nullptr;
    XShmSegmentInfo segment {};
    bool attached = false;
    bool fixes = false;
    std::atomic<bool> lost {false};

    void releaseImage()
    {
        if (attached) {
            XShmDetach(display, &segment);
            XSync(display, False);
        }
        attached = false;
        if (image) {
            image->data = nullptr;
            XDestroyImage(image);
            image = nullptr;
        }
        if (segment.shmaddr && segment.shmaddr != reinterpret_cast<char *>(-1))
            shmdt(segment.shmaddr);
        segment = {};
    }

    ~Connection()
    {
        releaseImage();
        if (display) {
            XCloseDisplay(display);
            watchErrors(display, false);
        }
    }
};

ScreenGrabber::ScreenGrabber() = default;

ScreenGrabber::~ScreenGrabber() = default;

bool ScreenGrabber::open(const Area &area, int pictureWidth, int pictureHeight, bool drawPointer,
                         PictureFormat format)
{
    m_x.reset();
    m_bgrx = format == PictureFormat::Bgrx;
    m_area = area;
    m_firstWidth = area.width;
    m_firstHeight = area.height;
    m_pictureWidth = pictureWidth;
    m_pictureHeight = pictureHeight;
    m_drawPointer = drawPointer;
    auto x = std::make_unique<Connection>();

    x->display = XOpenDisplay(nullptr);
    if (!x->display) {
        m_error = "the X display cannot be opened";
        return false;
    }
    watchErrors(x->display, true);
    // Xlib's default is to end the process when the server goes away; the recording must
    // get to finish its file instead.
    XSetIOErrorExitHandler(
            x->display,
            [](Display *, void *connection) { static_cast<Connection *>(connection)->lost = true; },
            x.get());
    if (!XShmQueryExtension(x->display)) {
        m_error = "the X server offers no shared memory";
        return false;
    }
    x->root = DefaultRootWindow(x->display);
    if (pictureWidth <= 0 || pictureHeight <= 0) {
        m_error = "no picture size";
        return false;
    }
    if (!createImage(*x, area.width, area.height) || !chooseConverter(area.width, area.height))
        return false;

    int eventBase = 0;
    int errorBase = 0;
    x->fixes = XFixesQueryExtension(x->display, &eventBase, &errorBase);

    m_x = std::move(x);
    m_error.clear();
    return true;
}

bool ScreenGrabber::createImage(Connection &x, int width, int height)
{
    XWindowAttributes root {};
    XGetWindowAttributes(x.display, x.root, &root);
    const Area &area = m_area;
    if (width <= 0 || height <= 0 || area.x < 0 || area.y < 0 || area.x + width > root.width
        || area.y + height > root.height) {
        m_error = "the area " + std::to_string(width) + "x" + std::to_string(height) + " at "
                + std::to_string(area.x) + "," + std::to_string(area.y)
                + " is not inside the screen";
        return false;
    }

    const int screen = DefaultScreen(x.display);
    x.image = XShmCreateImage(x.display, DefaultVisual(x.display, screen),
                              (unsigned)DefaultDepth(x.display, screen), ZPixmap, nullptr,
                              &x.segment, (unsigned)width, (unsigned)height);
    // The converter reads blue, green, red and a spare byte from each pixel.
    if (!x.image || x.image->bits_per_pixel != 32 || x.image->byte_order != LSBFirst
        || x.image->red_mask != 0xff0000 || x.image->green_mask != 0xff00
        || x.image->blue_mask != 0xff) {
        m_error = "the screen's pixel layout is not 32-bit BGRX";
        return false;
    }

    const size_t bytes = (size_t)x.image->bytes_per_line * (size_t)height;
    x.segment.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (x.segment.shmid < 0) {
        m_error = "no shared memory segment of " + std::to_string(bytes) + " bytes";
        return false;
    }
    x.segment.shmaddr = static_cast<char *>(shmat(x.segment.shmid, nullptr, 0));
    x.segment.readOnly = False;
    x.image->data = x.segment.shmaddr;
    if (x.segment.shmaddr == reinterpret_cast<char *>(-1)) {
        shmctl(x.segment.shmid, IPC_RMID, nullptr);
        m_error = "the shared memory segment cannot be mapped";
        return false;
    }

    const int errorsBefore = g_errors.load();
    const bool attached = XShmAttach(x.display, &x.segment);
    XSync(x.display, False);
    // Marked for removal at once: the segment goes with the last user, even a killed one.
    shmctl(x.segment.shmid, IPC_RMID, nullptr);
    // a display on another machine refuses the attach
    if (!attached || g_errors.load() != errorsBefore) {
        m_error = "the X server cannot attach shared memory (a remote display?)";
        return false;
    }
    x.attached = true;
    return true;
}

bool ScreenGrabber::chooseConverter(int width, int height)
{
    const bool fit = width != m_firstWidth || height != m_firstHeight;
    if (m_converter.configure(width, height, AV_PIX_FMT_BGR0, m_pictureWidth, m_pictureHeight, fit,
                              m_bgrx ? PictureConverter::Target::Bgrx
                                     : PictureConverter::Target::I420))
        return true;
    m_error = m_converter.errorMessage();
    return false;
}

bool ScreenGrabber::moveTo(const Area &area)
{
    if (!m_x)
        return false;
    if (area.width == m_area.width && area.height == m_area.height) {
        XWindowAttributes root {};
        XGetWindowAttributes(m_x->display, m_x->root, &root);
        if (area.x < 0 || area.y < 0 || area.x + area.width > root.width
            || area.y + area.height > root.height) {
            m_error = "the area is not inside the screen";
            return false;
        }
        m_area = area;
        return true;
    }
    const Area previous = m_area;
    m_x->releaseImage();
    m_area = area;
    if (createImage(*m_x, area.width, area.height) && chooseConverter(area.width, area.height))
        return true;
    // Back to what was read before, so that the recording goes on.
    const std::string error = m_error;
    m_x->releaseImage();
    m_area = previous;
    if (!createImage(*m_x, previous.width, previous.height)
        || !chooseConverter(previous.width, previous.height))
        m_x.reset();
    m_error = error;
    return false;
}

void ScreenGrabber::showPointerEffects(const EffectConfig &config)
{
    auto effects = std::make_unique<PointerEffectsPainter>();
    if (effects->start(config))
        m_effects = std::move(effects);
    else
        m_effects.reset();
}

bool ScreenGrabber::grab(AVFrame *picture)
{
    if (!m_x)
        return false;
    if (m_x->lost) {
        m_error = "the display is gone";
        return false;
    }
    if (!XShmGetImage(m_x->display, m_x->root, m_x->image, m_area.x, m_area.y, AllPlanes)) {
        m_error = "the screen could not be read";
        return false;
    }
    if (m_drawPointer && m_x->fixes)
        drawPointer();
    if (m_effects) {
        const BgrxPicture picture {reinterpret_cast<uint8_t *>(m_x->image->data),
                                   m_x->image->bytes_per_line, m_area.width, m_area.height};
        m_effects->paint(picture, m_area.x, m_area.y, double(os_gettime_ns()) / 1e9);
    }
    m_converter.convert(reinterpret_cast<const uint8_t *>(m_x->image->data),
                        m_x->image->bytes_per_line, picture);
    return true;
}

bool ScreenGrabber::displayLost() const
{
    return m_x && m_x->lost;
}

void ScreenGrabber::drawPointer()
{
    XFixesCursorImage *cursor = XFixesGetCursorImage(m_x->display);
    if (!cursor)
        return;
    const int left = cursor->x - cursor->xhot - m_area.x;
    const int top = cursor->y - cursor->yhot - m_area.y;
    const int x0 = std::max(0, -left);
    const int y0 = std::max(0, -top);
    const int x1 = std::min<int>(cursor->width, m_area.width - left);
    const int y1 = std::min<int>(cursor->height, m_area.height - top);
    const int stride = m_x->image->bytes_per_line;
    auto *pixels = reinterpret_cast<uint8_t *>(m_x->image->data);
    for (int y = y0; y < y1; ++y) {
        uint8_t *row = pixels + (size_t)(top + y) * (size_t)stride;
        for (int x = x0; x < x1; ++x) {
            // Xlib hands each premultiplied ARGB pixel over in a long.
            const auto argb = (uint32_t)cursor->pixels[(size_t)y * cursor->width + (size_t)x];
            const uint32_t alpha = argb >> 24;
            if (alpha == 0)
                continue;
            uint8_t *bgrx = row + (size_t)(left + x) * 4;
            for (int c = 0; c < 3; ++c) {
                const uint32_t src = (argb >> (8 * c)) & 0xff;
                bgrx[c] = (uint8_t)std::min<uint32_t>(255,
                                                      src + (bgrx[c] * (255 - alpha) + 127) / 255);
            }
        }
    }
    XFree(cursor);
}
