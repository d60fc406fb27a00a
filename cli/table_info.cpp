// Formatting a table's definition for `logvane-cli info`.
#include "cli/table_info.h"

#include <cerrno>
#include <iomanip>
#include <sstream>

#include "base/errors.h"
#include "platform/file.h"
#include "table/record_manager.h"
#include "table/table_definition.h"

namespace logvane::cli {

namespace {

const char* TypeName(char code) {
  switch (code) {
    case 'A': return "autoincrement";
    case 'B': return "boolean";
    case 'C': return "currency";
    case 'D': return "date-time";
    case 'E': return "formatted text";
    case 'F': return "float";
    case 'G': return "graphic";
    case 'I': return "integer";
    case 'L': return "binary";
    case 'M': return "memo";
    case 'R': return "real";
    case 'S': return "string";
    default: return "unknown";
  }
}

std::string Attributes(const TmtbFieldDesc& f) {
  std::string out;
  auto add = [&out](const std::string& s) { out += (out.empty() ? "" : ", ") + s; };
  if (f.required) add("required");
  if (f.has_default) add("default \"" + f.default_text + "\"");
  if (f.has_minimum) add("min \"" + f.minimum_text + "\"");
  if (f.has_maximum) add("max \"" + f.maximum_text + "\"");
  return out;
}

std::string Options(int32_t options) {
  std::string out;
  auto add = [&out](const char* s) { out += (out.empty() ? "" : ", ") + std::string(s); };
  if (options & kIndexPrimary) add("primary");
  if (options & kIndexDescending) add("descending");
  if (options & kIndexCaseInsensitive) add("case-insensitive");
  return out.empty() ? "-" : out;
}

}  // namespace

void PrintTableInfo(std::ostream& out, const std::string& mti_path) {
  platform::File file;
  int err = file.Open(mti_path, platform::kAccessRead | platform::kShareDenyNone);
  if (err != 0) throw Exception(mti_path + ": " + platform::ErrorText(err));
  TmtbTableDef def;
  ReadTableDefinition(file, def);

  std::string mtd_path = platform::ChangeFileExt(mti_path, ".MTD");
  std::string slots;
  if (!platform::FileExists(mtd_path)) {
    slots = "missing";
  } else {
    platform::SetDefaultReadOnly(true);
    TmtbRecMgr data;
    data.OpenDataFile(mtd_path, def.RecordLength());
    slots = std::to_string(data.SlotCount()) + " record slots";
  }

  std::ostringstream version;
  version << std::fixed << std::setprecision(2) << def.FormatVersion();
  out << "Table:          " << mti_path << "\n"
      << "Format version: " << version.str() << " (level " << def.FormatLevel() << ", "
      << (def.FormatLevel() < 30 ? "small" : "large") << " index pages)\n"
      << "Record length:  " << def.RecordLength() << " bytes\n"
      << "Blob file:      " << (def.HasBlobFile() ? "yes" : "no") << "\n"
      << "Data file:      " << slots << "\n\n";

  out << "Fields (" << def.FieldCount() << "):\n";
  out << std::left << "  " << std::setw(4) << "#" << std::setw(22) << "Name" << std::setw(20)
      << "Type" << std::setw(7) << "Size" << std::setw(8) << "Offset"
      << "Attributes\n";
  for (int i = 0; i < def.FieldCount(); ++i) {
    const TmtbFieldDesc& f = def.Field(i);
    std::string type =
        std::string(1, f.type_code ? f.type_code : '?') + " " + TypeName(f.type_code);
    out << "  " << std::setw(4) << i << std::setw(22) << f.name << std::setw(20) << type
        << std::setw(7) << f.size << std::setw(8) << f.offset << Attributes(f) << "\n";
  }

  out << "\nIndexes (" << def.IndexCount() << "):\n";
  out << "  " << std::setw(4) << "#" << std::setw(22) << "Name" << std::setw(30) << "Key fields"
      << "Options\n";
  for (int j = 0; j < def.IndexCount(); ++j) {
    const TmtbIndexDesc& x = def.Index(j);
    std::string keys;
    for (int k = 0; k < x.key_field_count; ++k)
      keys += (k ? ", " : "") + def.Field(x.key_fields[k]).name;
    out << "  " << std::setw(4) << j << std::setw(22) << x.name << std::setw(30) << keys
        << Options(x.options) << "\n";
  }
}

}  // namespace logvane::cli
