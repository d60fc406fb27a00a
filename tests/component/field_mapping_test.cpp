// Field values read through the table cursor from tables on disk: the kind
// each type code gets, the text and boolean forms with the interchange and
// the default settings, values that must not spill over their slots,
// damaged values, blob values through streams, names with blanks and the
// column attributes.
#include "component/field_mapping.h"

#include <gtest/gtest.h>

#include <cmath>
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

enum { kId, kAuto, kFlag, kNext, kPrice, kWhen, kFreq, kReal, kCall, kNotes, kOdd };

void WriteTable(const std::string& mti, const tools::TableDescription& desc,
                const std::vector<std::vector<uint8_t>>& slots) {
  tools::WriteDefinition(mti, desc);
  tools::WriteDataFile(platform::ChangeFileExt(mti, ".MTD"), slots);
  tools::BuildIndexes(mti);
}

// A note longer than two blocks, with zero and 0xFF bytes.
std::string LongNote() {
  std::string note = "first line\r\n";
  for (int i = 0; i < 1300; ++i) note += static_cast<char>(i % 256);
  return note + "\xFF\xFE end";
}

// 17 May 2003 as a stored day count, and 14:32 as a fraction of a day.
constexpr double kMay17 = 37758.0;
constexpr double k1432 = (14 * 60 + 32) / 1440.0;

class FieldValues : public ::testing::Test {
 protected:
  void SetUp() override {
    desc_.fields = {MakeField("Id", 'I'),    MakeField("Auto", 'A'),  MakeField("Flag", 'B'),
                    MakeField("Next", 'I'),  MakeField("Price", 'C'), MakeField("When", 'D'),
                    MakeField("Freq", 'F'),  MakeField("Real", 'R'),  MakeField("Call", 'S', 11),
                    MakeField("Notes", 'M'), MakeField("Odd", 'X', 4)};
    desc_.indexes = {{"Primary", {kId}, kIndexPrimary}};
    desc_.LayOut();
    tools::WriteDefinition(mti_, desc_);

    tools::BlobFileContents blobs;
    blobs.values = {{LongNote(), 0, kNotes}, {"short", 1, kNotes}};
    blobs.interleave = true;
    const tools::BlobFileLayout layout =
        tools::WriteBlobFile(platform::ChangeFileExt(mti_, ".blb"), blobs);

    tools::TRecordBuilder r(desc_);
    // Record 0: the Flag byte is false and the Next field right after it
    // starts with the byte 1.
    slots_.push_back(r.Clear()
                         .SetInt(kId, 1)
                         .SetInt(kAuto, 7)
                         .SetBool(kFlag, false)
                         .SetInt(kNext, 257)
                         .SetFloat(kPrice, 12.5)
                         .SetFloat(kWhen, 0)
                         .SetFloat(kFreq, 14.025)
                         .SetFloat(kReal, 14.25)
                         .SetString(kCall, "W1AW  ")
                         .SetInt(kNotes, layout.First(0))
                         .Image());
    // Record 1: a string filling its slot whose zero byte was overwritten.
    slots_.push_back(r.Clear()
                         .SetInt(kId, 2)
                         .SetInt(kAuto, -3)
                         .SetBool(kFlag, true)
                         .SetInt(kNext, 0)
                         .SetFloat(kPrice, 1234567.125)
                         .SetFloat(kWhen, kMay17 + k1432)
                         .SetFloat(kFreq, 1.5e20)
                         .SetFloat(kReal, -0.0009765625)
                         .SetString(kCall, "ABCDEFGHIJ")
                         .SetInt(kNotes, layout.First(1))
                         .Image());
    slots_.back()[desc_.fields[kCall].offset + 10] = 'K';
    // Record 2: only the key has a value.
    slots_.push_back(r.Clear().SetInt(kId, 3).Image());
    Write();
    cursor_.SetName("Kinds");
    cursor_.SetTableName(mti_);
    cursor_.SetFormatSettings(TFormatSettings::Interchange());
  }
  void Write() {
    tools::WriteDataFile(platform::ChangeFileExt(mti_, ".MTD"), slots_);
    tools::BuildIndexes(mti_);
  }
  std::string Text(const char* field) { return cursor_.FieldByName(field).AsString(); }
  std::string ReadAll(TStream& s, int64_t chunk) {
    std::string out;
    std::vector<char> buffer(static_cast<size_t>(chunk));
    for (int64_t got; (got = s.Read(buffer.data(), chunk)) > 0;)
      out.append(buffer.data(), static_cast<size_t>(got));
    return out;
  }

  test::TempDir dir_;
  std::string mti_ = dir_.File("Kinds.mti");
  tools::TableDescription desc_;
  std::vector<std::vector<uint8_t>> slots_;
  TDaroVivuv cursor_;
};

