// The blob file's consistency check. Layout and invariants: blob_block.h.
//
// One mark per block records what claims it (the free chain, a referred
// value, an unreferred value), so every block is examined once, loops end
// at the first revisit, and the memory used is one int32 per block; block
// headers are read as they are needed.
#include "blob/blob_check.h"

#include <exception>
#include <sstream>

#include "base/byte_order.h"
#include "blob/blob_block.h"
#include "platform/exceptions.h"
#include "platform/file.h"
#include "table/record_manager.h"

namespace logvane {

namespace {

constexpr int32_t kUnclaimed = -1;
constexpr int32_t kOnFreeChain = -2;
constexpr int32_t kUnreferred = -3;

class StoppedCheck : public std::exception {};

class BlobChecker {
 public:
  BlobChecker(const std::string& path, std::vector<std::string>& lines)
      : path_(path), lines_(lines) {}

  void Run(const std::vector<TBlobReference>& references) {
    if (!Open()) return;
    CheckFreeChain();
    for (size_t i = 0; i < references.size(); ++i) CheckValue(references[i], static_cast<int>(i));
    CheckUnclaimed();
  }

 private:
  template <typename... Parts>
  void Report(const Parts&... parts) {
    std::ostringstream line;
    line << "blob: ";
    (line << ... << parts);
    lines_.push_back(line.str());
  }

  bool Open() {
    if (int err = file_.Open(path_, platform::kAccessRead | platform::kShareDenyNone)) {
      Report(path_, " cannot be opened: ", platform::ErrorText(err));
      return false;
    }
    const int64_t size = file_.SizeInUnits();
    uint8_t head[8];
    if (size < 8 || file_.Read(head, sizeof head) != sizeof head) {
      Report("the file of ", size, " bytes has no whole header");
      return false;
    }
    block_size_ = GetInt32(head);
    free_head_ = GetInt32(head + kBlobFreeHeadOffset);
    if (block_size_ <= kBlobHeaderSize || block_size_ > size) {
      Report("block size ", block_size_, " does not fit a file of ", size, " bytes");
      return false;
    }
    if (size % block_size_ != 0)
      Report("file size ", size, " is not a multiple of the block size ", block_size_);
    payload_ = block_size_ - kBlobHeaderSize;
    block_count_ = size / block_size_;
    marks_.assign(static_cast<size_t>(block_count_), kUnclaimed);
    return true;
  }

  bool IsBlock(int64_t offset) const {
    return offset >= block_size_ && offset % block_size_ == 0 &&
           offset / block_size_ < block_count_;
  }
  int32_t& Mark(int64_t offset) { return marks_[static_cast<size_t>(offset / block_size_)]; }

  TBlobBlockHeader Header(int64_t offset) {
    uint8_t bytes[kBlobHeaderSize];
    file_.Seek(offset);
    if (file_.Read(bytes, sizeof bytes) != sizeof bytes) {
      Report("the header of block ", offset, " cannot be read; the file has changed");
      throw StoppedCheck();
    }
    TBlobBlockHeader h;
    h.Decode(bytes);
    return h;
  }

  // The chain an open follows: from the head in block 0 while the offset is
  // above 0. Its length is not judged: a writer holds more than the 10
  // blocks an open accepts until its close compacts the file.
  void CheckFreeChain() {
    int64_t previous = 0;
    for (int64_t at = free_head_; at > 0;) {
      if (!IsBlock(at)) {
        Report("free chain: link ", at, " from ", Where(previous), " is not a block of the file");
        break;
      }
      if (Mark(at) == kOnFreeChain) {
        Report("free chain: block ", at, " is visited twice");
        break;
      }
      const TBlobBlockHeader h = Header(at);
      if (!h.IsFree()) {
        Report("free chain: block ", at, " (linked from ", Where(previous),
               ") is in use; the chain ends there for an open");
        break;
      }
      if (h.next != -1 || h.prev != -1 || h.owner != -1 || h.field != -1)
        Report("free chain: block ", at, " has header fields besides its link that are not -1");
      if (at <= previous)
        Report("free chain: block ", at, " follows block ", previous, " (not ascending)");
      Mark(at) = kOnFreeChain;
      previous = at;
      at = h.NextFree();
    }
  }

  static std::string Where(int64_t previous) {
    return previous == 0 ? std::string("the head") : "block " + std::to_string(previous);
  }

