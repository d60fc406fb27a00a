// Files as the table engine sees them: opened with an access mode and a share
// mode, read and written in fixed-size units at a position, sized in whole
// units, truncated at the current position.
//
// Mode word (the open-existing mode of the table engine):
//   access  = mode & 3         0 read, 1 write, 2 read and write
//   sharing = (mode & 0xF0)>>4 0/1 exclusive, 2 others may read,
//                              3 others may write, 4 others may read and write
//
// Share modes exclude between processes: an open with access set A and deny
// set D is refused while another open of the same file holds access in D or
// denies something in A. Each open marks what it holds and what it denies
// with shared open-file-description locks on bytes far beyond any real data,
// then tests the other side's marks. Because every open marks before it
// tests, two racing conflicting opens can both be refused but never both
// admitted. The marks vanish with the descriptor, so a dead process leaves
// nothing behind.
//
// Reads and writes use pread/pwrite at a position kept in memory: a seek is
// free, and consecutive reads need no system call besides the transfer.
//
// A file may also be mapped for reading: reads that fall inside the mapping
// are then copies from memory, guarded against the file being cut short
// under the mapping (guarded_copy.h); a read that meets a page no longer
// backed by the file is done again with pread, which reports what the file
// holds now. (The page a cut falls in stays backed: its bytes past the cut
// read as zeros.) Writes go through pwrite, which the mapping sees at once;
// bytes beyond the mapping (the file grew) are read with pread.
//
// A file opened for reading and writing may instead be mapped for writing:
// then writes inside the file's size as this process knows it are guarded
// stores into the mapping as well, which put the bytes into the same system
// page cache that pwrite fills (other processes' reads see them at once,
// and they outlive this process as pwrite's do) without a system call. A
// write that extends the file still goes through pwrite, so that a full
// disk is reported as an error; the mapping reserves address space beyond
// the end, so the grown part is served from it at once. A store that meets
// a page the file no longer backs is done again with pwrite.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace logvane::platform {

enum FileMode : uint32_t {
  kAccessRead = 0x00,
  kAccessWrite = 0x01,
  kAccessReadWrite = 0x02,
  kShareExclusive = 0x10,
  kShareDenyWrite = 0x20,
  kShareDenyRead = 0x30,
  kShareDenyNone = 0x40,
};

class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens an existing file with `mode`. Returns 0 on success, else the
  // errno of the failure (EACCES when another open's share mode refuses).
  // Never throws. The unit size starts at 1.
  int Open(const std::string& path, uint32_t mode);

  // Creates the file at `path` for writing, unit size 1, without share
  // marks (nobody else knows the new file yet). With `exclusive` an existing
  // file is refused (EEXIST); otherwise it is emptied. Returns 0 on success,
  // else the errno of the failure. Never throws.
  int Create(const std::string& path, bool exclusive);

  // Opens an existing file with the process-wide default access (see
  // SetDefaultReadOnly) and full sharing, with the given unit size.
  // Throws EInOutError on failure.
  void OpenPositioned(const std::string& path, size_t unit_size);

  bool IsOpen() const { return fd_ >= 0; }
  // The descriptor number, -1 when closed.
  int Handle() const { return fd_; }
  void Close();

  size_t UnitSize() const { return unit_; }
  void SetUnitSize(size_t unit_size);

  // Moves the position to unit `unit` (no system call).
  void Seek(int64_t unit) { pos_ = unit; }
  int64_t Position() const { return pos_; }

  // Reads up to `units` whole units at the position; returns the number of
  // whole units read and advances the position by it. Throws EInOutError
  // when the system call fails.
  size_t Read(void* buffer, size_t units);
  // Writes `units` units at the position; returns the number of whole units
  // written and advances the position by it. Throws EInOutError.
  size_t Write(const void* buffer, size_t units);
  // Writes like Write, but one piece per system page the bytes touch, the
  // last page's piece first. The system copies a write into its page cache
  // page by page and gives up between pages when the process is killed, so
  // a kill cuts a write only at a page boundary and keeps what precedes the
  // cut. In this order a kill part-way leaves the first page's piece, and
  // with it the first bytes, as they were. (A store into a writable mapping
  // gives no such promise: a kill may cut it anywhere.)
  size_t WriteLastPageFirst(const void* buffer, size_t units);

  // Reads `units1` units into `buffer1`, then `units2` units into
  // `buffer2`, from the position in one call: the read and write of a
  // record kept in two buffers. Returns the whole units read (of both) and
  // advances the position by them. Throws EInOutError.
  size_t ReadTwo(void* buffer1, size_t units1, void* buffer2, size_t units2);
  // Writes `units1` units from `buffer1`, then `units2` units from
  // `buffer2`, at the position in one call; returns the units written and
  // advances the position by them. Throws EInOutError.
  size_t WriteTwo(const void* buffer1, size_t units1, const void* buffer2, size_t units2);
  // Maps the file's current content for reading (see above). Returns false,
  // leaving reads to pread, for an empty or write-only file or when the
  // mapping or its guard cannot be set up. Mapping again first drops the
  // old mapping.
  bool MapForReading();
  // Maps the file for reading and writing (see above). Returns false,
  // leaving every transfer to the system calls, for a descriptor not open
  // for both or when the mapping or its guard cannot be set up.
  bool MapForWriting();
  void Unmap();
  bool Mapped() const { return map_ != nullptr; }
  // Asks the processor to start loading `units` units at unit `unit` from
  // the mapping into its caches, so that a read soon after does not wait
  // for memory. A hint only: nothing is read, no fault can follow, and
  // without a mapping, or outside it, nothing happens.
  void Prefetch(int64_t unit, size_t units) const;

  // Size of the file in whole units. Throws EInOutError.
  int64_t SizeInUnits() const;
  // REQUIRES: Mapped(). The size in whole units as this process knows it,
  // without a system call: the size when the file was mapped, grown by this
  // process's writes and cut by its truncations. It is the file's size as
  // long as no other process writes the file.
  int64_t OwnSizeInUnits() const { return own_bytes_ / static_cast<int64_t>(unit_); }
  // Cuts the file at the position; a mapping then serves no bytes past the
  // cut. Throws EInOutError.
  void Truncate();
  // Forces what was written to the disk. Throws EInOutError.
  void Sync();

  // Whether another open of this file (in any process) holds write access.
  // Only asks: places nothing and changes nothing. Throws EInOutError.
  bool OthersHoldWriteAccess() const;

 private:
  int fd_ = -1;
  int lock_fd_ = -1;  // separate read descriptor for share marks on a write-only open
  size_t unit_ = 1;
  int64_t pos_ = 0;
  const char* map_ = nullptr;
  size_t map_length_ = 0;  // bytes mapped
  size_t map_usable_ = 0;  // bytes served from the mapping
  int64_t own_bytes_ = 0;  // OwnSizeInUnits in bytes
  bool map_writable_ = false;
  bool read_write_ = false;  // the descriptor is open for reading and writing

  bool Map(size_t length, bool writable);
  // Writes `n` bytes at byte `offset`, through the writable mapping where
  // it serves them, else with pwrite.
  void WriteBytes(const char* bytes, size_t n, int64_t offset);
  // Whether the mapping serves the `n` bytes at byte `offset`.
  bool Serves(int64_t offset, size_t n) const {
    return map_ != nullptr && offset >= 0 && static_cast<uint64_t>(offset) <= map_usable_ &&
           n <= map_usable_ - static_cast<size_t>(offset);
  }
  // Stores n1 bytes of b1 and then n2 of b2 at byte `offset` through a
  // writable mapping; false when they are not stored that way.
  bool StoreMapped(const void* b1, size_t n1, const void* b2, size_t n2, int64_t offset);
  // After a write through pwrite: the size this process knows, and for a
  // writable mapping the bytes it serves, grown to `end`.
  void NoteWrittenUpTo(int64_t end);
};