TEST_F(FieldValues, KindsAndSizes) {
  cursor_.Open();
  const TFieldDefs& defs = cursor_.FieldDefs();
  ASSERT_EQ(defs.Count(), 11);
  const std::vector<TFieldType> kinds = {ftInteger,  ftAutoInc,  ftBoolean, ftInteger,
                                         ftCurrency, ftDateTime, ftFloat,   ftFloat,
                                         ftString,   ftMemo,     ftUnknown};
  for (int i = 0; i < defs.Count(); ++i) {
    EXPECT_EQ(defs[i].DataType, kinds[static_cast<size_t>(i)]) << defs[i].Name;
    EXPECT_EQ(defs[i].FieldNo, i + 1);
    EXPECT_EQ(defs[i].Size, i == kCall ? 10 : 0) << defs[i].Name;
  }
  EXPECT_EQ(cursor_.FieldCount(), 10) << "no field object for an unknown type code";
  EXPECT_EQ(MessageOf([&] { cursor_.FieldByName("Odd"); }), "Kinds: Field 'Odd' not found");
  EXPECT_TRUE(cursor_.FieldByName("Auto").ReadOnly());
  EXPECT_FALSE(cursor_.FieldByName("Id").ReadOnly());
}

TEST_F(FieldValues, TextForms) {
  cursor_.Open();
  EXPECT_EQ(Text("Id"), "1");
  EXPECT_EQ(Text("Auto"), "7");
  EXPECT_EQ(Text("Flag"), "False") << "only the boolean's own byte is read";
  EXPECT_FALSE(cursor_.FieldByName("Flag").AsBoolean());
  EXPECT_EQ(Text("Next"), "257");
  EXPECT_EQ(Text("Price"), "12.5");
  EXPECT_EQ(Text("When"), "12/30/1899") << "midnight has no time part";
  EXPECT_EQ(Text("Freq"), "14.025");
  EXPECT_EQ(Text("Real"), "14.25");
  EXPECT_EQ(Text("Call"), "W1AW  ") << "blanks are kept";

  cursor_.Next();
  EXPECT_EQ(Text("Auto"), "-3");
  EXPECT_EQ(Text("Flag"), "True");
  EXPECT_TRUE(cursor_.FieldByName("Flag").AsBoolean());
  EXPECT_EQ(Text("Price"), "1234567.125");
  EXPECT_EQ(Text("When"), "05/17/2003 14:32:00");
  EXPECT_EQ(Text("Freq"), "1.5E20");
  EXPECT_EQ(Text("Real"), "-0.0009765625");
  EXPECT_EQ(Text("Call"), "ABCDEFGHIJ") << "never past the slot";

  cursor_.Next();
  for (const char* f : {"Auto", "Flag", "Next", "Price", "When", "Freq", "Real", "Call", "Notes"}) {
    EXPECT_EQ(Text(f), "") << f;
    EXPECT_TRUE(cursor_.FieldByName(f).IsNull()) << f;
  }
  EXPECT_FALSE(cursor_.FieldByName("Flag").AsBoolean());
  EXPECT_FALSE(cursor_.FieldByName("Call").AsBoolean());
  EXPECT_EQ(MessageOf([&] { cursor_.FieldByName("Id").AsBoolean(); }),
            "Cannot access field 'Id' as type Boolean");
}

TEST_F(FieldValues, DamagedDateIsReportedNotPrinted) {
  tools::TRecordBuilder r(desc_);
  slots_[0] = r.Clear().SetInt(kId, 1).SetFloat(kWhen, 1e300).Image();
  slots_[1] = r.Clear().SetInt(kId, 2).SetFloat(kWhen, std::nan("")).Image();
  Write();
  cursor_.Open();
  for (int k = 0; k < 2; ++k, cursor_.Next()) {
    EXPECT_EQ(MessageOf([&] { Text("When"); }), "Field 'When' holds an invalid date and time");
  }
}

TEST_F(FieldValues, BlobValuesByteForByte) {
  cursor_.Open();
  TField& notes = cursor_.FieldByName("Notes");
  EXPECT_EQ(notes.AsString(), LongNote());
  std::unique_ptr<TStream> s = cursor_.CreateBlobStream(notes, bmRead);
  EXPECT_EQ(ReadAll(*s, 100), LongNote());
  const auto size = static_cast<int64_t>(LongNote().size());
  EXPECT_EQ(s->Seek(0, TSeekOrigin::soEnd), size);
  EXPECT_EQ(s->Seek(-5, TSeekOrigin::soEnd), size - 5);
  EXPECT_EQ(ReadAll(*s, 4), "\xFE end");
  EXPECT_EQ(s->Seek(2, TSeekOrigin::soBeginning), 2);
  EXPECT_EQ(s->Seek(3, TSeekOrigin::soCurrent), 5);
  EXPECT_EQ(ReadAll(*s, 5), LongNote().substr(5));

  // Writing is for editing, which a browsing cursor is not in.
  EXPECT_EQ(MessageOf([&] { cursor_.CreateBlobStream(notes, bmWrite); }), msg::kNotEditing);

  // Once the cursor moves on, the old stream reads nothing rather than the
  // next record's value.
  cursor_.Next();
  char c;
  EXPECT_EQ(s->Read(&c, 1), 0);
  EXPECT_EQ(notes.AsString(), "short");
  std::unique_ptr<TStream> after = cursor_.CreateBlobStream(notes, bmRead);
  cursor_.Close();
  EXPECT_EQ(after->Read(&c, 1), 0) << "the table is gone";
  EXPECT_EQ(after->Seek(0, TSeekOrigin::soEnd), 0);
}

