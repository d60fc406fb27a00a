// The program's log table and export.
//
// The table cursor component is not part of the build yet, so the program
// carries a table that refuses to open, with a message that says so. Once
// the component is in, this file becomes:
//
//   auto cursor = std::make_unique<TDaroVivuv>();
//   cursor->SetName("LogTabl");
//   cursor->SetReadOnly(true);
//   cursor->SetOpenRetryCount(0);
//   return {std::make_unique<TCursorLogTable<TDaroVivuv>>(std::move(cursor)),
//           AdifExportOf<TDaroVivuv>()};
//
// (app/cursor_log_table.h), and the logvane_workflow library links the
// component and logvane_export.
#include "app/log_source.h"

#include "engine/errors.h"
#include "engine/messages.h"

namespace logvane {
namespace {

class TNoEngineTable final : public TLogTable {
 public:
  void SetTableName(const std::string&) override {}
  void SetIndexName(const std::string&) override {}
  void Open() override { throw EDatabaseError(msg::kNoTableEngine); }
  void Close() override {}
  bool Active() const override { return false; }
  int TableRecordCount() override { throw EDatabaseError(msg::kDataSetClosed); }
};

}  // namespace

TLogSource MakeLogSource() {
  return {std::make_unique<TNoEngineTable>(),
          [](TLogTable&, const std::string&, const std::string&, int, const std::string&,
             const std::string&) -> int64_t { throw EDatabaseError(msg::kDataSetClosed); }};
}

}  // namespace logvane
