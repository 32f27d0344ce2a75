#pragma once

#include "sc-media-trimmer.h"

// The re-encoding cut, for an exact start and for formats that cannot be copied. Writes
// `partPath`; the caller names or removes it.
namespace SCMediaReencode {

SCMediaTrimResult run(const SCMediaTrimRequest &request, const QString &partPath,
                      const std::function<void(int)> &progress, const std::atomic<bool> &cancel);

} // namespace SCMediaReencode
