// The table rebuild on both page formats: each kind of damage (free chain,
// indexes, blob free list, broken and lost blob blocks, damaged and
// duplicate records, a missing index file) gives a table the check finds
// clean, that opens, and that holds every record it kept in every index
// with its values, the backup byte-identical to the table before; records
// and values it cannot keep are listed, never dropped silently. It refuses
// a table open elsewhere and goes no further when the backup fails, and a
// failed write of a new file leaves the table as it was.
#include "engine/table_rebuild.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>

#include "engine/table_check.h"
#include "index/index_names.h"
#include "table_maker.h"
#include "write_table.h"

namespace logvane {
namespace {

using test::TRow;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

using TFiles = std::map<std::string, std::vector<uint8_t>>;

class TableRebuild : public ::testing::TestWithParam<double> {
 protected:
  // 24 slots: 17 rows (every third with a memo), free slots 3, 9, 14 and 20..23.
  void Make() {
    std::vector<std::optional<TRow>> slots;
    for (int k = 0; k < 24; ++k) {
      if (k == 3 || k == 9 || k == 14 || k >= 20) {
        slots.push_back(std::nullopt);
        continue;
      }
      rows_[static_cast<int32_t>(k)] = test::NumberedRow(k, k % 3 == 0);
      slots.push_back(rows_[k]);
    }
    test::MakeWriteTable(t_, GetParam(), slots);
  }

  std::string Path(const std::string& ext) const { return platform::ChangeFileExt(t_.mti, ext); }
  size_t SlotOffset(int32_t s) const { return static_cast<size_t>(s * t_.desc.RecordLength()); }
  int32_t MemoRef(int32_t record) const {
    const auto bytes = test::ReadBytes(Path(".MTD"));
    return GetInt32(&bytes[SlotOffset(record) + t_.desc.FieldDesc(test::kNotes).offset]);
  }

  // Free records, first free, next autoincrement, change counter, kept value.
  std::vector<int32_t> Counters() const {
    const auto bytes = test::ReadBytes(LeafPageFileName(t_.mti, 0));
    const size_t page = TPageFormat::ForLevel(static_cast<int>(GetParam() * 10)).PageBytes();
    std::vector<int32_t> c;
    for (size_t k = 0; k < 5; ++k) c.push_back(GetInt32(&bytes[page + 4 * k]));
    return c;
  }

  TFiles Files() const {
    TFiles files;
    for (const auto& e : fs::directory_iterator(t_.dir.Path()))
      if (e.is_regular_file()) files[e.path().filename().string()] = test::ReadBytes(e.path());
    return files;
  }

  TRebuildResult Rebuild() {
    before_ = Files();
    TRebuildOptions options;
    options.backup_dir = t_.dir.File("backup");
    return RebuildTable(t_.mti, options);
  }

  // The rebuilt table is clean, opens, lists exactly the rows of `rows_` in
  // every index, memos included, and takes an append; the backup holds the
  // table as it was.
  void ExpectSound(const TRebuildResult& r) {
    ASSERT_EQ(r.status, TRebuildStatus::kRebuilt) << r.message;
    const TTableCheckReport check = CheckTable(t_.mti);
    EXPECT_EQ(check.ExitCode(), 0) << ::testing::PrintToString(check.problems);
    for (const auto& [name, bytes] : before_)
      EXPECT_EQ(test::ReadBytes(t_.dir.File("backup/" + name)), bytes) << name;
    {
      TmtbDBEng eng;
      ASSERT_GE(eng.OpenTable(t_.mti, kOpenReadShared, 0), 0) << eng.LastOpenFailure().Describe();
      for (int i = 0; i < eng.Definition().IndexCount(); ++i) {
        eng.SetCurrentIndex(i);
        std::map<int32_t, TRow> seen;
        for (eng.First(); !eng.IsEOF(); eng.Next())
          seen[eng.CurrentRecordNumber()] = test::ReadRow(eng, eng.CurrentRecordNumber());
        EXPECT_EQ(seen, rows_) << "index " << i;
      }
    }
    // The writer takes the table as it is: an append with a memo keeps it clean.
    TmtbDBEng writer;
    ASSERT_GE(writer.OpenTable(t_.mti, kOpenWriteShared, 0), 0);
    const TRow extra = test::NumberedRow(50, true);
    test::PrepareRow(writer, t_.desc, extra, -1, extra.notes);
    writer.AppendRecord();
    writer.CloseTable();
    const TTableCheckReport after = CheckTable(t_.mti);
    EXPECT_EQ(after.ExitCode(), 0) << ::testing::PrintToString(after.problems);
  }

