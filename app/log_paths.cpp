// The log's name: the last component of the log folder.
#include "app/log_paths.h"

namespace logvane {

std::string LogNameFromFolder(const std::string& log_folder) {
  // From the second-to-last character backwards; the last is never looked
  // at, so a trailing separator does not end the scan.
  for (size_t i = log_folder.size() >= 2 ? log_folder.size() - 1 : 0; i-- > 0;) {
    if (log_folder[i] == kPathSeparator) return log_folder.substr(i + 1);
  }
  return log_folder;
}

bool IsUsableLogName(const std::string& log_name) {
  return !log_name.empty() && log_name.find(kPathSeparator) == std::string::npos;
}

std::string OutputPathFor(const std::string& log_folder, const std::string& log_name) {
  return log_folder + kPathSeparator + log_name + ".ADI";
}

}  // namespace logvane
