// Exporting a log folder to ADIF from the command line.
#include "cli/log_export.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <utility>

#include "app/adif3_export.h"
#include "app/app_messages.h"
#include "app/caption.h"
#include "app/cursor_log_table.h"
#include "app/log_source.h"
#include "cli/code_page.h"
#include "component/daro_vivuv.h"
#include "platform/executable_info.h"

namespace logvane::cli {

namespace {

constexpr int kRefused = 2;

// The window's text boxes break lines with a carriage return; a terminal
// wants line feeds.
std::string ForTerminal(std::string text) {
  std::replace(text.begin(), text.end(), '\r', '\n');
  return text;
}

// The running program's version as the caption shows it ("1.04"); blanks
// when the executable carries no version block.
std::string ProgramVersionText() {
  std::optional<platform::TFileVersion> version;
  if (auto block = platform::ReadVersionBlock(platform::ExecutablePath()))
    version = block->file_version;
  return VersionText(version);
}

// What a strict ADIF 3 reader may refuse or miss; a count of 0 is not shown.
void PrintSummary(std::ostream& out, const Adif3Summary& s) {
  out << "ADIF 3 contacts written: " << s.contacts << "\n";
  const std::pair<int64_t, const char*> notes[] = {
      {s.ascii_fields, "Fields with characters outside ASCII, written in ASCII"},
      {s.unknown_modes, "Modes outside the ADIF enumeration, written as logged"},
      {s.unknown_continents, "Continents outside the ADIF enumeration, written as logged"},
      {s.frequencies_left_out, "Frequencies that are not numbers, left out"},
      {s.dates_left_out, "Dates that are not days from 1930 on, left out"},
      {s.times_left_out, "Times that are not times of day, left out"},
      {s.incomplete_contacts,
       "Contacts without the call, date, time on, band or frequency, or mode that strict "
       "readers require"},
  };
  for (const auto& [count, text] : notes)
    if (count != 0) out << text << ": " << count << "\n";
}

}  // namespace

int RunExport(const TExportRequest& request, std::ostream& out, std::ostream& err,
              ExportFormat format, const TFilterRequest& filter) {
  try {
    TLogSource source = MakeLogSource();
    Adif3Summary summary;
    if (format == ExportFormat::kAdif3)
      source.export_file = Adif3ExportOf<TDaroVivuv>(ProgramVersionText(), &summary);
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
    if (format == ExportFormat::kAdif3) PrintSummary(out, summary);
    return 0;
  } catch (const std::exception& e) {
    err << MessageForTerminal(e.what()) << "\n";
    return 1;
  }
}

}  // namespace logvane::cli
