// Reading table definitions: limits, format versions, options, attributes,
// and definitions that must be refused without reading outside a buffer.
#include "table/table_definition.h"

#include <gtest/gtest.h>

#include "base/errors.h"
#include "base/messages.h"
#include "blob/blob_holders.h"
#include "test_support.h"
#include "tools/table_writer.h"

namespace logvane {
namespace {

using tools::IndexDescription;
using tools::MakeField;
using tools::TableDescription;

class DefinitionTest : public ::testing::Test {
 protected:
  // Writes `desc` and reads it back; failures surface as exceptions.
  TmtbTableDef Read(const TableDescription& desc) {
    tools::WriteDefinition(path_, desc);
    return ReadFile();
  }
  TmtbTableDef ReadFile() {
    platform::File f;
    EXPECT_EQ(f.Open(path_, platform::kAccessRead | platform::kShareDenyNone), 0);
    TmtbTableDef def;
    ReadTableDefinition(f, def);
    return def;
  }
  std::string ReadError(const TableDescription& desc) {
    try {
      Read(desc);
    } catch (const EDedaZiDBError& e) {
      return e.what();
    }
    return "no error";
  }

  static TableDescription Basic(double version) {
    TableDescription desc;
    desc.format_version = version;
    desc.fields = {MakeField("Id", 'I'), MakeField("Call", 'S', 12), MakeField("When", 'D')};
    desc.fields[1].required = true;
    desc.fields[1].default_text = "N0CALL";
    desc.fields[2].maximum_text = "2099";
    desc.fields[2].marker = true;
    desc.indexes = {{"Primary", {0}, 0}, {"ByCall", {1, 2}, 6}, {"ByWhen", {2}, 4}};
    return desc;
  }

