#include "platform/file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/exceptions.h"

namespace logvane::platform {
namespace {

namespace fs = std::filesystem;

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "logvane-file-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr) << std::strerror(errno);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string MakeFile(const std::string& name, const std::string& content = "") {
    std::string path = dir_ + "/" + name;
    int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    ::close(fd);
    return path;
  }
  std::string dir_;
};

// Exit status of a child process that opens `path` with `mode`: 0 or errno.
int OpenInChild(const std::string& path, uint32_t mode) {
  pid_t pid = fork();
  if (pid == 0) {
    File f;
    _exit(f.Open(path, mode));
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A child process that opens a file and keeps it open until released or
// killed. The handshakes go through pipes; nothing depends on timing.
class Holder {
 public:
  Holder(const std::string& path, uint32_t mode) {
    int up[2], down[2];
    if (pipe(up) != 0 || pipe(down) != 0) std::abort();
    pid_ = fork();
    if (pid_ == 0) {
      File f;
      unsigned char result = static_cast<unsigned char>(f.Open(path, mode));
      if (::write(up[1], &result, 1) != 1) _exit(100);
      char c;
      if (::read(down[0], &c, 1) != 1) _exit(101);
      f.Close();
      _exit(0);
    }
    ::close(up[1]);
    ::close(down[0]);
    unsigned char result = 255;
    if (::read(up[0], &result, 1) != 1) result = 255;
    ::close(up[0]);
    result_ = result;
    release_fd_ = down[1];
  }
  ~Holder() { Release(); }

  int result() const { return result_; }

  // Tells the child to close and waits until it has exited. A byte, not
  // end-of-file, because later children inherit the pipe's write end.
  void Release() {
    if (release_fd_ < 0) return;
    if (::write(release_fd_, "x", 1) != 1) kill(pid_, SIGKILL);
    Reap();
  }
  void Kill() {
    if (release_fd_ < 0) return;
    kill(pid_, SIGKILL);
    Reap();
  }

 private:
  void Reap() {
    ::close(release_fd_);
    release_fd_ = -1;
    waitpid(pid_, nullptr, 0);
  }
  pid_t pid_ = -1;
  int release_fd_ = -1;
  int result_ = 255;
};

// ---------------------------------------------------------------------------
// Share modes between processes

struct ShareCase {
  uint32_t first;
  uint32_t second;
  bool admitted;
};

class ShareModes : public TempDir, public ::testing::WithParamInterface<ShareCase> {};

TEST_P(ShareModes, SecondOpenAdmittedOrRefusedInEitherProcess) {
  const ShareCase c = GetParam();
  const std::string path = MakeFile("t.mti", "data");
  const int expected = c.admitted ? 0 : EACCES;
  {
    // Another process holds the first open.
    Holder holder(path, c.first);
    ASSERT_EQ(holder.result(), 0);
    File f;
    EXPECT_EQ(f.Open(path, c.second), expected);
    EXPECT_EQ(f.IsOpen(), c.admitted);
  }
  {
    // This process holds the first open; another process tries the second.
    File f;
    ASSERT_EQ(f.Open(path, c.first), 0);
    EXPECT_EQ(OpenInChild(path, c.second), expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Matrix, ShareModes,
    ::testing::Values(
        // The table component's three modes.
        ShareCase{0x20, 0x20, true}, ShareCase{0x22, 0x20, false}, ShareCase{0x20, 0x22, false},
        ShareCase{0x22, 0x22, false}, ShareCase{0x40, 0x22, true}, ShareCase{0x22, 0x40, true},
        ShareCase{0x40, 0x20, true}, ShareCase{0x40, 0x40, true},
        // Exclusive (sharing 0 or 1) refuses everything, and is refused.
        ShareCase{0x10, 0x40, false}, ShareCase{0x40, 0x10, false}, ShareCase{0x10, 0x41, false},
        ShareCase{0x41, 0x10, false}, ShareCase{0x00, 0x40, false}, ShareCase{0x10, 0x10, false},
        // Deny read, and write-only opens (marked through a second descriptor).
        ShareCase{0x30, 0x40, false}, ShareCase{0x40, 0x30, false}, ShareCase{0x31, 0x31, true},
        ShareCase{0x31, 0x20, false}, ShareCase{0x21, 0x40, true}, ShareCase{0x21, 0x41, false},
        ShareCase{0x41, 0x21, false}, ShareCase{0x42, 0x42, true}),
    [](const ::testing::TestParamInfo<ShareCase>& info) {
      char name[48];
      std::snprintf(name, sizeof name, "m%02X_then_m%02X_%s", info.param.first, info.param.second,
                    info.param.admitted ? "admitted" : "refused");
      return std::string(name);
    });

using ShareRelease = TempDir;

TEST_F(ShareRelease, KilledHolderLeavesNoLock) {
  const std::string path = MakeFile("t.mti", "data");
  Holder holder(path, 0x22);
  ASSERT_EQ(holder.result(), 0);
  File f;
  EXPECT_EQ(f.Open(path, 0x20), EACCES);
  holder.Kill();
  EXPECT_EQ(f.Open(path, 0x22), 0);
}

TEST_F(ShareRelease, CloseMoveAndRefusalWithinOneProcess) {
  const std::string path = MakeFile("t.mti", "data");
  File a;
  ASSERT_EQ(a.Open(path, 0x22), 0);

  // Two opens in one process exclude each other like opens in two processes.
  // A refused open must leave no marks behind.
  File refused;
  EXPECT_EQ(refused.Open(path, 0x20), EACCES);
  EXPECT_FALSE(refused.IsOpen());

  // Moving keeps the open and its marks.
  File moved(std::move(a));
  EXPECT_FALSE(a.IsOpen());
  EXPECT_EQ(OpenInChild(path, 0x20), EACCES);

  moved.Close();
  moved.Close();  // idempotent
  EXPECT_FALSE(moved.IsOpen());
  File b;
  EXPECT_EQ(b.Open(path, 0x22), 0);

  // Reopening an open File replaces its old open.
  EXPECT_EQ(b.Open(path, 0x40), 0);
  EXPECT_EQ(OpenInChild(path, 0x22), 0);

  // The destructor releases too.
  { File scoped = std::move(b); }
  File c;
  EXPECT_EQ(c.Open(path, 0x10), 0);
}

TEST_F(ShareRelease, RacingWritersAreNeverAdmittedTogether) {
  const std::string path = MakeFile("t.mti", "data");
  const std::string marker = dir_ + "/admitted";
  constexpr int kChildren = 4;
  constexpr int kIterations = 200;

  int gate[2], report[2];
  ASSERT_EQ(pipe(gate), 0);
  ASSERT_EQ(pipe(report), 0);
  std::vector<pid_t> pids;
  for (int i = 0; i < kChildren; ++i) {
    pid_t pid = fork();
    if (pid == 0) {
      ::close(gate[1]);
      char c;
      if (::read(gate[0], &c, 1) != 0) _exit(10);  // start together at end-of-file
      int admitted = 0;
      for (int n = 0; n < kIterations; ++n) {
        File f;
        int err = f.Open(path, 0x22);
        if (err == EACCES) continue;
        if (err != 0) _exit(11);
        int fd = ::open(marker.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0600);
        if (fd < 0) _exit(errno == EEXIST ? 12 : 13);
        ::close(fd);
        ::unlink(marker.c_str());
        ++admitted;
      }
      if (::write(report[1], &admitted, sizeof admitted) != sizeof admitted) _exit(14);
      _exit(0);
    }
    pids.push_back(pid);
  }
  ::close(gate[0]);
  ::close(gate[1]);
  ::close(report[1]);
  for (pid_t pid : pids) {
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "12 means two writers were admitted together";
  }
  int total = 0, admitted = 0;
  while (::read(report[0], &admitted, sizeof admitted) == sizeof admitted) total += admitted;
  ::close(report[0]);
  EXPECT_GT(total, 0);
}

// ---------------------------------------------------------------------------
// Opening

using FileOpen = TempDir;

TEST_F(FileOpen, RefusesBadModesMissingFilesAndFolders) {
  const std::string path = MakeFile("t.MTD", "data");
  File f;
  EXPECT_EQ(f.Open(path, 0x23), EINVAL);  // access 3
  EXPECT_EQ(f.Open(path, 0x50), EINVAL);  // sharing 5
  EXPECT_EQ(f.Open(path, 0xF2), EINVAL);
  EXPECT_FALSE(f.IsOpen());

  const std::string missing = dir_ + "/missing.MTD";
  EXPECT_EQ(f.Open(missing, 0x42), ENOENT);
  EXPECT_FALSE(fs::exists(missing));  // an open never creates

  EXPECT_EQ(f.Open(dir_, 0x40), EISDIR);
  EXPECT_FALSE(f.IsOpen());
}

TEST_F(FileOpen, WriteOnlyOpenFailsWhenTheMarkDescriptorCannotBeOpened) {
  if (geteuid() == 0) GTEST_SKIP() << "permission bits do not bind root";
  const std::string path = MakeFile("t.MTD", "data");
  ASSERT_EQ(chmod(path.c_str(), 0200), 0);
  File f;
  EXPECT_EQ(f.Open(path, 0x41), EACCES);
  EXPECT_FALSE(f.IsOpen());
}

TEST_F(FileOpen, PositionedOpenErrorsCarryErrnoAndPath) {
  const std::string missing = dir_ + "/missing.blb";
  File f;
  try {
    f.OpenPositioned(missing, 8);
    FAIL() << "no exception";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.ErrorCode(), ENOENT);
    EXPECT_NE(std::string(e.what()).find(missing), std::string::npos);
    EXPECT_NE(std::string(e.what()).find(std::strerror(ENOENT)), std::string::npos);
  }
  const std::string path = MakeFile("t.blb", "data");
  EXPECT_THROW(f.OpenPositioned(path, 0), EInOutError);
  EXPECT_THROW(f.SetUnitSize(0), EInOutError);
}

struct DefaultAccessGuard {
  bool saved = DefaultReadOnly();
  ~DefaultAccessGuard() { SetDefaultReadOnly(saved); }
};

TEST_F(FileOpen, PositionedOpensFollowTheDefaultAccessAndShareEverything) {
  DefaultAccessGuard guard;
  const std::string path = MakeFile("t.MTD", "abcdefgh");

  SetDefaultReadOnly(false);
  File rw;
  rw.OpenPositioned(path, 4);
  EXPECT_EQ(rw.UnitSize(), 4u);
  EXPECT_EQ(rw.Write("WXYZ", 1), 1u);
  EXPECT_EQ(OpenInChild(path, 0x42), 0);  // others may read and write

  SetDefaultReadOnly(true);
  EXPECT_TRUE(DefaultReadOnly());
  File ro;
  ro.OpenPositioned(path, 4);
  char buf[8];
  EXPECT_EQ(ro.Read(buf, 2), 2u);
  EXPECT_EQ(std::string(buf, 8), "WXYZefgh");
  try {
    ro.Write("abcd", 1);
    FAIL() << "wrote through a read-only open";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.ErrorCode(), EBADF);
  }
}

// ---------------------------------------------------------------------------
// Positioned transfers

using FileIo = TempDir;

TEST_F(FileIo, WritesAndReadsWholeUnitsAtThePosition) {
  const std::string path = MakeFile("t.MTD");
  File f;
  ASSERT_EQ(f.Open(path, 0x42), 0);
  f.SetUnitSize(4);
  f.Seek(2);
  EXPECT_EQ(f.Write("aaaabbbbcccc", 3), 3u);
  EXPECT_EQ(f.Position(), 5);
  EXPECT_EQ(f.SizeInUnits(), 5);
  EXPECT_EQ(fs::file_size(path), 20u);

  f.Seek(1);
  char buf[16] = {};
  EXPECT_EQ(f.Read(buf, 2), 2u);
  EXPECT_EQ(std::string(buf, 8), std::string(4, '\0') + "aaaa");
  EXPECT_EQ(f.Position(), 3);
  EXPECT_EQ(f.Read(buf, 1), 1u);
  EXPECT_EQ(std::string(buf, 4), "bbbb");
}

// Units that straddle page boundaries, written page by page from the end,
// into a file that grows, over existing ones, and through a mapping.
TEST_F(FileIo, LastPageFirstWritesTheSameBytesAsOneWrite) {
  const std::string path = MakeFile("t.MTD");
  File f;
  ASSERT_EQ(f.Open(path, 0x42), 0);
  f.SetUnitSize(3000);
  std::string units(4 * 3000, '\0');
  for (size_t i = 0; i < units.size(); ++i) units[i] = static_cast<char>('a' + i % 23);
  f.Seek(1);
  EXPECT_EQ(f.WriteLastPageFirst(units.data(), 4), 4u);
  EXPECT_EQ(f.Position(), 5);
  std::string expected = std::string(3000, '\0') + units;
  for (bool mapped : {false, true}) {
    if (mapped) {
      ASSERT_TRUE(f.MapForWriting());
    }
    const std::string again(3000, mapped ? 'M' : 'P');
    f.Seek(2);
    EXPECT_EQ(f.WriteLastPageFirst(again.data(), 1), 1u);
    expected.replace(6000, 3000, again);
    std::string back(expected.size(), '\0');
    f.Seek(0);
    ASSERT_EQ(f.Read(back.data(), 5), 5u);
    EXPECT_EQ(back, expected);
  }
}

TEST_F(FileIo, ShortReadAtEndCountsOnlyWholeUnits) {
  const std::string path = MakeFile("t.MTD", "0123456789");  // 2.5 units of 4
  File f;
  ASSERT_EQ(f.Open(path, 0x40), 0);
  f.SetUnitSize(4);
  EXPECT_EQ(f.SizeInUnits(), 2);

  char buf[20];
  EXPECT_EQ(f.Read(buf, 5), 2u);
  EXPECT_EQ(std::string(buf, 10), "0123456789");
  EXPECT_EQ(f.Position(), 2);
  EXPECT_EQ(f.Read(buf, 1), 0u);  // only the partial unit is left
  EXPECT_EQ(f.Position(), 2);
  f.Seek(7);
  EXPECT_EQ(f.Read(buf, 1), 0u);  // beyond the end
  EXPECT_EQ(f.Position(), 7);
}

TEST_F(FileIo, TruncateCutsAtThePosition) {
  const std::string path = MakeFile("t.blb", std::string(24, 'x'));
  File f;
  ASSERT_EQ(f.Open(path, 0x42), 0);
  f.SetUnitSize(8);
  f.Seek(1);
  f.Truncate();
  EXPECT_EQ(fs::file_size(path), 8u);
  EXPECT_EQ(f.SizeInUnits(), 1);
  f.Seek(0);
  f.Truncate();
  EXPECT_EQ(f.SizeInUnits(), 0);
}

TEST_F(FileIo, FailuresThrowWithErrno) {
  const std::string path = MakeFile("t.MTD", "data");
  File f;
  char buf[4];
  auto code = [](auto&& op) {
    try {
      op();
    } catch (const EInOutError& e) {
      return e.ErrorCode();
    }
    return 0;
  };
  EXPECT_EQ(code([&] { f.Read(buf, 1); }), EBADF);  // not open
  ASSERT_EQ(f.Open(path, 0x40), 0);
  EXPECT_EQ(code([&] { f.Write("x", 1); }), EBADF);
  EXPECT_NE(code([&] { f.Truncate(); }), 0);
  f.Seek(-1);
  EXPECT_EQ(code([&] { f.Read(buf, 1); }), EINVAL);

  ASSERT_EQ(f.Open(path, 0x41), 0);  // write-only
  EXPECT_EQ(code([&] { f.Read(buf, 1); }), EBADF);
}

TEST_F(FileIo, MovedFileKeepsDescriptorUnitAndPosition) {
  const std::string path = MakeFile("t.MTD", "aabbcc");
  File f;
  ASSERT_EQ(f.Open(path, 0x40), 0);
  f.SetUnitSize(2);
  f.Seek(1);
  File g;
  g = std::move(f);
  EXPECT_FALSE(f.IsOpen());
  char buf[2];
  EXPECT_EQ(g.Read(buf, 1), 1u);
  EXPECT_EQ(std::string(buf, 2), "bb");
}

TEST_F(FileIo, TheFaultHookFailsOnlyTheNthOperationOfItsKindsAndCountsEveryKind) {
  const std::string path = MakeFile("t.MTD", "aabbcc");
  File f;
  ASSERT_EQ(f.Open(path, 0x42), 0);
  f.SetUnitSize(2);
  char buf[4];
  auto fails = [](auto&& op) {
    try {
      op();
    } catch (const EInOutError& e) {
      return e.ErrorCode() == EIO;
    }
    return false;
  };
  // Reads and sizes: the third of them fails, before it reads anything.
  FailNthOperation(3, kOpRead | kOpSize);
  f.Write("xx", 1);  // counted, not a kind that fails
  EXPECT_FALSE(fails([&] { f.Read(buf, 1); }));
  EXPECT_FALSE(fails([&] { f.SizeInUnits(); }));
  f.Seek(0);
  EXPECT_TRUE(fails([&] { f.ReadTwo(buf, 1, buf + 2, 1); }));
  EXPECT_EQ(f.Position(), 0);
  EXPECT_FALSE(fails([&] { f.Read(buf, 1); })) << "only one operation fails";
  EXPECT_EQ(OperationsCounted(kOpRead), 3);
  EXPECT_EQ(OperationsCounted(kOpSize), 1);
  EXPECT_EQ(WritesCounted(), 1);
  // A failed truncation leaves the file whole.
  FailNthWrite(1);
  f.Seek(1);
  EXPECT_TRUE(fails([&] { f.Truncate(); }));
  EXPECT_EQ(fs::file_size(path), 6u);
  FailNthOperation(0);
  EXPECT_EQ(OperationsCounted(), 0);
  EXPECT_FALSE(fails([&] { f.Write("yy", 1); }));
}

// ---------------------------------------------------------------------------
// Reads through a mapping

using MappedFile = TempDir;

// Four pages of 4096 bytes; byte i holds i / 512 + 'a', so unit u (of 512
// bytes) is filled with 'a' + u.
std::string Pages(int pages) {
  std::string text;
  for (int i = 0; i < pages * 4096; ++i) text += static_cast<char>('a' + i / 512);
  return text;
}

TEST_F(MappedFile, ReadsFollowOwnWritesGrowthAndTruncation) {
  const std::string path = MakeFile("t.MTD", Pages(2));
  File f;
  ASSERT_EQ(f.Open(path, 0x42), 0);
  f.SetUnitSize(512);
  ASSERT_TRUE(f.MapForReading());
  EXPECT_EQ(f.OwnSizeInUnits(), 16);
  char buf[1024];
  f.Seek(3);
  ASSERT_EQ(f.Read(buf, 2), 2u);
  EXPECT_EQ(buf[0], 'd');
  EXPECT_EQ(buf[1023], 'e');
  // Own writes show at once, inside the mapping and beyond it.
  f.Seek(3);
  ASSERT_EQ(f.Write(std::string(512, 'X').data(), 1), 1u);
  f.Seek(20);
  ASSERT_EQ(f.Write(std::string(512, 'Y').data(), 1), 1u);
  f.Seek(3);
  ASSERT_EQ(f.Read(buf, 1), 1u);
  EXPECT_EQ(buf[511], 'X');
  f.Seek(20);
  ASSERT_EQ(f.Read(buf, 1), 1u);
  EXPECT_EQ(buf[0], 'Y');
  EXPECT_EQ(f.OwnSizeInUnits(), 21);
  // A cut made through the file serves nothing past it.
  f.Seek(2);
  f.Truncate();
  EXPECT_EQ(f.OwnSizeInUnits(), 2);
  f.Seek(2);
  EXPECT_EQ(f.Read(buf, 1), 0u);
  f.Seek(1);
  ASSERT_EQ(f.Read(buf, 1), 1u);
  EXPECT_EQ(buf[0], 'b');
  // An empty file has nothing to map.
  f.Seek(0);
  f.Truncate();
  EXPECT_FALSE(f.MapForReading());
}

TEST_F(MappedFile, ReadsAfterAnotherProgramCutsTheFileAreShortNotFatal) {
  const std::string path = MakeFile("t.MTD", Pages(4));
  File f;
  ASSERT_EQ(f.Open(path, 0x40), 0);
  f.SetUnitSize(512);
  ASSERT_TRUE(f.MapForReading());
  char buf[2048];
  // Cut at a page boundary, and then in the middle of a page, behind the
  // mapping's back: units in the pages past the cut read as a read past the
  // end does; those before it still read their bytes.
  ASSERT_EQ(::truncate(path.c_str(), 8192), 0);
  f.Seek(20);
  EXPECT_EQ(f.Read(buf, 1), 0u);
  f.Seek(14);
  EXPECT_EQ(f.Read(buf, 4), 2u);  // a run that crosses the cut
  EXPECT_EQ(buf[0], 'a' + 14);
  EXPECT_EQ(buf[1023], 'a' + 15);
  ASSERT_EQ(::truncate(path.c_str(), 5000), 0);
  f.Seek(8);
  EXPECT_EQ(f.Read(buf, 1), 1u);
  EXPECT_EQ(buf[0], 'a' + 8);
  for (int unit : {10, 12, 15}) {
    f.Seek(unit);
    EXPECT_LE(f.Read(buf, 1), 1u);  // zeros past the cut in its page, or nothing
  }
  // The file grows again: the mapping serves the new bytes.
  ASSERT_EQ(::truncate(path.c_str(), 16384), 0);
  f.Seek(30);
  EXPECT_EQ(f.Read(buf, 1), 1u);
  EXPECT_EQ(buf[0], 0);
}

// The byte at `offset` as another descriptor reads it (-1 past the end).
int ByteOnDisk(const std::string& path, off_t offset) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  char c = 0;
  const ssize_t n = pread(fd, &c, 1, offset);
  ::close(fd);
  return n == 1 ? c : -1;
}

TEST_F(MappedFile, WritesThroughAMappingReachTheFileAndSurviveACut) {
  const std::string path = MakeFile("t.ma1", Pages(2));
  File f;
  ASSERT_EQ(f.Open(path, 0x40), 0);
  EXPECT_FALSE(f.MapForWriting()) << "a read-only descriptor";
  ASSERT_EQ(f.Open(path, 0x42), 0);
  f.SetUnitSize(512);
  ASSERT_TRUE(f.MapForWriting());
  const std::string x(512, 'X'), y(1024, 'Y');
  char buf[1024];
  // Inside the file, a growth and a write into the grown part, a growth past
  // the reserved address space: every byte is in the file for other readers
  // at once, and reads back through the mapping.
  f.Seek(3);
  ASSERT_EQ(f.WriteTwo(x.data(), 1, y.data(), 2), 3u);
  f.Seek(20);
  ASSERT_EQ(f.Write(x.data(), 1), 1u);
  f.Seek(17);
  ASSERT_EQ(f.Write(y.data(), 2), 2u);
  f.Seek(4000);
  ASSERT_EQ(f.Write(x.data(), 1), 1u);
  f.Seek(3999);
  ASSERT_EQ(f.Write(y.data(), 1), 1u);
  EXPECT_EQ(ByteOnDisk(path, 3 * 512), 'X');
  EXPECT_EQ(ByteOnDisk(path, 6 * 512 - 1), 'Y');
  EXPECT_EQ(ByteOnDisk(path, 6 * 512), 'a' + 6);
  EXPECT_EQ(ByteOnDisk(path, 17 * 512), 'Y');
  EXPECT_EQ(ByteOnDisk(path, 20 * 512), 'X');
  EXPECT_EQ(ByteOnDisk(path, 3999 * 512), 'Y');
  EXPECT_EQ(ByteOnDisk(path, 4001 * 512), -1);
  f.Seek(3);
  ASSERT_EQ(f.ReadTwo(buf, 1, buf + 512, 1), 2u);
  EXPECT_EQ(buf[0], 'X');
  EXPECT_EQ(buf[512], 'Y');
  // Cut through the file and grown again: the grown part is served.
  f.Seek(8);
  f.Truncate();
  f.Seek(9);
  ASSERT_EQ(f.Write(x.data(), 1), 1u);
  f.Seek(8);
  ASSERT_EQ(f.Write(y.data(), 1), 1u);
  EXPECT_EQ(ByteOnDisk(path, 8 * 512), 'Y');
  EXPECT_EQ(ByteOnDisk(path, 9 * 512), 'X');
  // Cut behind the mapping's back: a store into the lost pages is done
  // with pwrite instead of ending the process.
  ASSERT_EQ(::truncate(path.c_str(), 1024), 0);
  f.Seek(9);
  ASSERT_EQ(f.Write(y.data(), 1), 1u);
  EXPECT_EQ(ByteOnDisk(path, 9 * 512), 'Y');
  EXPECT_EQ(ByteOnDisk(path, 4 * 512), 0);
}

TEST_F(MappedFile, ABusErrorOutsideAGuardedCopyStillEndsTheProcess) {
  const std::string path = MakeFile("t.MTD", Pages(2));
  File f;
  ASSERT_EQ(f.Open(path, 0x40), 0);
  ASSERT_TRUE(f.MapForReading());  // installs the guard
  pid_t pid = fork();
  if (pid == 0) {
    int fd = ::open(path.c_str(), O_RDONLY);
    void* p = mmap(nullptr, 8192, PROT_READ, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED || ::truncate(path.c_str(), 0) != 0) _exit(2);
    volatile char c = static_cast<const char*>(p)[5000];
    (void)c;
    _exit(0);
  }
  // Ended by the disposition in place before the guard: the default action
  // (SIGBUS), or a sanitizer's report.
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFSIGNALED(status)) {
    EXPECT_EQ(WTERMSIG(status), SIGBUS);
  } else {
    EXPECT_NE(WEXITSTATUS(status), 0) << "the access went unnoticed";
    EXPECT_NE(WEXITSTATUS(status), 2) << "the child could not set up";
  }
}

