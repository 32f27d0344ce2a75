#pragma once

#include <QString>
#include <functional>

class QWidget;

// "Show in Folder": the desktop's file manager shows the file selected.
namespace SCFileReveal {

inline const QString SERVICE = QStringLiteral("org.freedesktop.FileManager1");
inline const QString PATH = QStringLiteral("/org/freedesktop/FileManager1");
inline const QString INTERFACE = QStringLiteral("org.freedesktop.FileManager1");

// Asks the file manager over the session bus, without waiting for it. Where none answers
// (no bus, service unknown, an error or no reply in time), the file's folder is opened with
// the desktop's default handler instead; if that fails too, the person is told over `parent`.
// `done` learns which of the two happened: true when the file manager took the request.
void showInFolder(const QString &filePath, QWidget *parent = nullptr,
                  std::function<void(bool)> done = {});

} // namespace SCFileReveal
