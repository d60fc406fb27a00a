// The executable's path and its version block, found through the ELF
// section header table.
//
// ELF fields used (little-endian files only; offsets for 32-bit / 64-bit):
//
//   file header   e_ident[4] class (1 = 32-bit, 2 = 64-bit), e_ident[5]
//                 data (1 = little-endian); e_shoff 0x20 / 0x28 (offset of
//                 the section headers); e_shentsize 0x2E / 0x3A; e_shnum
//                 0x30 / 0x3C; e_shstrndx 0x32 / 0x3E. A section count of 0
//                 with a non-zero e_shoff means the count is in section 0's
//                 sh_size; a name index of 0xFFFF means it is in section 0's
//                 sh_link.
//   section header  sh_name 0x00 (offset in the name table), sh_type 0x04,
//                 sh_link 0x18 / 0x28, sh_offset 0x10 / 0x18, sh_size
//                 0x14 / 0x20.
//
// Every offset and size is checked against the file's size before it is
// used; a file that fails any check simply has no version block.
#include "platform/executable_info.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <limits>

namespace logvane::platform {
namespace {

constexpr uint32_t kSectionNoBits = 8;  // SHT_NOBITS: occupies no file space
constexpr uint16_t kExtendedIndex = 0xFFFF;
// Limits that no real executable reaches; they bound what a damaged file
// can make us allocate.
constexpr uint64_t kMaxSectionCount = 1u << 20;
constexpr uint64_t kMaxNameTableSize = 64u << 20;

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t Get64(const uint8_t* p) {
  return static_cast<uint64_t>(Get32(p)) | (static_cast<uint64_t>(Get32(p + 4)) << 32);
}

// A read-only descriptor with positioned, size-checked reads.
class InputFile {
 public:
  explicit InputFile(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    struct stat st {};
    if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
      size_ = static_cast<uint64_t>(st.st_size);
    }
  }
  ~InputFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  uint64_t Size() const { return size_; }

  // Reads exactly `size` bytes at `offset`; false when they do not lie
  // inside the file or the read comes up short.
  bool ReadAt(uint64_t offset, uint64_t size, std::vector<uint8_t>& out) const {
    if (offset > size_ || size > size_ - offset) return false;
    out.resize(size);
    uint64_t done = 0;
    while (done < size) {
      ssize_t n = ::pread(fd_, out.data() + done, size - done, static_cast<off_t>(offset + done));
      if (n <= 0) return false;
      done += static_cast<uint64_t>(n);
    }
    return true;
  }

