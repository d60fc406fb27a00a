// The export of one log folder.
#include "app/log_export.h"

#include "app/log_paths.h"
#include "platform/file.h"

namespace logvane {

const char* IndexNameFor(int sort_choice) { return sort_choice == 0 ? kSequenceIndex : kCallIndex; }

std::string ContestIdForExport(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

TExportResult ExportLog(TLogTable& table, const TAdifExport& write, const TExportRequest& request) {
  TExportResult result;
  std::string& folder = result.log_folder;
  folder = request.log_folder;
  while (folder.size() > 1 && folder.back() == kPathSeparator) folder.pop_back();
  result.log_name = LogNameFromFolder(folder);
  if (!IsUsableLogName(result.log_name)) {
    result.status = TExportStatus::kNoLogName;
    return result;
  }
  result.output_path =
      request.output_path.empty() ? OutputPathFor(folder, result.log_name) : request.output_path;
  const int sort_choice = request.sort_choice == 0 ? 0 : 1;

  if (!table.Active()) {
    table.SetTableName(folder + kPathSeparator + kLogTableFile);
    table.SetIndexName(IndexNameFor(sort_choice));
    table.Open();
  }
  if (table.TableRecordCount() <= 0) {
    table.Close();
    result.status = TExportStatus::kEmptyTable;
    return result;
  }
  if (!request.overwrite && platform::FileExists(result.output_path)) {
    table.Close();
    result.status = TExportStatus::kOutputExists;
    return result;
  }
  result.lines = write(table, result.output_path, result.log_name, sort_choice, request.caption,
                       ContestIdForExport(request.contest_id));
  return result;
}

}  // namespace logvane
