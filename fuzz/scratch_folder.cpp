// The fuzz targets' scratch folder.
#include "fuzz/scratch_folder.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace logvane::fuzz {

TScratchFolder::TScratchFolder() {
  std::error_code ec;
  std::filesystem::path base = "/dev/shm";
  if (!std::filesystem::is_directory(base, ec)) base = std::filesystem::temp_directory_path();
  path_ = (base / ("logvane-fuzz-" + std::to_string(getpid()))).string();
  std::filesystem::remove_all(path_, ec);
  if (!std::filesystem::create_directories(path_, ec)) {
    std::fprintf(stderr, "cannot make the scratch folder %s\n", path_.c_str());
    std::abort();
  }
}

TScratchFolder::~TScratchFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string TScratchFolder::File(const std::string& name) const { return path_ + "/" + name; }

void TScratchFolder::Write(const std::string& path, std::string_view bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  bool ok = f != nullptr;
  if (ok && !bytes.empty()) ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (f != nullptr) ok = std::fclose(f) == 0 && ok;
  if (!ok) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::abort();
  }
}

void TScratchFolder::Remove(const std::string& path) { std::remove(path.c_str()); }

}  // namespace logvane::fuzz
