// An output text file written through one large buffer: created (or
// truncated), filled in memory, written out in blocks of 1 MiB or more,
// closed. Writing allocates nothing after Create.
//
// Errors are returned, never thrown, as text-file error codes:
//    2 file not found        (ENOENT)
//    3 invalid filename      (ENOTDIR, ENAMETOOLONG, EINVAL)
//    4 too many open files   (EMFILE, ENFILE)
//    5 file access denied    (EACCES, EPERM, EROFS, EISDIR)
//  101 disk full             (ENOSPC, EDQUOT)
// and any other failure as its errno value. After a failed write the file
// keeps what was written before; the buffered rest is dropped and every
// later write or close answers the same code.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace logvane::platform {

class TextFile {
 public:
  static constexpr size_t kBufferSize = 1024 * 1024;

  TextFile() = default;
  // Closes the file without writing out what is still buffered.
  ~TextFile();
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;

  // Creates the file, or truncates an existing one, for writing. Returns 0
  // or an error code.
  [[nodiscard]] int Create(const std::string& path);
  bool IsOpen() const { return fd_ >= 0; }

  // Output is placed straight into the buffer: MakeRoom(n) guarantees n
  // free bytes at WritePosition() (writing out what is buffered, or growing
  // the buffer for a request larger than it), the caller writes up to n
  // bytes there and then calls Advance with the count written.
  [[nodiscard]] int MakeRoom(size_t n) { return n <= capacity_ - used_ ? error_ : MakeRoomSlow(n); }
  char* WritePosition() { return buffer_.get() + used_; }
  // REQUIRES: n <= the room made.
  void Advance(size_t n) { used_ += n; }
  // Copies `n` bytes into the buffer.
  [[nodiscard]] int Write(const char* data, size_t n);

  // Writes out everything buffered.
  [[nodiscard]] int Flush();
  // Writes out the buffer and closes. The file is closed whatever happens;
  // the first error met is returned.
  [[nodiscard]] int Close();

 private:
  int MakeRoomSlow(size_t n);

  int fd_ = -1;
  int error_ = 0;
  std::unique_ptr<char[]> buffer_;
  size_t capacity_ = 0;
  size_t used_ = 0;
};

// The text-file error code of an errno value (table above).
int TextFileErrorCode(int errno_value);

}  // namespace logvane::platform
