#include "sc-crash-handler.h"

#include <QDir>
#include <QStandardPaths>

#include <atomic>
#include <csignal>
#include <cstring>
#include <ctime>
#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <unistd.h>

QString SCCrashHandler::s_dumpDirectory;

namespace {

constexpr int FATAL_SIGNALS[] = {SIGSEGV, SIGABRT, SIGFPE, SIGILL, SIGBUS};
constexpr int MAX_FRAMES = 128;
// Seconds the demangling pass may take before the watchdog ends the process.
constexpr unsigned DEMANGLE_WATCHDOG_SECONDS = 2;

// Prepared at initialize(): the handler itself allocates nothing and takes no lock.
char g_directory[4096];
long g_utcOffsetSeconds = 0;
void *g_frames[MAX_FRAMES];
char g_line[4096];
char g_path[4200];
char g_partPath[4210];
alignas(16) char g_altStack[256 * 1024];
std::atomic<int> g_crashSignal {0};

// Minimal async-signal-safe text builder over a fixed buffer.
struct Writer
{
    char *buf;
    size_t cap;
    size_t len = 0;

    void add(const char *s)
    {
        while (s && *s && len + 1 < cap)
            buf[len++] = *s++;
        buf[len] = '\0';
    }
    void addN(const char *s, size_t n)
    {
        for (size_t i = 0; i < n && len + 1 < cap; ++i)
            buf[len++] = s[i];
        buf[len] = '\0';
    }
    void addUnsigned(unsigned long v, unsigned base = 10, int minDigits = 1)
    {
        char tmp[32];
        int n = 0;
        do {
            tmp[n++] = "0123456789abcdef"[v % base];
            v /= base;
        } while (v && n < 32);
        while (n < minDigits && n < 32)
            tmp[n++] = '0';
        while (n > 0 && len + 1 < cap)
            buf[len++] = tmp[--n];
        buf[len] = '\0';
    }
    void addInt(long v)
    {
        if (v < 0) {
            add("-");
            addUnsigned(static_cast<unsigned long>(-v));
        } else {
            addUnsigned(static_cast<unsigned long>(v));
        }
    }
    void addHex(uintptr_t v)
    {
        add("0x");
        addUnsigned(v, 16);
    }
};

void writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n <= 0)
            return;
        data += n;
        size -= static_cast<size_t>(n);
    }
}

// Days since 1970-01-01 to a civil date (Howard Hinnant's algorithm): no locale, no locks.
void civilFromDays(long z, long &y, unsigned &m, unsigned &d)
{
    z += 719468;
    const long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2)
        ++y;
}

// dumpDirectory + "/crash_yyyy-MM-dd_HH-mm-ss.log", local time.
void buildReportPath(Writer &w)
{
    const long now = static_cast<long>(time(nullptr)) + g_utcOffsetSeconds;
    long days = now / 86400;
    long secs = now % 86400;
    if (secs < 0) {
        secs += 86400;
        --days;
    }
    long year;
    unsigned month, day;
    civilFromDays(days, year, month, day);
    w.add(g_directory);
    w.add("/crash_");
    w.addInt(year);
    w.add("-");
    w.addUnsigned(month, 10, 2);
    w.add("-");
    w.addUnsigned(day, 10, 2);
    w.add("_");
    w.addUnsigned(static_cast<unsigned long>(secs / 3600), 10, 2);
    w.add("-");
    w.addUnsigned(static_cast<unsigned long>(secs / 60 % 60), 10, 2);
    w.add("-");
    w.addUnsigned(static_cast<unsigned long>(secs % 60), 10, 2);
    w.add(".log");
}

// The line backtrace_symbols() would give, built with dladdr() instead so that nothing
// is allocated: "file(symbol+0xoff) [0xaddr]".
void describeFrame(void *address, Writer &w)
{
    Dl_info info;
    if (dladdr(address, &info) && info.dli_fname) {
        w.add(info.dli_fname);
        w.add("(");
        const auto addr = reinterpret_cast<uintptr_t>(address);
        if (info.dli_sname) {
            w.add(info.dli_sname);
            w.add("+");
            w.addHex(addr - reinterpret_cast<uintptr_t>(info.dli_saddr));
        } else {
            w.add("+");
            w.addHex(addr - reinterpret_cast<uintptr_t>(info.dli_fbase));
        }
        w.add(") [");
        w.addHex(addr);
        w.add("]");
    } else {
        w.add("[");
        w.addHex(reinterpret_cast<uintptr_t>(address));
        w.add("]");
    }
}

