// A writer killed at random moments. A child process runs a long seeded
// stream of appends, updates (memos included) and deletes through the table
// cursor and reports each completed change through a pipe; the parent kills
// it with SIGKILL after a random number of changes and a random pause, so
// that most kills land inside a change. After every kill a read-only open
// either succeeds or fails with a result code, the table check runs, and a
// table that reads holds every row whose change was reported complete, with
// its values. Then the rebuild gives a table the check finds clean that
// holds every such row in every index. The figures (kills, tables clean
// without the rebuild, tables recovered) are printed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>

#include "contact_log.h"
#include "engine/table_check.h"

namespace logvane {
namespace {

using test::TChange;

constexpr int kInitialRows = 30;
// Under the sanitizers every change costs several times as much: fewer
// kills keep the test's time in bounds there.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kKillsPerFormat = 30;
#else
constexpr int kKillsPerFormat = 100;
#endif

// The writer: never returns. Exit status 3 when a change fails.
[[noreturn]] void RunWriter(const std::string& mti, uint32_t seed, int report_fd) {
  try {
    TDaroVivuv log;
    test::OpenLogForWriting(log, mti);
    test::TChangeStream stream(seed, kInitialRows);
    for (int n = 0; n < 100000; ++n) {
      const TChange c = stream.Next();
      test::MakeChange(log, c);
      stream.Apply(c);
      if (write(report_fd, &c, sizeof c) != sizeof c) _exit(4);
    }
    _exit(0);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "writer: %s\n", e.what());
    _exit(3);
  }
}

struct TFigures {
  int kills = 0;
  int opened = 0;            // a read-only open succeeded
  int clean = 0;             // ... and the walk and the check found nothing wrong
  int recovered = 0;         // the rebuilt table checks clean and holds every completed change
  int64_t changes_done = 0;  // changes reported complete, over all kills
};

class CrashTest : public ::testing::TestWithParam<double> {};

TEST_P(CrashTest, KilledWriterLeavesEveryCompletedChange) {
  std::mt19937 rng(static_cast<uint32_t>(GetParam() * 1000) + 17);
  TFigures fig;
  for (int round = 0; round < kKillsPerFormat; ++round) {
    SCOPED_TRACE("kill " + std::to_string(round));
    test::TTestTable t;
    test::MakeContactLog(t, GetParam(), kInitialRows);
    const uint32_t seed = rng();
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(fds[0]);
      RunWriter(t.mti, seed, fds[1]);
    }
    close(fds[1]);

    // Wait for a random number of changes, then pause a random moment.
    const int target = static_cast<int>(rng() % 40);
    const auto pause = std::chrono::microseconds(rng() % 3000);
    test::TChangeStream stream(seed, kInitialRows);
    test::TLogModel model(kInitialRows);
    auto take = [&](const TChange& c) {
      const TChange expected = stream.Next();
      ASSERT_TRUE(c.kind == expected.kind && c.id == expected.id && c.gen == expected.gen);
      stream.Apply(c);
      model.Complete(c);
      ++fig.changes_done;
    };
    TChange c;
    for (int n = 0; n < target && read(fds[0], &c, sizeof c) == sizeof c; ++n)
      ASSERT_NO_FATAL_FAILURE(take(c));
    std::this_thread::sleep_for(pause);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
        << "the writer stopped by itself with status " << status;
    while (read(fds[0], &c, sizeof c) == sizeof c) ASSERT_NO_FATAL_FAILURE(take(c));
    close(fds[0]);
    model.pending = stream.Next();
    SCOPED_TRACE("the change under way: kind " +
                 std::to_string(static_cast<int>(model.pending->kind)) + ", row " +
                 std::to_string(model.pending->id) + ", generation " +
                 std::to_string(model.pending->gen));
    ++fig.kills;

    const test::TLogContents found = test::ReadLog(t.mti);
    const TTableCheckReport report = CheckTable(t.mti);
    ASSERT_TRUE(report.readable) << report.cause;
    if (found.open_code < 0) {
      EXPECT_GT(report.problem_count, 0)
          << "a table that does not open is not clean: " << found.failure;
    } else {
      ++fig.opened;
      const bool walked = found.failure.empty() && found.wrong.empty();
      if (!walked) {
        EXPECT_GT(report.problem_count, 0)
            << "the check finds nothing wrong with a table that cannot be read whole: "
            << found.failure << (found.wrong.empty() ? "" : found.wrong[0]);
      }
      if (found.failure.empty()) {
        // Index 0 leads to every row whose change completed, in its last form.
        EXPECT_EQ(model.Differences(found.rows), std::vector<std::string>{})
            << "check: " << (report.problems.empty() ? "clean" : report.problems[0]);
      }
      if (walked && report.problem_count == 0) ++fig.clean;
    }

    std::vector<std::string> problems;
    const test::TLogContents rebuilt = test::RebuildAndRead(t.mti, &problems);
    EXPECT_EQ(problems, std::vector<std::string>{});
    const std::vector<std::string> lost = model.Differences(rebuilt.rows);
    EXPECT_EQ(lost, std::vector<std::string>{}) << "after the rebuild";
    if (problems.empty() && lost.empty()) ++fig.recovered;
  }
  std::printf(
      "crash test, %s pages: %d kills, %d opened read-only, %d opened and checked clean "
      "without rebuild, %d recovered by the rebuild; %lld changes reported complete\n",
      GetParam() < 3.0 ? "small" : "large", fig.kills, fig.opened, fig.clean, fig.recovered,
      static_cast<long long>(fig.changes_done));
  RecordProperty("kills", fig.kills);
  RecordProperty("clean_without_rebuild", fig.clean);
  RecordProperty("recovered", fig.recovered);
}

INSTANTIATE_TEST_SUITE_P(BothFormats, CrashTest, ::testing::Values(2.0, 4.0), [](const auto& info) {
  return std::string(info.param < 3.0 ? "SmallPages" : "LargePages");
});

}  // namespace
}  // namespace logvane
