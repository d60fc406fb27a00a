// Readers beside a writer: while a child process appends, updates and
// deletes rows with memos through the table cursor, `logvane-cli dump` runs
// again and again on the same log, read-only beside the writer. No dump
// crashes or hangs; a dump that meets a change half made stops with the
// engine's message and exit status 1; every row a dump prints is whole (its
// call names its id).
//
// A row printed while its update is under way can still be part old, part
// new: the writer stores the record and then its memo, with nothing a
// reader could see in between. The strict test of that is kept disabled
// until readers can tell; the other counts such rows.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <thread>

#include "cli/json_line.h"
#include "cli/run_cli.h"
#include "contact_log.h"

namespace logvane {
namespace {

constexpr int kInitialRows = 60;
constexpr auto kHangLimit = std::chrono::seconds(30);
#if defined(__SANITIZE_ADDRESS__)
constexpr int kDumpsPerFormat = 25;
#else
constexpr int kDumpsPerFormat = 60;
#endif

[[noreturn]] void RunWriter(const std::string& mti, uint32_t seed) {
  try {
    TDaroVivuv log;
    test::OpenLogForWriting(log, mti);
    test::TChangeStream stream(seed, kInitialRows);
    for (int n = 0; n < 1000000; ++n) {
      const test::TChange c = stream.Next();
      test::MakeChange(log, c);
      stream.Apply(c);
    }
    _exit(0);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "writer: %s\n", e.what());
    _exit(3);
  }
}

// A dump's run: -1 in `code` when it did not end within the limit, -2 when
// a signal ended it.
test::TRun Dump(const test::TempDir& dir, const std::string& mti, const std::string& index) {
  std::vector<std::string> args = {LOGVANE_CLI, "dump", mti};
  if (!index.empty()) args.insert(args.end(), {"--index", index});
  const std::string out = dir.File("stdout"), err = dir.File("stderr");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  test::TRun run;
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
    const auto deadline = std::chrono::steady_clock::now() + kHangLimit;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        status = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    run.code = status == -1 ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : -2;
  }
  posix_spawn_file_actions_destroy(&actions);
  run.out = test::Slurp(out);
  run.err = test::Slurp(err);
  return run;
}

// One JSON line of a dump as a row; false when a member is missing or of
// another kind.
bool ReadRowLine(const std::string& line, test::TRow* row) {
  std::vector<cli::TJsonMember> members;
  size_t count = 0;
  std::string problem;
  if (!cli::ReadJsonObject(line, members, &count, &problem)) return false;
  int found = 0;
  for (size_t i = 0; i < count; ++i) {
    const cli::TJsonMember& m = members[i];
    const char* b = m.text.data();
    const char* e = b + m.text.size();
    auto whole = [&](int32_t* v) {
      return m.kind == cli::TJsonKind::kNumber && std::from_chars(b, e, *v).ptr == e;
    };
    bool ok = true;
    if (m.name == "Id") {
      ok = whole(&row->id);
    } else if (m.name == "Band") {
      ok = whole(&row->band);
    } else if (m.name == "Serial") {
      ok = whole(&row->serial);
    } else if (m.name == "Freq") {
      ok = m.kind == cli::TJsonKind::kNumber && std::from_chars(b, e, row->freq).ptr == e;
    } else if (m.name == "Call") {
      ok = m.kind == cli::TJsonKind::kText;
      row->call = m.text;
    } else if (m.name == "Notes") {
      ok = m.kind == cli::TJsonKind::kText || m.kind == cli::TJsonKind::kNull;
      row->notes = m.text;
    } else {
      continue;
    }
    if (!ok) return false;
    ++found;
  }
  return found == 6;
}

class ReadersBesideWriter : public ::testing::TestWithParam<double> {
 protected:
  // Runs the dumps beside the writer; with `strict` a row part old, part
  // new fails the test.
  void RunDumps(bool strict) {
    test::TTestTable t;
    test::MakeContactLog(t, GetParam(), kInitialRows);
    test::TempDir out;
    const pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) RunWriter(t.mti, 4711);

    int complete = 0, stopped = 0, mixed = 0;
    int64_t rows_printed = 0;
    for (int d = 0; d < kDumpsPerFormat; ++d) {
      SCOPED_TRACE("dump " + std::to_string(d));
      const test::TRun run = Dump(out, t.mti, d % 2 ? "Call" : "");
      ASSERT_NE(run.code, -1) << "the dump hung";
      ASSERT_NE(run.code, -2) << "the dump crashed: " << run.err;
      ASSERT_TRUE(run.code == 0 || run.code == 1) << run.err;
      if (run.code == 0) {
        ++complete;
        EXPECT_EQ(run.err, "");
      } else {
        ++stopped;
        EXPECT_NE(run.err, "") << "a dump stopped without a message";
      }
      std::istringstream lines(run.out);
      std::string line;
      while (std::getline(lines, line)) {
        test::TRow row;
        ASSERT_TRUE(ReadRowLine(line, &row)) << line;
        EXPECT_GE(test::GenerationOf(row), 0) << "a row that was never written: " << line;
        if (!test::IsWrittenRow(row)) {
          ++mixed;
          if (strict) ADD_FAILURE() << "a row part old, part new: " << line;
        }
        ++rows_printed;
      }
    }
    kill(writer, SIGKILL);
    int status = 0;
    waitpid(writer, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status)) << "the writer stopped early with status " << status;
    std::printf(
        "readers beside a writer, %s pages: %d dumps complete, %d stopped with a "
        "message, %lld rows printed, %d of them part old, part new\n",
        GetParam() < 3.0 ? "small" : "large", complete, stopped,
        static_cast<long long>(rows_printed), mixed);
  }
};

TEST_P(ReadersBesideWriter, DumpsNeverCrashOrHangAndPrintWholeRows) { RunDumps(false); }

TEST_P(ReadersBesideWriter, DISABLED_NoDumpPrintsARowPartOldPartNew) { RunDumps(true); }

INSTANTIATE_TEST_SUITE_P(BothFormats, ReadersBesideWriter, ::testing::Values(2.0, 4.0),
                         [](const auto& info) {
                           return std::string(info.param < 3.0 ? "SmallPages" : "LargePages");
                         });

}  // namespace
}  // namespace logvane
