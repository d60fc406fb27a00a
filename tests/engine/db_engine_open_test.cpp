// Opening and closing tables: every failure code comes from a real broken
// or locked table and leaves no file open; retries; share modes between
// processes; the free chain read at open and written back at close.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "base/byte_order.h"
#include "engine/db_engine.h"
#include "index/index_names.h"
#include "table_maker.h"
#include "tools/blob_writer.h"

namespace logvane {
namespace {

using test::Free;
using test::Live;
using test::TTestTable;
using ::testing::ElementsAre;
namespace fs = std::filesystem;

std::set<std::string> OpenFds() {
  std::set<std::string> fds;
  for (const auto& e : fs::directory_iterator("/proc/self/fd"))
    fds.insert(e.path().filename().string());
  return fds;
}

std::map<std::string, std::vector<uint8_t>> Snapshot(const fs::path& dir) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.is_regular_file())
      files[e.path().filename().string()] = test::ReadBytes(e.path().string());
  return files;
}

int64_t MillisecondsSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               t0)
      .count();
}

// A child process that opens a table with `mode`, reports the result and
// holds the table until released.
class ChildOpen {
 public:
  ChildOpen(const std::string& path, uint32_t mode) {
    if (pipe(up_) != 0 || pipe(down_) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
      TmtbDBEng e;
      int32_t r = e.OpenTable(path, mode, 0);
      if (write(up_[1], &r, sizeof r) != sizeof r) _exit(2);
      char c;
      if (read(down_[0], &c, 1) < 0) _exit(3);
      e.CloseTable();
      _exit(0);
    }
    int32_t r = -100;
    if (read(up_[0], &r, sizeof r) != sizeof r) r = -100;
    result_ = r;
  }
  ~ChildOpen() { Release(); }
  int32_t Result() const { return result_; }
  void Release() {
    if (pid_ <= 0) return;
    (void)!write(down_[1], "x", 1);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    for (int fd : {up_[0], up_[1], down_[0], down_[1]}) close(fd);
  }

 private:
  int up_[2] = {-1, -1};
  int down_[2] = {-1, -1};
  pid_t pid_ = -1;
  int32_t result_ = -100;
};

class TableOpen : public ::testing::TestWithParam<double> {
 protected:
  // Live 0, 2, 3, 5; free 1 -> 4.
  void SetUp() override { Make({Live(3), Free(4), Live(1), Live(2), Free(-1), Live(5)}); }
  void Make(const std::vector<test::TSlot>& slots, const tools::IndexBuildOptions& options = {}) {
    eng_.CloseTable();
    options_ = options;
    test::MakeLogTable(t_, GetParam(), slots, options);
  }
  void Rebuild() {
    for (const auto& e : fs::directory_iterator(t_.dir.Path())) fs::remove_all(e.path());
    t_.Build(options_);
  }
  std::string Mtd() const { return platform::ChangeFileExt(t_.mti, ".MTD"); }
  size_t PageBytes() const { return GetParam() < 3 ? 32 : 4096; }
  size_t SlotOffset(int32_t n) const { return static_cast<size_t>(n) * t_.desc.RecordLength(); }
  // The five table counters on page 1 of index 0.
  std::vector<int32_t> Counters() const {
    std::vector<uint8_t> b = test::ReadBytes(LeafPageFileName(t_.mti, 0));
    std::vector<int32_t> c;
    for (int k = 0; k < 5; ++k) c.push_back(GetInt32(&b[PageBytes() + 4 * k]));
    return c;
  }
  void PatchCounter(int k, int32_t value) {
    test::PatchBytes(LeafPageFileName(t_.mti, 0), PageBytes() + 4 * k, test::Int32Bytes(value));
  }
  // The chain on disk from `head`, checked to be made of canonical free
  // records.
  std::vector<int32_t> ChainOnDisk(int32_t head) const {
    std::vector<uint8_t> bytes = test::ReadBytes(Mtd());
    const int length = t_.desc.RecordLength();
    std::vector<int32_t> chain;
    for (int32_t p = head; p >= 0 && chain.size() < 100; p = GetInt32(&bytes[SlotOffset(p) + 4])) {
      chain.push_back(p);
      const int32_t next = GetInt32(&bytes[SlotOffset(p) + 4]);
      EXPECT_EQ(std::vector<uint8_t>(&bytes[SlotOffset(p)], &bytes[SlotOffset(p)] + length),
                tools::FreeRecordImage(length, next))
          << "slot " << p;
    }
    return chain;
  }

  TTestTable t_;
  tools::IndexBuildOptions options_;
  TmtbDBEng eng_;
  TmtbDBEng holder_;
};

