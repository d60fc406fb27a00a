// The table cursor over real tables on disk: every way an open fails, the
// index name rules, counts, walks in index order with rings of several
// sizes, bookmarks across index changes, the property rules and the open
// modes as another open sees them.
#include "component/daro_vivuv.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "component/component_messages.h"
#include "engine/db_engine.h"
#include "index/index_names.h"
#include "table_cursor_support.h"
#include "table_maker.h"

namespace logvane {
namespace {

using test::Free;
using test::Live;
using test::MessageOf;
using test::OpenFds;
using test::WalkBackward;
using test::WalkForward;
namespace fs = std::filesystem;

class TableCursor : public ::testing::Test {
 protected:
  // Ten slots, three of them free; slot 2 holds id 1, the first of index 0.
  void SetUp() override {
    Make({Live(3), Free(4), Live(1), Live(2), Free(6), Live(5), Free(-1), Live(8), Live(13),
          Live(4)});
  }
  void Make(const std::vector<test::TSlot>& slots) {
    slots_ = slots;
    test::MakeLogTable(t_, 4.0, slots);
    cursor_.SetTableName(t_.mti);
  }
  void Rebuild() {
    for (const auto& e : fs::directory_iterator(t_.dir.Path())) fs::remove_all(e.path());
    t_.Build();
  }
  // The ids of the live records in the order of index 0 (Id), 1 (Call,
  // case-insensitive) or 2 (Band, descending).
  std::vector<std::string> IdsInOrder(int index) const {
    test::TDataSource source;
    source.Open(t_.mti);
    std::vector<std::string> ids;
    for (int32_t r : test::ExpectedOrder(source.Def(), t_, index))
      ids.push_back(std::to_string(slots_[static_cast<size_t>(r)].value));
    return ids;
  }

