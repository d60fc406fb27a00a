// The program's log table and export: the table cursor component "LogTabl",
// read-only with an open retry count of 0, and the ADIF export over it.
#include "app/log_source.h"

#include "app/cursor_log_table.h"
#include "component/daro_vivuv.h"

namespace logvane {

TLogSource MakeLogSource() {
  auto cursor = std::make_unique<TDaroVivuv>();
  cursor->SetName("LogTabl");
  cursor->SetReadOnly(true);
  cursor->SetOpenRetryCount(0);
  cursor->SetFormatSettings(TFormatSettings::FromUserLocale());
  return {std::make_unique<TCursorLogTable<TDaroVivuv>>(std::move(cursor)),
          AdifExportOf<TDaroVivuv>()};
}

}  // namespace logvane
