#include "sc-obs-wrapper.h"

#include "sc-obs-wrapper-internal.h"

#include <QDebug>
#include <QFileInfo>

#include <algorithm>

// Starting, pausing and stopping a recording, and how its end is learnt from libobs.

using namespace ObsEngine;

int ObsWrapper::startRecording()
{
    emit recordStatusChanged(0);
    qDebug() << "Starting recording...";
    logger()->info(QStringLiteral("Recording to %1 (format %2)").arg(m_outputFile, m_outputFormat));

    const bool composeFree = m_composeFree && m_output;
    const bool started = m_output && prepareCanvas(composeFree) && obs_output_start(m_output);
    if (started) {
        qDebug() << "Recording started successfully";
        m_stopConnection.Connect(obs_output_get_signal_handler(m_output), "stop",
                                 outPutStopedCallback, this);
        m_pictureLostConnection.Connect(
                obs_output_get_signal_handler(m_output), "picture_lost",
                [](void *data, calldata_t *) {
                    auto *self = static_cast<ObsWrapper *>(data);
                    QMetaObject::invokeMethod(self, &ObsWrapper::screenCastEnded,
                                              Qt::QueuedConnection);
                },
                this);
        m_liveOutput = m_output.Get();
        m_recording = true;
        m_paused = false;
        m_recordClock.start();
        m_laggedAtStart = obs_get_lagged_frames();
        m_readingScreen = composeFree && screenReadOffered();
        const QRect area = screenArea();
        m_areaWidthAtStart = area.width();
        m_areaHeightAtStart = area.height();
        return 0;
    }

    const char *lastError = m_output ? obs_output_get_last_error(m_output) : nullptr;
    const QString error = lastError && *lastError
            ? QString::fromUtf8(lastError)
            : (m_output ? QStringLiteral("No error message")
                        : QStringLiteral("No output configured"));
    qDebug().noquote() << "Failed to start recording. Error:" << error;
    logger()->error(QStringLiteral("Failed to start recording %1: %2").arg(m_outputFile, error));
    enterIdle();
    emit recordStatusChanged(2);
    emit recordingFailed(error);
    return -1;
}

int ObsWrapper::pauseRecording()
{
    return setPaused(!m_paused);
}

int ObsWrapper::setPaused(bool paused)
{
    if (!m_recording)
        return -1;
    if (paused == m_paused)
        return 0;
    // libobs refuses while the output is still starting or already ending; the state the
    // controls show must stay the one the file has.
    if (!obs_output_pause(m_output, paused)) {
        logger()->warning(
                QStringLiteral("The recording could not be %1")
                        .arg(paused ? QStringLiteral("paused") : QStringLiteral("resumed")));
        return -1;
    }
    m_paused = paused;
    logger()->info(paused ? QStringLiteral("Recording paused")
                          : QStringLiteral("Recording resumed"));
    emit recordStatusChanged(m_paused ? 1 : 0);
    return 0;
}

int ObsWrapper::stopRecording(bool force)
{
    m_pictureLostConnection.Disconnect();
    if (m_output) {
        // Its end report may still be on the way even when libobs calls it inactive.
        const bool active = obs_output_active(m_output) || m_recording.load();
        if (active) {
            auto stopping = std::make_unique<StoppingOutput>();
            stopping->output = m_output;
            stopping->stopSignal = std::move(m_stopConnection);
            stopping->file = m_outputFile;
            stopping->format = m_outputFormat;
            stopping->elapsedMs = m_recordClock.elapsed();
            m_stoppingOutputs.push_back(std::move(stopping));
        }
        m_liveOutput = nullptr;
        if (force)
            obs_output_force_stop(m_output);
        else
            obs_output_stop(m_output);
        m_output = nullptr;
    }
    m_recording = false;
    m_paused = false;
    m_readingScreen = false;
    return 0;
}

