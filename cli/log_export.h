// `logvane-cli export`: the desktop program's export without the window.
#pragma once

#include <ostream>

#include "app/log_export.h"
#include "cli/table_filter.h"

namespace logvane::cli {

// The form of the ADIF file: the desktop program's (ADIF 1.00 style), or
// ADIF 3 for services and loggers that read ADIF 3 strictly.
enum class ExportFormat { kAdif1, kAdif3 };

// Runs the export of `request` on the program's table component and reports
// to `out` (success) and `err` (refusals and errors); returns the exit code:
// 0 when the file was written, 1 on an error, 2 when the export was refused
// (empty table, existing output, unusable folder name). The ADIF 3 form
// also reports what a strict reader may refuse or miss. With a `filter`,
// only the contacts that pass it are written; a filter that does not
// prepare is an error, reported before any file is written.
int RunExport(const TExportRequest& request, std::ostream& out, std::ostream& err,
              ExportFormat format = ExportFormat::kAdif1, const TFilterRequest& filter = {});

}  // namespace logvane::cli
