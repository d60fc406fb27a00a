// The filtered record list: two-bit statuses packed four to a byte, growth
// that keeps them, out-of-range record numbers, the record test with its
// two callbacks, and the count.
#include "filter/filter_list.h"

#include <gtest/gtest.h>

#include <climits>

namespace logvane {
namespace {

// A test callback's owner: a fixed answer and the number of times asked.
struct Answer {
  bool pass = true;
  int asked = 0;
  const uint8_t* image = nullptr;
  int32_t record = -1;
};

bool Ask(void* owner, int32_t record, const uint8_t* image) {
  auto* a = static_cast<Answer*>(owner);
  ++a->asked;
  a->image = image;
  a->record = record;
  return a->pass;
}

TEST(FilterListTest, StatusesArePackedFourToAByte) {
  TFilterList list;
  list.Reset(20);
  for (int32_t n = 0; n <= 20; ++n) list.SetStatus(n, n % 3);
  // Rewriting records on both sides of a byte boundary leaves neighbours alone.
  list.SetStatus(3, 2);
  list.SetStatus(4, 1);
  list.SetStatus(3, 1);
  for (int32_t n = 0; n <= 20; ++n) {
    const int expected = n == 3 ? 1 : n == 4 ? 1 : n % 3;
    EXPECT_EQ(list.Status(n), expected) << "record " << n;
  }
}

TEST(FilterListTest, GrowthKeepsStatusesAndOutOfRangeIsSafe) {
  TFilterList list;
  EXPECT_EQ(list.Status(0), 0);  // no storage yet
  list.Reset(10);
  EXPECT_EQ(list.Capacity(), 4);  // trunc(3 * 1.2) + 1
  list.SetStatus(0, 2);
  list.SetStatus(15, 1);
  list.SetStatus(100, 1);
  EXPECT_EQ(list.Capacity(), 31);  // trunc(25 * 1.2) + 1
  EXPECT_EQ(list.Status(0), 2);
  EXPECT_EQ(list.Status(15), 1);
  EXPECT_EQ(list.Status(100), 1);
  EXPECT_EQ(list.Status(101), 0);  // new bytes are zero

  list.Grow(30);  // below the capacity: nothing
  EXPECT_EQ(list.Capacity(), 31);
  list.SetStatus(-1, 2);
  for (int32_t n : {-1, 1000, INT32_MAX, INT32_MIN}) EXPECT_EQ(list.Status(n), 0);

  list.Clear();
  EXPECT_EQ(list.Capacity(), 0);
  EXPECT_EQ(list.Status(100), 0);
}

TEST(FilterListTest, TestAsksEachCallbackOnceAndCountsPasses) {
  TFilterList list;
  Answer expr, event;
  list.SetExpressionTest(Ask, &expr);
  list.SetRecordEventTest(Ask, &event);
  list.SetUseExpressionTest(true);
  list.SetUseRecordEventTest(true);
  list.Reset(10);
  const uint8_t image[4] = {1, 2, 3, 4};

  expr.pass = false;  // fails the expression: the event is not asked
  EXPECT_FALSE(list.Test(0, image, true));
  EXPECT_EQ(list.Status(0), 2);
  EXPECT_EQ(expr.asked, 1);
  EXPECT_EQ(event.asked, 0);
  EXPECT_EQ(expr.image, image);

  expr.pass = true;  // passes, but not allowed: stored, never counted
  EXPECT_FALSE(list.Test(1, image, false));
  EXPECT_EQ(list.Status(1), 1);
  EXPECT_EQ(event.asked, 0);

  event.pass = false;  // passes the expression, refused by the event
  EXPECT_FALSE(list.Test(2, image, true));
  EXPECT_EQ(list.Status(2), 1);
  EXPECT_EQ(event.asked, 1);
  EXPECT_EQ(list.Count(), 0);

  event.pass = true;
  EXPECT_TRUE(list.Test(3, image, true));
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(expr.asked, 4);
  EXPECT_EQ(event.asked, 2);
  EXPECT_EQ(expr.record, 3);
  EXPECT_EQ(event.record, 3);

  // A test out of use, or in use but not installed, lets every record pass.
  list.SetUseExpressionTest(false);
  expr.pass = false;
  EXPECT_TRUE(list.Test(4, image, true));
  EXPECT_EQ(expr.asked, 4);
  list.SetRecordEventTest(nullptr, nullptr);
  EXPECT_TRUE(list.RecordEventAccepts(5, image));
  EXPECT_TRUE(list.Test(5, image, true));
  EXPECT_EQ(list.Count(), 3);

  list.Reset(10);
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Status(3), 0);
}

TEST(FilterListTest, MoveStatusCountsOnlyPassedRecords) {
  TFilterList list;
  list.Reset(10);
  const uint8_t image[1] = {0};
  ASSERT_TRUE(list.Test(1, image, true));
  ASSERT_TRUE(list.Test(2, image, true));
  list.SetStatus(3, 2);
  ASSERT_EQ(list.Count(), 2);

  list.MoveStatus(3, -1);  // clearing a failed record changes no count
  EXPECT_EQ(list.Status(3), 0);
  EXPECT_EQ(list.Count(), 2);
  list.MoveStatus(1, -1);  // clearing a passed one does
  EXPECT_EQ(list.Status(1), 0);
  EXPECT_EQ(list.Count(), 1);

  list.MoveStatus(7, 2);  // a passed record renumbered stays counted
  EXPECT_EQ(list.Status(7), 1);
  EXPECT_EQ(list.Status(2), 0);
  EXPECT_EQ(list.Count(), 1);
  list.MoveStatus(7, 7);
  EXPECT_EQ(list.Status(7), 1);
  EXPECT_EQ(list.Count(), 1);

  list.SetCount(0);  // the engine recounts; clearing never goes below 0
  list.MoveStatus(7, -1);
  EXPECT_EQ(list.Count(), 0);
}

}  // namespace
}  // namespace logvane
