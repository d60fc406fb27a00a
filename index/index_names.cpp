// Index file names.
#include "index/index_names.h"

#include "platform/file.h"

namespace logvane {

namespace {

std::string IndexExtension(int index, char level) {
  return std::string(".m") + static_cast<char>('a' + index) + level;
}

}  // namespace

std::string LeafPageFileName(const std::string& table_path, int index) {
  return platform::ChangeFileExt(table_path, IndexExtension(index, '1'));
}

std::string DirectoryFileName(const std::string& table_path, int index) {
  return platform::ChangeFileExt(table_path, IndexExtension(index, '2'));
}

}  // namespace logvane
