// The version block as the build stores it and the program reads it back
// from its own file, and the reader's refusal of damaged executables.
#include "platform/executable_info.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "app/caption.h"
#include "test_support.h"

namespace logvane::platform {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

TEST(ExecutableInfo, TheTestProgramCarriesTheProjectsVersionBlock) {
  const std::string self = ExecutablePath();
  ASSERT_FALSE(self.empty());
  EXPECT_EQ(self.front(), '/');
  auto block = ReadVersionBlock(self);
  ASSERT_TRUE(block.has_value());
  EXPECT_EQ(block->file_version, (TFileVersion{1, 0, 4, 0}));
  EXPECT_EQ(block->product_version, (TFileVersion{1, 0, 4, 0}));
  EXPECT_EQ(block->language, 0x0409);
  EXPECT_EQ(block->code_page, 1252);
  EXPECT_EQ(block->String("FileDescription"), "Convert Tavisk Log Data to ADIF.");
  EXPECT_EQ(block->String("FileVersion"), "1.0.4.0");
  EXPECT_EQ(block->String("InternalName"), "Logvane");
  EXPECT_EQ(block->String("ProductName"), "Logvane");
  EXPECT_EQ(block->String("ProductVersion"), "1");
  for (const char* empty : {"CompanyName", "LegalTrademarks", "OriginalFilename"}) {
    EXPECT_EQ(block->String(empty), "") << empty;
  }
  EXPECT_EQ(block->strings.size(), 8u);
  EXPECT_EQ(ProgramCaption(), "Zentro Logvane v1.04, ADIF Spec v1.00");
}

TEST(ExecutableInfo, FolderWithSeparator) {
  EXPECT_EQ(FolderWithSeparator("/opt/lv/logvane"), "/opt/lv/");
  EXPECT_EQ(FolderWithSeparator("/logvane"), "/");
  EXPECT_EQ(FolderWithSeparator("logvane"), "");
}

TEST(ExecutableInfo, ParsesOnlyWellFormedBlocks) {
  std::vector<uint8_t> block(kVersionBlockHeaderSize, 0);
  std::memcpy(block.data(), kVersionBlockSignature, 8);
  block[8] = 3;  // major 3
  const std::string strings("Key\0Value\0Empty\0\0", 17);
  block[28] = static_cast<uint8_t>(strings.size());
  block.insert(block.end(), strings.begin(), strings.end());
  auto parsed = ParseVersionBlock(block.data(), block.size());
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(parsed->file_version.major, 3);
  EXPECT_EQ(parsed->String("Key"), "Value");
  EXPECT_EQ(parsed->String("Empty"), "");
  EXPECT_EQ(parsed->String("Missing"), "");

  auto broken = block;
  broken[0] = 'X';  // signature
  EXPECT_FALSE(ParseVersionBlock(broken.data(), broken.size()));
  broken = block;
  broken[28] = static_cast<uint8_t>(strings.size() + 1);  // string table past the end
  EXPECT_FALSE(ParseVersionBlock(broken.data(), broken.size()));
  broken = block;
  broken[28] = static_cast<uint8_t>(strings.size() - 1);  // last value without its NUL
  EXPECT_FALSE(ParseVersionBlock(broken.data(), broken.size()));
  broken = block;
  broken[28] = 4;  // a key without a value
  EXPECT_FALSE(ParseVersionBlock(broken.data(), broken.size()));
  EXPECT_FALSE(ParseVersionBlock(block.data(), kVersionBlockHeaderSize - 1));
  EXPECT_FALSE(ParseVersionBlock(nullptr, 0));
}

// Copies of this program, damaged in the places the reader relies on.
class DamagedExecutable : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = ReadBytes(ExecutablePath());
    ASSERT_GT(image_.size(), 0x40u);
    ASSERT_EQ(image_[4], 2) << "a 64-bit executable is expected";
  }
  std::optional<TVersionBlock> ReadCopy(const std::vector<uint8_t>& bytes) {
    WriteBytes(path_, bytes);
    return ReadVersionBlock(path_);
  }
  uint64_t SectionTable() const {
    uint64_t v = 0;
    std::memcpy(&v, &image_[0x28], 8);
    return v;
  }
  uint16_t SectionCount() const {
    return static_cast<uint16_t>(image_[0x3C] | (image_[0x3D] << 8));
  }
  // Offset of the section header of the version section.
  size_t VersionSectionHeader() const {
    const uint16_t names_index = static_cast<uint16_t>(image_[0x3E] | (image_[0x3F] << 8));
    uint64_t names_offset = 0;
    std::memcpy(&names_offset, &image_[SectionTable() + names_index * 64u + 0x18], 8);
    for (size_t i = 0; i < SectionCount(); ++i) {
      const size_t header = SectionTable() + i * 64;
      uint32_t name = 0;
      std::memcpy(&name, &image_[header], 4);
      if (std::strcmp(reinterpret_cast<const char*>(&image_[names_offset + name]),
                      LOGVANE_VERSION_SECTION) == 0) {
        return header;
      }
    }
    return 0;
  }

  TempDir dir_;
  std::string path_ = dir_.File("copy");
  std::vector<uint8_t> image_;
};

