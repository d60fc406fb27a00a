// The folder where a fuzz target puts the files it makes from each input:
// one per process, in memory when /dev/shm exists (every input writes a
// whole table), removed when the process ends normally.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace logvane::fuzz {

class TScratchFolder {
 public:
  TScratchFolder();
  ~TScratchFolder();
  TScratchFolder(const TScratchFolder&) = delete;
  TScratchFolder& operator=(const TScratchFolder&) = delete;

  // The path of `name` inside the folder.
  std::string File(const std::string& name) const;
  // Replaces the file at `path` with `bytes`; aborts when that fails, since
  // the target could not test what it was given.
  static void Write(const std::string& path, std::string_view bytes);
  // Removes the file at `path` if it exists.
  static void Remove(const std::string& path);

 private:
  std::string path_;
};

}  // namespace logvane::fuzz