// ---------------------------------------------------------------------------
// Paths

TEST(ChangeFileExt, ReplacesOnlyTheLastNameExtension) {
  EXPECT_EQ(ChangeFileExt("/logs/LogTabl.mti", ".MTD"), "/logs/LogTabl.MTD");
  EXPECT_EQ(ChangeFileExt("LogTabl.mti", ".mb2"), "LogTabl.mb2");
  EXPECT_EQ(ChangeFileExt("/logs/LogTabl", ".MTD"), "/logs/LogTabl.MTD");
  EXPECT_EQ(ChangeFileExt("/my.logs/LogTabl", ".MTD"), "/my.logs/LogTabl.MTD");
  EXPECT_EQ(ChangeFileExt("/my.logs/Log.Tabl.mti", ".blb"), "/my.logs/Log.Tabl.blb");
  EXPECT_EQ(ChangeFileExt("/logs/LogTabl.", ".MTD"), "/logs/LogTabl.MTD");
  EXPECT_EQ(ChangeFileExt("/logs/LogTabl.mti", ""), "/logs/LogTabl");
  EXPECT_EQ(ChangeFileExt("", ".MTD"), ".MTD");
}

using FileExistsTest = TempDir;

TEST_F(FileExistsTest, OnlyRegularFilesExist) {
  EXPECT_TRUE(FileExists(MakeFile("t.mti")));
  EXPECT_FALSE(FileExists(dir_ + "/missing.mti"));
  EXPECT_FALSE(FileExists(dir_));
  EXPECT_FALSE(FileExists(dir_ + "/t.mti/x"));
}

