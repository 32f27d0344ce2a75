#pragma once

#include <QCameraDevice>
#include <QCameraFormat>
#include <QList>
#include <QString>
#include <QStringList>

// What Qt Multimedia can do here. Qt aborts the program when asked for devices without a
// backend, so everything that lists cameras asks through here first.
namespace SCMultimediaCheck {

// Whether a multimedia backend plug-in can be loaded; `reason` says what was looked for
// when none can.
bool backendAvailable(QString *reason = nullptr);
// The same, looked up once per run; the first look without a backend logs one line saying
// so and what to install.
bool backendUsable();
// The video inputs, or none when there is no backend.
QList<QCameraDevice> cameraDevices();

// Logs the Qt version, the plug-in folders and the devices with their formats. Touches no
// widget, so it may run on any thread.
void logDiagnostics(const QStringList &libraryPaths, const QList<QCameraDevice> &devices);

QString formatText(const QCameraFormat &format);

} // namespace SCMultimediaCheck