  test::TTestTable t_;
  std::vector<test::TSlot> slots_;
  TDaroVivuv cursor_;
};

// Each failing open: the exact message, the cursor closed, no file left
// open; the repaired table then opens with the same cursor.
TEST_F(TableCursor, EveryOpenFailureHasItsMessage) {
  const std::string mtd = platform::ChangeFileExt(t_.mti, ".MTD");
  const std::string busy = t_.mti + " cannot be opened for exclusive use.";
  const std::string damaged = busy + "  The table may be corrupted. Suggest rebuild";
  TmtbDBEng holder;
  const std::vector<std::tuple<std::string, std::function<void()>>> cases = {
      {"File not found: " + t_.mti, [&] { fs::remove(t_.mti); }},
      {busy, [&] { ASSERT_GE(holder.OpenTable(t_.mti, kOpenWriteShared, 0), 0); }},  // -1
      {damaged, [&] { test::PatchBytes(t_.mti, 320, test::Int32Bytes(77)); }},       // -2
      {damaged, [&] { fs::remove(mtd); }},                                           // -3
      {damaged, [&] { fs::remove(DirectoryFileName(t_.mti, 1)); }},                  // -4
      // The free chain's head (counter 1, page 1 of index 0) on a live record.
      {damaged,
       [&] {
         test::PatchBytes(LeafPageFileName(t_.mti, 0), 4096 + 4, test::Int32Bytes(0));
       }},  // -5
      {damaged,
       [&] {
         test::PatchBytes(mtd, 2 * static_cast<size_t>(t_.desc.RecordLength()), {0xFF});
       }},  // -6
  };
  for (bool read_only : {true, false}) {
    for (const auto& [message, damage] : cases) {
      SCOPED_TRACE(message + (read_only ? ", read-only" : ", writable"));
      cursor_.SetReadOnly(read_only);
      damage();
      const auto fds = OpenFds();
      EXPECT_EQ(MessageOf([&] { cursor_.Open(); }), message);
      EXPECT_FALSE(cursor_.Active());
      EXPECT_EQ(OpenFds(), fds) << "a file stayed open";
      holder.CloseTable();
      Rebuild();
      cursor_.Open();
      EXPECT_EQ(cursor_.TableRecordCount(), 7);
      cursor_.Close();
    }
  }
}

TEST_F(TableCursor, IndexNameChoosesTheOrder) {
  cursor_.Open();
  EXPECT_EQ(WalkForward(cursor_, "Id"), IdsInOrder(0));
  EXPECT_EQ(cursor_.IndexName(), "Primary") << "the engine's name while open";
  ASSERT_EQ(cursor_.IndexDefs().size(), 3u);
  EXPECT_EQ(cursor_.IndexDefs()[0].Options, ixPrimary);
  EXPECT_EQ(cursor_.IndexDefs()[1].Options, ixCaseInsensitive);
  EXPECT_EQ(cursor_.IndexDefs()[2].Options, ixDescending);
  EXPECT_EQ(cursor_.IndexDefs()[2].Fields, "Band");
  cursor_.SetIndexName("Call");
  EXPECT_EQ(WalkForward(cursor_, "Id"), IdsInOrder(1));
  // Letter case counts; a bad name while open keeps the old order.
  EXPECT_EQ(MessageOf([&] { cursor_.SetIndexName("band"); }), "band is not a valid index name");
  EXPECT_EQ(cursor_.IndexName(), "Call");
  EXPECT_EQ(WalkForward(cursor_, "Id"), IdsInOrder(1));
  cursor_.SetIndexName("");  // index 0, while open as at the open
  EXPECT_EQ(WalkForward(cursor_, "Id"), IdsInOrder(0));
  cursor_.Close();

  cursor_.SetIndexName("Band");
  cursor_.Open();
  EXPECT_EQ(WalkForward(cursor_, "Id"), IdsInOrder(2));
  cursor_.Close();
  const auto fds = OpenFds();
  cursor_.SetIndexName("call");
  EXPECT_EQ(MessageOf([&] { cursor_.Open(); }), "call is not a valid index name");
  EXPECT_FALSE(cursor_.Active());
  EXPECT_EQ(OpenFds(), fds);
}

TEST_F(TableCursor, TableRecordCountIsTheLiveRecords) {
  EXPECT_EQ(MessageOf([&] { cursor_.TableRecordCount(); }), msg::kDataSetClosed);
  for (const char* index : {"", "Call", "Band"}) {
    cursor_.SetIndexName(index);
    cursor_.Open();
    EXPECT_EQ(cursor_.TableRecordCount(), 7) << index;
    EXPECT_EQ(cursor_.RecordCount(), 7) << index;
    cursor_.Close();
  }
}

class TableCursorRing : public TableCursor, public ::testing::WithParamInterface<int> {};

// Every record exactly once in index order, both ways, whatever the number
// of cached records: the first step after First yields the first record,
// the first step back after Last the last one.
TEST_P(TableCursorRing, WalksEveryIndexBothWays) {
  cursor_.SetBufferCount(GetParam());
  cursor_.Open();
  for (int index : {0, 1, 2}) {
    SCOPED_TRACE(index);
    cursor_.SetIndexName(cursor_.IndexDefs()[static_cast<size_t>(index)].Name);
    const std::vector<std::string> ids = IdsInOrder(index);
    EXPECT_EQ(WalkForward(cursor_, "Id"), ids);
    EXPECT_EQ(cursor_.FieldByName("Id").AsString(), ids.back()) << "the last record stays current";
    EXPECT_EQ(WalkBackward(cursor_, "Id"), std::vector<std::string>(ids.rbegin(), ids.rend()));
    EXPECT_EQ(cursor_.FieldByName("Id").AsString(), ids.front());

    cursor_.First();
    for (int k = 1; k <= static_cast<int>(ids.size()); ++k, cursor_.Next())
      EXPECT_EQ(cursor_.RecNo(), k);
    cursor_.SetRecNo(4);
    EXPECT_EQ(cursor_.FieldByName("Id").AsString(), ids[3]);
    cursor_.SetRecNo(2);
    cursor_.Next();
    cursor_.Next();
    cursor_.Prior();
    EXPECT_EQ(cursor_.FieldByName("Id").AsString(), ids[2]);
  }
}

INSTANTIATE_TEST_SUITE_P(BufferCounts, TableCursorRing, ::testing::Values(1, 2, 4, 12));

TEST_F(TableCursor, EmptyAndSingleRecordTables) {
  Make({Free(1), Free(-1)});
  cursor_.Open();
  EXPECT_TRUE(cursor_.Eof() && cursor_.Bof() && cursor_.IsEmpty());
  EXPECT_EQ(cursor_.RecNo(), -1);
  EXPECT_EQ(cursor_.TableRecordCount(), 0);
  EXPECT_EQ(cursor_.FieldByName("Call").AsString(), "");
  cursor_.Last();
  EXPECT_TRUE(cursor_.IsEmpty());
  cursor_.Close();

  Make({Free(-1), Live(9)});
  cursor_.Open();
  EXPECT_EQ(WalkForward(cursor_, "Id"), std::vector<std::string>{"9"});
  EXPECT_EQ(WalkBackward(cursor_, "Id"), std::vector<std::string>{"9"});
}

TEST_F(TableCursor, BookmarksNameRecordsAcrossIndexChanges) {
  cursor_.SetIndexName("Band");
  cursor_.Open();
  while (cursor_.FieldByName("Id").AsString() != "5") cursor_.Next();
  const TBookmark five = cursor_.GetBookmark();
  ASSERT_EQ(five.size(), 8u);
  cursor_.Next();
  const TBookmark other = cursor_.GetBookmark();
  EXPECT_EQ(cursor_.CompareBookmarks(five, other), 1);
  EXPECT_EQ(cursor_.CompareBookmarks(other, five), 1);
  EXPECT_EQ(cursor_.CompareBookmarks(five, TBookmark(five)), 0);

  for (const char* index : {"Call", "Primary"}) {
    cursor_.SetIndexName(index);
    ASSERT_TRUE(cursor_.BookmarkValid(five));
    cursor_.GotoBookmark(five);
    EXPECT_EQ(cursor_.FieldByName("Id").AsString(), "5") << index;
  }
  cursor_.Next();  // on from there in the new order
  EXPECT_EQ(cursor_.FieldByName("Id").AsString(), "8");

  // Bookmarks of a free slot and of slots beyond the file.
  for (int32_t slot : {1, 10, 1 << 30}) {
    TBookmark gone(8);
    std::memcpy(gone.data(), &slot, 4);
    std::memcpy(gone.data() + 4, &slot, 4);
    EXPECT_FALSE(cursor_.BookmarkValid(gone)) << slot;
    EXPECT_EQ(MessageOf([&] { cursor_.GotoBookmark(gone); }), msg::kBookmarkUnavailable) << slot;
  }
  cursor_.Close();
  EXPECT_FALSE(cursor_.BookmarkValid(five));
}

TEST_F(TableCursor, PropertyRules) {
  EXPECT_EQ(cursor_.About(), "V5.2");
  cursor_.SetIndexName("Call");
  cursor_.SetTableName(t_.mti);
  EXPECT_EQ(cursor_.IndexName(), "Call") << "the same path keeps the index";
  cursor_.SetTableName(t_.dir.File("Other.mti"));
  EXPECT_EQ(cursor_.IndexName(), "") << "another path clears it";
  cursor_.SetTableName(t_.mti);

  cursor_.SetIndexName("Band");
  cursor_.Open();
  EXPECT_EQ(MessageOf([&] { cursor_.SetTableName(t_.dir.File("Other.mti")); }), msg::kDataSetOpen);
  EXPECT_EQ(MessageOf([&] { cursor_.SetReadOnly(true); }), msg::kDataSetOpen);
  EXPECT_EQ(cursor_.TableName(), t_.mti);
  EXPECT_FALSE(cursor_.ReadOnly());
  cursor_.SetFiltered(true);
  cursor_.SetFilter("Band = 1");
  EXPECT_EQ(WalkForward(cursor_, "Id"), (std::vector<std::string>{"1", "5", "13"}))
      << "the filter applies at once, in the order of the index";
  cursor_.Close();
  EXPECT_EQ(cursor_.IndexName(), "Band");
}

// Another open sees the mode: a read-only cursor lets readers in, a
// writable one keeps them out, one reading beside a writer lets a writer in.
TEST_F(TableCursor, OpenModes) {
  TmtbDBEng other;
  cursor_.SetReadOnly(true);
  cursor_.Open();
  EXPECT_FALSE(cursor_.Writable());
  EXPECT_GE(other.OpenTable(t_.mti, kOpenReadShared, 0), 0);
  other.CloseTable();
  cursor_.Close();

  cursor_.SetReadOnly(false);
  cursor_.Open();
  EXPECT_TRUE(cursor_.Writable());
  EXPECT_EQ(other.OpenTable(t_.mti, kOpenReadShared, 0), kOpenDefinitionFailed);
  cursor_.Close();

  cursor_.SetReadBesideWriter(true);
  cursor_.Open();
  EXPECT_FALSE(cursor_.Writable());
  EXPECT_GE(other.OpenTable(t_.mti, kOpenWriteShared, 0), 0);
}

TEST_F(TableCursor, ClosingAndReopening) {
  const auto fds = OpenFds();
  cursor_.Open();
  cursor_.Close();
  cursor_.Close();
  EXPECT_FALSE(cursor_.Active());
  EXPECT_EQ(OpenFds(), fds);
  cursor_.Open();
  EXPECT_EQ(WalkForward(cursor_, "Id"), IdsInOrder(0));
  cursor_.Close();

  test::TTestTable other;  // the small-page format
  test::MakeLogTable(other, 2.0, {Live(40), Live(30)});
  cursor_.SetTableName(other.mti);
  cursor_.Open();
  EXPECT_EQ(WalkForward(cursor_, "Id"), (std::vector<std::string>{"30", "40"}));
  cursor_.Close();
  EXPECT_EQ(OpenFds(), fds);
}

}  // namespace
}  // namespace logvane
