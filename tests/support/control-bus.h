#pragma once

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QString>

// The running program as its control interface on the session bus shows it.
namespace ControlBus {

inline const QString SERVICE = QStringLiteral("org.ombrant.Vistrel");
inline const QString PATH = QStringLiteral("/org/ombrant/Vistrel");
inline const QString INTERFACE = QStringLiteral("org.ombrant.Vistrel1");

inline bool serviceRunning()
{
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(SERVICE);
}

inline QString state()
{
    QDBusInterface control(SERVICE, PATH, INTERFACE);
    return control.property("State").toString();
}

} // namespace ControlBus
