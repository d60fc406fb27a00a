// The ADIF export while another program, which ignores the table lock, cuts
// the log's data or blob file short or writes over it: the export ends in
// the engine's message or writes its file, and never dies of a signal or
// reads outside a buffer (the sanitizer build watches the latter).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/adif_export.h"
#include "base/errors.h"
#include "base/messages.h"
#include "component/daro_vivuv.h"
#include "test_support.h"
#include "tools/contact_log.h"

namespace logvane {
namespace {

namespace fs = std::filesystem;

constexpr int kContacts = 6000;

void MakeContact(int i, tools::Contact& c) {
  char call[16];
  // Contacts with memos (every tenth) spread over the whole call order.
  std::snprintf(call, sizeof call, "K%c%c%dA", 'A' + i * 7 % 26, 'A' + i * 13 % 26, i % 10);
  c.call = call;
  c.qso_date = 37758.0 + i / 40;
  c.time_start = "1402";
  c.freq = 14.0 + i % 300 / 1000.0;
  c.mode = "CW";
  c.name = "JOE";
  c.city = i % 3 ? "DENVER" : "";
  c.state = "CO";
  c.country = "USA";
  c.continent = "NA";
  c.rst_sent = "599";
  c.rst_rcvd = "579";
  c.num_rcvd = i;
  c.ibm = i % 7 == 0;
  if (i % 10 == 0) c.comments = "Worked on a quiet band, good copy";
}

class ExportUnderDamage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    master_ = new test::TempDir;
    tools::ContactLogOptions options;
    options.free_slot_every = 97;
    tools::WriteContactLog(master_->Path().string(), kContacts, MakeContact, options);
  }
  static void TearDownTestSuite() {
    delete master_;
    master_ = nullptr;
  }

  // A fresh copy of the log in a folder of its own.
  std::string CopyOfLog(const std::string& name) {
    const fs::path folder = dir_.Path() / name;
    fs::copy(master_->Path(), folder);
    return folder.string();
  }

  enum class Outcome { kWritten, kEngineMessage };

  // Exports the log at `folder` in the given order, calling `damage` once
  // the cursor has made `at` moves. Fails the test on anything but a
  // finished file or an error of the system's own.
  Outcome Export(const std::string& folder, bool by_call, int at,
                 const std::function<void()>& damage, std::string* message) {
    TDaroVivuv log;
    log.SetName("LogTabl");
    log.SetReadOnly(true);
    log.SetTableName(folder + "/LogTabl.mti");
    log.SetIndexName(by_call ? "Call" : "NumSentIndx");
    int moves = 0;
    try {
      log.Open();
      log.AfterScroll = [&](TDataSet&) {
        if (++moves == at && damage) damage();
      };
      const int64_t lines =
          WriteAdifFile(log, folder + "/out.ADI", "Log", by_call ? 1 : 0, "T", "");
      EXPECT_EQ(lines, 2 + 4 * int64_t{kContacts});
      return Outcome::kWritten;
    } catch (const Exception& e) {
      *message = e.what();
      log.AfterScroll = nullptr;
      log.Close();
      return Outcome::kEngineMessage;
    }
  }

  static test::TempDir* master_;
  test::TempDir dir_;
};

test::TempDir* ExportUnderDamage::master_ = nullptr;

void Cut(const std::string& path, uintmax_t size) { fs::resize_file(path, size); }

void Scribble(const std::string& path, uint32_t seed) {
  std::vector<uint8_t> bytes = test::ReadBytes(path);
  std::mt19937 random(seed);
  for (size_t i = bytes.size() / 3; i < bytes.size(); ++i)
    bytes[i] = static_cast<uint8_t>(random());
  test::PatchBytes(path, 0, bytes);
}

TEST_F(ExportUnderDamage, CutFilesEndInTheEnginesMessage) {
  for (bool by_call : {false, true}) {
    SCOPED_TRACE(by_call ? "call order" : "sequence order");
    // The data file: at a page boundary, inside a page, and to nothing.
    for (uintmax_t keep : {uintmax_t{65536}, uintmax_t{65536 + 1000}, uintmax_t{0}}) {
      const std::string folder = CopyOfLog("cut" + std::to_string(by_call) + std::to_string(keep));
      std::string message;
      EXPECT_EQ(Export(
                    folder, by_call, 1000, [&] { Cut(folder + "/LogTabl.MTD", keep); }, &message),
                Outcome::kEngineMessage);
      EXPECT_EQ(message.rfind(msg::kMtdIoError, 0), 0u) << message;
    }
    // The blob file, down to its first block (of 512 bytes).
    const std::string folder = CopyOfLog("blob" + std::to_string(by_call));
    std::string message;
    EXPECT_EQ(Export(
                  folder, by_call, 1000, [&] { Cut(folder + "/LogTabl.blb", 512); }, &message),
              Outcome::kEngineMessage);
    EXPECT_EQ(message, msg::kBlobError);
  }
}

TEST_F(ExportUnderDamage, RewrittenFilesGiveRecordsOrTheEnginesMessage) {
  for (bool by_call : {false, true}) {
    for (const char* file : {"LogTabl.MTD", "LogTabl.blb"}) {
      SCOPED_TRACE(std::string(file) + (by_call ? " in call order" : " in sequence order"));
      const std::string folder = CopyOfLog(file + std::to_string(by_call));
      std::string message;
      Export(
          folder, by_call, 500, [&] { Scribble(folder + "/" + file, 17); }, &message);
    }
  }
}

// Another program cuts the files and writes them back over and over while
// exports run: whatever each export meets, it ends normally or in an error.
TEST_F(ExportUnderDamage, FilesChangingThroughoutTheExport) {
  const std::string folder = CopyOfLog("busy");
  const std::string mtd = folder + "/LogTabl.MTD";
  const std::string blb = folder + "/LogTabl.blb";
  const std::vector<uint8_t> data = test::ReadBytes(mtd);
  const std::vector<uint8_t> blobs = test::ReadBytes(blb);
  std::atomic<bool> done{false};
  std::thread vandal([&] {
    std::mt19937 random(5);
    while (!done.load()) {
      // Mostly the later part of a file goes, so that exports get that far.
      Cut(mtd, data.size() / 2 + random() % (data.size() / 2));
      Cut(blb, blobs.size() / 2 + random() % (blobs.size() / 2));
      std::this_thread::sleep_for(std::chrono::microseconds(300));
      test::PatchBytes(mtd, 0, data);
      test::PatchBytes(blb, 0, blobs);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  int written = 0;
  for (int run = 0; run < 8; ++run) {
    std::string message;
    if (Export(folder, run % 2 == 1, 0, nullptr, &message) == Outcome::kWritten) ++written;
  }
  done = true;
  vandal.join();
  RecordProperty("exports_written", written);
}

}  // namespace
}  // namespace logvane
