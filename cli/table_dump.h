// `logvane-cli dump`: the records of a table in the order of one index,
// all of them or those that pass a filter.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "cli/table_filter.h"
#include "component/format_settings.h"

namespace logvane::cli {

// Writes one JSON object per record, in the order of the index named
// `index_name` (index 0 when empty). The table is opened read-only beside
// any writer, through the table cursor "LogTabl", which prepares `filter`
// after selecting the index. Throws the cursor's errors: an unknown index
// name raises "<name> is not a valid index name", a filter that does not
// prepare its message, both before anything is written. A record whose
// filter cannot be evaluated is left out.
void DumpTableJson(std::ostream& out, const std::string& mti_path, const std::string& index_name,
                   const TFilterRequest& filter = {});

// Writes a header row of field names, then every record's fields as the
// table component shows them as text under `settings` (the user's regional
// settings), in UTF-8, quoted where a field holds a comma, a quote or a
// line break; lines end in CR LF. Opened and filtered as DumpTableJson.
void DumpTableCsv(std::ostream& out, const std::string& mti_path, const std::string& index_name,
                  const TFormatSettings& settings, const TFilterRequest& filter = {});

// Appends `bytes` (8-bit text in the Windows-1252 code page) to `out` as a
// JSON string body in UTF-8: quotes, backslashes and control characters
// escaped; the five bytes the code page leaves undefined become the C1
// characters of the same value.
void AppendJsonText(std::string& out, std::string_view bytes);

}  // namespace logvane::cli