// Each broken or locked table fails with its code, leaves no file open and
// changes no file, also when the open asked for writing; the same engine
// then opens the repaired table.
TEST_P(TableOpen, FailureCodes) {
  struct Case {
    const char* what;
    int32_t code;
    std::function<void()> damage;
    const char* step = "";
  };
  const std::vector<Case> cases = {
      {"definition missing", kOpenDefinitionFailed, [&] { fs::remove(t_.mti); },
       "open the definition file"},
      {"definition locked by a writer", kOpenDefinitionFailed,
       [&] { ASSERT_GE(holder_.OpenTable(t_.mti, kOpenWriteShared, 0), 0); },
       "open the definition file"},
      {"77 fields", kOpenDefinitionDamaged,
       [&] { test::PatchBytes(t_.mti, 320, test::Int32Bytes(77)); }, "read the definition"},
      {"definition cut short", kOpenDefinitionDamaged,
       [&] {
         auto b = test::ReadBytes(t_.mti);
         b.resize(700);
         test::WriteBytes(t_.mti, b);
       },
       "read the definition"},
      {"data file missing", kOpenDataFileFailed, [&] { fs::remove(Mtd()); }, "open the data file"},
      {"data file is a folder", kOpenDataFileFailed,
       [&] {
         fs::remove(Mtd());
         fs::create_directory(Mtd());
       },
       "open the data file"},
      {"directory of index 1 missing", kOpenIndexFailed,
       [&] { fs::remove(DirectoryFileName(t_.mti, 1)); }, "open the indexes"},
      {"leaf pages of index 2 cut", kOpenIndexFailed,
       [&] {
         auto b = test::ReadBytes(LeafPageFileName(t_.mti, 2));
         b.resize(PageBytes() + 5);
         test::WriteBytes(LeafPageFileName(t_.mti, 2), b);
       },
       "open the indexes"},
      {"chain head on a live record", kOpenBlobOrCountersFailed, [&] { PatchCounter(1, 0); },
       "free-record chain"},
      {"chain head outside the file", kOpenBlobOrCountersFailed, [&] { PatchCounter(1, 6); },
       "free-record chain"},
      {"chain leads to a live record", kOpenBlobOrCountersFailed,
       [&] { test::PatchBytes(Mtd(), SlotOffset(1) + 4, test::Int32Bytes(3)); },
       "free-record chain"},
      {"chain runs in a circle", kOpenBlobOrCountersFailed,
       [&] {
         test::PatchBytes(Mtd(), SlotOffset(4) + 4, test::Int32Bytes(1));
         PatchCounter(0, 5);
       },
       "free-record chain"},
      {"first record of index 0 is free", kOpenPositioningFailed,
       [&] { test::PatchBytes(Mtd(), SlotOffset(2), {0xFF}); }, "position on the first index"},
  };
  for (uint32_t mode : {kOpenReadShared, kOpenWriteShared}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(::testing::Message() << c.what << ", mode " << mode);
      c.damage();
      const auto files = Snapshot(t_.dir.Path());
      const auto fds = OpenFds();
      EXPECT_EQ(eng_.OpenTable(t_.mti, mode, 0), c.code);
      EXPECT_EQ(eng_.LastOpenFailure().code, c.code);
      EXPECT_THAT(eng_.LastOpenFailure().Describe(), ::testing::HasSubstr(c.step));
      EXPECT_FALSE(eng_.LastOpenFailure().reason.empty());
      EXPECT_EQ(OpenFds(), fds) << "a file stayed open";
      EXPECT_FALSE(eng_.IsOpen());
      EXPECT_EQ(eng_.Definition().FieldCount(), 0);
      EXPECT_EQ(eng_.RecordCount(), 0);
      // Only a failed first positioning is followed by the close of an
      // opened table, which writes back what a writable open holds.
      if (c.code != kOpenPositioningFailed || mode == kOpenReadShared) {
        EXPECT_EQ(Snapshot(t_.dir.Path()), files) << "a failed open changed a file";
      }
      holder_.CloseTable();
      Rebuild();
      const auto fds_repaired = OpenFds();
      ASSERT_GE(eng_.OpenTable(t_.mti, mode, 0), 0);
      EXPECT_EQ(eng_.LastOpenFailure().Describe(), "");
      EXPECT_EQ(eng_.RecordCount(), 4);
      EXPECT_EQ(eng_.CurrentRecordNumber(), 2);
      eng_.CloseTable();
      EXPECT_EQ(OpenFds(), fds_repaired);
      Rebuild();
    }
  }
}