  test::TempDir dir_;
  std::string path_ = dir_.File("T.mti");
};

TEST_F(DefinitionTest, ReadsLayoutAndDerivedValues) {
  TmtbTableDef def = Read(Basic(4.0));
  ASSERT_EQ(def.FieldCount(), 3);
  ASSERT_EQ(def.IndexCount(), 3);
  EXPECT_EQ(def.RecordLength(), 3 + 4 + 12 + 8);
  EXPECT_EQ(def.FormatLevel(), 40);
  EXPECT_FALSE(def.HasBlobFile());
  EXPECT_EQ(def.FieldName(1), "Call");
  EXPECT_EQ(def.FieldType(2), 'D');
  EXPECT_EQ(def.FieldOffset(1), 7);
  EXPECT_EQ(def.FieldSize(1), 12);
  EXPECT_EQ(def.AutoIncField(), -1);
  EXPECT_EQ(def.Index(1).key_field_count, 2);
  EXPECT_EQ(def.Index(1).key_fields[1], 2);
  EXPECT_EQ(def.IndexNumber("ByCall"), 1);
  EXPECT_EQ(def.IndexNumber("bycall"), -1);
  EXPECT_EQ(def.IndexNumber("ByCal"), -1);
}

TEST_F(DefinitionTest, OptionsFollowTheFormatVersion) {
  // From 4.0 the stored options count; index 0 is primary whatever is stored.
  TmtbTableDef v4 = Read(Basic(4.0));
  EXPECT_EQ(v4.Index(0).options, kIndexPrimary);
  EXPECT_EQ(v4.Index(1).options, kIndexDescending | kIndexCaseInsensitive);
  EXPECT_EQ(v4.Index(2).options, kIndexCaseInsensitive);
  for (double version : {1.5, 2.0, 2.95, 3.0}) {
    TmtbTableDef def = Read(Basic(version));
    EXPECT_EQ(def.Index(0).options, kIndexPrimary) << version;
    EXPECT_EQ(def.Index(1).options, 0) << version;
    EXPECT_EQ(def.Index(2).options, 0) << version;
  }
  EXPECT_EQ(Read(Basic(2.95)).FormatLevel(), 29);
  EXPECT_EQ(Read(Basic(3.0)).FormatLevel(), 30);
  EXPECT_EQ(Read(Basic(1.5)).FormatLevel(), 15);
}

TEST_F(DefinitionTest, AttributesOnlyFromVersion2) {
  TmtbTableDef old = Read(Basic(1.5));
  bool present = true;
  EXPECT_EQ(old.FieldAttribute(1, 0, &present), "");
  EXPECT_FALSE(present);
  EXPECT_FALSE(old.Field(2).marker);

  TmtbTableDef def = Read(Basic(2.0));
  EXPECT_EQ(def.FieldAttribute(1, 0, &present), "True");
  EXPECT_TRUE(present);
  EXPECT_EQ(def.FieldAttribute(1, 1, &present), "N0CALL");
  EXPECT_TRUE(present);
  def.FieldAttribute(1, 2, &present);
  EXPECT_FALSE(present);
  EXPECT_EQ(def.FieldAttribute(2, 3, &present), "2099");
  EXPECT_TRUE(present);
  def.FieldAttribute(2, 4, &present);
  EXPECT_FALSE(present);
  EXPECT_TRUE(def.Field(2).marker);
  EXPECT_THROW(def.FieldAttribute(3, 0, &present), EDedaZiDBError);
}

TEST_F(DefinitionTest, FieldNumberOutOfRangeNamesTheNumber) {
  TmtbTableDef def = Read(Basic(4.0));
  try {
    def.FieldDesc(7);
    FAIL();
  } catch (const EDedaZiDBError& e) {
    EXPECT_STREQ(e.what(), "Field number is out of range 7");
  }
  EXPECT_THROW(def.FieldDesc(-1), EDedaZiDBError);
}

TEST_F(DefinitionTest, LastAutoincrementFieldWinsAndBlobFieldsGetHolders) {
  TableDescription desc = Basic(4.0);
  desc.fields.push_back(MakeField("Seq", 'A'));
  desc.fields.push_back(MakeField("Notes", 'M'));
  desc.fields.push_back(MakeField("Seq2", 'A'));
  desc.fields.push_back(MakeField("Photo", 'G'));
  desc.blob_flag = false;  // holders exist even without a blob file
  TmtbTableDef def = Read(desc);
  EXPECT_EQ(def.AutoIncField(), 5);
  EXPECT_FALSE(def.HasBlobFile());
  TBlobHolders holders;
  holders.Build(def);
  ASSERT_EQ(holders.Count(), 2u);
  EXPECT_EQ(holders.At(0).FieldNumber(), 4);
  EXPECT_EQ(holders.At(1).FieldNumber(), 6);
}

TEST_F(DefinitionTest, FieldAndIndexLimits) {
  TableDescription desc;
  for (int i = 0; i < 76; ++i) desc.fields.push_back(MakeField("F" + std::to_string(i), 'I'));
  for (int j = 0; j < 26; ++j) desc.indexes.push_back({"X" + std::to_string(j), {j}, 0});
  EXPECT_EQ(Read(desc).FieldCount(), 76);
  EXPECT_EQ(Read(desc).IndexCount(), 26);

  TableDescription too_many_fields = desc;
  too_many_fields.fields.push_back(MakeField("F76", 'I'));
  EXPECT_EQ(ReadError(too_many_fields), msg::kTooManyFields);
  TableDescription too_many_indexes = desc;
  too_many_indexes.indexes.push_back({"X26", {0}, 0});
  EXPECT_EQ(ReadError(too_many_indexes), msg::kTooManyIndexes);
}

TEST_F(DefinitionTest, ImpossibleDefinitionsAreRefused) {
  const std::string damaged = msg::kDefinitionDamaged;
  auto with = [](auto change) {
    TableDescription desc = Basic(4.0);
    desc.LayOut();
    change(desc);
    return desc;
  };
  EXPECT_EQ(ReadError(with([](TableDescription& s) { s.field_count = -1; })), damaged);
  EXPECT_EQ(ReadError(with([](TableDescription& s) { s.index_count = -3; })), damaged);
  EXPECT_EQ(ReadError(with([](TableDescription& s) { s.record_length = 7; })), damaged);
  EXPECT_EQ(ReadError(with([](TableDescription& s) { s.record_length = 65528; })), damaged);
  // Slots overlapping the null flags, reaching past the record, or too small
  // for their type's stored form.
  EXPECT_EQ(ReadError(with([](TableDescription& s) { s.fields[0].offset = 2; })), damaged);
  EXPECT_EQ(ReadError(with([](TableDescription& s) { s.fields[2].offset = s.record_length - 4; })),
            damaged);
  EXPECT_EQ(ReadError(with([](TableDescription& s) { s.fields[2].size = 4; })), damaged);
  EXPECT_EQ(ReadError(with([](TableDescription& s) { s.fields[1].size = 0; })), damaged);
  EXPECT_EQ(ReadError(with([](TableDescription& s) { s.fields[0].size = -4; })), damaged);
  // Key field counts and numbers.
  EXPECT_EQ(ReadError(with([](TableDescription& s) { s.indexes[1].key_fields = {}; })), damaged);
  EXPECT_EQ(ReadError(with([](TableDescription& s) { s.indexes[1].key_fields.assign(11, 0); })),
            damaged);
  EXPECT_EQ(ReadError(with([](TableDescription& s) { s.indexes[2].key_fields = {3}; })), damaged);
  EXPECT_EQ(ReadError(with([](TableDescription& s) { s.indexes[2].key_fields = {-1}; })), damaged);
  // An option real too large for a whole number.
  EXPECT_EQ(ReadError(with([](TableDescription& s) { s.indexes[1].options = 1e30; })), damaged);
  // Counts promising more entries than the file holds.
  EXPECT_EQ(ReadError(with([](TableDescription& s) { s.index_count = 4; })), damaged);
  EXPECT_EQ(ReadError(with([](TableDescription& s) { s.field_count = 5; })), damaged);
}

TEST_F(DefinitionTest, TruncatedFilesAreRefusedAtEveryLength) {
  tools::WriteDefinition(path_, Basic(4.0));
  std::vector<uint8_t> whole = test::ReadBytes(path_);
  for (size_t len = 0; len < whole.size(); len += 173) {
    test::WriteBytes(path_, std::vector<uint8_t>(whole.begin(), whole.begin() + len));
    EXPECT_THROW(ReadFile(), EDedaZiDBError) << len;
  }
  test::WriteBytes(path_, whole);
  EXPECT_EQ(ReadFile().IndexCount(), 3);
}

TEST_F(DefinitionTest, LongNamesAreCopiedWhole) {
  TableDescription desc = Basic(4.0);
  desc.indexes[2].name = std::string(255, 'x');
  desc.fields[0].name = std::string(64, 'n');
  TmtbTableDef def = Read(desc);
  EXPECT_EQ(def.Index(2).name.size(), 255u);
  EXPECT_EQ(def.FieldName(0).size(), 64u);
}

}  // namespace
}  // namespace logvane
