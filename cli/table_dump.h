// `logvane-cli dump`: every record of a table in the order of one index.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "component/format_settings.h"

namespace logvane::cli {

// Writes one JSON object per record, in the order of the index named
// `index_name` (index 0 when empty). The table is opened read-only beside
// any writer. Throws the engine's errors; an unknown index name raises
// "<name> is not a valid index name".
void DumpTableJson(std::ostream& out, const std::string& mti_path, const std::string& index_name);

// Writes a header row of field names, then every record's fields as the
// table component shows them as text under `settings` (the user's regional
// settings), quoted where a field holds a comma, a quote or a line break.
// The bytes of the table's texts are written unchanged.
void DumpTableCsv(std::ostream& out, const std::string& mti_path, const std::string& index_name,
                  const TFormatSettings& settings);

// Appends `bytes` (8-bit text in the Windows-1252 code page) to `out` as a
// JSON string body in UTF-8: quotes, backslashes and control characters
// escaped; the five bytes the code page leaves undefined become the C1
// characters of the same value.
void AppendJsonText(std::string& out, std::string_view bytes);

}  // namespace logvane::cli
