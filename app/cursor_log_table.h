// The seam between the workflow and a real table cursor: TCursorLogTable
// wraps a cursor component as a TLogTable, and AdifExportOf() gives the
// export hook that runs WriteAdifFile on that cursor.
//
// `Cursor` is a TDataSet that also offers
//   void SetTableName(const std::string&)   (refused while open)
//   void SetIndexName(const std::string&)
//   int TableRecordCount()
// as the table cursor component does; Open, Close and Active come from
// TDataSet.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "app/adif_export.h"
#include "app/log_table.h"
#include "base/errors.h"

namespace logvane {

template <typename Cursor>
class TCursorLogTable final : public TLogTable {
 public:
  // Wraps a cursor that the caller keeps.
  explicit TCursorLogTable(Cursor& cursor) : cursor_(cursor) {}
  // Wraps and owns a cursor.
  explicit TCursorLogTable(std::unique_ptr<Cursor> owned)
      : owned_(std::move(owned)), cursor_(*owned_) {}

  void SetTableName(const std::string& path) override { cursor_.SetTableName(path); }
  void SetIndexName(const std::string& name) override { cursor_.SetIndexName(name); }
  void Open() override { cursor_.Open(); }
  void Close() override { cursor_.Close(); }
  bool Active() const override { return cursor_.Active(); }
  int TableRecordCount() override { return cursor_.TableRecordCount(); }

  Cursor& cursor() { return cursor_; }

 private:
  std::unique_ptr<Cursor> owned_;
  Cursor& cursor_;
};

// The export hook for tables wrapped as TCursorLogTable<Cursor>; `utc_now`
// dates the header. Handed any other table it raises an Exception.
template <typename Cursor>
TAdifExport AdifExportOf(UtcClock utc_now = SystemUtcNow) {
  return [utc_now = std::move(utc_now)](TLogTable& table, const std::string& output_path,
                                        const std::string& log_name, int sort_choice,
                                        const std::string& caption, const std::string& contest_id) {
    auto* wrapped = dynamic_cast<TCursorLogTable<Cursor>*>(&table);
    if (wrapped == nullptr) throw Exception("The export was handed a table it cannot read");
    return WriteAdifFile(wrapped->cursor(), output_path, log_name, sort_choice, caption, contest_id,
                         utc_now);
  };
}

}  // namespace logvane
