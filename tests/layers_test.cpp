// The source folders form a stack: a file includes headers of its own
// folder and of folders below it, never of a folder above. This test reads
// every source file of the layers and fails on an upward include, naming
// the file, the line and the folder it reached.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>

namespace {

namespace fs = std::filesystem;

// Folder -> its level; a file may include folders of a lower level and its
// own folder. Folders on one level (index, blob, filter) stay apart.
const std::map<std::string, int> kLevels = {
    {"platform", 0}, {"base", 1},   {"table", 2},     {"index", 3}, {"blob", 3},
    {"filter", 3},   {"engine", 4}, {"component", 5}, {"app", 6},   {"cli", 7},
};
// The test tools write tables: they stand beside the stack, over the file
// layers and under the engine.
const std::map<std::string, int> kToolLevels = {{"tools", 4}};

TEST(Layers, NoFileIncludesAFolderAboveItsOwn) {
  const fs::path root = LOGVANE_SOURCE_DIR;
  const std::regex include_line(R"(^\s*#\s*include\s+"([a-z_]+)/)");
  int files = 0;
  auto check_folder = [&](const std::string& folder, int level) {
    for (const auto& entry : fs::recursive_directory_iterator(root / folder)) {
      const std::string ext = entry.path().extension().string();
      if (ext != ".h" && ext != ".cpp") continue;
      ++files;
      std::ifstream in(entry.path());
      std::string line;
      for (int n = 1; std::getline(in, line); ++n) {
        std::smatch m;
        if (!std::regex_search(line, m, include_line)) continue;
        const std::string target = m[1];
        if (target == folder) continue;
        const auto it = kLevels.find(target);
        const bool allowed = it != kLevels.end() && it->second < level;
        EXPECT_TRUE(allowed) << fs::relative(entry.path(), root).string() << ":" << n
                             << " includes " << target << "/";
      }
    }
  };
  for (const auto& [folder, level] : kLevels) check_folder(folder, level);
  for (const auto& [folder, level] : kToolLevels) check_folder(folder, level);
  EXPECT_GT(files, 100) << "the source tree was not found at " << root;
}

}  // namespace
