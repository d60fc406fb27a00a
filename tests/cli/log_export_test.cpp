// `logvane-cli export` on the sample log in both forms: the default is the
// desktop program's file, byte for byte past its clock line; --format adif3
// writes the ADIF 3 file through the same routine and reports what a strict
// reader may refuse.
#include "cli/log_export.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "app/adif_export.h"
#include "component/daro_vivuv.h"
#include "test_support.h"
#include "tools/sample_log.h"

namespace logvane {
namespace {

std::string Text(const std::string& path) {
  const auto bytes = test::ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

// The file past its first two lines: the header's clock reading is the only
// part that differs from one run to the next.
std::string PastTwoLines(const std::string& text) {
  return text.substr(text.find("\r\n", text.find("\r\n") + 2) + 2);
}

TEST(CliExport, BothFormsOfTheSampleLog) {
  test::TempDir dir;
  const std::string folder = dir.File("SampleLog");
  std::filesystem::create_directory(folder);
  const std::string mti = tools::WriteSampleLog(folder);
  const std::string adi = folder + "/SampleLog.ADI";
  const char kCaption[] = "Zentro Logvane v1.04, ADIF Spec v1.00";

  // The desktop program's file, written directly.
  TDaroVivuv log;
  log.SetName("LogTabl");
  log.SetReadOnly(true);
  log.SetTableName(mti);
  log.SetIndexName("NumSentIndx");
  log.Open();
  const std::string direct = dir.File("direct.ADI");
  WriteAdifFile(log, direct, "SampleLog", 0, kCaption, "CQ-WW-CW");

  TExportRequest request;
  request.log_folder = folder;
  request.contest_id = "cq-ww-cw";
  request.caption = kCaption;
  std::ostringstream out, err;
  EXPECT_EQ(cli::RunExport(request, out, err), 0) << err.str();
  EXPECT_EQ(out.str(), "ADIF File:\n" + adi + "\nhas been created.\n146 lines written\n");
  EXPECT_EQ(PastTwoLines(Text(adi)), PastTwoLines(Text(direct)));

  // The ADIF 3 form is refused over an existing file like the default one.
  out.str("");
  EXPECT_EQ(cli::RunExport(request, out, err, cli::ExportFormat::kAdif3), 2);
  EXPECT_EQ(out.str(), "");

  request.overwrite = true;
  EXPECT_EQ(cli::RunExport(request, out, err, cli::ExportFormat::kAdif3), 0) << err.str();
  // The São Paulo contact's QTH and notes are the fields written in ASCII.
  EXPECT_EQ(out.str(), "ADIF File:\n" + adi +
                           "\nhas been created.\n41 lines written\n"
                           "ADIF 3 contacts written: 36\n"
                           "Fields with characters outside ASCII, written in ASCII: 2\n");
  const std::string adif3 = Text(adi);
  EXPECT_EQ(adif3.rfind("SampleLog - sorted by Sequence worked, exported from Tavisk database ", 0),
            0u);
  EXPECT_NE(adif3.find("\r\n<ADIF_VER:5>3.1.7\r\n<PROGRAMID:7>Logvane\r\n"), std::string::npos);
  EXPECT_NE(adif3.find("<CALL:5>PY2XX <QSO_DATE:8>20030517 <TIME_ON:4>1544 <BAND:3>10m "
                       "<FREQ:5>28.01 <MODE:2>CW "),
            std::string::npos);
  EXPECT_NE(adif3.find("<QTH:9>SAO PAULO "), std::string::npos);
  EXPECT_NE(adif3.find("<CONTEST_ID:8>CQ-WW-CW "), std::string::npos);
}

}  // namespace
}  // namespace logvane
