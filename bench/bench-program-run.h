#pragma once

#include "bench-figures.h"

#include <QString>

// Records the whole screen with the built program itself, as a person does: its hotkey
// starts the recording and stops it. The processor time and memory are the program's whole
// process, from the recording's start to its file being complete.
class BenchProgramRun
{
public:
    // `home` is an empty folder for the program's settings, library, log and file.
    BenchFigures run(const QString &home, const BenchSetup &setup);
};
