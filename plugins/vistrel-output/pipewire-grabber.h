#pragma once

#include "picture-converter.h"
#include "picture-grabber.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

// Reads the pictures of a desktop's screen-cast stream (a PipeWire video node that the
// screen-cast portal handed over) and puts the newest one, or a rectangle of it, into the
// file's picture. The stream's buffers are kept in shared memory by the desktop; the newest
// one is held until the next arrives, so nothing is copied before the conversion.
class PipeWireGrabber : public PictureGrabber
{
public:
    PipeWireGrabber();
    ~PipeWireGrabber() override;
    PipeWireGrabber(const PipeWireGrabber &) = delete;
    PipeWireGrabber &operator=(const PipeWireGrabber &) = delete;

    // fd: the portal's PipeWire connection (taken over: closed with the grabber, or at once
    // on failure). An empty area reads the whole stream. Waits up to timeoutMs for the first
    // picture. False, with the reason in errorMessage(), when none comes.
    bool open(int fd, uint32_t node, const Area &area, int pictureWidth, int pictureHeight,
              PictureFormat format, int timeoutMs = 5000);
    bool moveTo(const Area &area) override;
    // The desktop gives no pointer position to programs.
    void showPointerEffects(const EffectConfig &) override { }
    bool grab(AVFrame *picture) override;
    uint64_t pictureTime() const override { return m_pictureTime; }
    // The stream's picture size, known once open() succeeded.
    int streamWidth() const;
    int streamHeight() const;
    // True once the stream ended: the desktop stopped the sharing or the window closed.
    bool displayLost() const override { return m_lost; }

private:
    struct Stream;
    friend struct Stream;

    bool chooseConverter(const Area &area, int streamWidth, int streamHeight);

    std::unique_ptr<Stream> m_stream;
    PictureConverter m_converter;
    Area m_area;
    // What the converter was made for: the stream's size and the area inside it.
    int m_convertedStreamWidth = 0;
    int m_convertedStreamHeight = 0;
    int m_firstWidth = 0;
    int m_firstHeight = 0;
    int m_pictureWidth = 0;
    int m_pictureHeight = 0;
    bool m_bgrx = false;
    bool m_sizeChangeLogged = false;
    uint64_t m_pictureTime = 0;
    std::atomic<bool> m_lost {false};
};
