#pragma once

#include <QProcess>
#include <QString>

#include <memory>

// Plays a sine into the session's sound server (`sink`, the default one when empty), after
// `silenceFirst` seconds of silence. The tone stops when the returned process goes.
std::unique_ptr<QProcess> playTone(double seconds, const QString &sink = QString(), int hz = 440,
                                   double silenceFirst = 0.0);
