#pragma once

#include <QSize>
#include <QString>

// Which kind of desktop session the program runs in, found once at start. On Wayland the
// screen is read only through the desktop's screen-cast portal, whatever Qt runs on.
namespace SCDesktopSession {

enum class Kind { X11, Wayland };

// From XDG_SESSION_TYPE, else from WAYLAND_DISPLAY; X11 when neither says Wayland.
Kind detect();
Kind current();
bool isWayland();
// "X11" or "Wayland (…)" with what the environment said, for the log.
QString describe();
// Before the QApplication exists: a Wayland session runs the windows through XWayland,
// where windows can be placed, kept above others and read by the X11 code, unless the
// person chose Qt's platform. Returns the platform chosen, or an empty string.
QString chooseQtPlatform();
// The scale between a picture of the desktop's output (`device` pixels) and XWayland's size of
// it (`logical`). Compositors scale in 120ths, and XWayland's logical size of a fractionally
// scaled output is rounded, a side even cut short (2560 x 1440 at 1.5 is 1704 x 960 under
// sway): the scale is the 120th nearest the smaller of the two sides' ratios.
qreal pictureScale(const QSize &device, const QSize &logical);

} // namespace SCDesktopSession
