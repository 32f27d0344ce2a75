#include "sc-single-instance.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace {
constexpr int BLOCK_SIZE = 16;
}

SCSingleInstance::SCSingleInstance(const QString &key)
    : m_memory(key)
{
    static_assert(sizeof(Block) == BLOCK_SIZE, "the block layout is shared between processes");
}

SCSingleInstance::~SCSingleInstance()
{
    release();
}

bool SCSingleInstance::read(Block &block)
{
    if (!m_memory.lock())
        return false;
    memcpy(&block, m_memory.constData(), sizeof block);
    m_memory.unlock();
    return true;
}

bool SCSingleInstance::store(const Block &block)
{
    if (!m_memory.isAttached() || !m_memory.lock())
        return false;
    memcpy(m_memory.data(), &block, sizeof block);
    m_memory.unlock();
    return true;
}

SCSingleInstance::Result SCSingleInstance::acquire()
{
    const qint64 ownPid = QCoreApplication::applicationPid();

    if (m_memory.attach(QSharedMemory::ReadWrite)) {
        read(m_running);
        // A zero process id means the owner is still starting up: it counts as running.
        if (m_running.processId == 0 || isInstanceAlive(m_running.processId)) {
            m_memory.detach();
            return Result::AlreadyRunning;
        }
        // The owner died without detaching; keep the attachment and become the owner.
        store(Block {0, ownPid});
        m_running = Block {};
        return Result::TookOver;
    }

    if (!m_memory.create(BLOCK_SIZE, QSharedMemory::ReadWrite))
        return Result::Unguarded;
    // Our id goes in at once, so that a crash before start-up finishes leaves a block that
    // the next start can recognise as stale.
    store(Block {0, ownPid});
    return Result::Created;
}

void SCSingleInstance::release()
{
    if (m_memory.isAttached())
        m_memory.detach();
}

bool SCSingleInstance::isInstanceAlive(qint64 pid)
{
    if (pid <= 0 || pid == QCoreApplication::applicationPid())
        return false;
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM)
        return false;
    // A reused process id belongs to some other program.
    const QString exe = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
    const QString ownExe = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    if (exe.isEmpty() || ownExe.isEmpty())
        return true;
    return exe == ownExe;
}
