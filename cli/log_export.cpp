// Exporting a log folder to ADIF from the command line.
#include "cli/log_export.h"

#include <algorithm>
#include <exception>

#include "app/adif_export.h"
#include "app/log_paths.h"
#include "component/daro_vivuv.h"
#include "component/format_settings.h"
#include "app/app_messages.h"
#include "platform/file.h"

namespace logvane::cli {

namespace {

constexpr int kRefused = 2;

// The window's text boxes break lines with a carriage return; a terminal
// wants line feeds.
std::string ForTerminal(std::string text) {
  std::replace(text.begin(), text.end(), '\r', '\n');
  return text;
}

}  // namespace

int RunExport(const ExportRequest& request, std::ostream& out, std::ostream& err) {
  std::string folder = request.log_folder;
  while (folder.size() > 1 && folder.back() == kPathSeparator) folder.pop_back();
  const std::string log_name = LogNameFromFolder(folder);
  if (!IsUsableLogName(log_name)) {
    err << "The folder " << folder << " has no name to give the ADIF file.\n";
    return kRefused;
  }
  const std::string output = request.output.empty() ? OutputPathFor(folder, log_name) : request.output;
  std::string contest = request.contest_id;
  for (char& c : contest)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');

  try {
    TDaroVivuv log;
    log.SetName("LogTabl");
    log.SetTableName(folder + kPathSeparator + "LogTabl.mti");
    log.SetIndexName(request.by_call ? "Call" : "NumSentIndx");
    log.SetReadOnly(true);
    log.SetOpenRetryCount(0);
    log.Open();
    if (log.TableRecordCount() <= 0) {
      err << msg::kWrongLogName << "\n";
      return kRefused;
    }
    if (platform::FileExists(output) && !request.overwrite) {
      err << ForTerminal(msg::kOutputExistsHead + output) << " already exists; "
          << "use --overwrite to replace it.\n";
      return kRefused;
    }
    const int64_t lines = WriteAdifFile(log, output, log_name, request.by_call ? 1 : 0,
                                        request.caption, contest);
    out << ForTerminal(msg::kAdifCreatedHead + output + msg::kAdifCreatedTail) << "\n"
        << lines << " lines written\n";
    return 0;
  } catch (const std::exception& e) {
    err << e.what() << "\n";
    return 1;
  }
}

}  // namespace logvane::cli
