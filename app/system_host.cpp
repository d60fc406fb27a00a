#include "app/system_host.h"

#include "platform/file.h"

namespace logvane {

std::string TSystemHost::ExecutablePath() const { return platform::ExecutablePath(); }

std::optional<platform::TFileVersion> TSystemHost::ExecutableFileVersion() const {
  auto block = platform::ReadVersionBlock(platform::ExecutablePath());
  if (!block) return std::nullopt;
  return block->file_version;
}

bool TSystemHost::FileExists(const std::string& path) const { return platform::FileExists(path); }

}  // namespace logvane
