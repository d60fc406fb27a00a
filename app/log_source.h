// The one place where the program chooses its log table and its export.
#pragma once

#include <memory>

#include "app/log_table.h"

namespace logvane {

struct TLogSource {
  std::unique_ptr<TLogTable> table;
  TAdifExport export_file;
};

// The program's table "LogTabl", read-only with an open retry count of 0,
// and the ADIF export over it.
TLogSource MakeLogSource();

}  // namespace logvane