// With several records cached, the active record is not the engine's
// current one: its blob value must still be its own.
TEST_F(FieldValues, BlobValuesOfCachedRecords) {
  cursor_.SetBufferCount(3);
  cursor_.Open();
  const std::vector<std::string> expected = {LongNote(), "short", ""};
  EXPECT_EQ(test::WalkForward(cursor_, "Notes"), expected);
  EXPECT_EQ(test::WalkBackward(cursor_, "Notes"),
            std::vector<std::string>(expected.rbegin(), expected.rend()));
}

TEST_F(FieldValues, BlobFieldOfATableWithoutBlobFile) {
  desc_.blob_flag = false;
  tools::WriteDefinition(mti_, desc_);
  cursor_.Open();
  EXPECT_EQ(MessageOf([&] { Text("Notes"); }), msg::kBlobDataInaccessible);
  cursor_.Last();
  EXPECT_EQ(Text("Notes"), "") << "no value: no stream is needed";
}

// Stored names with blanks around them open, with default and with
// declared fields alike; the field objects carry the trimmed names.
TEST(FieldNames, BlanksAroundStoredNamesAreIgnored) {
  test::TempDir dir;
  const std::string mti = dir.File("Blanks.mti");
  tools::TableDescription desc;
  desc.fields = {MakeField(" Id", 'I'), MakeField("Call  ", 'S', 8)};
  desc.indexes = {{"Primary", {0}, kIndexPrimary}};
  desc.LayOut();
  tools::TRecordBuilder r(desc);
  WriteTable(mti, desc, {r.Clear().SetInt(0, 4).SetString(1, "K1AR").Image()});

  TDaroVivuv t;
  t.SetTableName(mti);
  t.Open();
  EXPECT_EQ(t.Field(1).FieldName(), "Call");
  EXPECT_EQ(t.FieldByName("call").AsString(), "K1AR");
  t.Close();

  t.AddField(std::make_unique<TStringField>("CALL", 7));
  t.Open();
  EXPECT_EQ(t.FieldCount(), 1);
  EXPECT_EQ(t.FieldByName("Call").AsString(), "K1AR");
  t.Close();
}

TEST(ColumnAttributes, AppliedFromTheDefinition) {
  test::TempDir dir;
  const std::string mti = dir.File("Attr.mti");
  tools::TableDescription desc;
  desc.fields = {MakeField("Id", 'I'), MakeField("Freq", 'F'), MakeField("Price", 'C'),
                 MakeField("Call", 'S', 8)};
  desc.fields[0].required = true;
  desc.fields[0].default_text = "42";
  desc.fields[0].minimum_text = "1";
  desc.fields[0].maximum_text = "99";
  // A minimum that does not convert: the maximum after it is skipped.
  desc.fields[1].minimum_text = "low";
  desc.fields[1].maximum_text = "5";
  desc.fields[2].minimum_text = "0.5";
  desc.fields[2].maximum_text = "1e3";
  desc.fields[3].default_text = "N0CALL";
  desc.fields[3].minimum_text = "A";  // ignored for strings
  desc.indexes = {{"Primary", {0}, kIndexPrimary}};
  WriteTable(mti, desc, {});

  TDaroVivuv t;
  t.SetTableName(mti);
  t.Open();
  auto& id = dynamic_cast<TIntegerField&>(t.FieldByName("Id"));
  EXPECT_TRUE(id.Required());
  EXPECT_EQ(id.DefaultExpression(), "42");
  EXPECT_EQ(id.MinValue(), 1);
  EXPECT_EQ(id.MaxValue(), 99);
  auto& freq = dynamic_cast<TFloatField&>(t.FieldByName("Freq"));
  EXPECT_EQ(freq.MinValue(), 0);
  EXPECT_EQ(freq.MaxValue(), 0);
  auto& price = dynamic_cast<TFloatField&>(t.FieldByName("Price"));
  EXPECT_EQ(price.MinValue(), 0.5);
  EXPECT_EQ(price.MaxValue(), 1000);
  EXPECT_FALSE(t.FieldByName("Call").Required());
  EXPECT_EQ(t.FieldByName("Call").DefaultExpression(), "N0CALL");
  EXPECT_FALSE(t.FieldDefs()[0].Required) << "the definition list never says required";
}

}  // namespace
}  // namespace logvane
