// The process's resident memory, for benchmarks: the peak since the last
// reset, and a reset of that peak.
#pragma once

#include <cstdint>

namespace logvane::platform {

// Peak resident set size in bytes (0 when unknown).
int64_t PeakResidentBytes();
// Starts a new peak at the current resident size (a no-op where the system
// cannot do that; the peak is then the process's lifetime peak).
void ResetPeakResident();

}  // namespace logvane::platform
