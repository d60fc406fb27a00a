// The names of an index's two files: the table file name with its extension
// replaced by ".m" + letter + "1" (leaf pages) or "2" (directory), the
// letter being 'a' for index 0, 'b' for index 1, ... 'z' for index 25.
#pragma once

#include <string>

namespace logvane {

// REQUIRES: 0 <= index < 26.
std::string LeafPageFileName(const std::string& table_path, int index);
std::string DirectoryFileName(const std::string& table_path, int index);

}  // namespace logvane
