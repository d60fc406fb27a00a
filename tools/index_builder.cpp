// Building index files from a table's definition and data file. The formats
// are described in index/page_file.h, index/small_directory.h and
// index/large_directory.h.
#include "tools/index_builder.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <unordered_set>
#include <vector>

#include "base/byte_order.h"
#include "index/index_names.h"
#include "platform/file.h"
#include "table/keys.h"
#include "table/record_manager.h"
#include "table/table_definition.h"

namespace logvane::tools {

namespace {

struct TableData {
  TmtbTableDef def;
  int record_length = 0;
  std::vector<uint8_t> bytes;  // the whole data file, whole slots only
  int32_t slots = 0;

  const uint8_t* Record(int32_t n) const { return &bytes[static_cast<size_t>(n) * record_length]; }
  bool IsFree(int32_t n) const { return Record(n)[0] == kFreeRecordMarker; }
};

void ReadTable(const std::string& mti_path, TableData& t) {
  platform::File mti;
  if (int err = mti.Open(mti_path, platform::kAccessRead | platform::kShareDenyNone))
    throw std::runtime_error("cannot open " + mti_path + " (error " + std::to_string(err) + ")");
  ReadTableDefinition(mti, t.def);
  t.record_length = t.def.RecordLength();

  const std::string mtd_path = platform::ChangeFileExt(mti_path, ".MTD");
  std::ifstream in(mtd_path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + mtd_path);
  t.bytes.assign(std::istreambuf_iterator<char>(in), {});
  t.slots = static_cast<int32_t>(t.bytes.size() / t.record_length);
  t.bytes.resize(static_cast<size_t>(t.slots) * t.record_length);
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

TTableCounters Counters(const TableData& t, const IndexBuildOptions& o) {
  std::vector<int32_t> free;
  std::unordered_set<int32_t> linked;
  int32_t autoinc_max = 0;
  bool any_autoinc = false;
  const int autoinc = t.def.AutoIncField();
  for (int32_t n = 0; n < t.slots; ++n) {
    if (t.IsFree(n)) {
      free.push_back(n);
      linked.insert(GetInt32(t.Record(n) + 4));
    } else if (autoinc >= 0 && t.Record(n)[autoinc] == kValueFlag) {
      const int32_t v = GetInt32(t.Record(n) + t.def.FieldOffset(autoinc));
      autoinc_max = any_autoinc ? std::max(autoinc_max, v) : v;
      any_autoinc = true;
    }
  }
  int32_t head = free.empty() ? -1 : free.front();
  for (int32_t n : free)
    if (!linked.count(n)) {
      head = n;
      break;
    }
  TTableCounters c;
  c.free_records = o.free_records.value_or(static_cast<int32_t>(free.size()));
  c.first_free_record = o.first_free_record.value_or(head);
  c.next_autoinc = o.next_autoinc.value_or(any_autoinc ? autoinc_max + 1 : 1);
  c.change_counter = o.change_counter;
  c.kept_value = o.kept_value;
  return c;
}

void BuildIndex(const TableData& t, const std::string& mti_path, int index,
                const TTableCounters& counters, const IndexBuildOptions& o) {
  const TRecordImages images{t.bytes.data(), t.record_length, t.slots};
  std::vector<int32_t> order;
  for (int32_t n = 0; n < t.slots; ++n)
    if (!t.IsFree(n)) order.push_back(n);
  SortForIndex(t.def, images, index, order);
  // Two records equal with the tie-break share a primary key, which no index
  // can hold.
  if (size_t k = FindEqualKeys(t.def, images, order); k < order.size())
    throw std::runtime_error("records " + std::to_string(order[k - 1]) + " and " +
                             std::to_string(order[k]) + " have equal primary keys");
  const TIndexFiles files =
      BuildIndexFiles(t.def, images, index, order, counters,
                      TIndexBuildLayout{o.fill, o.seed, o.free_pages, o.scatter_pages});
  WriteFile(LeafPageFileName(mti_path, index), files.leaf);
  WriteFile(DirectoryFileName(mti_path, index), files.directory);
}

}  // namespace

void BuildIndexes(const std::string& mti_path, const IndexBuildOptions& options) {
  TableData table;
  ReadTable(mti_path, table);
  const TTableCounters counters = Counters(table, options);
  for (int i = 0; i < table.def.IndexCount(); ++i)
    BuildIndex(table, mti_path, i, counters, options);
}

}  // namespace logvane::tools
