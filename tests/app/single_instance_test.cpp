// The instance lock between real processes: a second holder is refused, a
// killed holder's lock is taken over, and a second start of the program
// ends at once without a word while the first keeps running.
#include "platform/single_instance.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

extern char** environ;

namespace logvane::platform {
namespace {

using namespace std::chrono_literals;

// A child process with pipes on its standard streams.
struct Child {
  pid_t pid = -1;
  int in = -1, out = -1, err = -1;
};

Child Spawn(const std::vector<std::string>& args) {
  int in[2], out[2], err[2];
  EXPECT_EQ(::pipe2(in, O_CLOEXEC), 0);
  EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
  EXPECT_EQ(::pipe2(err, O_CLOEXEC), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  Child child;
  EXPECT_EQ(posix_spawn(&child.pid, argv[0], &actions, nullptr, argv.data(), environ), 0)
      << args[0];
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  child.in = in[1];
  child.out = out[0];
  child.err = err[0];
  return child;
}

// Everything the stream gives until it closes.
std::string ReadAll(int fd) {
  std::string text;
  char buffer[256];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  ::close(fd);
  return text;
}

std::string ReadLine(int fd) {
  std::string line;
  char c;
  while (::read(fd, &c, 1) == 1 && c != '\n') line += c;
  return line;
}

// The exit status, or -1 when the process is still running at the deadline.
int WaitExit(pid_t pid, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    if (std::chrono::steady_clock::now() > deadline) return -1;
    std::this_thread::sleep_for(10ms);
  }
}

void Kill(const Child& child) {
  ::kill(child.pid, SIGKILL);
  ::waitpid(child.pid, nullptr, 0);
  for (int fd : {child.in, child.out, child.err}) ::close(fd);
}

// What a fresh process finds when it tries the lock `name`.
std::string Probe(const std::string& name) {
  Child probe = Spawn({LOGVANE_PROBE, name});
  ::close(probe.in);
  std::string answer = ReadLine(probe.out);
  EXPECT_EQ(WaitExit(probe.pid, 10s), 0);
  ::close(probe.out);
  ::close(probe.err);
  return answer;
}

// Whether process `pid` has `path` open, seen from outside: unlike a probe,
// looking cannot take the lock away from a program that is starting.
bool HasOpen(pid_t pid, const std::string& path) {
  std::error_code ec;
  for (const auto& fd :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec))
    if (std::filesystem::read_symlink(fd.path(), ec) == path) return true;
  return false;
}

// Every process of a test keeps its lock files in a folder of its own.
class InstanceLock : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    if (old != nullptr) saved_ = old;
    had_ = old != nullptr;
    ::chmod(dir_.Path().c_str(), 0700);
    ::setenv("XDG_RUNTIME_DIR", dir_.Path().c_str(), 1);
  }
  void TearDown() override {
    if (had_) {
      ::setenv("XDG_RUNTIME_DIR", saved_.c_str(), 1);
    } else {
      ::unsetenv("XDG_RUNTIME_DIR");
    }
  }
  test::TempDir dir_;
  std::string saved_;
  bool had_ = false;
};

TEST_F(InstanceLock, ASecondHolderIsRefusedAndAKilledHoldersLockIsTakenOver) {
  EXPECT_EQ(InstanceLockPath("Probe"), dir_.File("Probe.lock"));
  Child first = Spawn({LOGVANE_PROBE, "Probe", "hold"});
  ASSERT_EQ(ReadLine(first.out), "acquired");
  EXPECT_EQ(Probe("Probe"), "held");
  EXPECT_EQ(Probe("Other"), "acquired");  // locks are by name
  Kill(first);                            // abandoned, not released
  EXPECT_EQ(Probe("Probe"), "acquired");
}

TEST_F(InstanceLock, TwoOpensInOneProcessExcludeEachOther) {
  EXPECT_EQ(TakeInstanceLock("Twice"), TInstanceLock::kAcquired);
  EXPECT_EQ(TakeInstanceLock("Twice"), TInstanceLock::kHeldElsewhere);
  EXPECT_EQ(Probe("Twice"), "held");
}

TEST_F(InstanceLock, ALockFileThatIsNotAPlainFileOfOursIsNotTrusted) {
  std::filesystem::create_symlink(dir_.File("elsewhere"), InstanceLockPath("Link"));
  EXPECT_EQ(TakeInstanceLock("Link"), TInstanceLock::kUnavailable);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("elsewhere")));
  std::filesystem::create_directory(InstanceLockPath("Folder"));
  EXPECT_EQ(TakeInstanceLock("Folder"), TInstanceLock::kUnavailable);
}

TEST_F(InstanceLock, NamesAreMadeSafeAndTmpServesWithoutARuntimeFolder) {
  EXPECT_EQ(InstanceLockPath("a/b c"), dir_.File("a_b_c.lock"));
  ::setenv("XDG_RUNTIME_DIR", dir_.File("missing").c_str(), 1);
  EXPECT_EQ(InstanceLockPath("Logvane"), "/tmp/Logvane-" + std::to_string(::getuid()) + ".lock");
  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(InstanceLockPath("Logvane"), "/tmp/Logvane-" + std::to_string(::getuid()) + ".lock");
}

#ifdef LOGVANE_PROGRAM
TEST_F(InstanceLock, ASecondStartOfTheProgramEndsAtOnceAndSilently) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  Child first = Spawn({LOGVANE_PROGRAM});
  // Wait until the first copy has its lock file open (a probe meanwhile
  // could hold the lock just when the program tries it, and make it end as
  // a second copy); it locks the file right after opening it.
  const std::string lock_file = InstanceLockPath("Logvane");
  for (int i = 0; i < 1500 && !HasOpen(first.pid, lock_file); ++i)
    std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(HasOpen(first.pid, lock_file)) << "the first copy never opened its lock file";
  std::this_thread::sleep_for(100ms);
  ASSERT_EQ(Probe("Logvane"), "held") << "the first copy never took the lock";

  Child second = Spawn({LOGVANE_PROGRAM});
  ::close(second.in);
  EXPECT_EQ(WaitExit(second.pid, 5s), 0);
  EXPECT_EQ(ReadAll(second.out), "");
  EXPECT_EQ(ReadAll(second.err), "");
  EXPECT_EQ(WaitExit(first.pid, 0ms), -1) << "the first copy must keep running";
  Kill(first);
  EXPECT_EQ(Probe("Logvane"), "acquired");
}
#endif

}  // namespace
}  // namespace logvane::platform
