// Record access by number: reads and writes, free records, range errors with
// their exact texts, and the pinned-record table.
#include "table/record_manager.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/errors.h"
#include "base/messages.h"
#include "test_support.h"
#include "tools/table_writer.h"

namespace logvane {
namespace {

class RecordManagerTest : public ::testing::Test {
 protected:
  static constexpr int kLength = 16;

  void SetUp() override { platform::SetDefaultReadOnly(false); }

  // Slots: 0..count-1, live unless listed in `free`; byte 1 holds the number.
  void Write(int count, std::vector<int> free = {}) {
    std::vector<std::vector<uint8_t>> slots;
    for (int n = 0; n < count; ++n) {
      if (std::find(free.begin(), free.end(), n) != free.end()) {
        slots.push_back(tools::FreeRecordImage(kLength, -1));
      } else {
        std::vector<uint8_t> image(kLength, 0);
        image[0] = 1;
        image[1] = static_cast<uint8_t>(n);
        slots.push_back(image);
      }
    }
    tools::WriteDataFile(path_, slots);
  }

  std::string ErrorOf(const std::function<void()>& f) {
    try {
      f();
    } catch (const EDedaZiRecMgrError& e) {
      return e.what();
    }
    return "no error";
  }

  test::TempDir dir_;
  std::string path_ = dir_.File("T.MTD");
  TmtbRecMgr mgr_;
  uint8_t buf_[kLength] = {};
};

TEST_F(RecordManagerTest, ReadsAndWritesRecordsByNumber) {
  Write(40);
  mgr_.OpenDataFile(path_, kLength);
  EXPECT_EQ(mgr_.SlotCount(), 40);
  for (int n : {0, 1, 2, 39, 5, 6}) {
    mgr_.ReadRecord(buf_, n);
    EXPECT_EQ(buf_[1], n);
  }
  buf_[1] = 200;
  mgr_.WriteRecord(buf_, 7);
  buf_[1] = 0;
  mgr_.ReadRecord(buf_, 7);
  EXPECT_EQ(buf_[1], 200);
  mgr_.ReadRecord(buf_, 8);  // consecutive after a write
  EXPECT_EQ(buf_[1], 8);
  mgr_.CloseDataFile();
  EXPECT_FALSE(mgr_.DataFileOpen());
}

TEST_F(RecordManagerTest, RangeAndFreeRecordErrorsCarryNumberAndSize) {
  Write(5, {3});
  mgr_.OpenDataFile(path_, kLength);
  EXPECT_EQ(ErrorOf([&] { mgr_.ReadRecord(buf_, 7); }), "I/O error on mtd file7/5");
  EXPECT_EQ(ErrorOf([&] { mgr_.ReadRecord(buf_, -1); }), "I/O error on mtd file-1/5");
  EXPECT_EQ(ErrorOf([&] { mgr_.ReadRecord(buf_, 3); }), "I/O error on mtd file3/5");
  EXPECT_EQ(ErrorOf([&] { mgr_.ReadRecord(nullptr, 1); }), "I/O error on mtd file1/5");
  EXPECT_EQ(ErrorOf([&] { mgr_.WriteRecord(buf_, 5); }), "I/O error on mtd file5/5");
  // The failed reads leave the manager usable.
  mgr_.ReadRecord(buf_, 4);
  EXPECT_EQ(buf_[1], 4);
}

TEST_F(RecordManagerTest, EmptyFileAndPartialTrailingRecord) {
  Write(0);
  mgr_.OpenDataFile(path_, kLength);
  EXPECT_EQ(mgr_.SlotCount(), 0);
  EXPECT_EQ(ErrorOf([&] { mgr_.ReadRecord(buf_, 0); }), "I/O error on mtd file0/0");
  mgr_.CloseDataFile();

  Write(3);
  test::PatchBytes(path_, 3 * kLength, std::vector<uint8_t>(5, 1));  // half a record
  mgr_.OpenDataFile(path_, kLength);
  EXPECT_EQ(mgr_.SlotCount(), 3);
}

TEST_F(RecordManagerTest, FileShortenedBehindOurBackIsDetected) {
  Write(10);
  mgr_.OpenDataFile(path_, kLength);
  EXPECT_EQ(mgr_.CheckDataFileSize(), 10);
  mgr_.ReadRecord(buf_, 4);
  std::filesystem::resize_file(path_, 6 * kLength);
  EXPECT_EQ(ErrorOf([&] { mgr_.CheckDataFileSize(); }), msg::kMtdIoError);
  // A short read in the middle of a run must not leave the position behind:
  // after it fails, reading an existing record still returns that record.
  mgr_.ReadRecord(buf_, 5);
  EXPECT_EQ(ErrorOf([&] { mgr_.ReadRecord(buf_, 6); }), "I/O error on mtd file6/6");
  std::vector<uint8_t> grown(4 * kLength, 0);
  for (int n = 6; n < 10; ++n) grown[(n - 6) * kLength] = 1, grown[(n - 6) * kLength + 1] = n;
  test::PatchBytes(path_, 6 * kLength, grown);
  mgr_.ReadRecord(buf_, 7);
  EXPECT_EQ(buf_[1], 7);
}

// Where the file cannot be mapped, read-ahead reads runs in windows.
TEST_F(RecordManagerTest, ReadAheadServesRunsAndFollowsOwnWrites) {
  Write(5000, {2500});
  mgr_.OpenDataFile(path_, kLength);
  platform::AllowFileMappings(false);
  mgr_.SetReadAhead(true);
  platform::AllowFileMappings(true);
  for (int n = 0; n < 2500; ++n) {
    mgr_.ReadRecord(buf_, n);
    ASSERT_EQ(buf_[1], n % 256);
  }
  // The free record inside the window is still refused.
  EXPECT_EQ(ErrorOf([&] { mgr_.ReadRecord(buf_, 2500); }), "I/O error on mtd file2500/5000");
  // Our own write reaches the window; a scattered read still works.
  buf_[0] = 1;
  buf_[1] = 77;
  mgr_.WriteRecord(buf_, 2499);
  mgr_.ReadRecord(buf_, 2499);
  EXPECT_EQ(buf_[1], 77);
  mgr_.ReadRecord(buf_, 4321);
  EXPECT_EQ(buf_[1], 4321 % 256);
  // Without read-ahead every read goes to the file: another writer's change
  // shows at once.
  mgr_.SetReadAhead(false);
  mgr_.ReadRecord(buf_, 10);
  test::PatchBytes(path_, 11 * kLength + 1, {99});
  mgr_.ReadRecord(buf_, 11);
  EXPECT_EQ(buf_[1], 99);
}

// A reader maps the file; a cut behind the table lock reads as the I/O message.
TEST_F(RecordManagerTest, MappedReadsMeetACutAsTheIoMessage) {
  Write(2000, {1999});
  platform::SetDefaultReadOnly(true);
  mgr_.OpenDataFile(path_, kLength);
  platform::SetDefaultReadOnly(false);
  mgr_.SetReadAhead(true);
  for (int n = 0; n < 1999; ++n) {
    mgr_.ReadRecord(buf_, n);
    ASSERT_EQ(buf_[1], n % 256);
  }
  // Another program cuts the file to two pages behind the table lock.
  std::filesystem::resize_file(path_, 512 * kLength);
  EXPECT_EQ(ErrorOf([&] { mgr_.ReadRecord(buf_, 1500); }), "I/O error on mtd file1500/512");
  EXPECT_EQ(ErrorOf([&] { mgr_.ReadRecord(buf_, 512); }), "I/O error on mtd file512/512");
  mgr_.ReadRecord(buf_, 511);
  EXPECT_EQ(buf_[1], 511 % 256);
  // ... and writes it anew: the records read again.
  Write(2000, {1999});
  mgr_.ReadRecord(buf_, 1500);
  EXPECT_EQ(buf_[1], 1500 % 256);
}

// A writer does not map; the slots it appends read back as it wrote them.
TEST_F(RecordManagerTest, AWriterReadsItsOwnGrowth) {
  Write(2000, {1999});
  mgr_.OpenDataFile(path_, kLength);
  mgr_.SetReadAhead(true);
  for (int n = 1990; n < 1999; ++n) mgr_.ReadRecord(buf_, n);
  mgr_.GrowFreeChain();
  ASSERT_EQ(mgr_.SlotCount(), 2010);
  buf_[0] = 1;
  buf_[1] = 42;
  mgr_.WriteRecord(buf_, 2005);
  buf_[1] = 0;
  mgr_.ReadRecord(buf_, 2005);
  EXPECT_EQ(buf_[1], 42);
  EXPECT_EQ(ErrorOf([&] { mgr_.ReadRecord(buf_, 2006); }), "I/O error on mtd file2006/2010");
  mgr_.ReadRecord(buf_, 1998);
  EXPECT_EQ(buf_[1], 1998 % 256);
}

TEST_F(RecordManagerTest, TruncateRemovesTrailingSlots) {
  Write(12);
  mgr_.OpenDataFile(path_, kLength);
  EXPECT_EQ(mgr_.TruncateDataFile(2), 10);
  EXPECT_EQ(std::filesystem::file_size(path_), 10u * kLength);
  EXPECT_EQ(mgr_.CheckDataFileSize(), 10);
  EXPECT_EQ(mgr_.TruncateDataFile(-1), 0);  // out of range: everything
  EXPECT_EQ(std::filesystem::file_size(path_), 0u);
}

TEST_F(RecordManagerTest, PinTableSizing) {
  struct Case {
    int length;
    int slots;
  };
  // The table takes (L + 7) * S bytes and stays below 65535.
  for (Case c : {Case{8, 32}, Case{2040, 32}, Case{2041, 16}, Case{4088, 16}, Case{4089, 8},
                 Case{32760, 2}, Case{32761, 1}, Case{65527, 1}}) {
    tools::WriteDataFile(path_, {});
    mgr_.OpenDataFile(path_, c.length);
    EXPECT_EQ(mgr_.PinSlotCount(), c.slots) << c.length;
    for (int i = 0; i < kWorkBufferCount; ++i)
      EXPECT_EQ(reinterpret_cast<uintptr_t>(mgr_.WorkBuffer(i)) % 4, 0u);
    mgr_.CloseDataFile();
  }
  tools::WriteDataFile(path_, {});
  EXPECT_THROW(mgr_.OpenDataFile(path_, 65528), EDedaZiRecMgrError);
  EXPECT_FALSE(mgr_.DataFileOpen());
}

TEST_F(RecordManagerTest, PinnedRecordsShareSlotsByMask) {
  Write(45, {9});
  mgr_.OpenDataFile(path_, kLength);
  ASSERT_EQ(mgr_.PinSlotCount(), 32);
  uint8_t* p3 = mgr_.PinRecord(3);
  EXPECT_EQ(p3[1], 3);
  EXPECT_EQ(ErrorOf([&] { mgr_.PinRecord(35); }), msg::kRecordCacheInvalid);
  // A hit rereads the file: changes written elsewhere are visible.
  buf_[0] = 1;
  buf_[1] = 99;
  mgr_.WriteRecord(buf_, 3);
  EXPECT_EQ(mgr_.PinRecord(3), p3);
  EXPECT_EQ(p3[1], 99);
  mgr_.UnpinRecord(3);
  mgr_.UnpinRecord(3);
  EXPECT_EQ(mgr_.PinRecord(35)[1], 35);  // slot 3 is free again
  EXPECT_EQ(ErrorOf([&] { mgr_.UnpinRecord(3); }), msg::kRecordCacheInvalid);
  EXPECT_EQ(ErrorOf([&] { mgr_.DropRecord(35); }), msg::kRecordCacheInvalid);  // still pinned
  mgr_.UnpinRecord(35);
  mgr_.DropRecord(35);

  // Pinning a free record fails and leaves no pin behind.
  EXPECT_EQ(ErrorOf([&] { mgr_.PinRecord(9); }), "I/O error on mtd file9/45");
  EXPECT_EQ(mgr_.PinRecord(41)[1], 41);
  mgr_.UnpinRecord(41);

  uint8_t image[kLength] = {1, 77};
  mgr_.StoreRecord(12, image);
  mgr_.UnpinRecord(12);
  mgr_.CopyRecord(12, buf_);
  EXPECT_EQ(buf_[1], 77);
  mgr_.PinRecord(13);
  EXPECT_EQ(ErrorOf([&] { mgr_.StoreRecord(45, image); }), msg::kRecordCacheInvalid);
}

}  // namespace
}  // namespace logvane