TEST_F(DamagedExecutable, AnIntactCopyReadsAndDamageInEachPlaceIsRefused) {
  EXPECT_TRUE(ReadCopy(image_).has_value());
  const size_t header = VersionSectionHeader();
  ASSERT_NE(header, 0u);

  auto bytes = image_;
  bytes[1] = 'X';  // not ELF
  EXPECT_FALSE(ReadCopy(bytes));
  bytes = image_;
  bytes[5] = 2;  // big-endian
  EXPECT_FALSE(ReadCopy(bytes));
  EXPECT_FALSE(ReadCopy({image_.begin(), image_.begin() + 0x30}));  // cut inside the header
  EXPECT_FALSE(ReadCopy({image_.begin(), image_.begin() + static_cast<long>(header)}));  // no table
  bytes = image_;
  std::memset(&bytes[0x28], 0xFF, 8);  // section table far past the end
  EXPECT_FALSE(ReadCopy(bytes));
  bytes = image_;
  bytes[0x3C] = bytes[0x3D] = 0xFF;  // more sections than the file holds
  EXPECT_FALSE(ReadCopy(bytes));
  bytes = image_;
  bytes[0x3E] = bytes[0x3F] = 0xFE;  // name table index out of range
  EXPECT_FALSE(ReadCopy(bytes));
  bytes = image_;
  std::memset(&bytes[header + 0x18], 0x7F, 8);  // section data past the end
  EXPECT_FALSE(ReadCopy(bytes));
  bytes = image_;
  std::memset(&bytes[header + 0x20], 0x7F, 8);  // absurd section size
  EXPECT_FALSE(ReadCopy(bytes));
  bytes = image_;
  std::memset(&bytes[header], 0xFF, 4);  // name outside the name table
  EXPECT_FALSE(ReadCopy(bytes));
  bytes = image_;
  bytes[header + 4] = 8;  // no file space
  EXPECT_FALSE(ReadCopy(bytes));
  EXPECT_FALSE(ReadCopy({}));
  EXPECT_FALSE(ReadVersionBlock(dir_.File("missing")));
  EXPECT_FALSE(ReadVersionBlock(dir_.Path().string()));  // a folder
}

TEST_F(DamagedExecutable, RandomDamageToHeadersNeverCrashes) {
  std::mt19937 random(7);
  // Bytes worth hitting: the file header and the section header table.
  const size_t table = SectionTable(), table_end = table + SectionCount() * 64u;
  for (int round = 0; round < 100; ++round) {
    auto bytes = image_;
    for (int flip = 0; flip < 4; ++flip) {
      const size_t at =
          random() % 2 == 0 ? random() % 0x40 : table + random() % (table_end - table);
      bytes[at] = static_cast<uint8_t>(random());
    }
    // Any answer will do; a crash or a read past the file (under the
    // sanitizers) will not.
    (void)ReadCopy(bytes);
  }
}

}  // namespace
}  // namespace logvane::platform
