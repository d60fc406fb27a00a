#include "platform/text_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace logvane::platform {

int TextFileErrorCode(int errno_value) {
  switch (errno_value) {
    case ENOENT: return 2;
    case ENOTDIR:
    case ENAMETOOLONG:
    case EINVAL: return 3;
    case EMFILE:
    case ENFILE: return 4;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return 5;
    case ENOSPC:
    case EDQUOT: return 101;
    default: return errno_value;
  }
}

TextFile::~TextFile() {
  if (fd_ >= 0) ::close(fd_);
}

int TextFile::Create(const std::string& path) {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  error_ = 0;
  used_ = 0;
  if (path.empty()) return error_ = TextFileErrorCode(ENOENT);
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return error_ = TextFileErrorCode(errno);
  fd_ = fd;
  if (capacity_ < kBufferSize) {
    buffer_ = std::make_unique<char[]>(kBufferSize);
    capacity_ = kBufferSize;
  }
  return 0;
}

int TextFile::MakeRoomSlow(size_t n) {
  if (int err = Flush()) return err;
  if (n > capacity_) {
    buffer_ = std::make_unique<char[]>(n);
    capacity_ = n;
  }
  return 0;
}

int TextFile::Write(const char* data, size_t n) {
  if (int err = MakeRoom(n)) return err;
  std::memcpy(WritePosition(), data, n);
  Advance(n);
  return 0;
}

int TextFile::Flush() {
  if (error_ != 0) return error_;
  if (fd_ < 0) return error_ = TextFileErrorCode(EBADF);
  const char* p = buffer_.get();
  size_t left = used_;
  used_ = 0;
  while (left > 0) {
    ssize_t n = ::write(fd_, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return error_ = TextFileErrorCode(errno);
    }
    if (n == 0) return error_ = TextFileErrorCode(ENOSPC);  // no progress, no error
    p += n;
    left -= static_cast<size_t>(n);
  }
  return 0;
}

int TextFile::Close() {
  int result = fd_ >= 0 ? Flush() : error_;
  if (fd_ >= 0) {
    if (::close(fd_) != 0 && result == 0 && errno != EINTR) result = TextFileErrorCode(errno);
    fd_ = -1;
  }
  return result;
}

}  // namespace logvane::platform
