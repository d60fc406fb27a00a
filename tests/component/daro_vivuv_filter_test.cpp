// Filtering and searching through the table cursor, on contact logs of
// both page formats: the filter properties set before and during the open,
// the record-filter event and errors inside the record tests, memo fields
// in filters, FindFirst/Next/Prior/Last with and without Filtered, Locate
// and Lookup, and a partial key on a descending-only index.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "component/daro_vivuv.h"
#include "table_cursor_support.h"
#include "test_support.h"
#include "tools/contact_log.h"
#include "tools/index_builder.h"
#include "tools/table_writer.h"

namespace logvane {
namespace {

using test::MessageOf;
using test::WalkForward;
using Calls = std::vector<std::string>;

struct Row {
  const char* call;
  const char* mode;
  const char* country;
  const char* comments;
};
// Contact i has serial number i + 1, NumRcvd 10 i, and is worked on day
// 36526 + i (1 January 2000 on); the last one's date is damaged.
const Row kRows[] = {
    {"K1ABC", "CW", "USA", "Worked on a quiet band"},
    {"W2XYZ", "SSB", "USA", ""},
    {"SM5AAA", "CW", "SWEDEN", "QRP station"},
    {"sm6bbb", "CW", "SWEDEN", ""},
    {"DL1ZZ", "SSB", "GERMANY", "worked twice"},
    {"K2DEF", "CW", "USA", ""},
    {"JA1AAA", "CW", "JAPAN", ""},
    {"SM0X", "SSB", "SWEDEN", ""},
    {"XX9BAD", "RTTY", "NOWHERE", ""},
};
constexpr int kRowCount = sizeof kRows / sizeof kRows[0];

class FilteredLog : public ::testing::TestWithParam<double> {
 protected:
  void SetUp() override {
    tools::ContactLogOptions options;
    options.format_version = GetParam();
    mti_ = tools::WriteContactLog(
        dir_.Path().string(), kRowCount,
        [](int i, tools::Contact& c) {
          c.call = kRows[i].call;
          c.mode = kRows[i].mode;
          c.country = kRows[i].country;
          c.comments = kRows[i].comments;
          c.num_rcvd = 10 * i;
          c.freq = 14.0 + i;
          c.qso_date = i + 1 < kRowCount ? 36526.0 + i : 1e12;
        },
        options);
    log_.SetName("LogTabl");
    log_.SetTableName(mti_);
    log_.SetReadOnly(true);
    log_.ErrorHandler = [this](const std::exception& e) { errors_.push_back(e.what()); };
  }
  Calls Walk() { return WalkForward(log_, "Call"); }
  std::string Call() { return log_.FieldByName("Call").AsString(); }

