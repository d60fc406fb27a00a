// What the main window's workflow needs of the log's table and of the ADIF
// export, as two small seams: the workflow never sees the table component or
// the export code, so it can be driven with stand-ins.
//
// Plugging in the real ones: the table cursor component (a TDataSet with
// the TableName and IndexName properties, TableRecordCount, Open, Close and
// Active) is wrapped by TCursorLogTable (app/cursor_log_table.h), and
// AdifExportOf() there gives the export hook that calls WriteAdifFile
// (app/adif_export.h) on the wrapped cursor. app/log_source.cpp is the one
// place where the program chooses them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace logvane {

// The log's table as the workflow uses it: named by the path of its
// definition file, ordered by a named index, opened read-only.
//
// Errors are raised as logvane::Exception (or a subclass) carrying the
// message that the user is to see; the workflow shows it in the error box.
class TLogTable {
 public:
  virtual ~TLogTable() = default;

  // REQUIRES: closed. While open, raises EDatabaseError "Cannot perform
  // this operation on an open dataset" and keeps the old path.
  virtual void SetTableName(const std::string& path) = 0;
  // Stores the index name that the next open selects.
  virtual void SetIndexName(const std::string& name) = 0;
  // Opens the table; a failure leaves it closed.
  virtual void Open() = 0;
  // Closes the table; ends closed even when closing fails.
  virtual void Close() = 0;
  virtual bool Active() const = 0;
  // REQUIRES: open. The live records of the data file, whatever the index.
  virtual int TableRecordCount() = 0;
};

// Writes the ADIF file from the open table and returns the number of lines
// written. Arguments: the table, the output path, the log name, the sort
// choice (0 "Sequence worked", any other "Call letters"), the window caption
// and the contest identifier. Closes the table when it succeeds; an error
// is raised and leaves the table open.
using TAdifExport = std::function<int64_t(
    TLogTable& table, const std::string& output_path, const std::string& log_name, int sort_choice,
    const std::string& caption, const std::string& contest_id)>;

}  // namespace logvane
