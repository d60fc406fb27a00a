// Writing the blob file: values written, rewritten in place and freed, the
// sorted free list and its chain on disk, emptying, the compaction at close
// (lost blocks recovered, records pointed at moved values), damaged chains
// refused before anything is written, and the consistency check after each
// step.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <map>
#include <random>

#include "base/byte_order.h"
#include "base/errors.h"
#include "blob/blob_check.h"
#include "blob/blob_file.h"
#include "test_support.h"
#include "tools/blob_writer.h"

namespace logvane {
namespace {

using F = tools::BlobHeaderField;

std::vector<uint8_t> Bytes(size_t n, int seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((i * 13 + i / 97 + seed * 29) | 1);
  return v;
}

// The records as the blob file sees them: which value each (record, field)
// refers to. Counts the references the compaction changes.
class FakeRecords : public TBlobRecordUpdater {
 public:
  void SetBlobReference(int32_t record, int field, int32_t reference) override {
    if (fail) throw EInOutError(EIO, "record write failed");
    ++updates;
    if (reference < 0)
      refs.erase({record, field});
    else
      refs[{record, field}] = reference;
  }
  int32_t BlobReference(int32_t record, int field) override {
    auto it = refs.find({record, field});
    return it == refs.end() ? -1 : it->second;
  }
  std::vector<TBlobReference> List() const {
    std::vector<TBlobReference> list;
    for (const auto& [key, ref] : refs) list.push_back({key.first, key.second, ref});
    return list;
  }

  std::map<std::pair<int32_t, int>, int32_t> refs;
  int updates = 0;
  bool fail = false;
};

class BlobWriteTest : public ::testing::Test {
 protected:
  void Open(bool read_only = false) { blob_.OpenBlobFile(path_, read_only, &records_); }

  tools::BlobFileLayout Make(const tools::BlobFileContents& spec) {
    const tools::BlobFileLayout layout = tools::WriteBlobFile(path_, spec);
    for (size_t v = 0; v < spec.values.size(); ++v)
      records_.refs[{spec.values[v].owner, spec.values[v].field}] = layout.First(v);
    return layout;
  }

  // A block's header fields in file order: next, prev, used, owner, total,
  // field.
  std::vector<int32_t> Header(int32_t offset) const {
    const std::vector<uint8_t> bytes = test::ReadBytes(path_);
    std::vector<int32_t> h;
    for (int i = 0; i < 6; ++i)
      h.push_back(GetInt32(&bytes.at(static_cast<size_t>(offset + 4 * i))));
    return h;
  }

  std::vector<int32_t> DiskFreeChain() const {
    const std::vector<uint8_t> bytes = test::ReadBytes(path_);
    std::vector<int32_t> chain;
    for (int32_t at = GetInt32(&bytes[4]); at > 0 && chain.size() < 100;
         at = GetInt32(&bytes.at(static_cast<size_t>(at) + 16)))
      chain.push_back(at);
    return chain;
  }

  int64_t FileSize() const { return static_cast<int64_t>(std::filesystem::file_size(path_)); }

  std::vector<uint8_t> Read(int32_t first) {
    std::vector<uint8_t> v;
    blob_.ReadValue(first, v);
    return v;
  }

  // The file agrees with the records, and the free chain on disk with the
  // free list.
  void ExpectConsistent() {
    EXPECT_EQ(CheckBlobFile(path_, records_.List()), std::vector<std::string>{});
    if (blob_.IsOpen()) {
      EXPECT_EQ(DiskFreeChain(), blob_.FreeList());
    }
  }

