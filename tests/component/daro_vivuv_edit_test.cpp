// The table cursor's edit cycle on tables on disk: new records with the
// defaults of every type, the field setters and their messages, the checks
// before a post, the states and events of the cycle, and a cursor that may
// not change its table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "component/component_messages.h"
#include "component/daro_vivuv.h"
#include "table_cursor_support.h"
#include "test_support.h"
#include "tools/blob_writer.h"
#include "tools/index_builder.h"
#include "tools/table_writer.h"

namespace logvane {
namespace {

using test::MessageOf;
using tools::MakeField;

enum { kId, kAuto, kFlag, kPrice, kWhen, kFreq, kReal, kCall, kNotes };

// A table of every kind with a default on every field that can have one;
// Id is required and lies in 1 .. 999.
tools::TableDescription EveryKind() {
  tools::TableDescription desc;
  desc.fields = {MakeField("Id", 'I'),    MakeField("Auto", 'A'),    MakeField("Flag", 'B'),
                 MakeField("Price", 'C'), MakeField("When", 'D'),    MakeField("Freq", 'F'),
                 MakeField("Real", 'R'),  MakeField("Call", 'S', 7), MakeField("Notes", 'M')};
  desc.fields[kId].required = true;
  desc.fields[kId].default_text = "5";
  desc.fields[kId].minimum_text = "1";
  desc.fields[kId].maximum_text = "999";
  desc.fields[kAuto].default_text = "77";
  desc.fields[kFlag].default_text = "tRuE";
  desc.fields[kPrice].default_text = "$12.5";
  desc.fields[kWhen].default_text = "05/17/2003 14:32:00";
  desc.fields[kFreq].default_text = "14.025";
  desc.fields[kFreq].maximum_text = "30";
  desc.fields[kReal].default_text = "-7.25";
  desc.fields[kCall].default_text = "N0CALL-LONG";
  desc.indexes = {{"Primary", {kId}, kIndexPrimary}, {"Call", {kCall}, kIndexCaseInsensitive}};
  return desc;
}

class EditCycle : public ::testing::Test {
 protected:
  void SetUp() override { Write(EveryKind()); }
  void Write(tools::TableDescription desc, const std::vector<int32_t>& ids = {3, 4}) {
    desc.LayOut();
    tools::WriteDefinition(mti_, desc);
    tools::TRecordBuilder r(desc);
    std::vector<std::vector<uint8_t>> slots;
    for (int32_t id : ids) slots.push_back(r.Clear().SetInt(kId, id).Image());
    tools::WriteDataFile(platform::ChangeFileExt(mti_, ".MTD"), slots);
    tools::BlobFileContents blobs;
    tools::WriteBlobFile(platform::ChangeFileExt(mti_, ".blb"), blobs);
    tools::BuildIndexes(mti_);
    cursor_.SetName("Log");
    cursor_.SetTableName(mti_);
    cursor_.SetFormatSettings(TFormatSettings::Interchange());
  }
  std::string Text(const char* field) { return cursor_.FieldByName(field).AsString(); }

