// Exporting a log folder to ADIF from the command line.
#include "cli/log_export.h"

#include <algorithm>
#include <exception>

#include "app/app_messages.h"
#include "app/cursor_log_table.h"
#include "app/log_source.h"
#include "cli/code_page.h"
#include "component/daro_vivuv.h"

namespace logvane::cli {

namespace {

constexpr int kRefused = 2;

// The window's text boxes break lines with a carriage return; a terminal
// wants line feeds.
std::string ForTerminal(std::string text) {
  std::replace(text.begin(), text.end(), '\r', '\n');
  return text;
}

}  // namespace

int RunExport(const TExportRequest& request, std::ostream& out, std::ostream& err,
              const TFilterRequest& filter) {
  try {
    TLogSource source = MakeLogSource();
    if (!filter.text.empty()) {
      // The export opens the table; the filter then waits for its first
      // fetch, so that the contacts it writes and counts are the filtered
      // ones.
      auto* table = dynamic_cast<TCursorLogTable<TDaroVivuv>*>(source.table.get());
      if (table == nullptr) throw Exception("The program's log table cannot be filtered");
      ApplyFilter(table->cursor(), filter);
    }
    const TExportResult result = ExportLog(*source.table, source.export_file, request);
    switch (result.status) {
      case TExportStatus::kNoLogName:
        err << "The folder " << result.log_folder << " has no name to give the ADIF file.\n";
        return kRefused;
      case TExportStatus::kEmptyTable: err << msg::kWrongLogName << "\n"; return kRefused;
      case TExportStatus::kOutputExists:
        err << ForTerminal(msg::kOutputExistsHead + result.output_path) << " already exists; "
            << "use --overwrite to replace it.\n";
        return kRefused;
      case TExportStatus::kWritten: break;
    }
    out << ForTerminal(msg::kAdifCreatedHead + result.output_path + msg::kAdifCreatedTail) << "\n"
        << result.lines << " lines written\n";
    return 0;
  } catch (const std::exception& e) {
    err << MessageForTerminal(e.what()) << "\n";
    return 1;
  }
}

}  // namespace logvane::cli
