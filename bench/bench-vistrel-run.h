#pragma once

#include "bench-figures.h"

#include <QString>

// Records the whole screen through the engine, driven the way the main window drives it,
// and measures the process while it does.
class BenchVistrelRun
{
public:
    BenchFigures run(const QString &base, const BenchSetup &setup);
};