bool FileExists(const std::string& path);
// The path with its extension (from the last '.' after the last '/') replaced
// by `ext`, which includes the dot.
std::string ChangeFileExt(const std::string& path, const std::string& ext);
// The system's text for an error number (errno).
std::string ErrorText(int error_code);
// Whether `path` names a directory.
bool DirectoryExists(const std::string& path);
// Creates the directory `path`. Returns 0, or the errno (EEXIST when the
// name is taken).
int MakeDirectory(const std::string& path);
// Renames `from` to `to`, replacing `to`. Returns 0 or the errno.
int RenameFile(const std::string& from, const std::string& to);
// Removes the file `path`. Returns 0 or the errno.
int RemoveFile(const std::string& path);
// Forces the directory's entries (renames, new files) to the disk. Returns 0
// or the errno.
int SyncDirectory(const std::string& path);
// The system clock in UTC as "yyyymmdd-hhnnss".
std::string UtcTimeStamp();
// The pause between two attempts to open a table.
void SleepOpenRetry();

// Whether files may be mapped for reading (on by default). A host that
// handles SIGBUS itself turns it off; every read then uses pread. Applies to
// mappings made afterwards.
void AllowFileMappings(bool allowed);

// The process-wide default access of positioned file opens: read-only, or
// read and write.
void SetDefaultReadOnly(bool read_only);
bool DefaultReadOnly();

// For tests of failure handling. The file operations of every File of the
// process fall into four kinds: reads (Read, ReadTwo), writes (Write,
// WriteTwo), sizes (SizeInUnits) and truncations (Truncate).
enum FileOperation : unsigned {
  kOpRead = 1,
  kOpWrite = 2,
  kOpSize = 4,
  kOpTruncate = 8,
  kOpAll = 15,
};

// Fails the `n`-th operation from now (n >= 1) among the kinds in `kinds`
// with EIO, before it reads or changes anything; n = 0 disarms. While armed
// every operation of every kind is counted, so arming with a large n
// measures how many operations of each kind a run makes. An unarmed process
// pays one relaxed load and a branch per operation.
void FailNthOperation(int64_t n, unsigned kinds = kOpAll);
// Operations of the kinds in `kinds` counted since the last arming.
int64_t OperationsCounted(unsigned kinds = kOpAll);

// The same hook for writes and truncations alone.
inline void FailNthWrite(int64_t n) { FailNthOperation(n, kOpWrite | kOpTruncate); }
// Writes and truncations counted since the last arming.
inline int64_t WritesCounted() { return OperationsCounted(kOpWrite | kOpTruncate); }

}  // namespace logvane::platform