TEST_P(TableOpen, BlobFileFailures) {
  t_.desc = tools::TableDescription{};
  t_.desc.format_version = GetParam();
  t_.desc.fields = {tools::MakeField("Id", 'I'), tools::MakeField("Notes", 'M', 10)};
  t_.desc.indexes = {{"Primary", {0}, kIndexPrimary}};
  t_.desc.LayOut();
  tools::TRecordBuilder r(t_.desc);
  t_.slots = {r.Clear().SetInt(0, 1).Image()};
  t_.Build();
  const std::string blb = platform::ChangeFileExt(t_.mti, ".blb");
  const auto fds = OpenFds();
  EXPECT_EQ(eng_.OpenTable(t_.mti, kOpenReadShared, 0), kOpenBlobOrCountersFailed);
  EXPECT_EQ(OpenFds(), fds);
  test::WriteBytes(blb, {1, 2, 3});
  EXPECT_EQ(eng_.OpenTable(t_.mti, kOpenReadShared, 0), kOpenBlobOrCountersFailed);
  EXPECT_EQ(OpenFds(), fds);
  tools::WriteBlobFile(blb, {});
  ASSERT_GE(eng_.OpenTable(t_.mti, kOpenReadShared, 0), 0);
  EXPECT_NE(eng_.BlobFile(), nullptr);
  eng_.CloseTable();
  EXPECT_EQ(OpenFds(), fds);
}

TEST(OpenFailureText, NamesThePathFirst) {
  EXPECT_EQ(OpenFailureText("/l/T.mti", kOpenDefinitionFailed),
            "/l/T.mti cannot be opened for exclusive use.");
  EXPECT_EQ(
      OpenFailureText("/l/T.mti", kOpenIndexFailed),
      "/l/T.mti cannot be opened for exclusive use.  The table may be corrupted. Suggest rebuild");
}

TEST_P(TableOpen, RetriesWhileLocked) {
  ASSERT_GE(holder_.OpenTable(t_.mti, kOpenWriteShared, 0), 0);
  const auto fds = OpenFds();
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(eng_.OpenTable(t_.mti, kOpenReadShared, 0), kOpenDefinitionFailed);
  EXPECT_LT(MillisecondsSince(t0), 190) << "one attempt, no wait";
  t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(eng_.OpenTable(t_.mti, kOpenReadShared, 3), kOpenDefinitionFailed);
  EXPECT_GE(MillisecondsSince(t0), 590) << "four attempts 200 ms apart";
  EXPECT_EQ(OpenFds(), fds);
  holder_.CloseTable();
  EXPECT_GE(eng_.OpenTable(t_.mti, kOpenReadShared, 0), 0);
}

// Between processes, a writer keeps out other writers and plain readers in
// either order; readers that allow writers coexist with everything.
TEST_P(TableOpen, WriterExcludesReadersAcrossProcesses) {
  {
    ChildOpen writer(t_.mti, kOpenWriteShared);
    ASSERT_GE(writer.Result(), 0);
    EXPECT_EQ(eng_.OpenTable(t_.mti, kOpenReadShared, 0), kOpenDefinitionFailed);
    EXPECT_EQ(eng_.OpenTable(t_.mti, kOpenWriteShared, 0), kOpenDefinitionFailed);
    ASSERT_GE(eng_.OpenTable(t_.mti, kOpenReadBesideWriter, 0), 0);
    EXPECT_EQ(eng_.RecordCount(), 4);
    eng_.CloseTable();
  }
  ASSERT_GE(eng_.OpenTable(t_.mti, kOpenReadShared, 0), 0);
  EXPECT_EQ(ChildOpen(t_.mti, kOpenWriteShared).Result(), kOpenDefinitionFailed);
  EXPECT_GE(ChildOpen(t_.mti, kOpenReadShared).Result(), 0);
  eng_.CloseTable();
  ASSERT_GE(eng_.OpenTable(t_.mti, kOpenWriteShared, 0), 0);
  EXPECT_EQ(ChildOpen(t_.mti, kOpenReadShared).Result(), kOpenDefinitionFailed);
  eng_.CloseTable();
  ASSERT_GE(eng_.OpenTable(t_.mti, kOpenReadBesideWriter, 0), 0);
  EXPECT_GE(ChildOpen(t_.mti, kOpenWriteShared).Result(), 0);
}

TEST_P(TableOpen, ShortChainWithALargerCountOpens) {
  tools::IndexBuildOptions options;
  options.free_records = 30;
  options.first_free_record = 1;
  Make({Live(1), Free(3), Live(2), Free(5), Live(3), Free(-1), Free(-1)}, options);
  ASSERT_GE(eng_.OpenTable(t_.mti, kOpenReadShared, 0), 0);
  EXPECT_THAT(eng_.FreeList(), ElementsAre(1, 3, 5));
  eng_.CloseTable();
  ASSERT_GE(eng_.OpenTable(t_.mti, kOpenWriteShared, 0), 0);
  eng_.CloseTable();
  EXPECT_THAT(Counters(), ElementsAre(3, 1, 1, 1, 0));
  EXPECT_THAT(ChainOnDisk(1), ElementsAre(1, 3, 5));
}

