// The --filter and --filter-options of `logvane-cli dump` and `export`: the
// filter text arrives in UTF-8 and is handed to the table cursor in the
// table's code page, Windows-1252.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "component/daro_vivuv.h"

namespace logvane::cli {

struct TFilterRequest {
  std::string text;  // Windows-1252; empty: no filter
  TFilterOptions options = 0;
};

// The request for a UTF-8 filter text and the option names
// "case-insensitive" and "no-partial-compare". Raises Exception when the
// text is not UTF-8 or holds a character Windows-1252 cannot hold.
TFilterRequest MakeFilterRequest(std::string_view utf8_text,
                                 const std::vector<std::string>& option_names);

// Gives a closed cursor the filter, so that its first fetch after the open
// (and the index selection) prepares it and its messages name the cursor.
// An empty text leaves the cursor unfiltered.
void ApplyFilter(TDaroVivuv& cursor, const TFilterRequest& filter);

}  // namespace logvane::cli
