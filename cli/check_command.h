// `logvane-cli check`: whether a table is consistent, one line per
// inconsistency and a count of problems.
#pragma once

#include <ostream>
#include <string>

namespace logvane::cli {

// Checks the table defined at `mti_path` without writing to it (it may be
// open in a writer meanwhile). Writes every problem, one a line, then
// "<N> problems" to `out`; a table that cannot be read is reported on `err`
// with its cause, and so is a writer holding the table. Returns 0 when the
// table is consistent, 1 when it is not, 2 when it cannot be read.
int RunTableCheck(std::ostream& out, std::ostream& err, const std::string& mti_path);

}  // namespace logvane::cli
