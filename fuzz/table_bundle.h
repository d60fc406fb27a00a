// The whole-table fuzz input: every file of one table in one byte string,
// so that a fuzzer can change any of them and their sizes.
//
//   byte 0      option bits (TBundleOption)
//   byte 1      k: the number of indexes whose two files follow (mod 27)
//   byte 2      3 + 2k file lengths, uint32 little-endian each: the
//               definition (.mti), the data file (.MTD), the blob file
//               (.blb), then the leaf page file and the directory of index
//               0, 1, ... k - 1; 0xFFFFFFFF means the file does not exist
//   then        the files' bytes, one after another in the same order; a
//               length running past the end of the input gets what remains
//
// Index files of indexes k and above do not exist. The lengths come first
// so that most mutations land inside a file and leave the others whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace logvane::fuzz {

enum TBundleOption : uint8_t {
  // Open for reading beside a writer (others may write) instead of the
  // export's read-only open.
  kBundleReadBesideWriter = 1,
  // Export through a filter on the contact log's fields.
  kBundleFiltered = 2,
};

inline constexpr uint32_t kAbsentFile = 0xFFFFFFFF;
inline constexpr int kBundleMaxIndexes = 26;

struct TTableBundle {
  uint8_t options = 0;
  // Definition, data file, blob file, then two files per index; nullopt
  // for a file that does not exist.
  std::vector<std::optional<std::string_view>> files;
};

// Splits `data` as laid out above. Never fails: missing lengths read as
// absent files.
TTableBundle SplitBundle(const uint8_t* data, size_t size);

// The bundle of the table whose definition file is `mti_path`: every file
// of its first `index_files` indexes that exists.
std::string MakeBundle(const std::string& mti_path, int index_files, uint8_t options);

// The paths of the bundle's files for a table at `mti_path`, in bundle
// order, for `index_files` indexes.
std::vector<std::string> BundlePaths(const std::string& mti_path, int index_files);

}  // namespace logvane::fuzz
