// Splitting and making whole-table fuzz inputs.
#include "fuzz/table_bundle.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "base/byte_order.h"
#include "index/index_names.h"
#include "platform/file.h"

namespace logvane::fuzz {

std::vector<std::string> BundlePaths(const std::string& mti_path, int index_files) {
  std::vector<std::string> paths = {mti_path, platform::ChangeFileExt(mti_path, ".MTD"),
                                    platform::ChangeFileExt(mti_path, ".blb")};
  for (int i = 0; i < index_files; ++i) {
    paths.push_back(LeafPageFileName(mti_path, i));
    paths.push_back(DirectoryFileName(mti_path, i));
  }
  return paths;
}

TTableBundle SplitBundle(const uint8_t* data, size_t size) {
  TTableBundle bundle;
  if (size < 2) return bundle;
  bundle.options = data[0];
  const int index_files = data[1] % (kBundleMaxIndexes + 1);
  const size_t file_count = 3 + 2 * static_cast<size_t>(index_files);
  size_t header = 2 + 4 * file_count;
  if (header > size) header = size;
  size_t at = header;
  for (size_t f = 0; f < file_count; ++f) {
    const size_t field = 2 + 4 * f;
    if (field + 4 > header) {
      bundle.files.emplace_back();
      continue;
    }
    const uint32_t length = static_cast<uint32_t>(GetInt32(data + field));
    if (length == kAbsentFile) {
      bundle.files.emplace_back();
      continue;
    }
    const size_t take = std::min<size_t>(length, size - at);
    bundle.files.emplace_back(std::string_view(reinterpret_cast<const char*>(data + at), take));
    at += take;
  }
  return bundle;
}

std::string MakeBundle(const std::string& mti_path, int index_files, uint8_t options) {
  const std::vector<std::string> paths = BundlePaths(mti_path, index_files);
  std::string head(2 + 4 * paths.size(), '\0');
  head[0] = static_cast<char>(options);
  head[1] = static_cast<char>(index_files);
  std::string body;
  for (size_t f = 0; f < paths.size(); ++f) {
    uint32_t length = kAbsentFile;
    if (platform::FileExists(paths[f])) {
      std::ifstream in(paths[f], std::ios::binary);
      if (!in) throw std::runtime_error("cannot read " + paths[f]);
      const std::string bytes((std::istreambuf_iterator<char>(in)), {});
      length = static_cast<uint32_t>(bytes.size());
      body += bytes;
    }
    PutInt32(reinterpret_cast<uint8_t*>(head.data()) + 2 + 4 * f, static_cast<int32_t>(length));
  }
  return head + body;
}

}  // namespace logvane::fuzz
