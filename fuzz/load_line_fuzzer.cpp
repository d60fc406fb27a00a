// Fuzz target: `logvane-cli load` input. The first byte chooses a small-page
// or a large-page contact log of three contacts with a memo; the rest is
// the JSON lines text loaded into a fresh copy of it. Whatever the lines
// hold, the load either adds records or stops with its message, and the
// table it leaves must pass the whole-table consistency check: a check that
// finds a problem aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cli/table_change.h"
#include "engine/table_check.h"
#include "fuzz/scratch_folder.h"
#include "tools/contact_log.h"

namespace logvane::fuzz {
namespace {

// The files of a table as written: (file name, bytes).
using TTableFiles = std::vector<std::pair<std::string, std::string>>;

TTableFiles MakeContactLog(const TScratchFolder& folder, const std::string& name, double version) {
  const std::filesystem::path dir = folder.File(name);
  std::filesystem::create_directories(dir);
  tools::ContactLogOptions options;
  options.format_version = version;
  tools::WriteContactLog(
      dir.string(), 3,
      [](int i, tools::Contact& c) {
        c.call = "W" + std::to_string(i) + "ABC";
        c.qso_date = 37758.0 + i;
        c.mode = i % 2 ? "CW" : "SSB";
        c.comments = i == 1 ? "Loud signal" : "";
      },
      options);
  TTableFiles files;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    files.emplace_back(entry.path().filename().string(),
                       std::string(std::istreambuf_iterator<char>(in), {}));
  }
  std::filesystem::remove_all(dir);
  return files;
}

}  // namespace
}  // namespace logvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace logvane::fuzz;
  static TScratchFolder folder;
  static const TTableFiles small = MakeContactLog(folder, "small", 2.0);
  static const TTableFiles large = MakeContactLog(folder, "large", 4.0);
  if (size == 0) return 0;

  for (const auto& [name, bytes] : (data[0] & 1) ? large : small)
    TScratchFolder::Write(folder.File(name), bytes);
  const std::string mti = folder.File("LogTabl.mti");
  std::istringstream in(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
  std::ostringstream out, err;
  logvane::cli::LoadRecords(mti, in, out, err);

  const logvane::TTableCheckReport report = logvane::CheckTable(mti);
  if (report.ExitCode() != 0) {
    std::fprintf(stderr, "load left an inconsistent table (%s):\n", err.str().c_str());
    for (const std::string& line : report.problems) std::fprintf(stderr, "  %s\n", line.c_str());
    std::abort();
  }
  return 0;
}
