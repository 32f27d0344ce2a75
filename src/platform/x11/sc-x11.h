#pragma once

#include <QByteArray>
#include <QPoint>
#include <QRect>

#include <cstdint>

struct xcb_connection_t;

// Access to the X server through the application's own connection.
namespace SCX11 {

// Null when the application does not run on X11.
xcb_connection_t *connection();
// True once the X server has gone away under the application.
bool connectionLost();
int screenNumber();
uint32_t rootWindow();
uint32_t atom(const char *name);
// Sends queued requests now, for those that must take effect before slow work follows.
void flush();

// Qt's logical coordinates <-> X11's device pixels on the primary screen.
qreal devicePixelRatio();
QRect toLogical(const QRect &device);
QPoint toDevice(const QPoint &logical);

} // namespace SCX11
