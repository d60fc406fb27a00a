// The operating system behind the workflow's host port: the executable's
// path and version block, and file existence.
#pragma once

#include "app/workflow_ports.h"

namespace logvane {

class TSystemHost final : public TLogvaneHost {
 public:
  std::string ExecutablePath() const override;
  std::optional<platform::TFileVersion> ExecutableFileVersion() const override;
  bool FileExists(const std::string& path) const override;
};

}  // namespace logvane
