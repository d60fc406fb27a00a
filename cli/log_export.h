// `logvane-cli export`: the desktop program's export without the window.
#pragma once

#include <ostream>
#include <string>

namespace logvane::cli {

struct ExportRequest {
  std::string log_folder;
  bool by_call = false;     // "call" order; else the sequence worked
  std::string contest_id;   // upper-cased (a-z) before use
  std::string output;       // default: <log folder>/<log name>.ADI
  bool overwrite = false;   // replace an existing output file
  std::string caption;      // the program's caption for the header
};

// Opens <log folder>/LogTabl.mti read-only and writes the ADIF file.
// Messages go to `out` (success) and `err` (refusals and errors); returns the
// exit code: 0 when the file was written, 1 on an error, 2 when the export
// was refused (empty table, existing output, unusable folder name).
int RunExport(const ExportRequest& request, std::ostream& out, std::ostream& err);

}  // namespace logvane::cli
