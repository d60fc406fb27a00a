// `logvane-cli info`: a table's definition as a user reads it.
#pragma once

#include <ostream>
#include <string>

namespace logvane::cli {

// Prints the header, fields and indexes of the table defined at `mti_path`
// and the slot count of its data file. Throws the engine's errors.
void PrintTableInfo(std::ostream& out, const std::string& mti_path);

}  // namespace logvane::cli