// A writable close writes the counters (change counter + 1, the list's
// length and first entry, the rest as read) and the chain in ascending
// order, and nothing else; closing again writes nothing more.
TEST_P(TableOpen, WritableCloseWritesCountersAndAscendingChain) {
  tools::IndexBuildOptions options;
  options.next_autoinc = 55;
  options.change_counter = 7;
  options.kept_value = 99;
  Make({Live(1), Free(-1), Live(2), Free(1), Free(3), Live(3)}, options);  // chain 4 -> 3 -> 1
  ASSERT_THAT(Counters(), ElementsAre(3, 4, 55, 7, 99));
  auto before = Snapshot(t_.dir.Path());
  ASSERT_GE(eng_.OpenTable(t_.mti, kOpenWriteShared, 0), 0);
  EXPECT_THAT(eng_.FreeList(), ElementsAre(4, 3, 1));
  eng_.Next();
  eng_.CloseTable();
  eng_.CloseTable();
  EXPECT_FALSE(eng_.IsOpen());
  EXPECT_THAT(Counters(), ElementsAre(3, 1, 55, 8, 99));
  EXPECT_THAT(ChainOnDisk(1), ElementsAre(1, 3, 4));

  auto after = Snapshot(t_.dir.Path());
  const std::string mtd = fs::path(Mtd()).filename().string();
  const std::string leaf0 = fs::path(LeafPageFileName(t_.mti, 0)).filename().string();
  for (int32_t s : {0, 2, 5})
    EXPECT_TRUE(std::equal(&before[mtd][SlotOffset(s)], &before[mtd][SlotOffset(s + 1)],
                           &after[mtd][SlotOffset(s)]))
        << "live record " << s;
  ASSERT_EQ(after[leaf0].size(), before[leaf0].size());
  std::copy(&after[leaf0][PageBytes()], &after[leaf0][PageBytes() + 20],
            &before[leaf0][PageBytes()]);
  before.erase(mtd);
  after.erase(mtd);
  EXPECT_EQ(after, before) << "only the counters and the chain change";

  // The next open takes the lowest free slot first.
  ASSERT_GE(eng_.OpenTable(t_.mti, kOpenReadShared, 0), 0);
  EXPECT_THAT(eng_.FreeList(), ElementsAre(1, 3, 4));
}

TEST_P(TableOpen, ReadOnlyCloseWritesNothing) {
  Make({Live(1), Free(-1), Live(2), Free(1), Free(3), Live(3)});
  const auto before = Snapshot(t_.dir.Path());
  for (uint32_t mode : {kOpenReadShared, kOpenReadBesideWriter}) {
    ASSERT_GE(eng_.OpenTable(t_.mti, mode, 0), 0);
    EXPECT_TRUE(eng_.ReadOnly());
    eng_.Last();
    eng_.SetCurrentIndex(1);
    eng_.CloseTable();
    eng_.CloseTable();
    EXPECT_EQ(Snapshot(t_.dir.Path()), before);
  }
}

// A closed engine answers without touching anything.
TEST_P(TableOpen, ClosedEngineIsHarmless) {
  ASSERT_GE(eng_.OpenTable(t_.mti, kOpenReadShared, 0), 0);
  eng_.CloseTable();
  eng_.First();
  eng_.Next();
  eng_.Prior();
  eng_.Last();
  EXPECT_EQ(eng_.MoveToPosition(2), 0);
  EXPECT_EQ(eng_.CurrentRecordNumber(), -1);
  EXPECT_EQ(eng_.CurrentPosition(), 0);
  EXPECT_EQ(eng_.RecordCount(), 0);
  EXPECT_TRUE(eng_.IsRangeEmpty());
  EXPECT_TRUE(eng_.IsBOF() && eng_.IsEOF());
  EXPECT_FALSE(eng_.GoToRecord(0));
  EXPECT_EQ(eng_.RecordExists(0), -1);
  std::vector<int> fields = {0};
  std::vector<uint8_t> image(64, 0);
  EXPECT_FALSE(eng_.Locate(fields, image.data(), false, 0, true, -1));
}

INSTANTIATE_TEST_SUITE_P(BothFormats, TableOpen, ::testing::Values(2.0, 4.0), [](const auto& info) {
  return info.param < 3 ? "SmallPages" : "LargePages";
});

}  // namespace
}  // namespace logvane
