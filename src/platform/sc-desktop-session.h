#pragma once

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

} // namespace SCDesktopSession
