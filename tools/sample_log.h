// The bundled sample log: a small contest log made with the table writer,
// used by the README's first command and by end-to-end tests.
#pragma once

#include <string>

#include "tools/contact_log.h"

namespace logvane::tools {

// Writes LogTabl.mti and its companion files into `folder`, which must
// exist. Returns the definition file's path.
std::string WriteSampleLog(const std::string& folder);

}  // namespace logvane::tools
