// Building index files from a table's definition and data file. The formats
// are described in index/page_file.h, index/small_directory.h and
// index/large_directory.h.
#include "tools/index_builder.h"

#include <algorithm>
#include <fstream>
#include <numeric>
#include <random>
#include <stdexcept>
#include <unordered_set>
#include <vector>

#include "base/byte_order.h"
#include "index/index_names.h"
#include "index/large_directory.h"
#include "index/page_file.h"
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

// The live records in index order; two records that compare equal with the
// tie-break share a primary key, which no index can hold.
std::vector<int32_t> SortedRecords(const TableData& t, int index) {
  std::vector<int32_t> order;
  for (int32_t n = 0; n < t.slots; ++n)
    if (!t.IsFree(n)) order.push_back(n);
  auto less = [&](int32_t a, int32_t b) {
    return CompareKeys(t.def, t.Record(a), t.Record(b), true, index) < 0;
  };
  std::sort(order.begin(), order.end(), less);
  for (size_t k = 1; k < order.size(); ++k)
    if (!less(order[k - 1], order[k]))
      throw std::runtime_error("records " + std::to_string(order[k - 1]) + " and " +
                               std::to_string(order[k]) + " have equal primary keys");
  return order;
}

// How many entries each leaf page gets.
std::vector<int32_t> PageSizes(int32_t entries, int32_t m, const IndexBuildOptions& o,
                               std::mt19937& rng) {
  std::vector<int32_t> sizes;
  while (entries > 0) {
    int32_t n = m;
    switch (o.fill) {
      case TFillPolicy::kFull: n = m; break;
      case TFillPolicy::kHalf: n = (m + 1) / 2; break;
      case TFillPolicy::kRandom: n = std::uniform_int_distribution<int32_t>(1, m)(rng); break;
      case TFillPolicy::kOnePerPage: n = 1; break;
    }
    n = std::min(n, entries);
    sizes.push_back(n);
    entries -= n;
  }
  if (sizes.empty()) sizes.push_back(0);  // the single empty page of an empty index
  return sizes;
}

struct DirEntry {
  int32_t page;
  int32_t record;
  uint8_t prefix[kKeyPrefixSize];
};

std::vector<uint8_t> SmallDirectory(const std::vector<DirEntry>& entries) {
  std::vector<uint8_t> file(entries.size() * 8, 0);
  for (size_t i = 0; i < entries.size(); ++i) {
    PutInt32(&file[i * 8], entries[i].page);
    PutInt32(&file[i * 8 + 4], entries[i].record);
  }
  return file;
}

std::vector<uint8_t> LargeDirectory(const std::vector<DirEntry>& entries) {
  const size_t count = entries.size();
  const size_t blocks = (count + kDirEntriesPerBlock - 1) / kDirEntriesPerBlock;
  std::vector<uint8_t> file((blocks + 1) * kDirBlockBytes, 0);
  PutInt32(&file[0], static_cast<int32_t>(count));
  for (size_t i = 0; i < blocks * kDirEntriesPerBlock; ++i) {
    uint8_t* e = &file[(i / kDirEntriesPerBlock + 1) * kDirBlockBytes +
                       (i % kDirEntriesPerBlock) * kDirEntryBytes];
    if (i < count) {
      PutInt32(e, entries[i].page);
      PutInt32(e + 4, entries[i].record);
      std::copy_n(entries[i].prefix, kKeyPrefixSize, e + 8);
    } else {
      PutInt32(e + 4, -1);  // a fresh entry: page 0, record -1
    }
  }
  return file;
}

void BuildIndex(const TableData& t, const std::string& mti_path, int index,
                const TTableCounters& counters, const IndexBuildOptions& o) {
  const TPageFormat& format = TPageFormat::ForLevel(t.def.FormatLevel());
  const size_t page_bytes = format.PageBytes();
  std::mt19937 rng(o.seed * 31u + static_cast<uint32_t>(index));

  const std::vector<int32_t> order = SortedRecords(t, index);
  const std::vector<int32_t> sizes =
      PageSizes(static_cast<int32_t>(order.size()), format.max_entries, o, rng);
  const auto leaves = static_cast<int32_t>(sizes.size());
  const int32_t free_count = std::max(o.free_pages, 0);

  // Page numbers: leaves first, then free pages, unless scattered.
  std::vector<int32_t> numbers(static_cast<size_t>(leaves + free_count));
  std::iota(numbers.begin(), numbers.end(), kFirstLeafPage);
  if (o.scatter_pages) std::shuffle(numbers.begin(), numbers.end(), rng);
  std::vector<int32_t> free_pages(numbers.begin() + leaves, numbers.end());
  if (!o.scatter_pages) std::sort(free_pages.begin(), free_pages.end());

  const int32_t total_pages = kFirstLeafPage + leaves + free_count;
  std::vector<uint8_t> leaf(static_cast<size_t>(total_pages) * page_bytes, 0);
  auto page = [&](int32_t p) { return &leaf[static_cast<size_t>(p) * page_bytes]; };

  PutInt32(page(0), free_count);
  PutInt32(page(0) + 4, free_pages.empty() ? -1 : free_pages.front());
  if (index == 0) {
    PutInt32(page(1), counters.free_records);
    PutInt32(page(1) + 4, counters.first_free_record);
    PutInt32(page(1) + 8, counters.next_autoinc);
    PutInt32(page(1) + 12, counters.change_counter);
    PutInt32(page(1) + 16, counters.kept_value);
  } else {
    PutInt32(page(1) + 4, -1);
  }
  for (size_t k = 0; k < free_pages.size(); ++k)
    PutInt32(page(free_pages[k]) + 4, k + 1 < free_pages.size() ? free_pages[k + 1] : -1);

  std::vector<DirEntry> directory;
  size_t next = 0;
  for (int32_t l = 0; l < leaves; ++l) {
    uint8_t* p = page(numbers[l]);
    const int32_t n = sizes[l];
    PutInt32(p, n);
    if (n == 0) PutInt32(p + 4, -1);
    for (int32_t k = 1; k <= n; ++k, ++next) {
      const int32_t record = order[next];
      PutInt32(p + 4 * k, record);
      if (format.has_prefixes)
        BuildKeyPrefix(t.def, index, t.Record(record), p + kKeyAreaOffset + 12 * (k - 1));
    }
    DirEntry e{numbers[l], n > 0 ? GetInt32(p + 4) : -1, {}};
    if (format.has_prefixes && n > 0) std::copy_n(p + kKeyAreaOffset, kKeyPrefixSize, e.prefix);
    directory.push_back(e);
  }

  WriteFile(LeafPageFileName(mti_path, index), leaf);
  WriteFile(DirectoryFileName(mti_path, index),
            format.has_prefixes ? LargeDirectory(directory) : SmallDirectory(directory));
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
