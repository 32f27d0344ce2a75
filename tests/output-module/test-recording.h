#pragma once

#include "obs-test-session.h"

#include <obs.h>

#include <QString>

#include <condition_variable>
#include <mutex>

// One output of the module under test, created the way the engine creates it.
class TestRecording
{
public:
    TestRecording(RecordFormat format, const QString &basePath, int width, int height);
    ~TestRecording();
    TestRecording(const TestRecording &) = delete;
    TestRecording &operator=(const TestRecording &) = delete;

    bool valid() const { return m_output != nullptr; }
    QString file() const { return m_file; }
    obs_output_t *output() const { return m_output; }

    bool start();
    bool pause(bool paused);
    void stop();
    void forceStop();
    // Drops the output the way the engine does right after stopping.
    void release();
    // A guard against hangs, not a speed check.
    bool waitStopped(int timeoutMs = 30000);
    int stopCode() const;
    QString lastError() const;

private:
    static void onStop(void *data, calldata_t *params);

    obs_output_t *m_output = nullptr;
    QString m_file;
    mutable std::mutex m_mutex;
    std::condition_variable m_stopped;
    bool m_hasStopped = false;
    int m_stopCode = 0;
    QString m_stopError;
};