  test::TempDir dir_;
  std::string mti_ = dir_.File("Log.mti");
  TDaroVivuv cursor_;
};

TEST_F(EditCycle, NewRecordsTakeTheDefaultOfEveryType) {
  cursor_.Open();
  for (bool append : {false, true}) {
    append ? cursor_.Append() : cursor_.Insert();
    EXPECT_EQ(cursor_.State(), dsInsert);
    EXPECT_FALSE(cursor_.Modified()) << "defaults are no change";
    EXPECT_EQ(cursor_.RecNo(), -1);
    EXPECT_EQ(Text("Id"), "5");
    EXPECT_EQ(Text("Auto"), "77");
    EXPECT_EQ(Text("Flag"), "True");
    EXPECT_EQ(Text("Price"), "12.5");
    EXPECT_EQ(Text("When"), "05/17/2003 14:32:00");
    EXPECT_EQ(Text("Freq"), "14.025");
    EXPECT_EQ(Text("Real"), "-7.25");
    EXPECT_EQ(Text("Call"), "N0CALL") << "cut to the field's size";
    EXPECT_TRUE(cursor_.FieldByName("Notes").IsNull());
    cursor_.Cancel();
    EXPECT_EQ(cursor_.State(), dsBrowse);
    EXPECT_EQ(Text("Id"), "3") << "back on the record it stood on";
  }
  EXPECT_EQ(cursor_.TableRecordCount(), 2);
}

TEST_F(EditCycle, DefaultsThatDoNotConvert) {
  struct Case {
    int field;
    std::string text;
    std::string message;
  };
  const std::vector<Case> cases = {
      {kFlag, "yes", " is not a valid data value yes"},
      {kId, "4x", " is not a valid data value 4x"},
      {kWhen, "13/45/2003", " is not a valid data value 13/45/2003"},
      {kNotes, "note", "Invalid field type for field Notes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    tools::TableDescription desc = EveryKind();
    desc.fields[static_cast<size_t>(c.field)].default_text = c.text;
    Write(desc);
    cursor_.Open();
    EXPECT_THROW(cursor_.Insert(), EMTBError);
    EXPECT_EQ(MessageOf([&] { cursor_.Append(); }), c.message);
    EXPECT_EQ(cursor_.State(), dsBrowse);
    EXPECT_EQ(Text("Id"), "4") << "append went to the last record";
    cursor_.Close();
  }
  // A field of an unknown type has no field object: its default is unused.
  tools::TableDescription desc = EveryKind();
  desc.fields.push_back(MakeField("Odd", 'X', 4));
  desc.fields.back().default_text = "1";
  Write(desc);
  cursor_.Open();
  cursor_.Insert();
  EXPECT_EQ(Text("Id"), "5");
}

TEST_F(EditCycle, SettersOfEveryKindAndTheirMessages) {
  cursor_.Open();
  TField& id = cursor_.FieldByName("Id");
  EXPECT_EQ(MessageOf([&] { id.SetAsInteger(9); }), "Dataset not in edit or insert mode");
  EXPECT_EQ(MessageOf([&] { cursor_.FieldByName("Notes").SetAsString("x"); }),
            "Dataset not in edit or insert mode");
  cursor_.Insert();
  EXPECT_EQ(MessageOf([&] { cursor_.FieldByName("Auto").SetAsInteger(1); }),
            "Field 'Auto' cannot be modified");

  id.SetAsString(" 12 ");
  cursor_.FieldByName("Flag").SetAsString("FALSE");
  cursor_.FieldByName("Price").SetAsFloat(0.25);
  cursor_.FieldByName("When").SetAsString("12/31/1999");
  cursor_.FieldByName("Freq").SetAsInteger(7);
  cursor_.FieldByName("Real").SetAsString("1e3");
  cursor_.FieldByName("Call").SetAsString("K1ABCDEFG");
  EXPECT_TRUE(cursor_.Modified());
  EXPECT_EQ(Text("Id"), "12");
  EXPECT_EQ(Text("Flag"), "False");
  EXPECT_EQ(Text("Price"), "0.25");
  EXPECT_EQ(Text("When"), "12/31/1999");
  EXPECT_EQ(Text("Freq"), "7");
  EXPECT_EQ(Text("Real"), "1000");
  EXPECT_EQ(Text("Call"), "K1ABCD");

  // Empty texts and Clear leave no value; an empty string is no value.
  cursor_.FieldByName("Call").SetAsString("");
  cursor_.FieldByName("Price").Clear();
  EXPECT_TRUE(cursor_.FieldByName("Call").IsNull());
  EXPECT_TRUE(cursor_.FieldByName("Price").IsNull());

  const std::vector<std::pair<const char*, const char*>> bad = {
      {"Id", "'1.5' is not a valid integer value for field 'Id'"},
      {"Flag", "'1.5' is not a valid boolean value for field 'Flag'"},
      {"Freq", "'1.5.' is not a valid floating point value for field 'Freq'"},
      {"When", "'1.5' is not a valid date and time for field 'When'"},
  };
  for (const auto& [name, message] : bad) {
    const std::string text = std::string(name) == "Freq" ? "1.5." : "1.5";
    EXPECT_EQ(MessageOf([&] { cursor_.FieldByName(name).SetAsString(text); }), message);
  }
  EXPECT_EQ(MessageOf([&] { cursor_.FieldByName("Real").SetAsFloat(1e300); }),
            "Floating point overflow");
  EXPECT_EQ(Text("Id"), "12") << "a refused value leaves the old one";
  EXPECT_EQ(MessageOf([&] { cursor_.FieldByName("Flag").SetAsDateTime(1); }),
            "Cannot access field 'Flag' as type DateTime");

  // OnValidate sees the new value; raising keeps the old one.
  std::string seen;
  id.OnValidate = [&](TField& f) {
    seen = f.AsString();
    if (seen == "13") throw EDatabaseError("unlucky");
  };
  int changes = 0;
  id.OnChange = [&](TField&) { ++changes; };
  EXPECT_EQ(MessageOf([&] { id.SetAsInteger(13); }), "unlucky");
  EXPECT_EQ(seen, "13");
  EXPECT_EQ(Text("Id"), "12");
  id.SetAsInteger(14);
  EXPECT_EQ(Text("Id"), "14");
  EXPECT_EQ(changes, 1);
}

TEST_F(EditCycle, PostChecksRequiredFieldsAndRanges) {
  cursor_.Open();
  std::vector<std::string> errors;
  cursor_.OnPostError = [&](TDataSet&, const EDatabaseError& e, TDataAction& action) {
    errors.push_back(e.what());
    action = daFail;
  };
  cursor_.Insert();
  cursor_.FieldByName("Id").Clear();
  EXPECT_EQ(MessageOf([&] { cursor_.Post(); }), "Field 'Id' must have a value");
  EXPECT_EQ(cursor_.State(), dsInsert) << "a failed post keeps the record";
  cursor_.FieldByName("Id").SetAsInteger(1000);
  EXPECT_EQ(MessageOf([&] { cursor_.Post(); }),
            "1000 is not a valid value for field 'Id'. The allowed range is 1 to 999");
  cursor_.FieldByName("Id").SetAsInteger(0);
  EXPECT_EQ(MessageOf([&] { cursor_.Post(); }),
            "0 is not a valid value for field 'Id'. The allowed range is 1 to 999");
  cursor_.FieldByName("Id").SetAsInteger(9);
  cursor_.FieldByName("Freq").SetAsFloat(30.5);
  EXPECT_EQ(MessageOf([&] { cursor_.Post(); }),
            "30.5 is not a valid value for field 'Freq'. The largest allowed value is 30");
  EXPECT_EQ(errors.size(), 4u) << "each failure passed the error event";
  cursor_.OnPostError = [](TDataSet&, const EDatabaseError&, TDataAction& action) {
    action = daAbort;
  };
  EXPECT_THROW(cursor_.Post(), EAbort);
  EXPECT_EQ(cursor_.State(), dsInsert);
  cursor_.Cancel();
  EXPECT_EQ(cursor_.State(), dsBrowse);
}

TEST_F(EditCycle, BrowseModeRuleAndEvents) {
  cursor_.Open();
  std::vector<std::string> events;
  auto log = [&](const char* name) {
    return [&events, name](TDataSet&) { events.push_back(name); };
  };
  cursor_.BeforeEdit = log("BeforeEdit");
  cursor_.AfterEdit = log("AfterEdit");
  cursor_.BeforeInsert = log("BeforeInsert");
  cursor_.OnNewRecord = log("OnNewRecord");
  cursor_.AfterInsert = log("AfterInsert");
  cursor_.BeforeCancel = log("BeforeCancel");
  cursor_.AfterCancel = log("AfterCancel");
  cursor_.Edit();
  EXPECT_EQ(cursor_.State(), dsEdit);
  cursor_.Edit();  // nothing while editing
  cursor_.Next();  // unmodified: cancelled
  EXPECT_EQ(cursor_.State(), dsBrowse);
  EXPECT_EQ(Text("Id"), "4");
  cursor_.Insert();
  cursor_.SetIndexName("Call");  // unmodified insert: cancelled
  EXPECT_EQ(cursor_.State(), dsBrowse);
  EXPECT_EQ(events, (std::vector<std::string>{"BeforeEdit", "AfterEdit", "BeforeCancel",
                                              "AfterCancel", "BeforeInsert", "OnNewRecord",
                                              "AfterInsert", "BeforeCancel", "AfterCancel"}));
  // OnNewRecord that fails cancels the insert.
  cursor_.OnNewRecord = [](TDataSet&) { throw EDatabaseError("no"); };
  EXPECT_EQ(MessageOf([&] { cursor_.Append(); }), "no");
  EXPECT_EQ(cursor_.State(), dsBrowse);
  // Closing while editing drops the record.
  cursor_.Edit();
  cursor_.FieldByName("Call").SetAsString("X");
  cursor_.Close();
  EXPECT_EQ(cursor_.State(), dsInactive);
}

TEST_F(EditCycle, ReadOnlyCursorRefusesEveryChange) {
  for (int way = 0; way < 2; ++way) {
    cursor_.Close();
    cursor_.SetReadOnly(way == 0);
    cursor_.SetReadBesideWriter(way == 1);
    cursor_.Open();
    EXPECT_FALSE(cursor_.CanModify());
    for (auto verb : {&TDataSet::Edit, &TDataSet::Insert, &TDataSet::Append, &TDataSet::Delete}) {
      EXPECT_EQ(MessageOf([&] { (cursor_.*verb)(); }), "Cannot modify a read-only dataset");
      EXPECT_EQ(cursor_.State(), dsBrowse);
    }
    EXPECT_EQ(MessageOf([&] { cursor_.FieldByName("Notes").SetAsString("x"); }),
              "Dataset not in edit or insert mode");
  }
}

// The cursor's position and bookmarks after each change, on both page
// formats; everything written is read back after a reopen.
class Changes : public EditCycle, public ::testing::WithParamInterface<double> {
 protected:
  void SetUp() override {
    tools::TableDescription desc = EveryKind();
    desc.format_version = GetParam();
    Write(desc);
    cursor_.Open();
  }
  void Reopen() {
    cursor_.Close();
    cursor_.Open();
  }
  std::vector<std::string> Ids() { return test::WalkForward(cursor_, "Id"); }
  void Add(bool append, int32_t id, const std::string& call, const std::string& notes) {
    append ? cursor_.Append() : cursor_.Insert();
    cursor_.FieldByName("Id").SetAsInteger(id);
    cursor_.FieldByName("Call").SetAsString(call);
    if (!notes.empty()) cursor_.FieldByName("Notes").SetAsString(notes);
    cursor_.Post();
  }
};

TEST_P(Changes, CursorAndBookmarksAfterInsertPostAndDelete) {
  Add(false, 10, "K1A", "first memo");
  EXPECT_EQ(cursor_.State(), dsBrowse);
  EXPECT_EQ(Text("Id"), "10") << "the new record is current";
  EXPECT_EQ(cursor_.RecNo(), 3);
  EXPECT_EQ(Text("Auto"), "1") << "numbered by the engine, whatever the default said";
  const TBookmark ten = cursor_.GetBookmark();
  Add(true, 1, "W9Z", "");
  EXPECT_EQ(Text("Id"), "1");
  EXPECT_EQ(cursor_.RecNo(), 1);
  EXPECT_EQ(Text("Auto"), "2");
  EXPECT_EQ(Ids(), (std::vector<std::string>{"1", "3", "4", "10"}));
  EXPECT_EQ(cursor_.TableRecordCount(), 4);

  // An edit of a key moves the record in the order; its bookmark follows.
  cursor_.GotoBookmark(ten);
  cursor_.Edit();
  cursor_.FieldByName("Id").SetAsInteger(2);
  cursor_.Post();
  EXPECT_EQ(Text("Id"), "2");
  EXPECT_EQ(cursor_.RecNo(), 2);
  EXPECT_EQ(Text("Notes"), "first memo");
  cursor_.First();
  cursor_.GotoBookmark(ten);
  EXPECT_EQ(Text("Call"), "K1A");

  // The modified record is posted when the cursor moves.
  cursor_.Edit();
  cursor_.FieldByName("Call").SetAsString("K1B");
  cursor_.Next();
  EXPECT_EQ(cursor_.State(), dsBrowse);
  EXPECT_EQ(Text("Id"), "3");
  cursor_.SetIndexName("Call");
  EXPECT_EQ(test::WalkForward(cursor_, "Call"), (std::vector<std::string>{"", "", "K1B", "W9Z"}));
  cursor_.SetIndexName("");

  // Deleting makes the next record current, or the prior one at the end.
  cursor_.GotoBookmark(ten);
  cursor_.Delete();
  EXPECT_EQ(Text("Id"), "3");
  EXPECT_FALSE(cursor_.BookmarkValid(ten));
  EXPECT_EQ(MessageOf([&] { cursor_.GotoBookmark(ten); }),
            "The bookmarked record is unavailable or deleted");
  cursor_.Last();
  cursor_.Delete();
  EXPECT_EQ(Text("Id"), "3");
  EXPECT_TRUE(cursor_.Eof() || !cursor_.Bof());
  Reopen();
  EXPECT_EQ(Ids(), (std::vector<std::string>{"1", "3"}));
  EXPECT_EQ(cursor_.TableRecordCount(), 2);
  while (!cursor_.IsEmpty()) cursor_.Delete();
  EXPECT_TRUE(cursor_.Bof() && cursor_.Eof());
  EXPECT_EQ(MessageOf([&] { cursor_.Delete(); }),
            "Cannot perform this operation on an empty dataset");
  Add(false, 7, "N7X", "back");
  Reopen();
  EXPECT_EQ(Ids(), (std::vector<std::string>{"7"}));
  EXPECT_EQ(Text("Notes"), "back");
  EXPECT_EQ(Text("Auto"), "3") << "the counter survives emptying the table";
}

TEST_P(Changes, FailedPostKeepsTheRecordAndItsMemo) {
  cursor_.Insert();
  cursor_.FieldByName("Id").SetAsInteger(3);
  cursor_.FieldByName("Notes").SetAsString("kept through the failure");
  try {
    cursor_.Post();
    ADD_FAILURE() << "a duplicate key was posted";
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Key violation due to duplicate record.");
    EXPECT_THROW(std::rethrow_if_nested(e), EDuplicateKeyError);
  }
  EXPECT_EQ(cursor_.State(), dsInsert);
  EXPECT_EQ(Text("Notes"), "kept through the failure");
  cursor_.FieldByName("Id").SetAsInteger(6);
  cursor_.Post();

  cursor_.First();
  cursor_.Edit();
  cursor_.FieldByName("Id").SetAsInteger(4);
  cursor_.FieldByName("Notes").SetAsString("edited");
  EXPECT_EQ(MessageOf([&] { cursor_.Post(); }), "Key violation due to duplicate record.");
  EXPECT_EQ(cursor_.State(), dsEdit);
  cursor_.FieldByName("Id").SetAsInteger(5);
  cursor_.Post();
  Reopen();
  EXPECT_EQ(Ids(), (std::vector<std::string>{"4", "5", "6"}));
  cursor_.First();
  EXPECT_EQ(Text("Notes"), "");
  cursor_.Next();
  EXPECT_EQ(Text("Notes"), "edited");
  cursor_.Next();
  EXPECT_EQ(Text("Notes"), "kept through the failure");
}

TEST_P(Changes, BlobStreamsWriteWhatThePostStores) {
  Add(false, 8, "G0A", "hello world");
  auto stream = [&](TBlobStreamMode mode) {
    return cursor_.CreateBlobStream(cursor_.FieldByName("Notes"), mode);
  };
  EXPECT_EQ(MessageOf([&] { stream(bmWrite); }), "Dataset not in edit or insert mode");

  // Read-write: grow at the end; the value reads changed before the post.
  cursor_.Edit();
  {
    auto s = stream(bmReadWrite);
    EXPECT_EQ(s->Seek(0, TSeekOrigin::soEnd), 11);
    EXPECT_EQ(s->Write(" and more", 9), 9);
  }
  EXPECT_TRUE(cursor_.Modified());
  EXPECT_EQ(Text("Notes"), "hello world and more");
  cursor_.Post();
  EXPECT_EQ(Text("Notes"), "hello world and more");

  // Write: starts empty (shrinks); cancel drops it.
  cursor_.Edit();
  EXPECT_EQ(stream(bmWrite)->Write("tiny", 4), 4);
  EXPECT_EQ(Text("Notes"), "tiny");
  cursor_.Cancel();
  EXPECT_EQ(Text("Notes"), "hello world and more");
  cursor_.Edit();
  EXPECT_EQ(stream(bmWrite)->Write("tiny", 4), 4);
  cursor_.Post();
  Reopen();
  EXPECT_TRUE(cursor_.Locate("Id", {TVariant::Integer(8)}));
  EXPECT_EQ(Text("Notes"), "tiny");

  // Clearing empties the value; the post frees it and the field has none.
  cursor_.Edit();
  cursor_.FieldByName("Notes").Clear();
  EXPECT_TRUE(cursor_.FieldByName("Notes").IsNull());
  cursor_.Post();
  Reopen();
  EXPECT_TRUE(cursor_.Locate("Id", {TVariant::Integer(8)}));
  EXPECT_TRUE(cursor_.FieldByName("Notes").IsNull());

  // A filter that reads memos while a memo edit waits for its post.
  Add(false, 9, "G0B", "keep");
  cursor_.SetFilter("Id >= 9 and Notes = 'keep'");
  cursor_.SetFiltered(true);
  EXPECT_TRUE(cursor_.Locate("Id", {TVariant::Integer(9)}));
  cursor_.Edit();
  cursor_.FieldByName("Notes").SetAsString("changed while filtered");
  EXPECT_EQ(cursor_.RecordCount(), 1);
  cursor_.Post();
  cursor_.SetFiltered(false);
  Reopen();
  EXPECT_TRUE(cursor_.Locate("Id", {TVariant::Integer(9)}));
  EXPECT_EQ(Text("Notes"), "changed while filtered");
}

INSTANTIATE_TEST_SUITE_P(BothFormats, Changes, ::testing::Values(2.0, 4.0), [](const auto& info) {
  return info.param < 3 ? "SmallPages" : "LargePages";
});

// The lock of a buffered record, reached through the slot itself.
struct LockProbe : TDaroVivuv {
  using TDaroVivuv::BeginRecordEdit;
};

TEST_F(EditCycle, ASecondLockOfTheSameBufferIsRefused) {
  LockProbe probe;
  probe.SetTableName(mti_);
  probe.Open();
  probe.BeginRecordEdit();
  EXPECT_EQ(MessageOf([&] { probe.BeginRecordEdit(); }), "That record is already locked");
}

}  // namespace
}  // namespace logvane
