#pragma once

#include "sc-screen-cast-portal.h"

#include <QObject>
#include <QSize>

// One recording's share of the screen or of a window on a Wayland desktop, asked of the
// desktop once: the permission it grants is kept (its restore token in the settings) and
// handed back the next time, so that its dialog does not come again. GUI thread only.
class SCScreenShare : public QObject
{
    Q_OBJECT

public:
    enum class Kind { Screen, Window };
    using Status = SCScreenCastPortal::Status;

    explicit SCScreenShare(QObject *parent = nullptr);
    ~SCScreenShare() override;

    // Waits, with the event loop running, until the desktop answers (the person may be
    // looking at its dialog) or timeoutMs passes.
    Status open(Kind kind, bool showPointer, int timeoutMs = 180000);
    bool isOpen() const;
    // The PipeWire connection (kept here until close()), the stream's node and its size.
    int pipeWireFd() const { return m_fd; }
    quint32 node() const;
    QSize size() const;
    // The desktop's answer, for the log.
    QString detail() const;
    // Ends the sharing: the desktop's indicator goes away.
    void close();

    // "Forget screen-sharing permission": the next recording asks again.
    static void forgetPermissions();
    static bool hasPermissions();

Q_SIGNALS:
    // The desktop ended the sharing by itself (from its indicator, or the window closed).
    void ended();

private:
    SCScreenCastPortal *m_portal = nullptr;
    int m_fd = -1;
};
