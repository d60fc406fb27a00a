// The free-record chain: loading with its checks, writing back as one
// ascending chain, rescanning, and growth by ten slots.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "base/byte_order.h"
#include "base/errors.h"
#include "table/record_manager.h"
#include "test_support.h"
#include "tools/table_writer.h"

namespace logvane {
namespace {

using ::testing::ElementsAre;

class FreeChainTest : public ::testing::Test {
 protected:
  static constexpr int kLength = 12;

  void SetUp() override { platform::SetDefaultReadOnly(false); }

  // `next[n]` >= -1 makes slot n free linking there; -2 makes it live.
  void Write(const std::vector<int32_t>& next) {
    std::vector<std::vector<uint8_t>> slots;
    for (size_t n = 0; n < next.size(); ++n) {
      if (next[n] >= -1) {
        slots.push_back(tools::FreeRecordImage(kLength, next[n]));
      } else {
        std::vector<uint8_t> image(kLength, 0);
        image[0] = 1;
        image[1] = static_cast<uint8_t>(n);
        slots.push_back(image);
      }
    }
    tools::WriteDataFile(path_, slots);
    mgr_.OpenDataFile(path_, kLength);
  }

  // The chain on disk from `head`, as record numbers.
  std::vector<int32_t> ChainOnDisk(int32_t head) {
    std::vector<uint8_t> bytes = test::ReadBytes(path_);
    std::vector<int32_t> chain;
    for (int32_t p = head; p >= 0 && chain.size() < 100; p = GetInt32(&bytes[p * kLength + 4])) {
      EXPECT_EQ(bytes[p * kLength], 0xFF);
      chain.push_back(p);
    }
    return chain;
  }

  test::TempDir dir_;
  std::string path_ = dir_.File("T.MTD");
  TmtbRecMgr mgr_;
};

constexpr int32_t L = -2;  // a live slot

TEST_F(FreeChainTest, LoadsTheChainAndToleratesALargerCount) {
  Write({L, 4, L, -1, 3, L});
  mgr_.LoadFreeChain(2, 1);
  EXPECT_THAT(mgr_.FreeList(), ElementsAre(1, 4));
  mgr_.LoadFreeChain(30, 1);
  EXPECT_THAT(mgr_.FreeList(), ElementsAre(1, 4, 3));
  mgr_.LoadFreeChain(0, 1);
  EXPECT_TRUE(mgr_.FreeList().empty());
  mgr_.LoadFreeChain(5, -1);
  EXPECT_TRUE(mgr_.FreeList().empty());
}

TEST_F(FreeChainTest, BrokenChainsFail) {
  // The second record of a chain of three is live.
  Write({2, L, L, -1});
  EXPECT_THROW(mgr_.LoadFreeChain(3, 0), EDedaZiRecMgrError);
  mgr_.CloseDataFile();
  // A cycle.
  Write({1, 2, 0, L});
  EXPECT_THROW(mgr_.LoadFreeChain(10, 0), EDedaZiRecMgrError);
  mgr_.CloseDataFile();
  // The head, or the last record taken, is live: appends would overwrite it.
  Write({L, L, 1, L});
  EXPECT_THROW(mgr_.LoadFreeChain(1, 0), EDedaZiRecMgrError);
  EXPECT_THROW(mgr_.LoadFreeChain(2, 2), EDedaZiRecMgrError);
  // A head outside the file.
  EXPECT_THROW(mgr_.LoadFreeChain(1, 9), EDedaZiRecMgrError);
}

TEST_F(FreeChainTest, WritesOneChainInListOrder) {
  Write({L, L, L, L, L, L});
  mgr_.FreeList() = {1, 3, 4};
  mgr_.WriteFreeChain();
  EXPECT_TRUE(mgr_.FreeList().empty());
  EXPECT_THAT(ChainOnDisk(1), ElementsAre(1, 3, 4));
  uint8_t buf[kLength];
  mgr_.ReadRecord(buf, 2);  // live records untouched
  EXPECT_EQ(buf[1], 2);
  mgr_.LoadFreeChain(3, 1);
  EXPECT_THAT(mgr_.FreeList(), ElementsAre(1, 3, 4));
}

TEST_F(FreeChainTest, RescanFindsEveryFreeSlot) {
  Write({L, 7, L, -1, -1, L, 0});
  mgr_.RescanFreeRecords();
  EXPECT_THAT(mgr_.FreeList(), ElementsAre(1, 3, 4, 6));
}

TEST_F(FreeChainTest, GrowthAppendsTenChainedSlots) {
  Write({L, L, L});
  uint8_t* scratch = mgr_.WorkBuffer(6);
  scratch[3] = 42;
  mgr_.GrowFreeChain();
  EXPECT_EQ(scratch[3], 42);  // the scratch record is kept
  EXPECT_EQ(mgr_.SlotCount(), 13);
  EXPECT_EQ(mgr_.CheckDataFileSize(), 13);
  EXPECT_THAT(mgr_.FreeList(), ElementsAre(3, 4, 5, 6, 7, 8, 9, 10, 11, 12));
  EXPECT_THAT(ChainOnDisk(3), ElementsAre(3, 4, 5, 6, 7, 8, 9, 10, 11, 12));

  // Another process changed the file's length: refuse to grow.
  mgr_.FreeList().clear();
  test::PatchBytes(path_, 13 * kLength, std::vector<uint8_t>(kLength, 1));
  EXPECT_THROW(mgr_.GrowFreeChain(), EDedaZiRecMgrError);
  EXPECT_EQ(scratch[3], 42);
}

}  // namespace
}  // namespace logvane
