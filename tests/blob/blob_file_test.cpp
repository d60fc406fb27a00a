// The blob file: opening (block size, free list and its limit, topping the
// list up on a writable open) and reading values along their chains, whole
// or damaged.
#include "blob/blob_file.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <functional>

#include "base/errors.h"
#include "base/messages.h"
#include "test_support.h"
#include "tools/blob_writer.h"

namespace logvane {
namespace {

using F = tools::BlobHeaderField;

// `n` bytes that differ from block to block and from value to value.
std::string Pattern(size_t n, int seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 251 + seed * 31) & 0xFF);
  return s;
}

std::string AsString(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

class BlobFileTest : public ::testing::Test {
 protected:
  // B = 512: one 1000-byte value of 3 blocks (488 + 488 + 24 used bytes)
  // owned by record 4, field 2, then a single-block value, then free blocks.
  tools::BlobFileLayout WriteFile(int free_blocks, bool free_first = false) {
    tools::BlobFileContents desc;
    desc.values = {{Pattern(1000, 1), 4, 2}, {Pattern(10, 2), 5, 2}};
    desc.free_blocks = free_blocks;
    desc.free_blocks_first = free_first;
    return tools::WriteBlobFile(path_, desc);
  }

  // The message of the EBlobError `f` raises; "no error" when none.
  static std::string BlobErrorOf(const std::function<void()>& f) {
    try {
      f();
    } catch (const EBlobError& e) {
      return e.what();
    }
    return "no error";
  }

  int32_t FileSize() const { return static_cast<int32_t>(std::filesystem::file_size(path_)); }

  // The free chain on disk, from block 0's head; every block on it marked free.
  std::vector<int32_t> DiskFreeChain() const {
    const std::vector<uint8_t> bytes = test::ReadBytes(path_);
    std::vector<int32_t> chain;
    for (int32_t at = GetInt32(&bytes[4]);
         at > 0 && static_cast<size_t>(at) + kBlobHeaderSize <= bytes.size() && chain.size() < 20;
         at = GetInt32(&bytes[at + 16])) {
      chain.push_back(at);
      EXPECT_EQ(GetInt32(&bytes[at + 8]), -1) << "block " << at << " is not marked free";
    }
    return chain;
  }

  test::TempDir dir_;
  std::string path_ = dir_.File("T.blb");
  TBlobFile blob_;
  std::vector<uint8_t> dest_;
};

TEST_F(BlobFileTest, ValuesOfOneAndSeveralBlocksReadBackExactly) {
  for (auto [block_size, interleave] : {std::pair{512, false}, {512, true}, {64, true}}) {
    SCOPED_TRACE(testing::Message() << "B=" << block_size << " interleave=" << interleave);
    const size_t p = static_cast<size_t>(block_size - kBlobHeaderSize);
    tools::BlobFileContents desc;
    desc.block_size = block_size;
    desc.interleave = interleave;  // chains jump about the file
    desc.free_blocks = 2;
    desc.free_blocks_first = true;
    desc.values = {{Pattern(1000, 1), 0, 1},
                   {Pattern(p, 2), 1, 1},
                   {Pattern(p + 1, 3), 2, 3},
                   {Pattern(1, 4), 3, 1},
                   {Pattern(3 * p, 5), 7, 0}};
    const tools::BlobFileLayout layout = tools::WriteBlobFile(path_, desc);

    blob_.OpenBlobFile(path_, true, nullptr);
    EXPECT_EQ(blob_.PayloadSize(), block_size - kBlobHeaderSize);
    for (size_t v = 0; v < desc.values.size(); ++v) {
      const TBlobValueHeader h = blob_.ReadValueHeader(layout.First(v));
      EXPECT_EQ(h.owner, desc.values[v].owner);
      EXPECT_EQ(h.field, desc.values[v].field);
      EXPECT_EQ(h.total, static_cast<int32_t>(desc.values[v].bytes.size()));
      blob_.ReadValue(layout.First(v), dest_);
      EXPECT_EQ(AsString(dest_), desc.values[v].bytes) << "value " << v;
    }
    blob_.CloseBlobFile();
  }
}

TEST_F(BlobFileTest, OnlyAWritableOpenTopsTheFreeListUpWithFiveBlocksAtTheEnd) {
  for (int free_blocks : {0, 2}) {
    SCOPED_TRACE(testing::Message() << free_blocks << " free blocks");
    const tools::BlobFileLayout layout = WriteFile(free_blocks, /*free_first=*/true);
    const std::vector<uint8_t> before = test::ReadBytes(path_);
    const int32_t old_size = FileSize();

    blob_.OpenBlobFile(path_, true, nullptr);
    EXPECT_EQ(blob_.FreeList(), layout.free_blocks);
    blob_.CloseBlobFile();
    EXPECT_EQ(test::ReadBytes(path_), before) << "a read-only open changed the file";

    blob_.OpenBlobFile(path_, false, nullptr);
    std::vector<int32_t> expected = layout.free_blocks;
    for (int i = 0; i < 5; ++i) expected.push_back(old_size + i * 512);
    EXPECT_EQ(blob_.FreeList(), expected);
    blob_.CloseBlobFile();
    EXPECT_EQ(FileSize(), old_size + 5 * 512);
    EXPECT_EQ(DiskFreeChain(), expected);

    blob_.OpenBlobFile(path_, false, nullptr);  // nothing more to add
    EXPECT_EQ(blob_.FreeList(), expected);
    blob_.ReadValue(layout.First(0), dest_);
    EXPECT_EQ(AsString(dest_), Pattern(1000, 1));
    blob_.CloseBlobFile();
    EXPECT_EQ(FileSize(), old_size + 5 * 512);
  }
}

TEST_F(BlobFileTest, NewFreeBlocksReplaceAPartialBlockAtTheEnd) {
  WriteFile(0);
  const int32_t whole = FileSize();
  std::filesystem::resize_file(path_, whole + 100);
  blob_.OpenBlobFile(path_, false, nullptr);
  ASSERT_EQ(blob_.FreeList().size(), 5u);
  EXPECT_EQ(blob_.FreeList().front(), whole);
  blob_.CloseBlobFile();
  EXPECT_EQ(FileSize(), whole + 5 * 512);
}

TEST_F(BlobFileTest, FreeListOfElevenBlocksFailsTheOpen) {
  for (bool read_only : {true, false}) {
    SCOPED_TRACE(read_only ? "read-only" : "writable");
    WriteFile(10);
    blob_.OpenBlobFile(path_, read_only, nullptr);
    EXPECT_EQ(blob_.FreeList().size(), 10u);
    blob_.CloseBlobFile();

    WriteFile(11);
    EXPECT_EQ(BlobErrorOf([&] { blob_.OpenBlobFile(path_, read_only, nullptr); }), msg::kBlobError);
    EXPECT_FALSE(blob_.IsOpen());
  }
}

TEST_F(BlobFileTest, FreeChainEndsAtAUsedBlockOrOutsideTheFile) {
  tools::BlobFileLayout layout = WriteFile(4);
  tools::PatchBlobHeader(path_, layout.free_blocks[2], F::kTotal, layout.First(1));
  blob_.OpenBlobFile(path_, true, nullptr);
  EXPECT_EQ(blob_.FreeList(), std::vector<int32_t>(&layout.free_blocks[0], &layout.free_blocks[3]));
  blob_.CloseBlobFile();

  tools::PatchFreeHead(path_, FileSize());
  blob_.OpenBlobFile(path_, true, nullptr);
  EXPECT_TRUE(blob_.FreeList().empty());
}

TEST_F(BlobFileTest, DamagedHeaderOrFreeChainFailsTheOpen) {
  const std::vector<std::pair<const char*, std::function<void(const tools::BlobFileLayout&)>>>
      cases = {
          {"block size 24", [&](auto&) { tools::PatchInt32(path_, 0, 24); }},
          {"negative block size", [&](auto&) { tools::PatchInt32(path_, 0, -512); }},
          {"block size beyond the file", [&](auto&) { tools::PatchInt32(path_, 0, 1 << 30); }},
          {"file shorter than its header",
           [&](auto&) {
             test::WriteBytes(path_, {0, 2, 0});
           }},
          {"free head inside block 0", [&](auto&) { tools::PatchFreeHead(path_, 8); }},
          {"free head not on a block",
           [&](auto& l) { tools::PatchFreeHead(path_, l.free_blocks[0] + 4); }},
          {"free chain loops",
           [&](auto& l) {
             tools::PatchBlobHeader(path_, l.free_blocks[1], F::kTotal, l.free_blocks[0]);
           }},
      };
  for (const auto& [what, damage] : cases) {
    SCOPED_TRACE(what);
    damage(WriteFile(2));
    EXPECT_EQ(BlobErrorOf([&] { blob_.OpenBlobFile(path_, false, nullptr); }), msg::kBlobError);
    EXPECT_FALSE(blob_.IsOpen());
  }
}

// Every damaged chain is refused with the blob error and leaves the
// destination empty; nothing is written past the value's size (the
// sanitizer build checks that).
TEST_F(BlobFileTest, DamagedChainsAreRefused) {
  auto patch = [&](int32_t block, F field, int32_t value) {
    tools::PatchBlobHeader(path_, block, field, value);
  };
  const std::vector<std::pair<const char*, std::function<void(const std::vector<int32_t>&)>>>
      cases = {
          {"loop back to the middle", [&](auto& c) { patch(c[2], F::kNext, c[1]); }},
          {"loop back to the first block", [&](auto& c) { patch(c[2], F::kNext, c[0]); }},
          {"loop of empty blocks",
           [&](auto& c) {
             patch(c[1], F::kUsed, 0);
             patch(c[1], F::kNext, c[1]);
           }},
          {"used length past the total", [&](auto& c) { patch(c[2], F::kUsed, 100); }},
          {"used length above the payload", [&](auto& c) { patch(c[0], F::kUsed, 489); }},
          {"negative used length", [&](auto& c) { patch(c[1], F::kUsed, -1); }},
          {"chain ends short of the total", [&](auto& c) { patch(c[1], F::kNext, -1); }},
          {"total larger than the chain", [&](auto& c) { patch(c[0], F::kTotal, 1200); }},
          {"negative total", [&](auto& c) { patch(c[0], F::kTotal, -5); }},
          {"total beyond the file", [&](auto& c) { patch(c[0], F::kTotal, INT32_MAX); }},
          {"next is block 0", [&](auto& c) { patch(c[0], F::kNext, 0); }},
          {"next inside block 0", [&](auto& c) { patch(c[0], F::kNext, 256); }},
          {"next not on a block", [&](auto& c) { patch(c[0], F::kNext, c[1] + 4); }},
          {"next at the end of the file", [&](auto& c) { patch(c[0], F::kNext, FileSize()); }},
          {"next is a free block", [&](auto& c) { patch(c[1], F::kNext, FileSize() - 512); }},
          {"file cut inside the chain",
           [&](auto& c) { std::filesystem::resize_file(path_, c[2] + 100); }},
      };
  for (const auto& [what, damage] : cases) {
    SCOPED_TRACE(what);
    const tools::BlobFileLayout layout = WriteFile(1);
    damage(layout.chains[0]);
    blob_.OpenBlobFile(path_, true, nullptr);
    dest_.assign(3, 0xAB);
    EXPECT_EQ(BlobErrorOf([&] { blob_.ReadValue(layout.First(0), dest_); }), msg::kBlobError);
    EXPECT_TRUE(dest_.empty());
    blob_.CloseBlobFile();
  }
}

TEST_F(BlobFileTest, FirstBlockOffsetsOutsideTheFileAreRefused) {
  const tools::BlobFileLayout layout = WriteFile(1);
  blob_.OpenBlobFile(path_, true, nullptr);
  const int32_t size = FileSize();
  for (int32_t offset :
       {0, 4, 511, -512, INT32_MIN, layout.First(0) + 1, size, size - 511, INT32_MAX}) {
    SCOPED_TRACE(offset);
    EXPECT_EQ(BlobErrorOf([&] { blob_.ReadValue(offset, dest_); }), msg::kBlobError);
    EXPECT_EQ(BlobErrorOf([&] { blob_.ReadValueHeader(offset); }), msg::kBlobError);
  }
  EXPECT_EQ(BlobErrorOf([&] { blob_.ReadValueHeader(layout.free_blocks[0]); }), msg::kBlobError);
  blob_.ReadValue(layout.First(0), dest_);  // still readable after all that
  EXPECT_EQ(AsString(dest_), Pattern(1000, 1));
}

}  // namespace
}  // namespace logvane
