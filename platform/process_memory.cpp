// Resident memory from /proc/self/status; the peak is reset through
// /proc/self/clear_refs.
#include "platform/process_memory.h"

#include <fstream>
#include <string>

namespace logvane::platform {

int64_t PeakResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stoll(line.substr(6)) * 1024;
  }
  return 0;
}

void ResetPeakResident() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
}

}  // namespace logvane::platform
