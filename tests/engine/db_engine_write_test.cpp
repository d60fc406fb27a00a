// The record write path on both page formats: growth by ten slots, the
// autoincrement value, updates that touch only the indexes whose key
// changed, deletes (the only record, a record with a memo), memos set,
// changed and cleared, the filtered record list, compaction at a writable
// open, and the read-ahead window across writes. Every case ends with the
// table check finding nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "engine/table_check.h"
#include "write_table.h"

namespace logvane {
namespace {

using test::NumberedRow;
using test::TRow;
namespace fs = std::filesystem;

class RecordWrite : public ::testing::TestWithParam<double> {
 protected:
  void Make(const std::vector<std::optional<TRow>>& slots) {
    test::MakeWriteTable(t_, GetParam(), slots);
  }
  void Make(int live, bool memos = false) {
    std::vector<std::optional<TRow>> slots;
    for (int k = 0; k < live; ++k) slots.push_back(NumberedRow(k, memos));
    Make(slots);
  }
  void OpenWritable() { ASSERT_GE(eng_.OpenTable(t_.mti, kOpenWriteShared, 0), 0); }
  std::string Mtd() const { return platform::ChangeFileExt(t_.mti, ".MTD"); }
  int64_t Slots() const {
    return static_cast<int64_t>(fs::file_size(Mtd())) / t_.desc.RecordLength();
  }
  void ExpectConsistent() {
    TTableCheckOptions options;
    options.writer = eng_.IsOpen() && !eng_.ReadOnly() ? &eng_ : nullptr;
    const TTableCheckReport report = CheckTable(t_.mti, options);
    EXPECT_TRUE(report.readable) << report.cause;
    EXPECT_EQ(report.problems, std::vector<std::string>{});
  }
  void Append(TRow row, std::optional<std::string> notes = std::nullopt) {
    test::PrepareRow(eng_, t_.desc, row, -1, notes);
    eng_.AppendRecord();
  }
  void Post(TRow row, std::optional<std::string> notes = std::nullopt) {
    test::PrepareRow(eng_, t_.desc, row, eng_.CurrentRecordNumber(), notes);
    eng_.PostRecord();
  }
  // Every file of the table, by name.
  std::map<std::string, std::vector<uint8_t>> Files() const {
    std::map<std::string, std::vector<uint8_t>> files;
    for (const auto& e : fs::directory_iterator(t_.dir.Path()))
      files[e.path().filename().string()] = test::ReadBytes(e.path().string());
    return files;
  }

