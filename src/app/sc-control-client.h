#pragma once

class SCCommandLine;

// The side of a second process: hands a command line's command to the running program over
// the session bus and reports the outcome the way scripts expect (the path on stdout, the
// reason on stderr, the exit status).
class SCControlClient
{
public:
    // True when the running program's control interface answers on the session bus.
    static bool isServiceRunning();
    // Waits until a program that is starting up has put its interface on the bus.
    static bool waitForService(int timeoutMs);
    // The exit status: 0 done, 1 refused or failed.
    static int send(const SCCommandLine &commandLine);
};