void ObsWrapper::outPutStopedCallback(void *data, calldata_t *params)
{
    auto *wrapper = static_cast<ObsWrapper *>(data);
    if (!wrapper)
        return;
    auto *output = static_cast<obs_output_t *>(calldata_ptr(params, "output"));
    const int code = static_cast<int>(calldata_int(params, "code"));
    QString error;
    int dropped = 0;
    int total = 0;
    if (output) {
        const char *lastError = obs_output_get_last_error(output);
        if (lastError)
            error = QString::fromUtf8(lastError);
        dropped = obs_output_get_frames_dropped(output);
        total = obs_output_get_total_frames(output);
        // Pictures read from the screen never pass through libobs: the output counts them.
        calldata_t written;
        calldata_init(&written);
        if (proc_handler_call(obs_output_get_proc_handler(output), "get_written_frames", &written))
            total = std::max(total, int(calldata_int(&written, "frames")));
        calldata_free(&written);
    }
    // libobs counts lagged frames for the whole session: report this recording's share.
    const quint32 lagged = obs_get_lagged_frames() - wrapper->m_laggedAtStart.load();
    // An earlier file that ends while the next recording runs must not end that one.
    obs_output_t *live = output;
    if (wrapper->m_liveOutput.compare_exchange_strong(live, nullptr))
        wrapper->m_recording = false;
    // Widgets and the holders live on the GUI thread; finish there.
    QMetaObject::invokeMethod(
            wrapper,
            [wrapper, output, code, error, dropped, total, lagged]() {
                wrapper->onOutputStopped(output, code, error, dropped, total, lagged);
            },
            Qt::QueuedConnection);
}

void ObsWrapper::onOutputStopped(obs_output_t *output, int code, const QString &error, int dropped,
                                 int total, quint32 lagged)
{
    QString file;
    QString format;
    qint64 elapsedMs = 0;
    auto it = std::find_if(m_stoppingOutputs.begin(), m_stoppingOutputs.end(),
                           [output](const auto &s) { return s->output == output; });
    if (it != m_stoppingOutputs.end()) {
        file = (*it)->file;
        format = (*it)->format;
        elapsedMs = (*it)->elapsedMs;
        m_stoppingOutputs.erase(it);
    } else if (m_output == output) {
        // Ended by itself (an error while recording): the output stays until the next set-up.
        file = m_outputFile;
        format = m_outputFormat;
        elapsedMs = m_recordClock.elapsed();
        m_stopConnection.Disconnect();
        m_pictureLostConnection.Disconnect();
        m_readingScreen = false;
    }
    enterIdle();
    // Every report belongs to a started recording: never swallow its end.
    logRecordingEnd(file, format, code, error, elapsedMs, dropped, total, lagged);
    emit recordStatusChanged(2);
    if (code != OBS_OUTPUT_SUCCESS) {
        emit recordingFailed(
                error.isEmpty() ? QStringLiteral("Recording ended with error code %1").arg(code)
                                : error);
    }
}

void ObsWrapper::logRecordingEnd(const QString &file, const QString &format, int code,
                                 const QString &error, qint64 elapsedMs, int dropped, int total,
                                 quint32 lagged)
{
    const QFileInfo info(file);
    // The frames written give the file's length; audio-only files have none.
    double seconds = double(elapsedMs) / 1000.0;
    if (total > 0 && m_canvas.fps_num > 0)
        seconds = double(total) * m_canvas.fps_den / m_canvas.fps_num;
    const QString line
            = QStringLiteral("Recording stopped: %1, format %2, size %3 bytes, duration %4 s, "
                             "frames %5, dropped %6, lagged %7, code %8")
                      .arg(file, format)
                      .arg(info.exists() ? info.size() : -1)
                      .arg(seconds, 0, 'f', 2)
                      .arg(total)
                      .arg(dropped)
                      .arg(lagged)
                      .arg(code);
    if (code == OBS_OUTPUT_SUCCESS)
        logger()->info(line);
    else
        logger()->error(line + QStringLiteral(", error: ") + error);
}
