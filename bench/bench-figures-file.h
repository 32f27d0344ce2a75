#pragma once

#include "bench-figures.h"

#include <optional>

// One run's figures kept in a file, for a table of runs made in different sessions.
namespace BenchFiguresFile {

bool save(const BenchFigures &figures, const QString &path);
std::optional<BenchFigures> load(const QString &path);

} // namespace BenchFiguresFile
