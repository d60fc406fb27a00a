// `logvane-cli dump`: JSON values of every kind and the CSV form.
#include "cli/table_dump.h"

#include <gtest/gtest.h>

#include <sstream>

#include "base/errors.h"
#include "test_support.h"
#include "tools/blob_writer.h"
#include "tools/contact_log.h"
#include "tools/index_builder.h"
#include "tools/table_writer.h"

namespace logvane {
namespace {

using tools::MakeField;

TEST(JsonText, CodePageBytesBecomeUtf8) {
  std::string out;
  static const char kBytes[] =
      "Q\xD8"
      "A \"x\"\\\x01\x80\x81\x9D\xFF";
  cli::AppendJsonText(out, std::string_view(kBytes, sizeof kBytes - 1));
  EXPECT_EQ(out,
            "Q\xC3\x98"
            "A \\\"x\\\"\\\\\\u0001\xE2\x82\xAC\xC2\x81\xC2\x9D\xC3\xBF");
}

TEST(TableDump, EveryKindAsJson) {
  test::TempDir dir;
  tools::TableDescription desc;
  desc.fields = {MakeField(" Id ", 'A'), MakeField("Name", 'S', 10), MakeField("When", 'D'),
                 MakeField("Ok", 'B'),   MakeField("Price", 'C'),    MakeField("Ratio", 'R'),
                 MakeField("Pic", 'G'),  MakeField("Odd", 'Z', 4),   MakeField("Memo", 'M')};
  desc.indexes = {{"ById", {0}, 0}, {"ByName", {1}, 0}};
  desc.LayOut();
  const std::string mti = dir.File("T.mti");
  tools::WriteDefinition(mti, desc);
  tools::BlobFileContents blobs;
  blobs.values = {{"\x01\x02\x03\x04", 0, 6}, {"caf\xE9", 0, 8}};
  auto layout = tools::WriteBlobFile(dir.File("T.blb"), blobs);
  tools::TRecordBuilder r(desc);
  std::vector<std::vector<uint8_t>> slots;
  r.Clear()
      .SetInt(0, 7)
      .SetString(1, "B")
      .SetFloat(2, 37758.5 + 0.25 / 86400)
      .SetBool(3, true)
      .SetFloat(4, 12.5)
      .SetFloat(5, -0.375)
      .SetInt(6, layout.First(0))
      .SetInt(8, layout.First(1));
  slots.push_back(r.Image());
  r.Clear().SetInt(0, 3).SetString(1, "A");
  slots.push_back(r.Image());
  tools::WriteDataFile(dir.File("T.MTD"), slots);
  tools::BuildIndexes(mti);

  std::ostringstream out;
  cli::DumpTableJson(out, mti, "ByName");
  EXPECT_EQ(out.str(),
            "{\"Id\":3,\"Name\":\"A\",\"When\":null,\"Ok\":null,\"Price\":null,\"Ratio\":null,"
            "\"Pic\":null,\"Memo\":null}\n"
            "{\"Id\":7,\"Name\":\"B\",\"When\":\"2003-05-17T12:00:00.250\",\"Ok\":true,"
            "\"Price\":12.5,\"Ratio\":-0.375,\"Pic\":\"AQIDBA==\",\"Memo\":\"caf\xC3\xA9\"}\n");

  std::ostringstream none;
  try {
    cli::DumpTableJson(none, mti, "byname");
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "byname is not a valid index name");
  }
}

TEST(TableDump, CsvQuotesWhereNeeded) {
  test::TempDir dir;
  const std::string mti =
      tools::WriteContactLog(dir.Path().string(), 2, [](int i, tools::Contact& c) {
        c.call = i ? "K1ABC" : "W1AW";
        c.name = i ? "said \"hi\"" : "JOE";
        c.comments = i ? "" : "loud, clear";
        c.freq = 14.025;
      });
  std::ostringstream out;
  cli::DumpTableCsv(out, mti, "", TFormatSettings::Interchange());
  std::istringstream lines(out.str());
  std::string header, first, second;
  std::getline(lines, header);
  std::getline(lines, first);
  std::getline(lines, second);
  EXPECT_EQ(header.rfind("NumSent,Call,QSODate,", 0), 0u);
  EXPECT_NE(first.find(",W1AW,"), std::string::npos);
  EXPECT_NE(first.find(",\"loud, clear\"\r"), std::string::npos) << first;
  EXPECT_NE(second.find(",\"said \"\"hi\"\"\","), std::string::npos) << second;
  EXPECT_NE(second.find(",14.025,"), std::string::npos);
}

}  // namespace
}  // namespace logvane
