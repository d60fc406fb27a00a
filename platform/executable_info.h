// The running executable: its own path, and the version block that the build
// stores in it as data.
//
// VERSION BLOCK. The build places one block in the ELF section named
// LOGVANE_VERSION_SECTION of every program that links the generated version
// object (app/version_block.cpp.in). Its layout, all numbers little-endian:
//
//   offset  width  content
//   0       8      signature "LVVBLK1" and a NUL
//   8       8      fixed file version: major, minor, release, build (uint16)
//   16      8      fixed product version, the same four numbers
//   24      2      language of the strings (0x0409, US English)
//   26      2      code page of the strings (1252)
//   28      4      S, the byte length of the string table (uint32)
//   32      S      string table: pairs of NUL-terminated key and value
//                  ("FileDescription", "Convert Tavisk Log Data to ADIF.",
//                  ...); a value may be empty
//
// The block is read back from the file on disk, not from memory, so that the
// version of any executable can be read by path, and the number that a user
// sees is the one the file carries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The section's name, a string literal so that it can be used in a section
// attribute.
#define LOGVANE_VERSION_SECTION ".logvane_version"

namespace logvane::platform {

inline constexpr char kVersionBlockSignature[8] = {'L', 'V', 'V', 'B', 'L', 'K', '1', '\0'};
inline constexpr size_t kVersionBlockHeaderSize = 32;
// No real block comes near this; anything larger is not read.
inline constexpr size_t kVersionBlockMaxSize = 64 * 1024;

// Four 16-bit numbers, most significant first.
struct TFileVersion {
  uint16_t major = 0;
  uint16_t minor = 0;
  uint16_t release = 0;
  uint16_t build = 0;
  bool operator==(const TFileVersion&) const = default;
};

struct TVersionBlock {
  TFileVersion file_version;
  TFileVersion product_version;
  uint16_t language = 0;
  uint16_t code_page = 0;
  std::vector<std::pair<std::string, std::string>> strings;

  // The value stored under `key` (exact comparison); empty when absent.
  std::string String(std::string_view key) const;
};

// Full path of the running executable (from /proc/self/exe); empty when the
// system does not tell.
std::string ExecutablePath();

// The folder part of `path` with its trailing separator: "/opt/lv/logvane"
// gives "/opt/lv/". A path without a separator gives an empty text.
std::string FolderWithSeparator(const std::string& path);

// The version block of the executable at `path`; nullopt when the file
// cannot be read, is not a little-endian ELF file, has no version section,
// or the block is malformed. Every offset and size in the file is checked
// against the file before use; never throws for a bad file.
std::optional<TVersionBlock> ReadVersionBlock(const std::string& path);

// Parses the bytes of a version section. nullopt when the signature is
// wrong, the header or the string table is cut short, or the last pair is
// incomplete.
std::optional<TVersionBlock> ParseVersionBlock(const uint8_t* data, size_t size);

}  // namespace logvane::platform
