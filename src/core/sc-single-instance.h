#pragma once

#include <QSharedMemory>

// Guards against a second running copy with a small shared block that holds the running
// instance's window handle and process id. A block left behind by a crashed instance is
// taken over instead of blocking every later start.
class SCSingleInstance
{
public:
    static inline const QString DEFAULT_KEY = QStringLiteral("OmbrantVistrelSingleInstance");

    struct Block
    {
        quint64 windowHandle = 0;
        qint64 processId = 0;
    };

    enum class Result {
        Created, // this process is the running instance
        TookOver, // the block belonged to a process that no longer runs
        AlreadyRunning, // another live instance holds the block; see runningInstance()
        Unguarded, // no block could be had; errorString() says why
    };

    explicit SCSingleInstance(const QString &key = DEFAULT_KEY);
    ~SCSingleInstance();

    Result acquire();
    Block runningInstance() const { return m_running; }
    bool isAttached() const { return m_memory.isAttached(); }
    bool store(const Block &block);
    void release();
    QString errorString() const { return m_memory.errorString(); }

    // True when pid names a live process running the same program as this one.
    static bool isInstanceAlive(qint64 pid);

private:
    bool read(Block &block);

    QSharedMemory m_memory;
    Block m_running;
};