  void CheckValue(const TBlobReference& ref, int index) {
    const std::string owner =
        "record " + std::to_string(ref.record) + " field " + std::to_string(ref.field);
    const std::string who = owner + ": ";
    owners_.push_back(owner);  // index `index`, also for a chain that loops back on itself
    if (!IsBlock(ref.reference)) {
      Report(who, "reference ", ref.reference, " is not a block of the file");
      return;
    }
    const TBlobBlockHeader first = Header(ref.reference);
    if (first.owner != ref.record)
      Report(who, "value at ", ref.reference, " names record ", first.owner, " as its owner");
    if (first.field != ref.field)
      Report(who, "value at ", ref.reference, " names field ", first.field);
    if (!first.IsFree() && first.total <= 0)
      Report(who, "value at ", ref.reference, " has total size ", first.total);

    int64_t at = ref.reference;
    int64_t back = -1;
    int64_t held = 0;
    bool whole = true;
    TBlobBlockHeader h = first;
    for (int64_t k = 0;; ++k) {
      if (Mark(at) == kOnFreeChain) {
        Report(who, "block ", at, " is on the free chain");
        whole = false;
        break;
      }
      if (Mark(at) >= 0) {
        Report(who, "block ", at, " also belongs to ", owners_[static_cast<size_t>(Mark(at))]);
        whole = false;
        break;
      }
      if (k > 0) h = Header(at);
      if (h.IsFree()) {
        Report(who, "block ", at, " is marked free");
        whole = false;
        break;
      }
      Mark(at) = index;
      if (h.prev != back) Report(who, "block ", at, " links back to ", h.prev, ", not ", back);
      if (k > 0) {
        if (h.owner != -1)
          Report(who, "block ", at, " names owner ", h.owner, " but is no first block");
        if (h.field != first.field) Report(who, "block ", at, " names field ", h.field);
        if (h.total != first.total)
          Report(who, "block ", at, " records total size ", h.total, ", the first block ",
                 first.total);
      }
      if (h.used < 0 || h.used > payload_) {
        Report(who, "block ", at, " uses ", h.used, " bytes of ", payload_);
        whole = false;
      } else {
        held += h.used;
        if (h.next >= 0 && h.used != payload_)
          Report(who, "block ", at, " uses ", h.used, " bytes but is not the last block");
      }
      if (h.next < 0) break;
      if (!IsBlock(h.next)) {
        Report(who, "block ", at, " links on to ", h.next, ", which is not a block of the file");
        whole = false;
        break;
      }
      back = at;
      at = h.next;
    }
    if (whole && held != first.total)
      Report(who, "the blocks hold ", held, " bytes, the total size is ", first.total);
  }

  // Values whose first block no record refers to are reported once each,
  // with their chains; every other unclaimed block on its own.
  void CheckUnclaimed() {
    for (int64_t k = 1; k < block_count_; ++k) {
      const int64_t offset = k * block_size_;
      if (Mark(offset) != kUnclaimed) continue;
      const TBlobBlockHeader h = Header(offset);
      if (h.IsFree()) {
        Mark(offset) = kUnreferred;
        Report("block ", offset, " is marked free but is not on the free chain");
        continue;
      }
      if (h.prev != -1) continue;
      int64_t blocks = 0;
      for (int64_t at = offset, back = -1; IsBlock(at) && Mark(at) == kUnclaimed;) {
        const TBlobBlockHeader b = at == offset ? h : Header(at);
        if (b.IsFree() || b.prev != back) break;
        Mark(at) = kUnreferred;
        ++blocks;
        back = at;
        at = b.next;
      }
      Report("value at ", offset, " (owner record ", h.owner, ", field ", h.field, ", ", h.total,
             " bytes, ", blocks, blocks == 1 ? " block" : " blocks",
             ") is referred to by no record");
    }
    for (int64_t k = 1; k < block_count_; ++k)
      if (Mark(k * block_size_) == kUnclaimed)
        Report("block ", k * block_size_, " is neither free nor part of a referred value");
  }

  std::string path_;
  std::vector<std::string>& lines_;
  platform::File file_;
  int32_t block_size_ = 0;
  int32_t payload_ = 0;
  int32_t free_head_ = -1;
  int64_t block_count_ = 0;
  std::vector<int32_t> marks_;
  std::vector<std::string> owners_;
};

}  // namespace

std::vector<std::string> CheckBlobFile(const std::string& path,
                                       const std::vector<TBlobReference>& references) {
  std::vector<std::string> lines;
  try {
    BlobChecker(path, lines).Run(references);
  } catch (const StoppedCheck&) {
  } catch (const std::exception& e) {
    lines.push_back(std::string("blob: the check stopped: ") + e.what());
  } catch (...) {
    lines.push_back("blob: the check stopped");
  }
  return lines;
}

std::vector<std::string> CheckBlobFile(const std::string& path, const TmtbTableDef& def,
                                       int32_t slot_count, const TBlobRecordReader& read_record) {
  std::vector<TBlobReference> references;
  std::vector<std::string> flags;
  try {
    for (int32_t r = 0; r < slot_count; ++r) {
      const uint8_t* image = read_record(r);
      if (image == nullptr || image[0] == kFreeRecordMarker) continue;
      for (int f = 0; f < def.FieldCount(); ++f) {
        if (!IsBlobType(def.Field(f).type_code)) continue;
        if (image[f] == 1)
          references.push_back({r, f, GetInt32(image + def.Field(f).offset)});
        else if (image[f] != 0)
          flags.push_back("blob: record " + std::to_string(r) + " field " + std::to_string(f) +
                          ": null flag " + std::to_string(image[f]));
      }
    }
  } catch (const std::exception& e) {
    flags.push_back(std::string("blob: reading the records stopped: ") + e.what());
  }
  std::vector<std::string> lines = CheckBlobFile(path, references);
  lines.insert(lines.begin(), flags.begin(), flags.end());
  return lines;
}

}  // namespace logvane
