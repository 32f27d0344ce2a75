#include "test-recording.h"

#include <chrono>

TestRecording::TestRecording(RecordFormat format, const QString &basePath, int width, int height)
    : m_file(basePath + "." + ObsTestSession::extension(format))
{
    obs_data_t *settings = ObsTestSession::settingsFor(format, basePath, width, height);
    m_output = obs_output_create("vistrel_output", "test_output", nullptr, nullptr);
    if (m_output) {
        obs_output_set_mixers(m_output, 1 | 2);
        obs_output_set_media(m_output, obs_get_video(), obs_get_audio());
        obs_output_update(m_output, settings);
        signal_handler_connect(obs_output_get_signal_handler(m_output), "stop",
                               &TestRecording::onStop, this);
    }
    obs_data_release(settings);
}

TestRecording::~TestRecording()
{
    release();
}

void TestRecording::release()
{
    if (!m_output)
        return;
    obs_output_t *output = m_output;
    m_output = nullptr;
    // destroying waits for the module to finish the file, and the stop signal may still come
    obs_output_release(output);
}

void TestRecording::onStop(void *data, calldata_t *params)
{
    auto *self = static_cast<TestRecording *>(data);
    std::lock_guard<std::mutex> lock(self->m_mutex);
    self->m_hasStopped = true;
    self->m_stopCode = (int)calldata_int(params, "code");
    const char *error = calldata_string(params, "last_error");
    self->m_stopError = error ? QString::fromUtf8(error) : QString();
    self->m_stopped.notify_all();
}

bool TestRecording::start()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_hasStopped = false;
    }
    return obs_output_start(m_output);
}

bool TestRecording::pause(bool paused)
{
    return obs_output_pause(m_output, paused);
}

void TestRecording::stop()
{
    obs_output_stop(m_output);
}

void TestRecording::forceStop()
{
    obs_output_force_stop(m_output);
}

bool TestRecording::waitStopped(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_stopped.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [this] { return m_hasStopped; });
}

int TestRecording::stopCode() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stopCode;
}

QString TestRecording::lastError() const
{
    if (m_output) {
        const char *error = obs_output_get_last_error(m_output);
        if (error && *error)
            return QString::fromUtf8(error);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stopError;
}
