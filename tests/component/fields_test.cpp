// Field objects over the in-memory dataset: the text and boolean forms of
// every kind, values missing, and which settings a text form follows.
#include "component/fields.h"

#include <gtest/gtest.h>

#include <string>

#include "base/errors.h"
#include "component/memory_dataset.h"
#include "test_support.h"

namespace logvane {
namespace {

using namespace test;

using test::MessageOf;

std::vector<MemoryColumn> AllKinds() {
  return {{"S", ftString, 10}, {"I", ftInteger},  {"A", ftAutoInc},  {"B", ftBoolean},
          {"F", ftFloat},      {"C", ftCurrency}, {"D", ftDateTime}, {"L", ftBlob},
          {"M", ftMemo},       {"G", ftGraphic},  {"E", ftFmtMemo}};
}

TEST(Fields, TextFormOfEveryKind) {
  std::string blob(
      "\x00\xD8"
      "ab\r\n",
      6);
  std::string big(200000, 'x');
  big[150000] = 'y';
  MemoryDataSet ds("Mem", AllKinds(),
                   {{Str("W1AW  "), Int(-42), Int(7), Bool(true), Num(14.025), Num(12.5),
                     Days(StoredDate(2003, 5, 17) + 0.5), BlobBytes(blob), BlobBytes("memo"),
                     BlobBytes(big), BlobBytes("")}});
  ds.Open();
  EXPECT_EQ(ds.FieldByName("S").AsString(), "W1AW  ");  // blanks kept
  EXPECT_EQ(ds.FieldByName("I").AsString(), "-42");
  EXPECT_EQ(ds.FieldByName("A").AsString(), "7");
  EXPECT_TRUE(ds.FieldByName("A").ReadOnly());
  EXPECT_EQ(ds.FieldByName("B").AsString(), "True");
  EXPECT_EQ(ds.FieldByName("F").AsString(), "14.025");
  EXPECT_EQ(ds.FieldByName("C").AsString(), "12.5");
  EXPECT_EQ(ds.FieldByName("D").AsString(), "5/17/03 12:00:00");
  EXPECT_EQ(ds.FieldByName("L").AsString(), blob);  // byte for byte, zero byte included
  EXPECT_EQ(ds.FieldByName("M").AsString(), "memo");
  EXPECT_EQ(ds.FieldByName("G").AsString(), big);  // longer than one read chunk
  EXPECT_EQ(ds.FieldByName("E").AsString(), "");
  EXPECT_EQ(ds.FieldByName("E").DataType(), ftFmtMemo);
  EXPECT_EQ(ds.FieldByName("S").DataSize(), 11);
  EXPECT_EQ(ds.FieldByName("B").DataSize(), 2);
}

TEST(Fields, MissingValuesReadEmptyAndFalse) {
  MemoryRow row(AllKinds().size());  // every value missing
  MemoryDataSet ds("Mem", AllKinds(), {row});
  ds.Open();
  for (int i = 0; i < ds.FieldCount(); ++i) {
    EXPECT_EQ(ds.Field(i).AsString(), "") << ds.Field(i).FieldName();
    EXPECT_TRUE(ds.Field(i).IsNull());
  }
  EXPECT_FALSE(ds.FieldByName("B").AsBoolean());
  EXPECT_FALSE(ds.FieldByName("S").AsBoolean());
}

TEST(Fields, StringTextStopsAtZeroByteAndAtItsSize) {
  MemoryDataSet ds("Mem", {{"S", ftString, 4}},
                   {{Str(std::string("ab\0cd", 5))}, {Str("abcdefgh")}, {Str("")}});
  ds.Open();
  EXPECT_EQ(ds.FieldByName("S").AsString(), "ab");
  ds.Next();
  EXPECT_EQ(ds.FieldByName("S").AsString(), "abcd");
  ds.Next();
  EXPECT_EQ(ds.FieldByName("S").AsString(), "");
}

TEST(Fields, BooleanForm) {
  MemoryDataSet ds("Mem", {{"B", ftBoolean}, {"S", ftString, 8}, {"F", ftFloat}},
                   {{Bool(true), Str("yes"), Num(1)},
                    {RawValue(int16_t{256}), Str("True"), Num(0)},  // high byte alone is true
                    {Bool(false), Str("no"), Num(0)},
                    {Bool(false), Str("t"), Num(0)},
                    {Bool(false), Str("Y"), Num(0)},
                    {Bool(false), Str(" yes"), Num(0)}});
  ds.Open();
  TField& b = ds.FieldByName("B");
  TField& s = ds.FieldByName("S");
  std::vector<std::pair<bool, bool>> seen;
  for (ds.First(); !ds.Eof(); ds.Next()) seen.emplace_back(b.AsBoolean(), s.AsBoolean());
  EXPECT_EQ(seen, (std::vector<std::pair<bool, bool>>{{true, true},
                                                      {true, true},
                                                      {false, false},
                                                      {false, true},
                                                      {false, true},
                                                      {false, false}}));
  EXPECT_EQ(MessageOf([&] { ds.FieldByName("F").AsBoolean(); }),
            "Cannot access field 'F' as type Boolean");
}

TEST(Fields, TextFollowsTheGivenSettings) {
  TFormatSettings german;
  german.DecimalSeparator = ',';
  german.DateSeparator = '.';
  german.ShortDateFormat = "dd/mm/yyyy";
  german.LongTimeFormat = "hh:nn:ss";
  MemoryDataSet ds("Mem", {{"F", ftFloat}, {"D", ftDateTime}},
                   {{Num(14.025), Days(StoredDate(2003, 5, 17) + 14.0 / 24 + 32.0 / 1440)}});
  ds.SetFormatSettings(german);
  ds.Open();
  TField& f = ds.FieldByName("F");
  TField& d = ds.FieldByName("D");
  EXPECT_EQ(f.AsString(), "14,025");
  EXPECT_EQ(d.AsString(), "17.05.2003 14:32:00");
  const TFormatSettings interchange = TFormatSettings::Interchange();
  EXPECT_EQ(f.ReadText(interchange), "14.025");
  EXPECT_EQ(d.ReadText(interchange), "05/17/2003 14:32:00");
  std::string out = "x";
  d.AppendText(out, interchange);
  EXPECT_EQ(out, "x05/17/2003 14:32:00");
}

TEST(Fields, DamagedDateTimeIsReportedNotPrinted) {
  MemoryDataSet ds("Mem", {{"D", ftDateTime}}, {{Num(-5.0)}, {Num(1e300)}});
  ds.Open();
  EXPECT_EQ(MessageOf([&] { ds.FieldByName("D").AsString(); }),
            "Field 'D' holds an invalid date and time");
  ds.Next();
  EXPECT_EQ(MessageOf([&] { ds.FieldByName("D").AsString(); }),
            "Field 'D' holds an invalid date and time");
}

TEST(Fields, FieldWithoutDatasetIsAnError) {
  TIntegerField lone("Lone");
  EXPECT_EQ(MessageOf([&] { lone.AsString(); }), "Field 'Lone' has no dataset");
  EXPECT_EQ(MessageOf([] { TStringField s("S", 0); }), "Invalid field size");
}

}  // namespace
}  // namespace logvane
