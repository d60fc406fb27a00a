// Building index files from record images. Formats: page_file.h,
// small_directory.h, large_directory.h.
#include "index/index_build.h"

#include <algorithm>
#include <numeric>
#include <random>

#include "base/byte_order.h"
#include "index/large_directory.h"
#include "table/keys.h"

namespace logvane {

namespace {

std::vector<int32_t> PageSizes(int32_t entries, int32_t m, const TIndexBuildLayout& o,
                               std::mt19937& rng) {
  std::vector<int32_t> sizes;
  while (entries > 0) {
    int32_t n = m;
    switch (o.fill) {
      case TLeafFill::kFull: n = m; break;
      case TLeafFill::kHalf: n = (m + 1) / 2; break;
      case TLeafFill::kRandom: n = std::uniform_int_distribution<int32_t>(1, m)(rng); break;
      case TLeafFill::kOnePerPage: n = 1; break;
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

}  // namespace

void SortForIndex(const TmtbTableDef& def, const TRecordImages& images, int index,
                  std::vector<int32_t>& records) {
  std::stable_sort(records.begin(), records.end(), [&](int32_t a, int32_t b) {
    return CompareKeys(def, images.Record(a), images.Record(b), true, index) < 0;
  });
}

size_t FindEqualKeys(const TmtbTableDef& def, const TRecordImages& images,
                     const std::vector<int32_t>& order, size_t from) {
  for (size_t k = std::max<size_t>(from, 1); k < order.size(); ++k)
    if (CompareKeys(def, images.Record(order[k - 1]), images.Record(order[k]), true, 0) == 0)
      return k;
  return order.size();
}

TIndexFiles BuildIndexFiles(const TmtbTableDef& def, const TRecordImages& images, int index,
                            const std::vector<int32_t>& order, const TTableCounters& counters,
                            const TIndexBuildLayout& layout) {
  const TPageFormat& format = TPageFormat::ForLevel(def.FormatLevel());
  const size_t page_bytes = static_cast<size_t>(format.PageBytes());
  std::mt19937 rng(layout.seed * 31u + static_cast<uint32_t>(index));

  const std::vector<int32_t> sizes =
      PageSizes(static_cast<int32_t>(order.size()), format.max_entries, layout, rng);
  const auto leaves = static_cast<int32_t>(sizes.size());
  const int32_t free_count = std::max(layout.free_pages, 0);

  // Page numbers: leaves first, then free pages, unless scattered.
  std::vector<int32_t> numbers(static_cast<size_t>(leaves + free_count));
  std::iota(numbers.begin(), numbers.end(), kFirstLeafPage);
  if (layout.scatter_pages) std::shuffle(numbers.begin(), numbers.end(), rng);
  std::vector<int32_t> free_pages(numbers.begin() + leaves, numbers.end());
  if (!layout.scatter_pages) std::sort(free_pages.begin(), free_pages.end());

  const int32_t total_pages = kFirstLeafPage + leaves + free_count;
  TIndexFiles files;
  std::vector<uint8_t>& leaf = files.leaf;
  leaf.assign(static_cast<size_t>(total_pages) * page_bytes, 0);
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
  directory.reserve(static_cast<size_t>(leaves));
  size_t next = 0;
  for (int32_t l = 0; l < leaves; ++l) {
    uint8_t* p = page(numbers[static_cast<size_t>(l)]);
    const int32_t n = sizes[static_cast<size_t>(l)];
    PutInt32(p, n);
    if (n == 0) PutInt32(p + 4, -1);
    for (int32_t k = 1; k <= n; ++k, ++next) {
      const int32_t record = order[next];
      PutInt32(p + 4 * k, record);
      if (format.has_prefixes)
        BuildKeyPrefix(def, index, images.Record(record), p + kKeyAreaOffset + 12 * (k - 1));
    }
    DirEntry e{numbers[static_cast<size_t>(l)], n > 0 ? GetInt32(p + 4) : -1, {}};
    if (format.has_prefixes && n > 0) std::copy_n(p + kKeyAreaOffset, kKeyPrefixSize, e.prefix);
    directory.push_back(e);
  }
  files.directory = format.has_prefixes ? LargeDirectory(directory) : SmallDirectory(directory);
  return files;
}

}  // namespace logvane
