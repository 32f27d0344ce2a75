#include "sc-unix-signal-watcher.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int g_fds[2] = {-1, -1};
constexpr int WATCHED[] = {SIGTERM, SIGINT, SIGHUP, SIGUSR1};
} // namespace

SCUnixSignalWatcher::SCUnixSignalWatcher(QObject *parent)
    : QObject(parent)
{
    if (g_fds[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_fds) != 0)
        return;
    m_notifier = new QSocketNotifier(g_fds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SCUnixSignalWatcher::onReadable);

    struct sigaction action
    {
    };
    action.sa_handler = &SCUnixSignalWatcher::handler;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int sig : WATCHED)
        sigaction(sig, &action, nullptr);
}

SCUnixSignalWatcher::~SCUnixSignalWatcher()
{
    if (!m_notifier)
        return;
    for (int sig : WATCHED)
        ::signal(sig, SIG_DFL);
    // A second start that finds this instance while it ends must not end it by the default.
    ::signal(SIGUSR1, SIG_IGN);
    ::close(g_fds[0]);
    ::close(g_fds[1]);
    g_fds[0] = g_fds[1] = -1;
}

void SCUnixSignalWatcher::handler(int signal)
{
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_fds[0], &byte, 1);
}

void SCUnixSignalWatcher::onReadable()
{
    char byte = 0;
    if (::read(g_fds[1], &byte, 1) != 1)
        return;
    if (byte == SIGUSR1)
        Q_EMIT activationRequested();
    else
        Q_EMIT terminationRequested(byte);
}
