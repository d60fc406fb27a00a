// The export of one log folder, as both the window and `logvane-cli export`
// run it: the request names the folder, the order, the contest identifier,
// the output file and whether an existing file may be replaced; the
// routine opens the folder's table (unless the caller already has it open),
// refuses what cannot be exported and writes the ADIF file through the
// export hook.
#pragma once

#include <cstdint>
#include <string>

#include "app/log_table.h"

namespace logvane {

// The log's table file in its folder, and the index names of the two
// output orders.
inline constexpr char kLogTableFile[] = "LogTabl.mti";
inline constexpr char kSequenceIndex[] = "NumSentIndx";
inline constexpr char kCallIndex[] = "Call";

// 0 "Sequence worked" gives the sequence index, any other choice the call
// index.
const char* IndexNameFor(int sort_choice);

// The contest identifier as the export writes it: a-z upper-cased, every
// other byte kept.
std::string ContestIdForExport(std::string text);

struct TExportRequest {
  std::string log_folder;   // the folder holding the log's table
  int sort_choice = 0;      // 0 "Sequence worked", else "Call letters"
  std::string contest_id;   // as typed; upper-cased by the routine
  std::string output_path;  // empty: <log folder>/<log name>.ADI
  bool overwrite = false;   // replace an existing output file
  std::string caption;      // the program's caption, for the header
};

enum class TExportStatus {
  kWritten,
  kNoLogName,     // the folder has no name to give the ADIF file
  kEmptyTable,    // the table has no live records
  kOutputExists,  // the output file exists and overwrite was not asked
};

struct TExportResult {
  TExportStatus status = TExportStatus::kWritten;
  std::string log_folder;  // the request's folder without trailing separators
  std::string log_name;
  std::string output_path;
  int64_t lines = 0;  // lines written, when kWritten
};

// Runs the export of `request` over `table`. A closed table is opened on
// <log folder>/LogTabl.mti with the order's index; an open one is used as it
// is. An empty table is closed and refused; an existing output file is
// refused unless `overwrite`. Errors of the table and the file are raised
// as the hook raises them (the table then stays open).
TExportResult ExportLog(TLogTable& table, const TAdifExport& write, const TExportRequest& request);

}  // namespace logvane
