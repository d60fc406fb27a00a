// The command line's filter options.
#include "cli/table_filter.h"

#include "cli/code_page.h"
#include "platform/exceptions.h"

namespace logvane::cli {

TFilterRequest MakeFilterRequest(std::string_view utf8_text,
                                 const std::vector<std::string>& option_names) {
  TFilterRequest request;
  std::string problem;
  if (!Windows1252FromUtf8(utf8_text, &request.text, &problem)) {
    throw Exception("The filter " + problem + " (the table's texts are Windows-1252)");
  }
  for (const std::string& name : option_names) {
    if (name == "case-insensitive") request.options |= foCaseInsensitive;
    if (name == "no-partial-compare") request.options |= foNoPartialCompare;
  }
  return request;
}

void ApplyFilter(TDaroVivuv& cursor, const TFilterRequest& filter) {
  cursor.SetFilter(filter.text);
  cursor.SetFilterOptions(filter.options);
  cursor.SetFiltered(!filter.text.empty());
}

}  // namespace logvane::cli
