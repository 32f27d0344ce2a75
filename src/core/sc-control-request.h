#pragma once

#include "sc-types.h"

#include <QRect>
#include <QString>
#include <QVariantMap>

// What the command line, the session bus and the tray ask the program to do. Each of them
// builds these values the same way, from a map of named options, and the main window carries
// them out through the paths its own buttons take.

namespace SCControlErrors {
// D-Bus error names of the control interface; their messages are for people.
inline const QString ALREADY_RECORDING
        = QStringLiteral("org.ombrant.Vistrel1.Error.AlreadyRecording");
inline const QString NOT_RECORDING = QStringLiteral("org.ombrant.Vistrel1.Error.NotRecording");
inline const QString INVALID_ARGUMENT
        = QStringLiteral("org.ombrant.Vistrel1.Error.InvalidArgument");
inline const QString NOT_SUPPORTED = QStringLiteral("org.ombrant.Vistrel1.Error.NotSupported");
inline const QString FAILED = QStringLiteral("org.ombrant.Vistrel1.Error.Failed");
inline const QString BUSY = QStringLiteral("org.ombrant.Vistrel1.Error.Busy");
inline const QString CANCELLED = QStringLiteral("org.ombrant.Vistrel1.Error.Cancelled");
inline const QString NOT_RUNNING = QStringLiteral("org.ombrant.Vistrel1.Error.NotRunning");
} // namespace SCControlErrors

struct SCControlError
{
    QString name; // one of SCControlErrors, empty for none
    QString message; // for people
    bool isError() const { return !name.isEmpty(); }
};

struct SCRecordingRequest
{
    enum class Area { Current, Full, Region, Window, LastRegion };

    Area area = Area::Current;
    QRect region; // logical pixels, for Area::Region
    bool hasFormat = false;
    OutputFormat format = OutputFormat::MP4;
    bool countdown = true;

    // Options "area" ("full", "region", "window", "last-region"), "region" ("X,Y,WxH"),
    // "format" ("MP4" ... "FLAC") and "countdown" (bool); unknown keys are refused.
    static SCRecordingRequest fromOptions(const QVariantMap &options, SCControlError *error);
};

struct SCScreenshotRequest
{
    enum class Mode { Full, Region, Window, LastRegion };

    Mode mode = Mode::Full;
    bool clipboard = false;
    QString path; // empty: the screenshot folder, named as usual
    int delay = 0; // seconds before the picture; the page's delay is for its own tiles

    static constexpr int MAX_DELAY = 60;

    // mode "full", "region", "window" or "last-region"; options "clipboard" (bool), "path"
    // (string) and "delay" (seconds, MAX_DELAY at most).
    static SCScreenshotRequest fromOptions(const QString &mode, const QVariantMap &options,
                                           SCControlError *error);
};

// "X,Y,WxH" in logical pixels; an empty rectangle when the text is not one.
QRect parseRegion(const QString &text);