  test::TTestTable t_;
  TmtbDBEng eng_;
};

TEST_P(RecordWrite, AppendWithoutFreeSlotsGrowsTheFileByTenAndTakesTheFirst) {
  Make(3);
  OpenWritable();
  Append({35, "N1", 2, 7.1, 0, ""});
  EXPECT_EQ(eng_.CurrentRecordNumber(), 3);
  EXPECT_EQ(Slots(), 13);
  const TTableCounters disk = test::DiskCounters(eng_);
  EXPECT_EQ(disk.free_records, 9);
  EXPECT_EQ(disk.first_free_record, 4);
  EXPECT_EQ(eng_.CurrentPosition(), 4) << "id 35 sorts after 0, 10 and 20";
  EXPECT_EQ(eng_.RecordCount(), 4);
  EXPECT_EQ(test::ReadRow(eng_, 3).id, 35);
  ExpectConsistent();
}

TEST_P(RecordWrite, AutoincrementIsUsedUpOnlyBySuccessfulAppends) {
  Make(3);
  OpenWritable();
  const int32_t next = eng_.Counters().next_autoinc;
  eng_.Next();
  const int32_t current = eng_.CurrentRecordNumber();
  EXPECT_THROW(Append({10, "DUP", 1, 1, 0, ""}), EDuplicateKeyError);
  EXPECT_EQ(eng_.Counters().next_autoinc, next);
  EXPECT_EQ(test::DiskCounters(eng_).next_autoinc, next);
  EXPECT_EQ(eng_.CurrentRecordNumber(), current) << "a refused append keeps the cursor";
  EXPECT_EQ(eng_.RecordCount(), 3);

  Append({5, "NEW", 1, 1, 999, ""});
  EXPECT_EQ(test::ReadRow(eng_, eng_.CurrentRecordNumber()).serial, next)
      << "the engine's value replaces the caller's";
  EXPECT_EQ(test::DiskCounters(eng_).next_autoinc, next + 1);
  EXPECT_EQ(eng_.CurrentPosition(), 2);
  ExpectConsistent();
}

TEST_P(RecordWrite, UpdatesTouchOnlyTheIndexesWhoseKeyChanged) {
  Make(30);
  OpenWritable();
  // Index 0's leaf file changes only in its counters page.
  const int page = TPageFormat::ForLevel(eng_.Definition().FormatLevel()).PageBytes();
  auto without_counters = [&](std::map<std::string, std::vector<uint8_t>> files) {
    std::vector<uint8_t>& leaf = files["T.ma1"];
    std::fill(leaf.begin() + page, leaf.begin() + 2 * page, 0);
    files.erase("T.MTD");
    return files;
  };
  ASSERT_TRUE(eng_.GoToRecord(12));
  TRow row = NumberedRow(12);
  const auto before = without_counters(Files());
  row.freq = 14.25;
  Post(row);
  EXPECT_EQ(without_counters(Files()), before) << "a non-key field touches no index";
  EXPECT_EQ(test::ReadRow(eng_, 12).freq, 14.25);
  EXPECT_EQ(eng_.CurrentRecordNumber(), 12);

  row.call = "ZZ9ZZ";
  Post(row);
  const auto after = without_counters(Files());
  for (const char* name : {"T.ma1", "T.ma2", "T.mc1", "T.mc2"})
    EXPECT_EQ(after.at(name), before.at(name)) << name << " belongs to an unchanged key";
  EXPECT_NE(after.at("T.mb1"), before.at("T.mb1"));
  EXPECT_NE(after.at("T.md1"), before.at("T.md1"));
  EXPECT_EQ(eng_.CurrentPosition(), 13) << "still in Id order on index 0";
  ExpectConsistent();
}

TEST_P(RecordWrite, AKeyChangeCarriesTheCursorAndARefusedOneChangesNothing) {
  Make(20);
  OpenWritable();
  eng_.First();
  ASSERT_EQ(eng_.CurrentRecordNumber(), 0);
  TRow row = NumberedRow(0);
  row.id = 1000;
  Post(row);
  EXPECT_EQ(eng_.CurrentRecordNumber(), 0);
  EXPECT_EQ(eng_.CurrentPosition(), 20) << "the first record became the last";
  EXPECT_EQ(eng_.RecordCount(), 20);
  eng_.Next();
  EXPECT_TRUE(eng_.IsEOF());
  eng_.Prior();
  EXPECT_EQ(eng_.CurrentRecordNumber(), 19);
  eng_.First();
  EXPECT_EQ(eng_.CurrentRecordNumber(), 1);

  const auto files = Files();
  row = NumberedRow(1);
  row.id = 1000;
  EXPECT_THROW(Post(row), EDuplicateKeyError);
  EXPECT_EQ(Files(), files);
  EXPECT_EQ(eng_.CurrentRecordNumber(), 1);
  ExpectConsistent();
}

TEST_P(RecordWrite, DeletingTheOnlyRecordEmptiesDataFileIndexesAndBlobFile) {
  Make({std::nullopt, NumberedRow(1, true), std::nullopt});
  OpenWritable();
  ASSERT_EQ(eng_.CurrentRecordNumber(), 1);
  eng_.DeleteRecord();
  EXPECT_EQ(fs::file_size(Mtd()), 0u);
  for (int i = 0; i < eng_.Indexes().IndexCount(); ++i)
    EXPECT_EQ(eng_.Indexes().IndexAt(i).KeyCount(), 0);
  EXPECT_EQ(fs::file_size(platform::ChangeFileExt(t_.mti, ".blb")), 512u);
  EXPECT_EQ(eng_.CurrentRecordNumber(), -1);
  EXPECT_TRUE(eng_.IsBOF() && eng_.IsEOF());
  EXPECT_EQ(eng_.RecordCount(), 0);
  EXPECT_TRUE(eng_.FreeList().empty());
  EXPECT_EQ(test::DiskCounters(eng_).free_records, 0);
  ExpectConsistent();

  Append(NumberedRow(4), "again");
  EXPECT_EQ(eng_.CurrentRecordNumber(), 0);
  EXPECT_EQ(test::ReadRow(eng_, 0).notes, "again");
  eng_.CloseTable();
  ExpectConsistent();
}

TEST_P(RecordWrite, DeletingARecordFreesItsMemoAndLinksItsSlotToTheListHead) {
  Make({NumberedRow(0, true), std::nullopt, NumberedRow(2, true), NumberedRow(3, true),
        std::nullopt, NumberedRow(5, true)});
  OpenWritable();
  ASSERT_TRUE(eng_.GoToRecord(3));
  const size_t free_blocks = eng_.BlobFile()->FreeList().size();
  eng_.DeleteRecord();
  EXPECT_EQ(eng_.BlobFile()->FreeList().size(), free_blocks + 1) << "its one block";
  EXPECT_EQ(eng_.CurrentRecordNumber(), 5) << "the record after it in index order";
  const std::vector<uint8_t> mtd = test::ReadBytes(Mtd());
  const size_t at = 3 * static_cast<size_t>(t_.desc.RecordLength());
  EXPECT_EQ(mtd[at], kFreeRecordMarker);
  EXPECT_EQ(GetInt32(&mtd[at + 4]), 1) << "the free list's first entry";
  EXPECT_EQ(eng_.FreeList(), (std::vector<int32_t>{1, 4, 3}));
  EXPECT_EQ(eng_.RecordCount(), 3);
  ExpectConsistent();
  eng_.CloseTable();
  ExpectConsistent();
}

TEST_P(RecordWrite, MemosAreSetChangedAndCleared) {
  Make(4, true);
  OpenWritable();
  const std::string long_text(1300, 'x');
  Append(NumberedRow(9), long_text);
  const int32_t r = eng_.CurrentRecordNumber();
  EXPECT_EQ(test::ReadRow(eng_, r).notes, long_text);
  TRow row = test::ReadRow(eng_, r);
  ASSERT_TRUE(eng_.GoToRecord(r));
  Post(row, "short now");
  EXPECT_EQ(test::ReadRow(eng_, r).notes, "short now");
  ASSERT_TRUE(eng_.GoToRecord(r));
  Post(row, "");
  const std::vector<uint8_t> mtd = test::ReadBytes(Mtd());
  const size_t at = static_cast<size_t>(r) * static_cast<size_t>(t_.desc.RecordLength());
  EXPECT_EQ(mtd[at + test::kNotes], 0) << "no value: null flag 0";
  EXPECT_EQ(GetInt32(&mtd[at + static_cast<size_t>(t_.desc.FieldDesc(test::kNotes).offset)]), 0);
  ExpectConsistent();
}

TEST_P(RecordWrite, AnImageNeverCarriesAnotherRecordsMemoReference) {
  Make(4, true);
  OpenWritable();
  ASSERT_TRUE(eng_.GoToRecord(2));
  // The current record's image, memo reference included, appended under a
  // new key: the new record has no memo, record 2 keeps its own.
  uint8_t* image = eng_.WorkBuffer(0);
  PutInt32(image + t_.desc.FieldDesc(test::kId).offset, 77);
  eng_.AppendRecord();
  const int32_t added = eng_.CurrentRecordNumber();
  EXPECT_EQ(test::ReadRow(eng_, added).notes, "");
  EXPECT_EQ(test::ReadRow(eng_, 2).notes, NumberedRow(2, true).notes);
  // An update whose image names record 2's value keeps its own.
  ASSERT_TRUE(eng_.GoToRecord(1));
  std::vector<uint8_t> other(static_cast<size_t>(eng_.RecordLength()));
  eng_.CopyRecord(2, other.data());
  const int slot = t_.desc.FieldDesc(test::kNotes).offset;
  std::memcpy(eng_.WorkBuffer(0) + slot, other.data() + slot, 4);
  eng_.PostRecord();
  EXPECT_EQ(test::ReadRow(eng_, 1).notes, NumberedRow(1, true).notes);
  ExpectConsistent();
}

TEST_P(RecordWrite, TheFilteredListFollowsAppendsUpdatesAndDeletes) {
  Make(10);
  OpenWritable();
  const int band_at = t_.desc.FieldDesc(test::kBand).offset;
  static int band_offset;
  band_offset = band_at;
  eng_.FilterList().SetExpressionTest(
      [](void*, int32_t, const uint8_t* image) { return GetInt32(image + band_offset) == 1; },
      nullptr);
  eng_.FilterList().SetUseExpressionTest(true);
  eng_.SetFiltered(true);
  ASSERT_EQ(eng_.RecordCount(), 2);  // records 1 and 6

  Append({55, "B1", 1, 1, 0, ""});
  EXPECT_EQ(eng_.FilterList().Count(), 3);
  EXPECT_EQ(eng_.CurrentRecordNumber(), 10);
  Append({56, "B2", 2, 1, 0, ""});
  EXPECT_EQ(eng_.FilterList().Count(), 3);
  EXPECT_EQ(eng_.CurrentRecordNumber(), 6) << "moved off the hidden record to the next one";

  ASSERT_TRUE(eng_.GoToRecord(6));
  TRow row = NumberedRow(6);
  row.band = 3;
  Post(row);
  EXPECT_EQ(eng_.FilterList().Count(), 2);
  EXPECT_EQ(eng_.CurrentRecordNumber(), 10) << "none after it: the prior visible record";
  eng_.DeleteRecord();
  EXPECT_EQ(eng_.FilterList().Count(), 1);
  EXPECT_EQ(eng_.RecordCount(), 1);
  EXPECT_EQ(eng_.CurrentRecordNumber(), 1);
  ExpectConsistent();
}

TEST_P(RecordWrite, TheReadAheadWindowShowsEveryWrite) {
  Make(200);
  OpenWritable();
  const size_t length = static_cast<size_t>(t_.desc.RecordLength());
  // Walks index 0 through the engine, whose reads come from the window,
  // comparing every image with the file.
  auto expect_window_matches_file = [&] {
    const std::vector<uint8_t> mtd = test::ReadBytes(Mtd());
    int seen = 0;
    for (eng_.First(); !eng_.IsEOF(); eng_.Next(), ++seen) {
      const size_t at = static_cast<size_t>(eng_.CurrentRecordNumber()) * length;
      ASSERT_LE(at + length, mtd.size());
      ASSERT_EQ(std::vector<uint8_t>(eng_.CurrentImage(), eng_.CurrentImage() + length),
                std::vector<uint8_t>(mtd.begin() + static_cast<std::ptrdiff_t>(at),
                                     mtd.begin() + static_cast<std::ptrdiff_t>(at + length)))
          << "record " << eng_.CurrentRecordNumber();
    }
    EXPECT_EQ(seen, eng_.RecordCount());
  };
  expect_window_matches_file();

  ASSERT_TRUE(eng_.GoToRecord(20));
  TRow row = NumberedRow(20);
  row.freq = 99.5;
  Post(row);
  EXPECT_EQ(test::ReadRow(eng_, 20).freq, 99.5);
  ASSERT_TRUE(eng_.GoToRecord(30));
  eng_.DeleteRecord();
  EXPECT_EQ(eng_.RecordExists(30), -1);
  Append({5, "IN30", 0, 1, 0, ""});
  EXPECT_EQ(eng_.CurrentRecordNumber(), 30);
  Append({6, "GROWN", 0, 1, 0, ""});
  EXPECT_EQ(eng_.CurrentRecordNumber(), 200);
  expect_window_matches_file();

  // A write that fails leaves the window showing the file, not the image.
  ASSERT_TRUE(eng_.GoToRecord(40));
  row = NumberedRow(40);
  row.freq = -1;
  platform::FailNthWrite(1);
  EXPECT_THROW(Post(row), EInOutError);
  platform::FailNthWrite(0);
  EXPECT_EQ(test::ReadRow(eng_, 40).freq, NumberedRow(40).freq);
  expect_window_matches_file();
  ExpectConsistent();
}

TEST_P(RecordWrite, AWritableOpenWithMoreThanTwentyFreeRecordsCompacts) {
  // 30 live records (every third with a memo) and 25 free slots, the free
  // ones spread out and the last slots live, so records must move.
  std::vector<std::optional<TRow>> slots;
  for (int k = 0; k < 55; ++k)
    slots.push_back(k % 11 < 5 && k < 50 ? std::nullopt
                                         : std::optional<TRow>(NumberedRow(k, k % 3 == 0)));
  ASSERT_EQ(std::count(slots.begin(), slots.end(), std::nullopt), 25);
  Make(slots);
  const auto files = Files();
  ASSERT_GE(eng_.OpenTable(t_.mti, kOpenReadShared, 0), 0);
  eng_.CloseTable();
  EXPECT_EQ(Files(), files) << "a read-only open compacts nothing";

  OpenWritable();
  EXPECT_EQ(Slots(), 40);
  ASSERT_EQ(eng_.FreeList().size(), 10u);
  for (int32_t r : eng_.FreeList()) EXPECT_LT(r, 40);
  const TTableCounters disk = test::DiskCounters(eng_);
  EXPECT_EQ(disk.free_records, 10);
  EXPECT_EQ(disk.first_free_record, eng_.FreeList().front());
  ExpectConsistent();
  std::map<int32_t, TRow> rows;
  for (eng_.First(); !eng_.IsEOF(); eng_.Next()) {
    TRow row = test::ReadRow(eng_, eng_.CurrentRecordNumber());
    rows[row.id] = row;
  }
  ASSERT_EQ(rows.size(), 30u);
  for (const auto& slot : slots) {
    if (!slot) continue;
    EXPECT_EQ(rows[slot->id], *slot);
  }
  eng_.CloseTable();
  ExpectConsistent();
}

// A live record that index 0 does not list: the live records and the index
// disagree, so the compaction is refused and the open fails with -6. A
// read-only open of the same table succeeds.
TEST_P(RecordWrite, ACompactionThatIsRefusedFailsTheOpen) {
  std::vector<std::optional<TRow>> slots;
  for (int k = 0; k < 30; ++k) slots.push_back(NumberedRow(k));
  for (int k = 0; k < 25; ++k) slots.push_back(std::nullopt);
  tools::IndexBuildOptions options;
  options.free_records = 24;  // the chain runs on into the last free slot
  test::MakeWriteTable(t_, GetParam(), slots, options);
  test::PatchBytes(Mtd(), 54 * static_cast<size_t>(t_.desc.RecordLength()),
                   test::RowImage(t_.desc, NumberedRow(99)));
  EXPECT_EQ(eng_.OpenTable(t_.mti, kOpenWriteShared, 0), kOpenPositioningFailed);
  EXPECT_EQ(eng_.LastOpenFailure().code, kOpenPositioningFailed);
  EXPECT_FALSE(eng_.IsOpen());
  ASSERT_GE(eng_.OpenTable(t_.mti, kOpenReadShared, 0), 0);
  EXPECT_EQ(eng_.RecordCount(), 30);
}

INSTANTIATE_TEST_SUITE_P(BothFormats, RecordWrite, ::testing::Values(2.0, 4.0),
                         [](const auto& info) { return info.param < 3 ? "Small" : "Large"; });

}  // namespace
}  // namespace logvane
