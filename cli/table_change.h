// `logvane-cli load`, `update` and `delete`: changing a table's records from
// the command line through the table cursor "LogTabl", opened for reading
// and writing (other programs may only read meanwhile), with the same edit
// cycle as any program that uses the cursor. Each prints the number of
// records added, changed or deleted to `out`, also when it stops at an
// error, which goes to `err`; the result is the exit status: 0, or 1 after
// an error. The records changed before an error stay changed.
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/table_filter.h"
#include "component/daro_vivuv.h"

namespace logvane::cli {

// Opens `cursor` on the table for changing: read-write, deny-write, in the
// order of `index_name` (index 0 when empty), values and filter constants
// read with the interchange settings. A table another program holds open
// for writing raises "<path> cannot be opened for exclusive use.".
void OpenForChange(TDaroVivuv& cursor, const std::string& mti_path, const std::string& index_name,
                   const TFilterRequest& filter = {});

// Appends one record per line of `in`, each a JSON object in the forms
// `dump --format jsonl` writes: texts in UTF-8 (stored in Windows-1252),
// dates "YYYY-MM-DDTHH:MM:SS[.mmm]", graphic and binary values in base64,
// null or a missing member for no value (a missing member keeps the field's
// default). The autoincrement field is the engine's to number; its member
// is ignored. Blank lines are skipped. A line that is not such an object,
// names an unknown field, gives a value of the wrong kind, out of range or
// longer than its field, or a text Windows-1252 lacks, stops the load with
// "line <n>: <reason>"; so does a record the table refuses ("Key violation
// due to duplicate record.").
int LoadRecords(const std::string& mti_path, std::istream& in, std::ostream& out,
                std::ostream& err);

// Deletes the records that pass `filter` (an empty text: every record),
// chosen first in the order of `index_name`, then deleted one by one.
int DeleteRecords(const std::string& mti_path, const TFilterRequest& filter,
                  const std::string& index_name, std::ostream& out, std::ostream& err);

// Sets fields of the records that pass `filter`, chosen first in the order
// of `index_name`, then changed one by one, so no record is changed twice.
// Each setting is "FIELD=VALUE" in UTF-8; the value is read with the
// interchange settings (decimal point ".", dates mm/dd/yyyy with an
// optional " hh:nn:ss", TRUE or FALSE in any letter case), a text is cut to
// the field's size, a memo takes the text, a graphic or binary field base64;
// an empty value clears the field. Unknown fields and the autoincrement
// field are refused before anything changes.
int UpdateRecords(const std::string& mti_path, const TFilterRequest& filter,
                  const std::vector<std::string>& settings, const std::string& index_name,
                  std::ostream& out, std::ostream& err);

// Reads "YYYY-MM-DDTHH:MM:SS" with an optional "." and 1 to 3 digits of
// milliseconds as the buffer form of a date-time field (date_time.h).
// False when the text is not of that form or names no real day or time.
bool ReadIsoDateTime(std::string_view text, double* millis);

}  // namespace logvane::cli
