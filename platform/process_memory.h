// The process's resident memory, for benchmarks: the peak since the last
// reset, a reset of that peak, and the private part of it.
#pragma once

#include <cstdint>

namespace logvane::platform {

// Peak resident set size in bytes (0 when unknown).
int64_t PeakResidentBytes();
// The private (anonymous) part of the resident set now, in bytes: what the
// process allocated itself, without the pages of files it maps (0 when
// unknown).
int64_t PrivateResidentBytes();
// Starts a new peak at the current resident size (a no-op where the system
// cannot do that; the peak is then the process's lifetime peak).
void ResetPeakResident();

}  // namespace logvane::platform
