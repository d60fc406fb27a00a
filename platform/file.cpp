#include "platform/file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <thread>

#include "platform/exceptions.h"
#include "platform/guarded_copy.h"

namespace logvane::platform {

namespace {

static_assert(sizeof(off_t) >= 8, "share marks need 64-bit file offsets");

// Share marks: one byte each, far beyond any real data.
constexpr off_t kMarkBase = 0x7FFFFFFF00000000;
enum Mark : off_t { kHoldsRead = 0, kHoldsWrite = 1, kDeniesRead = 2, kDeniesWrite = 3 };

constexpr unsigned kRead = 1;
constexpr unsigned kWrite = 2;

std::atomic<bool> g_default_read_only{false};
std::atomic<bool> g_mappings_allowed{true};

// The test hook of FailNthOperation: armed while g_hook_armed is set; the
// countdown runs over the operations of the kinds in g_fail_kinds.
std::atomic<bool> g_hook_armed{false};
std::atomic<unsigned> g_fail_kinds{0};
std::atomic<int64_t> g_fail_countdown{0};
std::atomic<int64_t> g_counted[4];

int KindSlot(FileOperation kind) {
  switch (kind) {
    case kOpRead: return 0;
    case kOpWrite: return 1;
    case kOpSize: return 2;
    default: return 3;
  }
}

// Counts an operation of the armed hook and fails the one it names.
[[gnu::noinline]] void CountArmedOperation(FileOperation kind) {
  g_counted[KindSlot(kind)].fetch_add(1, std::memory_order_relaxed);
  if ((g_fail_kinds.load(std::memory_order_relaxed) & kind) == 0) return;
  if (g_fail_countdown.fetch_sub(1, std::memory_order_relaxed) == 1)
    throw EInOutError(EIO, std::strerror(EIO));
}

inline void CountOperation(FileOperation kind) {
  if (g_hook_armed.load(std::memory_order_relaxed)) [[unlikely]]
    CountArmedOperation(kind);
}

// Places a shared mark; returns 0 or errno.
int PlaceMark(int fd, Mark mark) {
  struct flock fl {};
  fl.l_type = F_RDLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = kMarkBase + mark;
  fl.l_len = 1;
  return fcntl(fd, F_OFD_SETLK, &fl) == 0 ? 0 : errno;
}

// Whether another open file description holds `mark`; returns 0 or errno.
int MarkedElsewhere(int fd, Mark mark, bool* marked) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = kMarkBase + mark;
  fl.l_len = 1;
  if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return errno;
  *marked = fl.l_type != F_UNLCK;
  return 0;
}

// Marks what this open holds and denies, then looks for the other side's
// marks. Returns 0, EACCES on a conflict, or the errno of a failed call.
int ClaimShare(int fd, unsigned access, unsigned deny) {
  const struct {
    bool wanted;
    Mark mark;
  } marks[] = {{(access & kRead) != 0, kHoldsRead},
               {(access & kWrite) != 0, kHoldsWrite},
               {(deny & kRead) != 0, kDeniesRead},
               {(deny & kWrite) != 0, kDeniesWrite}};
  for (const auto& m : marks) {
    if (!m.wanted) continue;
    if (int err = PlaceMark(fd, m.mark)) return err;
  }
  // Refused when another open holds what we deny or denies what we hold.
  const struct {
    bool wanted;
    Mark mark;
  } tests[] = {{(deny & kRead) != 0, kHoldsRead},
               {(deny & kWrite) != 0, kHoldsWrite},
               {(access & kRead) != 0, kDeniesRead},
               {(access & kWrite) != 0, kDeniesWrite}};
  for (const auto& t : tests) {
    if (!t.wanted) continue;
    bool marked = false;
    if (int err = MarkedElsewhere(fd, t.mark, &marked)) return err;
    if (marked) return EACCES;
  }
  return 0;
}

int OpenNoIntr(const char* path, int flags) {
  int fd;
  do {
    fd = ::open(path, flags);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

[[noreturn]] void ThrowErrno(int err) { throw EInOutError(err, std::strerror(err)); }

// Byte offset of unit `unit`; EINVAL for a negative or overflowing position.
off_t ByteOffset(int64_t unit, size_t unit_size) {
  int64_t offset = 0;
  if (unit < 0 || __builtin_mul_overflow(unit, static_cast<int64_t>(unit_size), &offset))
    ThrowErrno(EINVAL);
  return static_cast<off_t>(offset);
}

size_t ByteCount(size_t units, size_t unit_size) {
  size_t bytes = 0;
  if (__builtin_mul_overflow(units, unit_size, &bytes) || bytes > SSIZE_MAX) ThrowErrno(EINVAL);
  return bytes;
}

}  // namespace

File::~File() { Close(); }

File::File(File&& other) noexcept
    : fd_(other.fd_),
      lock_fd_(other.lock_fd_),
      unit_(other.unit_),
      pos_(other.pos_),
      map_(other.map_),
      map_length_(other.map_length_),
      map_usable_(other.map_usable_),
      own_bytes_(other.own_bytes_),
      map_writable_(other.map_writable_),
      read_write_(other.read_write_) {
  other.fd_ = -1;
  other.lock_fd_ = -1;
  other.map_ = nullptr;
  other.map_length_ = other.map_usable_ = 0;
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    lock_fd_ = other.lock_fd_;
    unit_ = other.unit_;
    pos_ = other.pos_;
    map_ = other.map_;
    map_length_ = other.map_length_;
    map_usable_ = other.map_usable_;
    own_bytes_ = other.own_bytes_;
    map_writable_ = other.map_writable_;
    read_write_ = other.read_write_;
    other.fd_ = -1;
    other.lock_fd_ = -1;
    other.map_ = nullptr;
    other.map_length_ = other.map_usable_ = 0;
  }
  return *this;
}

int File::Open(const std::string& path, uint32_t mode) {
  Close();
  unit_ = 1;
  pos_ = 0;

  int flags;
  unsigned access;
  switch (mode & 3) {
    case 0:
      flags = O_RDONLY;
      access = kRead;
      break;
    case 1:
      flags = O_WRONLY;
      access = kWrite;
      break;
    case 2:
      flags = O_RDWR;
      access = kRead | kWrite;
      break;
    default: return EINVAL;
  }
  unsigned deny;
  switch ((mode & 0xF0) >> 4) {
    case 0:
    case 1: deny = kRead | kWrite; break;
    case 2: deny = kWrite; break;
    case 3: deny = kRead; break;
    case 4: deny = 0; break;
    default: return EINVAL;
  }

  int fd = OpenNoIntr(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return errno;
  // A read-only open of a folder succeeds on POSIX; a folder is not a file.
  struct stat st;
  int stat_err = fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
  if (stat_err != 0) {
    ::close(fd);
    return stat_err;
  }

  // Shared locks need a readable descriptor; a write-only open marks through
  // a second one, which must reach the same file.
  int lock_fd = fd;
  if (access == kWrite) {
    lock_fd = OpenNoIntr(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat lst;
    int err = 0;
    if (lock_fd < 0 || fstat(lock_fd, &lst) != 0)
      err = errno;
    else if (lst.st_dev != st.st_dev || lst.st_ino != st.st_ino)
      err = EAGAIN;  // the path was replaced between the two opens
    if (err != 0) {
      if (lock_fd >= 0) ::close(lock_fd);
      ::close(fd);
      return err;
    }
  }

  if (int err = ClaimShare(lock_fd, access, deny)) {
    if (lock_fd != fd) ::close(lock_fd);
    ::close(fd);
    return err;
  }
  fd_ = fd;
  lock_fd_ = lock_fd != fd ? lock_fd : -1;
  read_write_ = access == (kRead | kWrite);
  return 0;
}

int File::Create(const std::string& path, bool exclusive) {
  Close();
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (exclusive ? O_EXCL : O_TRUNC);
  int fd;
  do {
    fd = ::open(path.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno;
  fd_ = fd;
  read_write_ = false;
  unit_ = 1;
  pos_ = 0;
  return 0;
}

void File::OpenPositioned(const std::string& path, size_t unit_size) {
  if (unit_size == 0) throw EInOutError(EINVAL, "Unit size 0: " + path);
  uint32_t mode = (DefaultReadOnly() ? kAccessRead : kAccessReadWrite) | kShareDenyNone;
  if (int err = Open(path, mode))
    throw EInOutError(err, std::string(std::strerror(err)) + ": " + path);
  unit_ = unit_size;
}

void File::Close() {
  Unmap();
  // Closing releases the share marks with the descriptors.
  if (lock_fd_ >= 0) ::close(lock_fd_);
  if (fd_ >= 0) ::close(fd_);
  lock_fd_ = -1;
  fd_ = -1;
}

// A zero unit size would make every count and size meaningless: refuse it.
void File::SetUnitSize(size_t unit_size) {
  if (unit_size == 0) ThrowErrno(EINVAL);
  unit_ = unit_size;
}

bool File::Map(size_t length, bool writable) {
  const int prot = writable ? PROT_READ | PROT_WRITE : PROT_READ;
  void* p = mmap(nullptr, length, prot, MAP_SHARED, fd_, 0);
  if (p == MAP_FAILED) return false;  // a write-only descriptor, or no room
  map_ = static_cast<const char*>(p);
  map_length_ = length;
  map_writable_ = writable;
  return true;
}

bool File::MapForReading() {
  Unmap();
  if (fd_ < 0 || !g_mappings_allowed.load() || !EnableGuardedCopies()) return false;
  struct stat st;
  if (fstat(fd_, &st) != 0 || st.st_size <= 0) return false;
  const auto length = static_cast<size_t>(st.st_size);
  if (!Map(length, false)) return false;
  map_usable_ = length;
  own_bytes_ = static_cast<int64_t>(length);
  return true;
}

namespace {

// Address space a writable mapping reserves: twice the bytes it must serve,
// at least 1 MiB, in whole 64 KiB steps.
size_t ReservedLength(uint64_t bytes) {
  constexpr uint64_t kStep = 64 * 1024, kLeast = 1024 * 1024;
  const uint64_t want = std::max(kLeast, bytes * 2);
  return static_cast<size_t>((want + kStep - 1) / kStep * kStep);
}

}  // namespace

bool File::MapForWriting() {
  Unmap();
  if (fd_ < 0 || !read_write_ || !g_mappings_allowed.load() || !EnableGuardedCopies()) return false;
  struct stat st;
  if (fstat(fd_, &st) != 0 || st.st_size < 0) return false;
  const auto size = static_cast<uint64_t>(st.st_size);
  if (size > SIZE_MAX / 4 || !Map(ReservedLength(size), true)) return false;
  map_usable_ = static_cast<size_t>(size);
  own_bytes_ = static_cast<int64_t>(size);
  return true;
}

void File::Unmap() {
  if (map_ != nullptr) munmap(const_cast<char*>(map_), map_length_);
  map_ = nullptr;
  map_length_ = map_usable_ = 0;
  map_writable_ = false;
}

bool File::StoreMapped(const void* b1, size_t n1, const void* b2, size_t n2, int64_t offset) {
  if (!map_writable_ || !Serves(offset, n1 + n2)) return false;
  char* at = const_cast<char*>(map_) + offset;
  return GuardedStore(at, b1, n1) && GuardedStore(at + n1, b2, n2);
}

void File::NoteWrittenUpTo(int64_t end) {
  if (end <= own_bytes_) return;
  own_bytes_ = end;
  if (!map_writable_) return;
  const auto bytes = static_cast<uint64_t>(end);
  if (bytes > map_length_) {
    // Outgrown: a larger reservation; the old one goes, and with it the
    // mapping if the larger one cannot be made.
    const size_t length = bytes > SIZE_MAX / 4 ? 0 : ReservedLength(bytes);
    void* p = length == 0 ? MAP_FAILED
                          : mremap(const_cast<char*>(map_), map_length_, length, MREMAP_MAYMOVE);
    if (p == MAP_FAILED) {
      Unmap();
      return;
    }
    map_ = static_cast<const char*>(p);
    map_length_ = length;
  }
  map_usable_ = static_cast<size_t>(bytes);
}

void File::Prefetch(int64_t unit, size_t units) const {
  if (map_ == nullptr || unit < 0) return;
  const auto first = static_cast<uint64_t>(unit) * unit_;
  const uint64_t end = first + static_cast<uint64_t>(units) * unit_;
  if (unit > static_cast<int64_t>(map_usable_) || end > map_usable_ || end < first) return;
  constexpr uint64_t kLine = 64;
  for (uint64_t at = first & ~(kLine - 1); at < end; at += kLine) __builtin_prefetch(map_ + at);
}

size_t File::Read(void* buffer, size_t units) {
  CountOperation(kOpRead);
  const size_t want = ByteCount(units, unit_);
  const off_t offset = ByteOffset(pos_, unit_);
  size_t done = 0;
  if (Serves(offset, want) && GuardedCopy(buffer, map_ + offset, want)) {
    done = want;
  }
  while (done < want) {
    ssize_t n = pread(fd_, static_cast<char*>(buffer) + done, want - done, offset + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowErrno(errno);
    }
    if (n == 0) break;  // end of file
    done += static_cast<size_t>(n);
  }
  const size_t whole = done / unit_;
  pos_ += static_cast<int64_t>(whole);
  return whole;
}

void File::WriteBytes(const char* bytes, size_t want, int64_t offset) {
  size_t done = StoreMapped(bytes, want, nullptr, 0, offset) ? want : 0;
  while (done < want) {
    ssize_t n = pwrite(fd_, bytes + done, want - done, offset + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowErrno(errno);
    }
    if (n == 0) ThrowErrno(EIO);  // no progress: avoid spinning
    done += static_cast<size_t>(n);
  }
  NoteWrittenUpTo(static_cast<int64_t>(offset) + static_cast<int64_t>(want));
}

size_t File::Write(const void* buffer, size_t units) {
  CountOperation(kOpWrite);
  WriteBytes(static_cast<const char*>(buffer), ByteCount(units, unit_), ByteOffset(pos_, unit_));
  pos_ += static_cast<int64_t>(units);
  return units;
}

size_t File::WriteLastPageFirst(const void* buffer, size_t units) {
  CountOperation(kOpWrite);
  const size_t want = ByteCount(units, unit_);
  const off_t offset = ByteOffset(pos_, unit_);
  static const off_t page = std::max(sysconf(_SC_PAGESIZE), 4096L);
  // Cut at every page boundary inside the bytes, then write the pieces from
  // the last one back to the first.
  off_t end = offset + static_cast<off_t>(want);
  while (end > offset) {
    const off_t start = std::max(offset, (end - 1) / page * page);
    WriteBytes(static_cast<const char*>(buffer) + (start - offset),
               static_cast<size_t>(end - start), start);
    end = start;
  }
  pos_ += static_cast<int64_t>(units);
  return units;
}

namespace {

// The part of two buffers that lies at and after byte `done` of their
// concatenation; returns the number of iovec entries used.
int Remaining(iovec (&iov)[2], void* b1, size_t n1, void* b2, size_t n2, size_t done) {
  int count = 0;
  if (done < n1) iov[count++] = {static_cast<char*>(b1) + done, n1 - done};
  const size_t into2 = done > n1 ? done - n1 : 0;
  if (into2 < n2) iov[count++] = {static_cast<char*>(b2) + into2, n2 - into2};
  return count;
}

}  // namespace

size_t File::ReadTwo(void* buffer1, size_t units1, void* buffer2, size_t units2) {
  CountOperation(kOpRead);
  const size_t n1 = ByteCount(units1, unit_), n2 = ByteCount(units2, unit_);
  const off_t offset = ByteOffset(pos_, unit_);
  const size_t want = n1 + n2;
  size_t done = 0;
  if (Serves(offset, want) && GuardedCopy(buffer1, map_ + offset, n1) &&
      GuardedCopy(buffer2, map_ + offset + n1, n2)) {
    done = want;
  }
  while (done < want) {
    iovec iov[2];
    const int count = Remaining(iov, buffer1, n1, buffer2, n2, done);
    ssize_t n = preadv(fd_, iov, count, offset + static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowErrno(errno);
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  const size_t whole = done / unit_;
  pos_ += static_cast<int64_t>(whole);
  return whole;
}

size_t File::WriteTwo(const void* buffer1, size_t units1, const void* buffer2, size_t units2) {
  CountOperation(kOpWrite);
  const size_t n1 = ByteCount(units1, unit_), n2 = ByteCount(units2, unit_);
  const off_t offset = ByteOffset(pos_, unit_);
  const size_t want = n1 + n2;
  size_t done = StoreMapped(buffer1, n1, buffer2, n2, offset) ? want : 0;
  while (done < want) {
    iovec iov[2];
    const int count =
        Remaining(iov, const_cast<void*>(buffer1), n1, const_cast<void*>(buffer2), n2, done);
    ssize_t n = pwritev(fd_, iov, count, offset + static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowErrno(errno);
    }
    if (n == 0) ThrowErrno(EIO);
    done += static_cast<size_t>(n);
  }
  pos_ += static_cast<int64_t>(units1 + units2);
  NoteWrittenUpTo(static_cast<int64_t>(offset) + static_cast<int64_t>(want));
  return units1 + units2;
}

int64_t File::SizeInUnits() const {
  CountOperation(kOpSize);
  struct stat st;
  if (fstat(fd_, &st) != 0) ThrowErrno(errno);
  return static_cast<int64_t>(st.st_size) / static_cast<int64_t>(unit_);
}

void File::Truncate() {
  CountOperation(kOpTruncate);
  const off_t length = ByteOffset(pos_, unit_);
  int rc;
  do {
    rc = ftruncate(fd_, length);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) ThrowErrno(errno);
  if (map_usable_ > static_cast<size_t>(length)) map_usable_ = static_cast<size_t>(length);
  own_bytes_ = length;
}

void File::Sync() {
  if (fsync(fd_) != 0) ThrowErrno(errno);
}

bool File::OthersHoldWriteAccess() const {
  const int fd = lock_fd_ >= 0 ? lock_fd_ : fd_;
  bool marked = false;
  if (int err = MarkedElsewhere(fd, kHoldsWrite, &marked)) ThrowErrno(err);
  return marked;
}

std::string ErrorText(int error_code) { return std::strerror(error_code); }

bool FileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string ChangeFileExt(const std::string& path, const std::string& ext) {
  const size_t dot = path.find_last_of("./");
  if (dot != std::string::npos && path[dot] == '.') return path.substr(0, dot) + ext;
  return path + ext;
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int MakeDirectory(const std::string& path) { return mkdir(path.c_str(), 0777) == 0 ? 0 : errno; }

int RenameFile(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0 ? 0 : errno; }

int SyncDirectory(const std::string& path) {
  const int fd = OpenNoIntr(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  const int err = fsync(fd) == 0 ? 0 : errno;
  ::close(fd);
  return err;
}

std::string UtcTimeStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &utc);
  return text;
}

void SleepOpenRetry() { std::this_thread::sleep_for(std::chrono::milliseconds(200)); }

void AllowFileMappings(bool allowed) { g_mappings_allowed.store(allowed); }

void SetDefaultReadOnly(bool read_only) { g_default_read_only.store(read_only); }
bool DefaultReadOnly() { return g_default_read_only.load(); }

void FailNthOperation(int64_t n, unsigned kinds) {
  g_hook_armed.store(false, std::memory_order_relaxed);
  for (auto& c : g_counted) c.store(0, std::memory_order_relaxed);
  if (n <= 0) return;
  g_fail_kinds.store(kinds, std::memory_order_relaxed);
  g_fail_countdown.store(n, std::memory_order_relaxed);
  g_hook_armed.store(true, std::memory_order_relaxed);
}

int64_t OperationsCounted(unsigned kinds) {
  int64_t total = 0;
  for (FileOperation kind : {kOpRead, kOpWrite, kOpSize, kOpTruncate})
    if (kinds & kind) total += g_counted[KindSlot(kind)].load(std::memory_order_relaxed);
  return total;
}

}  // namespace logvane::platform