  test::TempDir dir_;
  std::string mti_;
  TDaroVivuv log_;
  std::vector<std::string> errors_;
};

TEST_P(FilteredLog, AFilterSetBeforeTheOpenAppliesAtTheFirstFetch) {
  log_.SetFilter("Mode = 'CW' and Country = 'USA'");
  log_.SetFiltered(true);
  log_.Open();
  EXPECT_EQ(Call(), "K1ABC");
  EXPECT_EQ(Walk(), (Calls{"K1ABC", "K2DEF"}));
  EXPECT_EQ(log_.RecordCount(), 2);
  EXPECT_EQ(log_.TableRecordCount(), kRowCount);
  log_.Close();
  log_.SetIndexName("Call");
  log_.Open();
  EXPECT_EQ(Walk(), (Calls{"K1ABC", "K2DEF"}));
  log_.Close();

  log_.SetFilter("Frequency > 14");
  EXPECT_EQ(MessageOf([&] { log_.Open(); }), "LogTabl: Field 'Frequency' not found");
  EXPECT_FALSE(log_.Active());
}

TEST_P(FilteredLog, SettersWhileOpen) {
  log_.Open();
  log_.SetFilter("Mode = 'SSB'");
  EXPECT_EQ(Walk().size(), static_cast<size_t>(kRowCount)) << "stored only while not filtered";
  log_.SetFiltered(true);
  EXPECT_EQ(Walk(), (Calls{"W2XYZ", "DL1ZZ", "SM0X"}));

  // A text that fails keeps the old one in force.
  EXPECT_EQ(MessageOf([&] { log_.SetFilter("Mode = "); }), "Expression expected but nothing found");
  EXPECT_EQ(log_.Filter(), "Mode = 'SSB'");
  EXPECT_EQ(Walk(), (Calls{"W2XYZ", "DL1ZZ", "SM0X"}));

  log_.SetFilter("Call = 'sm*'");
  EXPECT_EQ(Walk(), (Calls{"sm6bbb"}));
  log_.SetFilterOptions(foCaseInsensitive);
  EXPECT_EQ(Walk(), (Calls{"SM5AAA", "sm6bbb", "SM0X"}));
  log_.SetFilterOptions(foCaseInsensitive | foNoPartialCompare);
  EXPECT_EQ(Walk(), Calls{});
  EXPECT_TRUE(log_.Eof());
  EXPECT_EQ(log_.RecordCount(), 0);

  log_.SetFiltered(false);
  EXPECT_EQ(Walk().size(), static_cast<size_t>(kRowCount));
  log_.SetFilter("Nope = 1");
  EXPECT_EQ(MessageOf([&] { log_.SetFiltered(true); }), "LogTabl: Field 'Nope' not found");
  EXPECT_FALSE(log_.Filtered());
  EXPECT_EQ(Walk().size(), static_cast<size_t>(kRowCount));
  EXPECT_TRUE(errors_.empty());
}

TEST_P(FilteredLog, TheRecordEventAndErrorsInsideTheTests) {
  log_.SetFilter("Mode = 'CW'");
  log_.SetFiltered(true);
  log_.Open();
  log_.SetOnFilterRecord([](TDataSet& t, bool& accept) {
    const std::string call = t.FieldByName("Call").AsString();
    if (call == "JA1AAA") throw EDatabaseError("no JA today");
    accept = t.FieldByName("NumRcvd").AsString() >= "30";
  });
  EXPECT_EQ(Walk(), (Calls{"sm6bbb", "K2DEF"}));
  EXPECT_FALSE(errors_.empty());
  EXPECT_EQ(errors_.front(), "no JA today");

  // A value that cannot be read rejects its record; the walk goes on.
  log_.SetOnFilterRecord(nullptr);
  errors_.clear();
  log_.SetFilter("QSODate >= '1/5/2000'");
  EXPECT_EQ(Walk(), (Calls{"DL1ZZ", "K2DEF", "JA1AAA", "SM0X"}));
  EXPECT_EQ(errors_, (std::vector<std::string>{"Field 'QSODate' holds an invalid date and time"}));

  // The event sees the record under test, and blob streams are refused:
  // the contacts with a comment are rejected.
  errors_.clear();
  log_.SetFilter("");
  log_.SetOnFilterRecord([](TDataSet& t, bool&) { t.FieldByName("Comments").AsString(); });
  EXPECT_EQ(Walk(), (Calls{"W2XYZ", "sm6bbb", "K2DEF", "JA1AAA", "SM0X", "XX9BAD"}));
  ASSERT_FALSE(errors_.empty());
  for (const std::string& e : errors_) EXPECT_EQ(e, "Unable to access blob fields in filter mode");
}

TEST_P(FilteredLog, MemoFieldsCompareAsTheirText) {
  log_.SetFilter("Comments = 'worked*'");
  log_.SetFiltered(true);
  log_.Open();
  EXPECT_EQ(Walk(), (Calls{"DL1ZZ"}));
  log_.SetFilterOptions(foCaseInsensitive);
  EXPECT_EQ(Walk(), (Calls{"K1ABC", "DL1ZZ"}));
  log_.SetFilter("Comments <> NULL and not Comments = 'QRP station'");
  EXPECT_EQ(Walk(), (Calls{"K1ABC", "DL1ZZ"}));
  EXPECT_TRUE(errors_.empty());
}

TEST_P(FilteredLog, FindMatchingInFourDirections) {
  for (bool filtered : {false, true}) {
    SCOPED_TRACE(filtered ? "filtered" : "not filtered");
    log_.SetFilter("Country = 'SWEDEN'");
    log_.SetFiltered(filtered);
    log_.Open();
    EXPECT_TRUE(log_.FindLast());
    EXPECT_EQ(Call(), "SM0X");
    EXPECT_FALSE(log_.FindNext());
    EXPECT_EQ(Call(), "SM0X");
    EXPECT_TRUE(log_.FindPrior());
    EXPECT_EQ(Call(), "sm6bbb");
    EXPECT_TRUE(log_.FindPrior());
    EXPECT_EQ(Call(), "SM5AAA");
    EXPECT_FALSE(log_.FindPrior());
    EXPECT_EQ(Call(), "SM5AAA");
    EXPECT_TRUE(log_.FindFirst());
    EXPECT_EQ(Call(), "SM5AAA");
    EXPECT_TRUE(log_.FindNext());
    EXPECT_EQ(Call(), "sm6bbb");
    // The plain verbs follow Filtered.
    log_.Next();
    EXPECT_EQ(Call(), filtered ? "SM0X" : "DL1ZZ");
    EXPECT_EQ(log_.Filtered(), filtered);
    EXPECT_EQ(log_.RecordCount(), filtered ? 3 : kRowCount);

    log_.SetFilter("Country = 'MARS'");
    log_.First();
    const std::string before = Call();
    EXPECT_FALSE(log_.FindFirst());
    EXPECT_EQ(Call(), before);
    log_.Close();
  }
}

TEST_P(FilteredLog, LocateAndLookup) {
  log_.Open();
  EXPECT_TRUE(log_.Locate("Call", {TVariant::Text("k2def")}, loCaseInsensitive));
  EXPECT_EQ(Call(), "K2DEF");
  EXPECT_EQ(log_.FieldByName("NumSent").AsString(), "6");
  EXPECT_FALSE(log_.Locate("Call", {TVariant::Text("k1abc")}));
  EXPECT_EQ(Call(), "K2DEF");
  EXPECT_TRUE(log_.Locate("Call", {TVariant::Text("sm")}, loPartialKey | loCaseInsensitive));
  // Small-page tables keep no index options: without a case-insensitive
  // index the current order is walked.
  EXPECT_EQ(Call(), GetParam() < 3 ? "SM5AAA" : "SM0X");
  EXPECT_TRUE(log_.Locate("Call", {TVariant::Text("sm")}, loPartialKey));
  EXPECT_EQ(Call(), "sm6bbb");
  EXPECT_TRUE(log_.Locate(" Mode ; Country ", {TVariant::Text("CW"), TVariant::Text("SWEDEN")}));
  EXPECT_EQ(Call(), "SM5AAA");
  EXPECT_TRUE(log_.Locate("NumRcvd;IBM", {TVariant::Text("40"), TVariant::Boolean(false)}));
  EXPECT_EQ(Call(), "DL1ZZ");
  EXPECT_TRUE(log_.Locate("QSODate", {TVariant::Text("1/3/2000")}));
  EXPECT_EQ(Call(), "SM5AAA");
  EXPECT_EQ(MessageOf([&] { log_.Locate("Nope", {TVariant::Integer(1)}); }),
            "LogTabl: Field 'Nope' not found");
  EXPECT_THROW(log_.Locate("Mode;Call", {TVariant::Text("CW")}), std::invalid_argument);

  log_.Next();
  const std::string here = Call();
  const std::vector<TVariant> found =
      log_.Lookup("Call", {TVariant::Text("DL1ZZ")}, "NumSent;Mode;QSODate;Freq");
  EXPECT_EQ(found, (std::vector<TVariant>{TVariant::Integer(5), TVariant::Text("SSB"),
                                          TVariant::DateTime(36530), TVariant::Float(18)}));
  EXPECT_EQ(Call(), here) << "Lookup does not move";
  EXPECT_TRUE(log_.Lookup("Call", {TVariant::Text("NOBODY")}, "Mode").empty());

  // Under a filter only passing records are found.
  log_.SetFilter("Mode = 'SSB'");
  log_.SetFiltered(true);
  EXPECT_FALSE(log_.Locate("Call", {TVariant::Text("K2DEF")}, loCaseInsensitive));
  EXPECT_TRUE(log_.Locate("Call", {TVariant::Text("DL1ZZ")}, loCaseInsensitive));
  log_.Next();
  EXPECT_EQ(Call(), "SM0X");
}

INSTANTIATE_TEST_SUITE_P(BothFormats, FilteredLog, ::testing::Values(2.0, 4.0),
                         [](const auto& info) {
                           return info.param < 3 ? "SmallPages" : "LargePages";
                         });

// A prefix searched through a descending index would start after the
// records it is meant to find, and so would one whose field an index keys
// before another listed field; the search walks the current order instead.
TEST(LocateValues, APartialKeyOnlyAnAscendingIndexEndingInItCanFind) {
  test::TempDir dir;
  tools::TableDescription desc;
  desc.fields = {tools::MakeField("Id", 'I'), tools::MakeField("Name", 'S', 11),
                 tools::MakeField("Town", 'S', 11)};
  desc.indexes = {
      {"ById", {0}, kIndexPrimary}, {"NameDown", {1}, kIndexDescending}, {"TownName", {2, 1}, 0}};
  desc.LayOut();
  const std::string mti = dir.File("T.mti");
  tools::WriteDefinition(mti, desc);
  tools::TRecordBuilder r(desc);
  std::vector<std::vector<uint8_t>> slots;
  const char* const rows[][2] = {{"JONES", "LONDON"},
                                 {"SMITH", "PARIS"},
                                 {"ADAMS", "PARIS"},
                                 {"SMALL", "PARMA"},
                                 {"SNOW", "OSLO"}};
  for (const auto& row : rows) {
    r.Clear().SetInt(0, static_cast<int32_t>(slots.size()) + 1);
    slots.push_back(r.SetString(1, row[0]).SetString(2, row[1]).Image());
  }
  tools::WriteDataFile(dir.File("T.MTD"), slots);
  tools::BuildIndexes(mti);

  TDaroVivuv t;
  t.SetTableName(mti);
  t.Open();
  EXPECT_TRUE(t.Locate("Name", {TVariant::Text("SM")}, loPartialKey));
  EXPECT_EQ(t.FieldByName("Id").AsString(), "2");
  EXPECT_TRUE(t.Locate("Name", {TVariant::Text("SMALL")}));
  EXPECT_EQ(t.FieldByName("Id").AsString(), "4");
  EXPECT_FALSE(t.Locate("Name", {TVariant::Text("SMA")}));
  // TownName keys Town first: the partial Town cannot be searched there.
  EXPECT_TRUE(t.Locate("Name;Town", {TVariant::Text("SMALL"), TVariant::Text("PA")}, loPartialKey));
  EXPECT_EQ(t.FieldByName("Id").AsString(), "4");
  EXPECT_TRUE(t.Locate("Town;Name", {TVariant::Text("PARIS"), TVariant::Text("SM")}, loPartialKey));
  EXPECT_EQ(t.FieldByName("Id").AsString(), "2");
  t.SetIndexName("NameDown");
  EXPECT_TRUE(t.Locate("Name", {TVariant::Text("S")}, loPartialKey));
  EXPECT_EQ(t.FieldByName("Name").AsString(), "SNOW");
}

}  // namespace
}  // namespace logvane
