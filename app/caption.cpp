// The caption's version text, from the executable's fixed file version.
#include "app/caption.h"

namespace logvane {

std::string VersionText(const std::optional<platform::TFileVersion>& version) {
  if (!version) return "  ";
  return std::to_string(version->major) + "." + std::to_string(version->minor) +
         std::to_string(version->release);
}

std::string CaptionWithVersion(const std::string& caption, const std::string& version_text) {
  return caption + " v" + version_text + ", ADIF Spec v1.00";
}

std::string ProgramCaption() {
  std::optional<platform::TFileVersion> version;
  if (auto block = platform::ReadVersionBlock(platform::ExecutablePath())) {
    version = block->file_version;
  }
  return CaptionWithVersion(kConfiguredCaption, VersionText(version));
}

}  // namespace logvane
