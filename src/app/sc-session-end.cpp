#include "sc-session-end.h"

#include "sc-logger.h"
#include "sc-x11.h"

#include <QGuiApplication>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

std::atomic<bool> g_armed {false};
std::function<void()> g_finish;

void onExit()
{
    if (!g_armed.exchange(false))
        return;
    // Wayland's connection reports nothing here; its loss is what ends the loop there.
    const bool sessionGone
            = QGuiApplication::platformName() != QLatin1String("xcb") || SCX11::connectionLost();
    SCLogger *logger = SCLogger::instance();
    logger->warning(sessionGone
                            ? QStringLiteral("The desktop session ended (the display connection "
                                             "is gone): finishing the files being written")
                            : QStringLiteral("A library ended the program: finishing the files "
                                             "being written"));
    if (g_finish)
        g_finish();
    logger->info(QStringLiteral("Files finished, exiting"));
    fflush(stdout);
    fflush(stderr);
    _exit(sessionGone ? 0 : 1);
}

} // namespace

void SCSessionEnd::arm(std::function<void()> finish)
{
    g_finish = std::move(finish);
    g_armed = true;
    renew();
}

void SCSessionEnd::renew()
{
    if (g_armed)
        std::atexit(onExit);
}

void SCSessionEnd::disarm()
{
    g_armed = false;
}
