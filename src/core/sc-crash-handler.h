#pragma once

#include <QString>

// Turns a fatal signal into a small report in the logs folder, then lets the process die
// by that signal. Everything the handler needs is prepared in initialize(), so the report
// is written even when the crash happened inside the allocator or by stack overflow.
class SCCrashHandler
{
public:
    SCCrashHandler() = delete;

    static void initialize();
    static void setDumpDirectory(const QString &directory);
    static QString dumpDirectory();

    static void crashHandler(int signal);
    // Writes a report with the given text under a fresh crash_ file name.
    static void writeCrashLog(const QString &text);

    // Rewrites one backtrace_symbols() line with its C++ name demangled, when it has one.
    // Allocates: never called while the allocator may be broken without a watchdog.
    static QByteArray demangleSymbolLine(const QByteArray &line);

private:
    static QString s_dumpDirectory;
};