void writeReport(int fd, int sig, int frameCount, bool demangle)
{
    Writer header {g_line, sizeof g_line};
    header.add("Crash detected! Signal: ");
    header.addInt(sig);
    header.add("\n\nBacktrace:\n");
    writeAll(fd, g_line, header.len);

    for (int i = 0; i < frameCount; ++i) {
        Writer w {g_line, sizeof g_line};
        w.add("#");
        w.addInt(i);
        w.add(": ");
        const size_t symbolStart = w.len;
        describeFrame(g_frames[i], w);
        if (demangle) {
            const QByteArray line = SCCrashHandler::demangleSymbolLine(
                    QByteArray::fromRawData(g_line + symbolStart, w.len - symbolStart));
            w.len = symbolStart;
            w.addN(line.constData(), static_cast<size_t>(line.size()));
        }
        w.add("\n");
        writeAll(fd, g_line, w.len);
    }
}

[[noreturn]] void dieBy(int sig)
{
    ::signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(sig);
    // A signal that could not kill us (ignored by the parent?) still ends the process.
    _exit(128 + sig);
}

// Fires when demangling hangs (a crash inside the allocator holding its lock).
void watchdogHandler(int)
{
    ::unlink(g_partPath);
    dieBy(g_crashSignal.load());
}

void prepareDirectory(const QString &dir)
{
    QDir().mkpath(dir);
    const QByteArray encoded = QFile::encodeName(dir);
    const size_t n = std::min(static_cast<size_t>(encoded.size()), sizeof g_directory - 1);
    memcpy(g_directory, encoded.constData(), n);
    g_directory[n] = '\0';
}

} // namespace

void SCCrashHandler::initialize()
{
    if (s_dumpDirectory.isEmpty()) {
        s_dumpDirectory = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
                + QStringLiteral("/logs");
    }
    prepareDirectory(s_dumpDirectory);

    const time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    g_utcOffsetSeconds = local.tm_gmtoff;

    // backtrace() loads libgcc on first use, which allocates: do it now, not in the handler.
    void *warmUp[2];
    backtrace(warmUp, 2);

    // A stack overflow leaves no stack for the handler: give it its own.
    stack_t altStack {};
    altStack.ss_sp = g_altStack;
    altStack.ss_size = sizeof g_altStack;
    sigaltstack(&altStack, nullptr);

    struct sigaction action
    {
    };
    action.sa_handler = &SCCrashHandler::crashHandler;
    action.sa_flags = SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int sig : FATAL_SIGNALS)
        sigaction(sig, &action, nullptr);
}

void SCCrashHandler::setDumpDirectory(const QString &directory)
{
    s_dumpDirectory = directory;
    prepareDirectory(directory);
}

QString SCCrashHandler::dumpDirectory()
{
    return s_dumpDirectory;
}

QByteArray SCCrashHandler::demangleSymbolLine(const QByteArray &line)
{
    const int open = line.indexOf('(');
    if (open < 0)
        return line;
    const int plus = line.indexOf('+', open + 1);
    if (plus < 0 || plus == open + 1)
        return line;
    const QByteArray mangled = line.mid(open + 1, plus - open - 1);
    int status = -1;
    char *demangled = abi::__cxa_demangle(mangled.constData(), nullptr, nullptr, &status);
    if (status != 0 || !demangled) {
        free(demangled);
        return line;
    }
    QByteArray result = line.left(open + 1) + demangled + line.mid(plus);
    free(demangled);
    return result;
}

void SCCrashHandler::crashHandler(int sig)
{
    // A second thread crashing meanwhile waits for the first to end the process.
    int expected = 0;
    if (!g_crashSignal.compare_exchange_strong(expected, sig)) {
        for (;;)
            pause();
    }

    Writer path {g_path, sizeof g_path};
    buildReportPath(path);
    const int frameCount = backtrace(g_frames, MAX_FRAMES);
    // First a report that needs nothing but system calls, so that one always exists; then
    // a demangled one beside it that replaces it, under a watchdog since demangling
    // allocates and the allocator may be what crashed.
    const int fd = ::open(g_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        dieBy(sig);
    writeReport(fd, sig, frameCount, false);
    ::close(fd);

    Writer part {g_partPath, sizeof g_partPath};
    part.add(g_path);
    part.add(".part");
    const int partFd = ::open(g_partPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (partFd >= 0) {
        ::signal(SIGALRM, watchdogHandler);
        alarm(DEMANGLE_WATCHDOG_SECONDS);
        writeReport(partFd, sig, frameCount, true);
        alarm(0);
        ::close(partFd);
        ::rename(g_partPath, g_path);
    }
    dieBy(sig);
}

void SCCrashHandler::writeCrashLog(const QString &text)
{
    Writer path {g_path, sizeof g_path};
    buildReportPath(path);
    const int fd = ::open(g_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    const QByteArray utf8 = text.toUtf8();
    writeAll(fd, utf8.constData(), static_cast<size_t>(utf8.size()));
    ::close(fd);
}
