// The main window's caption and its version text.
#pragma once

#include <optional>
#include <string>

#include "platform/executable_info.h"

namespace logvane {

inline constexpr char kConfiguredCaption[] = "Zentro Logvane";

// Major "." minor followed directly by the release, in decimal; the build
// number is not shown: 1.0.4.0 gives "1.04". Two blanks when there is no
// version.
std::string VersionText(const std::optional<platform::TFileVersion>& version);

// `caption` + " v" + `version_text` + ", ADIF Spec v1.00".
std::string CaptionWithVersion(const std::string& caption, const std::string& version_text);

// The caption of the running program after its window was activated, from
// the running executable's own version block: "Zentro Logvane v1.04, ADIF
// Spec v1.00". A program that links the generated version object carries
// the block (see app/CMakeLists.txt); one that does not gets the two blanks.
std::string ProgramCaption();

}  // namespace logvane
