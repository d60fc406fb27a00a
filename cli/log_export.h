// `logvane-cli export`: the desktop program's export without the window.
#pragma once

#include <ostream>

#include "app/log_export.h"
#include "cli/table_filter.h"

namespace logvane::cli {

// Runs the export of `request` on the program's table component and reports
// to `out` (success) and `err` (refusals and errors); returns the exit code:
// 0 when the file was written, 1 on an error, 2 when the export was refused
// (empty table, existing output, unusable folder name). With a `filter`,
// only the contacts that pass it are written; a filter that does not
// prepare is an error, reported before any file is written.
int RunExport(const TExportRequest& request, std::ostream& out, std::ostream& err,
              const TFilterRequest& filter = {});

}  // namespace logvane::cli
