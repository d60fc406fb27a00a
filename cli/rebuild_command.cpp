// `logvane-cli rebuild`.
#include "cli/rebuild_command.h"

#include <cstdio>

#include "cli/base64.h"
#include "cli/code_page.h"
#include "engine/table_rebuild.h"

namespace logvane::cli {

namespace {

bool IsBinary(char type_code) { return type_code == 'G' || type_code == 'L'; }

// A table's text (Windows-1252) in double quotes, in UTF-8, with quotes,
// backslashes and control characters escaped so that every value is one
// line; binary values as base64.
std::string Quoted(const std::string& bytes, char type_code) {
  if (IsBinary(type_code)) {
    std::string out = "base64:";
    AppendBase64(out, bytes);
    return out;
  }
  std::string utf8;
  AppendUtf8FromWindows1252(utf8, bytes);
  std::string out = "\"";
  for (unsigned char c : utf8) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

}  // namespace

int RunTableRebuild(std::ostream& out, std::ostream& err, const std::string& mti_path,
                    const std::string& backup_dir) {
  TRebuildOptions options;
  options.backup_dir = backup_dir;
  const TRebuildResult r = RebuildTable(mti_path, options);
  if (r.status != TRebuildStatus::kRebuilt) {
    err << MessageForTerminal(r.message) << "\n";
    return 2;
  }
  out << "backup: " << r.backup_dir << "\n";
  for (const std::string& line : r.changes) out << "changed: " << MessageForTerminal(line) << "\n";
  for (const TSetAsideRecord& rec : r.set_aside) {
    out << "set aside: record " << rec.record << ": " << MessageForTerminal(rec.problem) << "\n";
    for (const TRecoveredValue& v : rec.values)
      out << "  " << MessageForTerminal(v.field) << ": "
          << (v.flag_damaged ? v.text : Quoted(v.text, v.type_code)) << "\n";
  }
  for (const TDetachedValue& d : r.detached) {
    out << "detached: record " << d.record << " field " << MessageForTerminal(d.field) << ": "
        << MessageForTerminal(d.problem) << " (total size " << d.total_size << ", "
        << d.bytes.size() << " bytes read)\n";
    out << "  " << Quoted(d.bytes, d.type_code) << "\n";
  }
  out << r.records_kept << " records kept, " << r.set_aside.size() << " set aside, "
      << r.detached.size() << " blob values detached\n";
  return r.set_aside.empty() && r.detached.empty() ? 0 : 1;
}

}  // namespace logvane::cli
