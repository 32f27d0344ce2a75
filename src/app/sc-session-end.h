#pragma once

#include <functional>

// When the desktop session ends, the X server or compositor goes away and Qt ends the process
// with exit() from inside the event loop, while libobs's threads still write files and the
// libraries' static objects are torn down under them. While armed, such an exit finishes the
// files first and then ends the process at once with status 0, leaving nothing to crash.
class SCSessionEnd
{
public:
    // `finish` must work without an event loop.
    static void arm(std::function<void()> finish);
    // Run again after loading libraries (libobs's modules): the hook then runs before their
    // static objects are destroyed.
    static void renew();
    // From here on an exit is the program's own.
    static void disarm();
};