  test::TTestTable t_;
  std::map<int32_t, TRow> rows_;
  TFiles before_;
};

TEST_P(TableRebuild, ASoundTableKeepsEveryFileButTheCounters) {
  Make();
  const TRebuildResult r = Rebuild();
  EXPECT_TRUE(r.set_aside.empty() && r.detached.empty());
  EXPECT_EQ(r.records_kept, 17);
  for (const auto& [name, bytes] : before_) {
    if (name != fs::path(LeafPageFileName(t_.mti, 0)).filename().string()) {
      EXPECT_EQ(test::ReadBytes(t_.dir.File(name)), bytes) << name;
    }
  }
  ExpectSound(r);
}

// The three states in which an open refuses a table whose records are all
// intact: a free chain into a live record (what a writer killed after
// reusing a freed slot leaves), a blob free list of 11 blocks or more, and
// index free-page lists that disagree with the pages.
TEST_P(TableRebuild, MendsTheStatesAnOpenRefuses) {
  Make();
  test::PatchBytes(Path(".MTD"), SlotOffset(3) + 4, test::Int32Bytes(5));
  const std::string leaf = LeafPageFileName(t_.mti, 1);
  test::PatchBytes(leaf, 0, test::Int32Bytes(7));  // page 0 counts free pages the file lacks
  const TTableCounters counters{7, 3, 21, 5, 77};
  test::PatchBytes(
      LeafPageFileName(t_.mti, 0),
      static_cast<size_t>(TPageFormat::ForLevel(static_cast<int>(GetParam() * 10)).PageBytes()),
      [&] {
        std::vector<uint8_t> b;
        for (int32_t v : {counters.free_records, counters.first_free_record, counters.next_autoinc,
                          counters.change_counter, counters.kept_value}) {
          auto w = test::Int32Bytes(v);
          b.insert(b.end(), w.begin(), w.end());
        }
        return b;
      }());
  // Twelve free blocks on the blob file's chain.
  tools::BlobFileContents blobs;
  blobs.free_blocks = 12;
  for (const auto& [n, row] : rows_)
    if (!row.notes.empty()) blobs.values.push_back({row.notes, n, test::kNotes});
  const tools::BlobFileLayout layout = tools::WriteBlobFile(Path(".blb"), blobs);
  size_t memo = 0;
  for (const auto& [n, row] : rows_)
    if (!row.notes.empty())
      test::PatchBytes(Path(".MTD"), SlotOffset(n) + t_.desc.FieldDesc(test::kNotes).offset,
                       test::Int32Bytes(layout.First(memo++)));
  TmtbDBEng refused;
  ASSERT_LT(refused.OpenTable(t_.mti, kOpenReadShared, 0), 0);

  const TRebuildResult r = Rebuild();
  // The serials stored reach 20; the change counter rises by one.
  EXPECT_EQ(Counters(), (std::vector<int32_t>{7, 3, 21, 6, 77}));
  ExpectSound(r);
  EXPECT_TRUE(r.set_aside.empty() && r.detached.empty());
}

// A writer killed after deleting two records and appending seven: the
// counters name the freed slots, whose links on disk lead to slots the
// appends took again, so the open refuses the table.
TEST_P(TableRebuild, ATableLeftByAKilledWriter) {
  Make();
  std::vector<TRow> appended;
  for (int k = 0; k < 7; ++k) {
    appended.push_back(test::NumberedRow(30 + k, k % 2 == 0));
    appended.back().serial = 21 + k;
  }
  const pid_t child = fork();
  if (child == 0) {
    TmtbDBEng writer;
    if (writer.OpenTable(t_.mti, kOpenWriteShared, 0) < 0) _exit(1);
    for (int32_t r : {5, 7}) {
      if (!writer.GoToRecord(r)) _exit(2);
      writer.DeleteRecord();
    }
    for (const TRow& row : appended) {
      test::PrepareRow(writer, t_.desc, row, -1, row.notes);
      writer.AppendRecord();
    }
    _exit(0);  // killed: no close
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  TmtbDBEng refused;
  ASSERT_EQ(refused.OpenTable(t_.mti, kOpenReadShared, 0), kOpenBlobOrCountersFailed);

  rows_.erase(5);
  rows_.erase(7);
  const int32_t slots[] = {3, 9, 14, 20, 21, 22, 23};
  for (size_t k = 0; k < appended.size(); ++k) rows_[slots[k]] = appended[k];
  const TRebuildResult r = Rebuild();
  EXPECT_TRUE(r.set_aside.empty() && r.detached.empty());
  ExpectSound(r);
}

TEST_P(TableRebuild, AnAutoincrementValueNeverFallsBelowAStoredOne) {
  Make();
  TRebuildResult r = Rebuild();
  ASSERT_EQ(r.status, TRebuildStatus::kRebuilt);
  tools::IndexBuildOptions low;
  low.next_autoinc = 3;  // below the serials 1..20 the records hold
  tools::BuildIndexes(t_.mti, low);
  fs::remove_all(t_.dir.File("backup"));
  r = Rebuild();
  EXPECT_EQ(Counters()[2], 21);
  ExpectSound(r);
}

TEST_P(TableRebuild, DamagedIndexesAndAMissingIndexFileAreBuiltAfresh) {
  Make();
  const size_t page =
      static_cast<size_t>(TPageFormat::ForLevel(static_cast<int>(GetParam() * 10)).PageBytes());
  test::PatchBytes(LeafPageFileName(t_.mti, 0), 2 * page, test::Int32Bytes(99));
  test::PatchBytes(LeafPageFileName(t_.mti, 2), 2 * page + 4, test::Int32Bytes(1234));
  fs::remove(DirectoryFileName(t_.mti, 3));
  const TRebuildResult r = Rebuild();
  ExpectSound(r);
  for (int i : {0, 2, 3})
    EXPECT_THAT(::testing::PrintToString(r.changes), HasSubstr("index " + std::to_string(i)));
}

// A damaged image and a second record with a taken primary key are set
// aside with their values; their slots become free.
TEST_P(TableRebuild, RecordsItCannotKeepAreListedWithTheirValues) {
  Make();
  test::PatchBytes(Path(".MTD"), SlotOffset(4) + test::kBand, {7});
  auto bytes = test::ReadBytes(Path(".MTD"));
  std::vector<uint8_t> copy(bytes.begin() + static_cast<std::ptrdiff_t>(SlotOffset(6)),
                            bytes.begin() + static_cast<std::ptrdiff_t>(SlotOffset(7)));
  test::PatchBytes(Path(".MTD"), SlotOffset(20), copy);  // slot 20 repeats record 6
  const std::string memo6 = rows_[6].notes;
  const std::string call4 = rows_[4].call;
  rows_.erase(4);

  const TRebuildResult r = Rebuild();
  ExpectSound(r);
  ASSERT_EQ(r.set_aside.size(), 2u);
  EXPECT_EQ(r.set_aside[0].record, 4);
  EXPECT_THAT(r.set_aside[0].problem, HasSubstr("null flag 7"));
  bool call_listed = false;
  for (const TRecoveredValue& v : r.set_aside[0].values) call_listed |= v.text == call4;
  EXPECT_TRUE(call_listed);
  EXPECT_EQ(r.set_aside[1].record, 20);
  EXPECT_THAT(r.set_aside[1].problem, HasSubstr("primary key of record 6"));
  bool memo_listed = false;
  for (const TRecoveredValue& v : r.set_aside[1].values) memo_listed |= v.text == memo6;
  EXPECT_TRUE(memo_listed);
  // Record 6 kept its memo although its duplicate referred to it too.
  EXPECT_TRUE(r.detached.empty());
}

// A broken chain is detached from its record and listed with the bytes it
// still gives; blocks no value holds are recovered.
TEST_P(TableRebuild, BrokenBlobValuesAreDetachedAndLostBlocksRecovered) {
  Make();
  const int32_t ref = MemoRef(12);  // 544 bytes: two 512-byte blocks
  const auto blob = test::ReadBytes(Path(".blb"));
  const int32_t second = GetInt32(&blob[static_cast<size_t>(ref)]);
  tools::PatchBlobHeader(Path(".blb"), second, tools::BlobHeaderField::kPrev, 4);
  // Record 15's memo loses its record: its blocks are lost.
  test::PatchBytes(Path(".MTD"), SlotOffset(15) + test::kNotes, {0});
  rows_[15].notes.clear();
  const std::string notes12 = rows_[12].notes;
  rows_[12].notes.clear();

  const TRebuildResult r = Rebuild();
  ExpectSound(r);
  ASSERT_EQ(r.detached.size(), 1u);
  EXPECT_EQ(r.detached[0].record, 12);
  EXPECT_EQ(r.detached[0].field, "Notes");
  EXPECT_EQ(r.detached[0].total_size, static_cast<int32_t>(notes12.size()));
  EXPECT_EQ(r.detached[0].bytes, notes12);
  EXPECT_THAT(::testing::PrintToString(r.changes), HasSubstr("recovered"));
}

TEST_P(TableRebuild, ATableWithoutABlobFile) {
  test::MakeLogTable(
      t_, GetParam(),
      {test::Live(1), test::Free(3), test::Live(2), test::Free(5), test::Live(3), test::Free(-1)});
  test::PatchBytes(Path(".MTD"), SlotOffset(3) + 4, test::Int32Bytes(4));
  ASSERT_EQ(CheckTable(t_.mti).ExitCode(), 1);
  const TRebuildResult r = Rebuild();
  ASSERT_EQ(r.status, TRebuildStatus::kRebuilt) << r.message;
  EXPECT_EQ(CheckTable(t_.mti).ExitCode(), 0);
  EXPECT_EQ(r.records_kept, 3);
  EXPECT_TRUE(r.set_aside.empty());
}

TEST_P(TableRebuild, RefusesATableOpenElsewhere) {
  Make();
  TmtbDBEng reader;
  ASSERT_GE(reader.OpenTable(t_.mti, kOpenReadBesideWriter, 0), 0);
  const TRebuildResult r = Rebuild();
  EXPECT_EQ(r.status, TRebuildStatus::kInUse);
  EXPECT_EQ(r.message, OpenFailureText(t_.mti, kOpenDefinitionFailed));
  EXPECT_EQ(Files(), before_);
  EXPECT_FALSE(fs::exists(t_.dir.File("backup")));
}

// Nothing changes when the backup cannot be made, or when a new file
// cannot be written: temporaries are removed again.
TEST_P(TableRebuild, AFailedBackupOrWriteChangesNothing) {
  Make();
  test::PatchBytes(Path(".MTD"), SlotOffset(3) + 4, test::Int32Bytes(5));
  const TFiles damaged = Files();

  TRebuildOptions options;
  options.backup_dir = t_.dir.File("T.mti") + "/backup";  // below a file
  TRebuildResult r = RebuildTable(t_.mti, options);
  EXPECT_EQ(r.status, TRebuildStatus::kBackupFailed);
  EXPECT_EQ(Files(), damaged);

  const size_t table_files = damaged.size();
  for (int64_t n : {int64_t{1}, static_cast<int64_t>(table_files) + 1}) {
    fs::remove_all(t_.dir.File("backup"));
    platform::FailNthWrite(n);
    r = Rebuild();
    platform::FailNthWrite(0);
    EXPECT_EQ(r.status, n == 1 ? TRebuildStatus::kBackupFailed : TRebuildStatus::kFailed);
    EXPECT_THAT(r.message, HasSubstr("not changed"));
    EXPECT_EQ(Files(), damaged);
  }
}

INSTANTIATE_TEST_SUITE_P(Formats, TableRebuild, ::testing::Values(2.0, 4.0));

}  // namespace
}  // namespace logvane
