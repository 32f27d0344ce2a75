#include "sc-desktop-session.h"

#include <algorithm>
#include <cmath>

#include <QtGlobal>

namespace SCDesktopSession {

Kind detect()
{
    const QByteArray type = qgetenv("XDG_SESSION_TYPE").toLower();
    if (type == "wayland")
        return Kind::Wayland;
    if (type == "x11")
        return Kind::X11;
    return qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ? Kind::X11 : Kind::Wayland;
}

Kind current()
{
    static const Kind kind = detect();
    return kind;
}

bool isWayland()
{
    return current() == Kind::Wayland;
}

QString describe()
{
    const QString type = qEnvironmentVariable("XDG_SESSION_TYPE");
    const QString wayland = qEnvironmentVariable("WAYLAND_DISPLAY");
    const QString desktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    const QString display = qEnvironmentVariable("DISPLAY");
    return QStringLiteral("%1 session (XDG_SESSION_TYPE=%2, WAYLAND_DISPLAY=%3, DISPLAY=%4, "
                          "desktop %5)")
            .arg(isWayland() ? QStringLiteral("Wayland") : QStringLiteral("X11"),
                 type.isEmpty() ? QStringLiteral("-") : type,
                 wayland.isEmpty() ? QStringLiteral("-") : wayland,
                 display.isEmpty() ? QStringLiteral("-") : display,
                 desktop.isEmpty() ? QStringLiteral("-") : desktop);
}

QString chooseQtPlatform()
{
    if (!isWayland() || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return {};
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return {};
    qputenv("QT_QPA_PLATFORM", "xcb");
    return QStringLiteral("xcb");
}

qreal pictureScale(const QSize &device, const QSize &logical)
{
    if (logical.width() <= 0 || logical.height() <= 0)
        return 1.0;
    const qreal raw = std::min(qreal(device.width()) / logical.width(),
                               qreal(device.height()) / logical.height());
    const qreal snapped = std::round(raw * 120.0) / 120.0;
    return snapped > 0 && std::abs(snapped - raw) < 1.0 / 240.0 ? snapped : raw;
}

} // namespace SCDesktopSession