// The backup of a rebuild is created exclusively (an older copy is never
// overwritten) and its new files replace the old ones by renaming.
TEST_F(FileExistsTest, CreateRenameAndFolders) {
  const std::string old = MakeFile("t.MTD", "old");
  File f;
  EXPECT_EQ(f.Create(old, true), EEXIST);
  ASSERT_EQ(f.Create(dir_ + "/t.MTD.new", true), 0);
  EXPECT_EQ(f.Write("new!", 4), 4u);
  f.Sync();
  f.Close();
  EXPECT_EQ(RenameFile(dir_ + "/t.MTD.new", old), 0);
  EXPECT_EQ(fs::file_size(old), 4u);
  EXPECT_FALSE(FileExists(dir_ + "/t.MTD.new"));
  ASSERT_EQ(f.Create(old, false), 0);  // emptied
  f.Close();
  EXPECT_EQ(fs::file_size(old), 0u);

  EXPECT_EQ(MakeDirectory(dir_ + "/backup"), 0);
  EXPECT_TRUE(DirectoryExists(dir_ + "/backup"));
  EXPECT_EQ(MakeDirectory(dir_ + "/backup"), EEXIST);
  EXPECT_EQ(MakeDirectory(old + "/x"), ENOTDIR);
  EXPECT_EQ(SyncDirectory(dir_ + "/backup"), 0);
  EXPECT_EQ(RemoveFile(old), 0);
  EXPECT_EQ(RemoveFile(old), ENOENT);
  EXPECT_EQ(UtcTimeStamp().size(), 15u);
}

TEST(SleepOpenRetry, PausesAtLeast200Milliseconds) {
  auto start = std::chrono::steady_clock::now();
  SleepOpenRetry();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
}

}  // namespace
}  // namespace logvane::platform
