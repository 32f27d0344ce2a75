#include "sc-x11.h"

#include <QGuiApplication>
#include <QHash>
#include <QScreen>

#include <X11/Xlib.h>
#include <xcb/xcb.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace SCX11 {

namespace {

QNativeInterface::QX11Application *x11()
{
    return qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
}

} // namespace

xcb_connection_t *connection()
{
    auto *native = x11();
    return native ? native->connection() : nullptr;
}

bool connectionLost()
{
    xcb_connection_t *c = connection();
    return c && xcb_connection_has_error(c) != 0;
}

int screenNumber()
{
    auto *native = x11();
    return native && native->display() ? DefaultScreen(native->display()) : 0;
}

uint32_t rootWindow()
{
    auto *native = x11();
    return native && native->display()
            ? static_cast<uint32_t>(RootWindow(native->display(), screenNumber()))
            : 0;
}

void flush()
{
    if (xcb_connection_t *c = connection())
        xcb_flush(c);
}

uint32_t atom(const char *name)
{
    // Atoms never change for the life of the server, so one round trip per name suffices.
    static QHash<QByteArray, uint32_t> cache;
    const QByteArray key(name);
    const auto it = cache.constFind(key);
    if (it != cache.constEnd())
        return *it;
    xcb_connection_t *c = connection();
    if (!c)
        return XCB_ATOM_NONE;
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
            c, xcb_intern_atom(c, false, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    if (!reply)
        return XCB_ATOM_NONE;
    const uint32_t result = reply->atom;
    std::free(reply);
    cache.insert(key, result);
    return result;
}

qreal devicePixelRatio()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->devicePixelRatio() : 1.0;
}

QRect toLogical(const QRect &device)
{
    const qreal ratio = devicePixelRatio();
    if (qFuzzyCompare(ratio, 1.0))
        return device;
    return QRect(qRound(device.x() / ratio), qRound(device.y() / ratio),
                 qRound(device.width() / ratio), qRound(device.height() / ratio));
}

QPoint toDevice(const QPoint &logical)
{
    const qreal ratio = devicePixelRatio();
    return QPoint(qRound(logical.x() * ratio), qRound(logical.y() * ratio));
}

} // namespace SCX11
