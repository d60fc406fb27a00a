// Fuzz target: a whole table from untrusted files. The input is split into
// the table's files (table_bundle.h), which are written to a scratch folder
// and then read by everything that reads a table:
//
//   - the engine, opened read-only: every index walked forward and back,
//     with positions and record counts;
//   - the whole-table consistency check;
//   - the table cursor component: every field of every record read as text
//     (and as a boolean where it has that form), in every index order;
//   - the ADIF export in both forms, the JSON dump and the table info.
//
// The table's own error classes (logvane::Exception) are the expected
// answer to damage. Anything else escaping, a sanitizer report or a hang is
// a finding.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "app/adif3_export.h"
#include "app/adif_export.h"
#include "cli/table_dump.h"
#include "cli/table_info.h"
#include "component/daro_vivuv.h"
#include "engine/db_engine.h"
#include "engine/table_check.h"
#include "fuzz/scratch_folder.h"
#include "fuzz/table_bundle.h"
#include "platform/exceptions.h"
#include "platform/file.h"
#include "table/table_definition.h"

namespace logvane::fuzz {
namespace {

// A filter over the contact log's fields: a prefix match on a memo, a date
// and a number read as text.
constexpr char kContactFilter[] =
    "(Mode = 'CW' and not (Freq > '20')) or Comments = 'L*' or QSODate >= '5/18/2003' "
    "or [Call] = 'K*'";

std::chrono::system_clock::time_point FixedClock() {
  return std::chrono::system_clock::time_point(std::chrono::seconds(1053129600));
}

// The whole-table consistency check: definition, data file, free chain,
// every index and the blob file.
void CheckTableFiles(const std::string& mti) { CheckTable(mti); }

// The engine alone: every index in both directions.
void WalkEngine(const std::string& mti, uint32_t mode, std::vector<std::string>* index_names) {
  TmtbDBEng eng;
  if (eng.OpenTable(mti, mode, 0) < 0) {
    OpenFailureText(mti, eng.LastOpenFailure().code);
    eng.LastOpenFailure().Describe();
    return;
  }
  const int indexes = eng.Definition().IndexCount();
  for (int i = 0; i < indexes; ++i) {
    index_names->push_back(eng.Definition().Index(i).name);
    try {
      eng.SetCurrentIndex(i);
      const int32_t count = eng.RecordCount();
      for (eng.First(); !eng.IsEOF(); eng.Next()) eng.CurrentPosition();
      for (eng.Last(); !eng.IsBOF(); eng.Prior()) eng.CurrentRecordNumber();
      if (count > 0) {
        eng.MoveToPosition(count / 2 + 1);
        eng.GoToRecord(eng.CurrentRecordNumber());
      }
    } catch (const Exception&) {
    }
  }
  try {
    eng.CloseTable();
  } catch (const Exception&) {
  }
}

void ReadFields(TDaroVivuv& table, std::string& text) {
  for (int f = 0; f < table.FieldCount(); ++f) {
    TField& field = table.Field(f);
    try {
      text.clear();
      field.AppendText(text);
      if (field.DataType() == ftBoolean || field.DataType() == ftString) field.AsBoolean();
    } catch (const Exception&) {
    }
  }
}

// Searches the index `index` for the key of the current record, whole and
// as a partial key without regard to case: the index search over whatever
// the files hold.
void LocateCurrentKey(TDaroVivuv& table, size_t index) {
  if (index >= table.IndexDefs().size()) return;
  const std::string& fields = table.IndexDefs()[index].Fields;
  std::vector<TVariant> values;
  size_t start = 0;
  for (;;) {
    const size_t end = fields.find(';', start);
    const std::string name = fields.substr(start, end - start);
    // A name that is empty or holds the separator cannot be named in a
    // search.
    if (name.empty() || table.FindField(name) == nullptr) return;
    values.push_back(TVariant::Text(table.FieldByName(name).AsString()));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  table.Locate(fields, values);
  table.Locate(fields, values, loCaseInsensitive | loPartialKey);
}

void PrepareCursor(TDaroVivuv& table, const std::string& mti, bool beside_writer,
                   const std::string& index_name, bool filtered) {
  table.SetTableName(mti);
  table.SetReadOnly(true);
  table.SetReadBesideWriter(beside_writer);
  table.SetIndexName(index_name);
  if (filtered) {
    table.SetFilter(kContactFilter);
    table.SetFiltered(true);
  }
}

// The component: every field of every record in the order of each index,
// walked forward, then back; a bookmark taken on the way and gone back to;
// and a search for the last record's key.
void WalkComponent(const std::string& mti, bool beside_writer, bool filtered,
                   const std::vector<std::string>& index_names) {
  std::string text;
  for (size_t i = 0; i < index_names.size(); ++i) {
    TDaroVivuv table;
    try {
      PrepareCursor(table, mti, beside_writer, index_names[i], filtered);
      table.Open();
      table.TableRecordCount();
      TBookmark mark;
      for (table.First(); !table.Eof(); table.Next()) {
        ReadFields(table, text);
        if (mark.empty()) mark = table.GetBookmark();
      }
      for (table.Last(); !table.Bof(); table.Prior()) table.RecNo();
      if (!mark.empty() && table.BookmarkValid(mark)) table.GotoBookmark(mark);
      table.Last();
      if (!table.IsEmpty()) LocateCurrentKey(table, i);
      table.Close();
    } catch (const Exception&) {
    }
  }
}

void Export(const std::string& mti, const std::string& output, bool beside_writer, bool filtered,
            const std::vector<std::string>& index_names) {
  const std::string first = index_names.empty() ? std::string() : index_names.front();
  const std::string last = index_names.empty() ? std::string() : index_names.back();
  try {
    TDaroVivuv table;
    PrepareCursor(table, mti, beside_writer, first, filtered);
    table.Open();
    WriteAdifFile(table, output, "Fuzz", 0, "Logvane", "CQ-WW-CW", FixedClock);
  } catch (const Exception&) {
  }
  try {
    TDaroVivuv table;
    PrepareCursor(table, mti, beside_writer, last, filtered);
    table.Open();
    WriteAdif3File(table, output, "Fuzz", 1, "1.0", "CQ-WW-CW", FixedClock);
  } catch (const Exception&) {
  }
}

void DumpAndInfo(const std::string& mti, bool filtered, const std::vector<std::string>& names) {
  std::ostringstream out;
  try {
    cli::TFilterRequest filter;
    if (filtered) filter.text = kContactFilter;
    cli::DumpTableJson(out, mti, names.empty() ? std::string() : names.front(), filter);
  } catch (const Exception&) {
  }
  try {
    cli::PrintTableInfo(out, mti);
  } catch (const Exception&) {
  }
}

}  // namespace
}  // namespace logvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace logvane::fuzz;
  static TScratchFolder folder;
  static const std::string mti = folder.File("LogTabl.mti");
  static const std::vector<std::string> paths = BundlePaths(mti, kBundleMaxIndexes);
  static const std::string output = folder.File("LogTabl.ADI");

  const TTableBundle bundle = SplitBundle(data, size);
  for (size_t f = 0; f < paths.size(); ++f) {
    if (f < bundle.files.size() && bundle.files[f])
      TScratchFolder::Write(paths[f], *bundle.files[f]);
    else
      TScratchFolder::Remove(paths[f]);
  }
  const bool beside_writer = (bundle.options & kBundleReadBesideWriter) != 0;
  const bool filtered = (bundle.options & kBundleFiltered) != 0;
  const uint32_t mode = beside_writer ? logvane::kOpenReadBesideWriter : logvane::kOpenReadShared;

  std::vector<std::string> index_names;
  WalkEngine(mti, mode, &index_names);
  CheckTableFiles(mti);
  WalkComponent(mti, beside_writer, filtered, index_names);
  Export(mti, output, beside_writer, filtered, index_names);
  DumpAndInfo(mti, filtered, index_names);
  return 0;
}
