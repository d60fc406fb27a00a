// The data file (.MTD) and the record manager that reads and writes it.
//
// The file is an array of fixed-length records of L bytes with no header;
// record n (0-based) occupies bytes n*L .. n*L+L-1, and the slot count is the
// file size in whole records. A live record starts with one null-flag byte
// per field (1 value, 0 null), followed by the field slots. A free record is
//
//   byte 0      0xFF (never a null flag, which is 0 or 1)
//   bytes 4..7  int32 number of the next free record, -1 at the chain's end
//   all other bytes 0
//
// The manager owns seven work buffers of L bytes (0 current/edit image,
// 1..4 range images, 5 second image, 6 scratch) and a pinned-record table of
// S = 2^k slots (S <= 32, the table below 65535 bytes); record n always uses
// slot n & (S - 1). All buffers are allocated when the file opens; reading
// and writing records allocates nothing. A run of consecutive record numbers
// is read or written without seeking.
//
// A live record is written last page first (platform/file.h), so a writer
// killed while filling a free slot leaves the slot free, never a record
// whose tail is still the free slot's zeros; a free marker is one write.
//
// Read-ahead: while no other process may write the table (the table lock
// denies writing to others), a reader maps the data file into memory and
// every record read is a copy from the mapping, with no system call. A
// writer, or a file that cannot be mapped, has a run of consecutive reads
// served from a window of records read in one call instead; WriteRecord
// keeps the window current and a writer reads the records it wrote lately
// back from copies. Growth adds records past every one read ahead and
// leaves both as they are; DropReadCaches starts them afresh after a cut. Without read-ahead every
// record read goes to the file, so that changes written by another process are seen at once.
//
// A program that ignores the table lock may still cut the file short under
// the mapping: a record read then meets the end of the file and raises the
// I/O message as a read past the end does (platform/file.h). Only the page
// the cut falls in stays mapped, its bytes past the cut reading as zeros,
// as if that program had written them there before cutting.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/file.h"

namespace logvane {

inline constexpr uint8_t kFreeRecordMarker = 0xFF;
inline constexpr int kWorkBufferCount = 7;
inline constexpr int kMaxPinSlots = 32;

class TmtbRecMgr {
 public:
  TmtbRecMgr() = default;
  virtual ~TmtbRecMgr() = default;
  TmtbRecMgr(const TmtbRecMgr&) = delete;
  TmtbRecMgr& operator=(const TmtbRecMgr&) = delete;

  // Opens the existing data file with the process-wide default access and
  // allocates the buffers. Throws EInOutError or EDedaZiRecMgrError.
  void OpenDataFile(const std::string& path, int record_length);
  // Allows read-ahead (the mapping, or else the window); only while no
  // other process can write the data file.
  void SetReadAhead(bool allowed);
  // Forgets every record read ahead and, with read-ahead allowed, maps a
  // reader's data file afresh at its current length. A cut of the file
  // calls it.
  void DropReadCaches();
  void CloseDataFile();
  bool DataFileOpen() const { return file_.IsOpen(); }

  // Reads record n into buffer. Raises "I/O error on mtd file<n>/<size>"
  // for a number outside the file, a short read or a free record.
  void ReadRecord(uint8_t* buffer, int32_t n);
  // Announces that record n will be read soon: with the data file mapped,
  // its bytes start on their way into the processor's caches. A hint that
  // never fails and reads nothing.
  void PrefetchRecord(int32_t n) const {
    if (n >= 0 && n < slot_count_) file_.Prefetch(n, 1);
  }
  // Writes buffer as the existing record n.
  void WriteRecord(const uint8_t* buffer, int32_t n);

  uint8_t* PinRecord(int32_t n);
  void UnpinRecord(int32_t n);
  void StoreRecord(int32_t n, const uint8_t* image);
  void DropRecord(int32_t n);
  void CopyRecord(int32_t n, uint8_t* dest);
  void ClearImage(uint8_t* image, uint8_t value) const;

  // Removes the last k slots (all when k is out of range); returns the new
  // slot count.
  int32_t TruncateDataFile(int32_t k);
  // The slot count, after confirming that the file still has that many.
  int32_t CheckDataFileSize();

  // REQUIRES: 0 <= i < kWorkBufferCount and the data file open.
  uint8_t* WorkBuffer(int i) { return work_[i]; }

  // The free list: slots of free records, entry 0 being the slot the next
  // append uses. On disk the free records form a chain through bytes 4..7,
  // whose head and length live in the table counters; the whole chain is
  // rewritten only at close.
  //
  // Builds the list by following the chain from `head` for at most `count`
  // records; a next number outside the file ends it early. Every record
  // taken must carry the free marker and appear once, else "I/O error on
  // mtd file".
  void LoadFreeChain(int32_t count, int32_t head);
  // Writes the list as one chain in list order and empties it.
  void WriteFreeChain();
  // Builds the list from a scan of every slot, ascending.
  void RescanFreeRecords();
  // Appends ten chained free records to the file and to the (empty) list.
  void GrowFreeChain();
  std::vector<int32_t>& FreeList() { return free_list_; }

  int RecordLength() const { return record_length_; }
  int32_t SlotCount() const { return slot_count_; }
  int PinSlotCount() const { return pin_mask_ + 1; }

 private:
  struct PinSlot {
    int32_t pins = 0;
    int32_t record = -1;
    uint8_t* buffer = nullptr;
  };

  [[noreturn]] void RaiseIo(int32_t n);
  [[noreturn]] static void RaiseCacheInvalid();
  void SeekFor(int32_t n);
  // Reads slot n whether it is live or free; false when it was not read whole.
  bool ReadSlot(uint8_t* buffer, int32_t n);
  bool InFreeList(int32_t n) const;
  // Serves record n from the read-ahead window, filling it when n continues
  // a run; false when the record must be read on its own.
  bool ReadThroughWindow(uint8_t* buffer, int32_t n);
  void DropWindow() { window_count_ = 0; }

  platform::File file_;
  std::string path_;
  int record_length_ = 0;
  int32_t slot_count_ = 0;
  int32_t last_position_ = -2;
  std::unique_ptr<uint8_t[]> work_block_;
  uint8_t* work_[kWorkBufferCount] = {};
  // While no other process may write the table: copies of the records
  // written lately, which are what the file holds there. Record n lives in
  // entry n % count; an entry names its record (-1: none).
  bool writable_ = false;  // the data file was opened for writing
  std::unique_ptr<uint8_t[]> written_;
  std::vector<int32_t> written_record_;
  // Forgets every copy.
  void DropWritten();
  // Room for the free records GrowFreeChain writes at once.
  std::unique_ptr<uint8_t[]> growth_;
  int32_t growth_records_ = 0;
  std::unique_ptr<uint8_t[]> pin_block_;
  PinSlot pins_[kMaxPinSlots];
  int pin_mask_ = 0;
  std::vector<int32_t> free_list_;

  bool read_ahead_ = false;
  std::unique_ptr<uint8_t[]> window_;
  int32_t window_capacity_ = 0;  // records
  int32_t window_first_ = 0;
  int32_t window_count_ = 0;
  int32_t run_length_ = 0;  // consecutive reads so far
};

}  // namespace logvane
