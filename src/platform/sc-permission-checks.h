#pragma once

#include <QString>
#include <QStringList>

// What the program needs from the desktop session. Linux asks no consent for any of it, so
// each check looks at whether the capability really works here.
namespace SCPermissionChecks {

enum class ScreenAccess {
    Full, // an X11 session: the whole screen can be captured
    Portal, // a Wayland session: the desktop shares screens and windows when asked
    NoPortal, // a Wayland session whose desktop offers no screen-cast portal
    None // no X11 display at all
};

ScreenAccess screenAccess();
// Whether a PulseAudio (or PipeWire-Pulse) server accepts a connection within the timeout.
bool soundServerReachable(int timeoutMs = 1000);
// Video device nodes this user cannot open; empty when all can be, or when there are none.
QStringList unreadableVideoDevices(const QString &devDir = QStringLiteral("/dev"));
// Whether a key can be grabbed on the X11 root window, as the global hotkeys do.
bool keyGrabPossible();

// Opens the desktop's settings for one area ("ScreenCapture", "Camera", "Microphone",
// "Accessibility") where the desktop has them, otherwise the help page about it.
void openSystemPreferences(const char *pane);

} // namespace SCPermissionChecks