 private:
  int fd_;
  uint64_t size_ = 0;
};

struct Section {
  uint32_t name;
  uint32_t type;
  uint32_t link;
  uint64_t offset;
  uint64_t size;
};

Section SectionAt(const uint8_t* p, bool is64) {
  if (is64) return {Get32(p), Get32(p + 4), Get32(p + 0x28), Get64(p + 0x18), Get64(p + 0x20)};
  return {Get32(p), Get32(p + 4), Get32(p + 0x18), Get32(p + 0x10), Get32(p + 0x14)};
}

std::optional<std::vector<uint8_t>> FindVersionSection(const InputFile& file) {
  std::vector<uint8_t> header;
  if (!file.ReadAt(0, 0x40, header) && !file.ReadAt(0, 0x34, header)) return std::nullopt;
  if (std::memcmp(header.data(),
                  "\x7F"
                  "ELF",
                  4) != 0 ||
      header[5] != 1)
    return std::nullopt;
  if (header[4] != 1 && header[4] != 2) return std::nullopt;
  const bool is64 = header[4] == 2;
  if (is64 && header.size() < 0x40) return std::nullopt;
  const uint16_t min_entry_size = is64 ? 0x40 : 0x28;

  const uint64_t table_offset = is64 ? Get64(&header[0x28]) : Get32(&header[0x20]);
  const uint16_t entry_size = Get16(&header[is64 ? 0x3A : 0x2E]);
  uint64_t count = Get16(&header[is64 ? 0x3C : 0x30]);
  uint32_t names_index = Get16(&header[is64 ? 0x3E : 0x32]);
  if (table_offset == 0 || entry_size < min_entry_size) return std::nullopt;

  std::vector<uint8_t> first;
  if (!file.ReadAt(table_offset, entry_size, first)) return std::nullopt;
  const Section zero = SectionAt(first.data(), is64);
  if (count == 0) count = zero.size;
  if (names_index == kExtendedIndex) names_index = zero.link;
  if (count == 0 || count > kMaxSectionCount || names_index >= count) return std::nullopt;

  std::vector<uint8_t> table;
  if (!file.ReadAt(table_offset, count * entry_size, table)) return std::nullopt;
  const Section names = SectionAt(&table[names_index * entry_size], is64);
  if (names.size > kMaxNameTableSize) return std::nullopt;
  std::vector<uint8_t> name_bytes;
  if (!file.ReadAt(names.offset, names.size, name_bytes)) return std::nullopt;

  static constexpr std::string_view kWanted = LOGVANE_VERSION_SECTION;
  for (uint64_t i = 0; i < count; ++i) {
    const Section s = SectionAt(&table[i * entry_size], is64);
    if (s.type == kSectionNoBits || s.name >= name_bytes.size()) continue;
    // The name runs to the next NUL inside the name table.
    const auto* start = reinterpret_cast<const char*>(&name_bytes[s.name]);
    const size_t room = name_bytes.size() - s.name;
    const size_t length = strnlen(start, room);
    if (length == room || std::string_view(start, length) != kWanted) continue;
    if (s.size > kVersionBlockMaxSize) return std::nullopt;
    std::vector<uint8_t> block;
    if (!file.ReadAt(s.offset, s.size, block)) return std::nullopt;
    return block;
  }
  return std::nullopt;
}

TFileVersion VersionAt(const uint8_t* p) {
  return {Get16(p), Get16(p + 2), Get16(p + 4), Get16(p + 6)};
}

}  // namespace

std::string TVersionBlock::String(std::string_view key) const {
  for (const auto& [k, v] : strings) {
    if (k == key) return v;
  }
  return {};
}

std::string ExecutablePath() {
  std::vector<char> buffer(256);
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buffer.size())
      return std::string(buffer.data(), static_cast<size_t>(n));
    if (buffer.size() >= 1u << 16) return {};
    buffer.resize(buffer.size() * 2);
  }
}

std::string FolderWithSeparator(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::optional<TVersionBlock> ParseVersionBlock(const uint8_t* data, size_t size) {
  if (data == nullptr || size < kVersionBlockHeaderSize) return std::nullopt;
  if (std::memcmp(data, kVersionBlockSignature, sizeof kVersionBlockSignature) != 0) {
    return std::nullopt;
  }
  TVersionBlock block;
  block.file_version = VersionAt(data + 8);
  block.product_version = VersionAt(data + 16);
  block.language = Get16(data + 24);
  block.code_page = Get16(data + 26);
  const uint32_t strings_size = Get32(data + 28);
  if (strings_size > size - kVersionBlockHeaderSize) return std::nullopt;

  const char* p = reinterpret_cast<const char*>(data + kVersionBlockHeaderSize);
  const char* end = p + strings_size;
  auto next = [&](std::string& out) {
    const void* nul = std::memchr(p, '\0', static_cast<size_t>(end - p));
    if (nul == nullptr) return false;
    out.assign(p, static_cast<const char*>(nul));
    p = static_cast<const char*>(nul) + 1;
    return true;
  };
  while (p < end) {
    std::string key, value;
    if (!next(key) || !next(value)) return std::nullopt;
    block.strings.emplace_back(std::move(key), std::move(value));
  }
  return block;
}

std::optional<TVersionBlock> ReadVersionBlock(const std::string& path) {
  InputFile file(path);
  if (file.Size() == 0) return std::nullopt;
  std::optional<std::vector<uint8_t>> bytes = FindVersionSection(file);
  if (!bytes) return std::nullopt;
  return ParseVersionBlock(bytes->data(), bytes->size());
}

}  // namespace logvane::platform