  test::TempDir dir_;
  std::string path_ = dir_.File("T.blb");
  FakeRecords records_;
  TBlobFile blob_;
};

TEST_F(BlobWriteTest, ThousandBytesRewrittenTo400AndBackTo1000) {
  Make({});  // block 0 only; the writable open adds 5 free blocks
  Open();
  ASSERT_EQ(FileSize(), 6 * 512);
  const std::vector<uint8_t> v1000 = Bytes(1000, 1), v400 = Bytes(400, 2), back = Bytes(1000, 3);
  const int32_t first = records_.refs[{7, 2}] =
      blob_.WriteNewValue(1000, 1000, 7, 2, -1, v1000.data());
  // Taking the second block found the list at 4, so 5 more were appended.
  EXPECT_EQ(FileSize(), 11 * 512);
  EXPECT_EQ(Header(512), std::vector<int32_t>({1024, -1, 488, 7, 1000, 2}));
  EXPECT_EQ(Header(1024), std::vector<int32_t>({1536, 512, 488, -1, 1000, 2}));
  EXPECT_EQ(Header(1536), std::vector<int32_t>({-1, 1024, 24, -1, 1000, 2}));
  const std::vector<uint8_t> bytes = test::ReadBytes(path_);
  EXPECT_EQ(std::count(bytes.begin() + 1536 + 48, bytes.begin() + 2048, 0), 512 - 48)
      << "the last block's payload is zero after its used bytes";
  ExpectConsistent();

  EXPECT_EQ(blob_.RewriteValue(first, 400, v400.data()), first);
  EXPECT_EQ(Header(512), std::vector<int32_t>({-1, -1, 400, 7, 400, 2}));
  EXPECT_EQ(std::vector<int32_t>(blob_.FreeList().begin(), blob_.FreeList().begin() + 3),
            std::vector<int32_t>({1024, 1536, 2048}));
  EXPECT_EQ(Read(first), v400);
  ExpectConsistent();

  // The rest becomes a chain of its own in the lowest free blocks, linked
  // back to the kept first block.
  EXPECT_EQ(blob_.RewriteValue(first, 1000, back.data()), first);
  EXPECT_EQ(Header(512)[0], 1024);
  EXPECT_EQ(Header(1024), std::vector<int32_t>({1536, 512, 488, -1, 1000, 2}));
  EXPECT_EQ(Read(first), back);
  ExpectConsistent();
}

TEST_F(BlobWriteTest, FreedBlocksKeepTheListSortedAndAreReusedLowestFirst) {
  tools::BlobFileContents spec;
  spec.block_size = 64;  // P = 40
  for (int v = 0; v < 6; ++v)
    spec.values.push_back({std::string(static_cast<size_t>(1 + v * 37), 'a' + v), v, 1});
  spec.interleave = true;  // chains jump about the file
  spec.free_blocks = 5;
  const tools::BlobFileLayout layout = Make(spec);
  Open();
  for (int v : {3, 0, 5, 1}) {
    blob_.FreeValue(layout.First(static_cast<size_t>(v)));
    records_.refs.erase({v, 1});
    ExpectConsistent();  // the chain on disk is the sorted list
  }
  EXPECT_THROW(blob_.FreeValue(layout.First(3)), EBlobError) << "freed twice";

  const std::vector<int32_t> lowest(blob_.FreeList().begin(), blob_.FreeList().begin() + 3);
  const std::vector<uint8_t> value = Bytes(120, 4);  // exactly 3 blocks
  const int32_t first = records_.refs[{9, 1}] =
      blob_.WriteNewValue(120, 120, 9, 1, -1, value.data());
  EXPECT_EQ(first, lowest[0]);
  EXPECT_EQ(Header(lowest[0])[0], lowest[1]);
  EXPECT_EQ(Header(lowest[1])[0], lowest[2]);
  EXPECT_EQ(Read(first), value);
  ExpectConsistent();
  EXPECT_EQ(blob_.WriteNewValue(0, 0, 9, 1, -1, value.data()), -1);
}

TEST_F(BlobWriteTest, ReadOnlyFileRefusesWritesAndEmptyingLeavesBlockZero) {
  tools::BlobFileContents spec;
  spec.values = {{std::string(700, 'x'), 0, 1}};
  spec.free_blocks = 5;
  const int32_t first = Make(spec).First(0);
  test::PatchBytes(path_, 100, {0xAB});  // not interpreted; an emptied file is zero there
  const std::vector<uint8_t> before = test::ReadBytes(path_);
  Open(true);
  const std::vector<uint8_t> v = Bytes(10, 5);
  EXPECT_THROW(blob_.WriteNewValue(10, 10, 1, 1, -1, v.data()), EBlobError);
  EXPECT_THROW(blob_.RewriteValue(first, 10, v.data()), EBlobError);
  EXPECT_THROW(blob_.FreeValue(first), EBlobError);
  EXPECT_THROW(blob_.SetValueOwner(first, 3), EBlobError);
  EXPECT_THROW(blob_.EmptyBlobFile(), EBlobError);
  blob_.CloseBlobFile();
  EXPECT_EQ(test::ReadBytes(path_), before);

  Open();
  blob_.EmptyBlobFile();
  std::vector<uint8_t> expected(512, 0);
  PutInt32(expected.data(), 512);
  PutInt32(expected.data() + 4, -1);
  EXPECT_EQ(test::ReadBytes(path_), expected);
  EXPECT_TRUE(blob_.FreeList().empty());
}

// Layout at B = 512: A (record 0, 3 blocks) at 1-3, B (record 1) at 4,
// C (record 2, 8 blocks) at 5-12, D (record 3, 2 blocks) at 13-14, E (owned
// by record 4, which does not refer to it) at 15, free blocks at 16-23 of
// which 21-23 are lost: the chain on disk ends at 20.
TEST_F(BlobWriteTest, CloseCompactsRecoveringLostBlocksAndRepointingRecords) {
  tools::BlobFileContents spec;
  spec.values = {{std::string(1400, 'a'), 0, 1},
                 {"b", 1, 1},
                 {std::string(3900, 'c'), 2, 1},
                 {std::string(600, 'd'), 3, 1},
                 {"orphan", 4, 1}};
  spec.free_blocks = 8;
  const tools::BlobFileLayout layout = Make(spec);
  records_.refs.erase({4, 1});
  tools::PatchBlobHeader(path_, 20 * 512, F::kTotal, -1);
  ASSERT_EQ(layout.block_count, 24);

  Open();
  ASSERT_EQ(blob_.FreeList().size(), 5u);
  blob_.FreeValue(layout.First(2));
  records_.refs.erase({2, 1});
  ASSERT_EQ(blob_.FreeList().size(), 13u);
  blob_.CloseBlobFile();

  // Used: A 3 + B 1 + D 2 + E 1 = 7 blocks; kept: block 0, 7 used, 5 free.
  EXPECT_EQ(FileSize(), 13 * 512);
  EXPECT_EQ(records_.refs.at({3, 1}), 5 * 512) << "D's first block moved to the lowest free block";
  EXPECT_EQ(records_.updates, 1) << "only the record that referred to a moved value is written";
  EXPECT_EQ(DiskFreeChain(),
            std::vector<int32_t>({8 * 512, 9 * 512, 10 * 512, 11 * 512, 12 * 512}));
  EXPECT_EQ(CheckBlobFile(path_, records_.List()),
            std::vector<std::string>(
                {"blob: value at 3584 (owner record 4, field 1, 6 bytes, 1 block) is referred to "
                 "by no record"}));

  Open();
  EXPECT_EQ(Read(records_.refs.at({0, 1})), std::vector<uint8_t>(1400, 'a'));
  EXPECT_EQ(Read(records_.refs.at({3, 1})), std::vector<uint8_t>(600, 'd'));
}

// A close that cannot compact (no way to repoint records, or a record
// write failing part-way) cuts nothing; the values still read through their
// records, and the free chain is left starting at a free block and no
// longer than the 10 blocks an open accepts.
TEST_F(BlobWriteTest, CloseThatCannotCompactLeavesAFileThatOpens) {
  for (bool failing_record : {false, true}) {
    SCOPED_TRACE(failing_record);
    tools::BlobFileContents spec;
    spec.values = {{std::string(3000, 'c'), 0, 1}, {std::string(700, 'd'), 1, 1}};  // 1-7, 8-9
    spec.free_blocks = 5;
    records_.refs.clear();
    const tools::BlobFileLayout layout = Make(spec);
    records_.refs.erase({0, 1});
    records_.fail = failing_record;
    blob_.OpenBlobFile(path_, false, failing_record ? &records_ : nullptr);
    blob_.FreeValue(layout.First(0));
    ASSERT_EQ(blob_.FreeList().size(), 12u);
    blob_.CloseBlobFile();
    EXPECT_EQ(FileSize(), int64_t{layout.block_count} * 512);
    EXPECT_FALSE(CheckBlobFile(path_, records_.List()).empty());

    records_.fail = false;
    ASSERT_NO_THROW(Open());
    EXPECT_LE(blob_.FreeList().size(), 10u);
    EXPECT_EQ(Read(records_.refs.at({1, 1})), std::vector<uint8_t>(700, 'd'));
    if (!failing_record) {
      // Freeing one more value makes this close compact; the blocks left
      // off the chain come back.
      blob_.FreeValue(layout.First(1));
      records_.refs.clear();
      blob_.CloseBlobFile();
      EXPECT_EQ(FileSize(), 6 * 512);
      EXPECT_EQ(CheckBlobFile(path_, {}), std::vector<std::string>{});
    }
    blob_.CloseBlobFile();
  }
}

// Each case damages the chain of value A (record 0: blocks 1-3) or its
// reference. Freeing and rewriting A must refuse before writing anything,
// B (record 1: blocks 4-5) stays whole, and the check names record 0.
TEST_F(BlobWriteTest, DamagedChainsAreReportedNotFollowed) {
  struct Case {
    const char* name;
    int32_t block;  // 0: A's reference is moved instead
    F field;
    int32_t value;
  };
  const Case cases[] = {
      {"next into the middle of another value", 2 * 512, F::kNext, 5 * 512},
      {"next into another value's first block", 2 * 512, F::kNext, 4 * 512},
      {"next to a free block", 2 * 512, F::kNext, 6 * 512},
      {"next back to the first block", 3 * 512, F::kNext, 512},
      {"next outside the file", 2 * 512, F::kNext, 99 * 512},
      {"a block of another field", 3 * 512, F::kField, 7},
      {"a block marked free inside the chain", 2 * 512, F::kUsed, -1},
      {"reference to a middle block", 0, F::kNext, 2 * 512},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tools::BlobFileContents spec;
    spec.values = {{std::string(1000, 'a'), 0, 1}, {std::string(600, 'b'), 1, 1}};
    spec.free_blocks = 5;
    records_.refs.clear();
    const tools::BlobFileLayout layout = Make(spec);
    int32_t first = layout.First(0);
    if (c.block == 0)
      first = records_.refs[{0, 1}] = c.value;
    else
      tools::PatchBlobHeader(path_, c.block, c.field, c.value);
    const std::vector<uint8_t> before = test::ReadBytes(path_);

    Open();
    const std::vector<int32_t> list = blob_.FreeList();
    const std::vector<uint8_t> v = Bytes(2000, 7);
    EXPECT_THROW(blob_.FreeValue(first), EBlobError);
    EXPECT_THROW(blob_.RewriteValue(first, 2000, v.data()), EBlobError);
    EXPECT_THROW(blob_.RewriteValue(first, 100, v.data()), EBlobError);
    EXPECT_EQ(blob_.FreeList(), list);
    EXPECT_EQ(test::ReadBytes(path_), before);
    EXPECT_EQ(Read(layout.First(1)), std::vector<uint8_t>(600, 'b'));
    blob_.CloseBlobFile();

    const std::vector<std::string> lines = CheckBlobFile(path_, records_.List());
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.front().find("record 0 field 1"), std::string::npos) << lines.front();
  }
}

// Damage the check must name, each on a fresh file with A (record 0, 2
// blocks at 1-2), B (record 1, block 3) and free blocks 4-8.
TEST_F(BlobWriteTest, CheckNamesEachInconsistency) {
  struct Case {
    const char* name;
    std::function<void()> damage;
    std::string line;
  };
  const Case cases[] = {
      {"owner", [&] { tools::PatchBlobHeader(path_, 512, F::kOwner, 5); },
       "blob: record 0 field 1: value at 512 names record 5 as its owner"},
      {"total against used lengths",
       [&] {
         tools::PatchBlobHeader(path_, 512, F::kTotal, 900);
         tools::PatchBlobHeader(path_, 1024, F::kTotal, 900);
       },
       "blob: record 0 field 1: the blocks hold 600 bytes, the total size is 900"},
      {"shared block", [&] { tools::PatchBlobHeader(path_, 1536, F::kNext, 1024); },
       "blob: record 1 field 1: block 1024 also belongs to record 0 field 1"},
      {"lost free block", [&] { tools::PatchBlobHeader(path_, 6 * 512, F::kTotal, -1); },
       "blob: block 3584 is marked free but is not on the free chain"},
      {"block owned by nothing",
       [&] {
         tools::PatchBlobHeader(path_, 2048, F::kUsed, 3);
         tools::PatchBlobHeader(path_, 2048, F::kPrev, 512);
         tools::PatchFreeHead(path_, 2560);
       },
       "blob: block 2048 is neither free nor part of a referred value"},
      {"descending free chain",
       [&] {
         tools::PatchFreeHead(path_, 2560);
         tools::PatchBlobHeader(path_, 4096, F::kTotal, 2048);
         tools::PatchBlobHeader(path_, 2048, F::kTotal, -1);
       },
       "blob: free chain: block 2048 follows block 4096 (not ascending)"},
      {"file size", [&] { test::PatchBytes(path_, 9 * 512, {1}); },
       "blob: file size 4609 is not a multiple of the block size 512"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tools::BlobFileContents spec;
    spec.values = {{std::string(600, 'a'), 0, 1}, {"b", 1, 1}};
    spec.free_blocks = 5;
    records_.refs.clear();
    Make(spec);
    ASSERT_EQ(CheckBlobFile(path_, records_.List()), std::vector<std::string>{});
    c.damage();
    const std::vector<std::string> lines = CheckBlobFile(path_, records_.List());
    EXPECT_NE(std::find(lines.begin(), lines.end(), c.line), lines.end())
        << ::testing::PrintToString(lines);
  }
  test::WriteBytes(path_, {1, 2});
  EXPECT_EQ(CheckBlobFile(path_, {}).size(), 1u);
  EXPECT_EQ(CheckBlobFile(dir_.File("none.blb"), {}).size(), 1u);
}

// Long seeded runs of writes, rewrites, frees, owner changes, empties and
// reopens (which compact) against a model of the values; after every step
// the check is clean, the free chain on disk is the free list, and every
// value reads back.
TEST_F(BlobWriteTest, RandomWritesAgreeWithAModel) {
  int compactions = 0;
  for (uint32_t seed : {1u, 2u, 3u, 4u}) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const int32_t block_size = seed % 2 ? 64 : 100;
    const int payload = block_size - kBlobHeaderSize;
    tools::BlobFileContents spec;
    spec.block_size = block_size;
    records_.refs.clear();
    Make(spec);
    Open();
    std::map<std::pair<int32_t, int>, std::vector<uint8_t>> model;
    int32_t next_record = 0;
    auto size = [&] {
      const int blocks = uniform(1, 6);
      return uniform(0, 3) == 0 ? blocks * payload : uniform(1, blocks * payload);
    };
    auto pick = [&] {
      auto it = model.begin();
      std::advance(it, uniform(0, static_cast<int>(model.size()) - 1));
      return it;
    };

    for (int step = 0; step < 400; ++step) {
      const int op = model.empty() ? 0 : uniform(0, 99);
      if (op < 35) {
        const std::pair<int32_t, int> key{next_record++, uniform(1, 3)};
        std::vector<uint8_t> v = Bytes(static_cast<size_t>(size()), step);
        const auto n = static_cast<int32_t>(v.size());
        records_.refs[key] = blob_.WriteNewValue(n, n, key.first, key.second, -1, v.data());
        model[key] = std::move(v);
      } else if (op < 65) {
        auto it = pick();
        std::vector<uint8_t> v = Bytes(static_cast<size_t>(size()), step);
        const int32_t first = records_.refs.at(it->first);
        ASSERT_EQ(blob_.RewriteValue(first, static_cast<int32_t>(v.size()), v.data()), first);
        it->second = std::move(v);
      } else if (op < 90) {
        auto it = pick();
        blob_.FreeValue(records_.refs.at(it->first));
        records_.refs.erase(it->first);
        model.erase(it);
      } else if (op < 95) {
        auto it = pick();
        const std::pair<int32_t, int> key{next_record++, it->first.second};
        const int32_t first = records_.refs.at(it->first);
        blob_.SetValueOwner(first, key.first);
        records_.refs.erase(it->first);
        records_.refs[key] = first;
        model[key] = std::move(it->second);
        model.erase(it);
      } else if (op < 99) {
        const size_t free_blocks = blob_.FreeList().size();
        const bool compacts = free_blocks > 10;
        compactions += compacts;
        blob_.CloseBlobFile();
        EXPECT_EQ(DiskFreeChain().size(), compacts ? 5u : free_blocks);
        Open();
      } else {
        blob_.EmptyBlobFile();
        records_.refs.clear();
        model.clear();
      }
      ASSERT_NO_FATAL_FAILURE(ExpectConsistent()) << "step " << step << " op " << op;
      for (const auto& [key, value] : model) ASSERT_EQ(Read(records_.refs.at(key)), value);
    }
    blob_.CloseBlobFile();
  }
  EXPECT_GT(compactions, 3);
}

}  // namespace
}  // namespace logvane
