// Resident memory from /proc/self/status; the peak is reset through
// /proc/self/clear_refs.
#include "platform/process_memory.h"

#include <fstream>
#include <string>

namespace logvane::platform {

namespace {
// A "<key>  <n> kB" line of /proc/self/status in bytes.
int64_t StatusBytes(const char* key) {
  std::ifstream status("/proc/self/status");
  const std::string prefix = std::string(key) + ":";
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(prefix, 0) == 0) return std::stoll(line.substr(prefix.size())) * 1024;
  }
  return 0;
}
}  // namespace

int64_t PeakResidentBytes() { return StatusBytes("VmHWM"); }

int64_t PrivateResidentBytes() { return StatusBytes("RssAnon"); }

void ResetPeakResident() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
}

}  // namespace logvane::platform
