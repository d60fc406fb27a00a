// The consistency check of one index.
#include "index/index_check.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <utility>

#include "base/byte_order.h"
#include "index/index.h"
#include "index/index_names.h"
#include "index/large_directory.h"
#include "index/page_file.h"
#include "platform/file.h"
#include "table/keys.h"

namespace logvane {

namespace {

struct TCheckEntry {
  int32_t page = 0;
  int32_t record = -1;
  uint8_t prefix[kKeyPrefixSize] = {};
};

// Index files opened for reading beside any writer.
constexpr uint32_t kCheckOpenMode = platform::kAccessRead | platform::kShareDenyNone;

class TChecker {
 public:
  TChecker(const TIndexCheckInput& in, TKeySource& source)
      : in_(in),
        source_(source),
        def_(source.KeyTableDef()),
        format_(TPageFormat::ForLevel(def_.FormatLevel())),
        page_(static_cast<size_t>(format_.PageBytes())),
        prev_(static_cast<size_t>(def_.RecordLength())),
        cur_(static_cast<size_t>(def_.RecordLength())) {}

  std::vector<std::string> Run() {
    try {
      if (in_.live == nullptr) {
        Report("no set of live records to check against");
      } else if (OpenLeafFile() && ReadDirectory()) {
        WalkLeaves();
        CheckMissing();
        CheckFreeChain();
        CheckUnaccounted();
        if (in_.index == 0) CheckCounters();
        if (in_.open_index != nullptr) CheckOpenIndex();
      }
    } catch (const std::exception& e) {
      Report(std::string("the check stopped: ") + e.what());
    }
    if (in_.problem_count != nullptr) *in_.problem_count = problems_;
    if (problems_ > static_cast<int64_t>(lines_.size()))
      lines_.push_back(Prefix() + std::to_string(problems_ - static_cast<int64_t>(lines_.size())) +
                       " more problems not listed");
    return std::move(lines_);
  }

 private:
  std::string Prefix() const { return "index " + std::to_string(in_.index) + ": "; }

  void Report(const std::string& text) {
    ++problems_;
    if (static_cast<int64_t>(lines_.size()) < std::max(in_.max_lines, 0))
      lines_.push_back(Prefix() + text);
  }

  static std::string N(int64_t v) { return std::to_string(v); }
  int32_t Word(int k) const { return GetInt32(&page_[4 * static_cast<size_t>(k)]); }
  const uint8_t* PagePrefix(int k) const {
    return &page_[kKeyAreaOffset + kKeyPrefixSize * static_cast<size_t>(k - 1)];
  }
  int32_t Slots() const { return static_cast<int32_t>(in_.live->size()); }
  bool Live(int32_t r) const { return (*in_.live)[static_cast<size_t>(r)]; }

  bool OpenLeafFile() {
    const std::string path = LeafPageFileName(in_.table_path, in_.index);
    if (int err = leaf_.Open(path, kCheckOpenMode)) {
      Report("cannot open " + path + ": " + platform::ErrorText(err));
      return false;
    }
    leaf_.SetUnitSize(1);
    const int64_t bytes = leaf_.SizeInUnits();
    leaf_.SetUnitSize(static_cast<size_t>(format_.PageBytes()));
    pages_ = static_cast<int32_t>(std::min<int64_t>(bytes / format_.PageBytes(), INT32_MAX));
    if (bytes % format_.PageBytes() != 0)
      Report("the leaf page file ends in a partial page of " + N(bytes % format_.PageBytes()) +
             " bytes");
    if (pages_ < kFirstLeafPage + 1) {
      Report("the leaf page file has " + N(pages_) + " pages; an index needs at least 3");
      return false;
    }
    return true;
  }

  // Brings page `page` into page_; false (reported) when it cannot be read.
  bool ReadLeafPage(int32_t page) {
    leaf_.Seek(page);
    if (leaf_.Read(page_.data(), 1) != 1) {
      Report("page " + N(page) + " cannot be read");
      return false;
    }
    return true;
  }

  bool ReadDirectory() {
    const std::string path = DirectoryFileName(in_.table_path, in_.index);
    platform::File dir;
    if (int err = dir.Open(path, kCheckOpenMode)) {
      Report("cannot open " + path + ": " + platform::ErrorText(err));
      return false;
    }
    const int64_t bytes = dir.SizeInUnits();
    if (format_.has_prefixes)
      ReadLargeDirectory(dir, bytes);
    else
      ReadSmallDirectory(dir, bytes);
    if (entries_.empty()) Report("the directory lists no leaf page");
    return true;
  }

  void ReadSmallDirectory(platform::File& dir, int64_t bytes) {
    constexpr int kEntryBytes = 8;
    if (bytes % kEntryBytes != 0) Report("the directory file ends in a partial entry");
    const int64_t count = bytes / kEntryBytes;
    if (count > pages_) {
      Report("the directory lists " + N(count) + " pages; the leaf page file has " + N(pages_));
      return;
    }
    std::vector<uint8_t> raw(static_cast<size_t>(count) * kEntryBytes);
    dir.SetUnitSize(kEntryBytes);
    dir.Seek(0);
    if (count > 0 &&
        dir.Read(raw.data(), static_cast<size_t>(count)) != static_cast<size_t>(count)) {
      Report("the directory file cannot be read");
      return;
    }
    for (int64_t i = 0; i < count; ++i) {
      TCheckEntry e;
      e.page = GetInt32(&raw[static_cast<size_t>(i) * kEntryBytes]);
      e.record = GetInt32(&raw[static_cast<size_t>(i) * kEntryBytes + 4]);
      entries_.push_back(e);
    }
  }

  void ReadLargeDirectory(platform::File& dir, int64_t bytes) {
    if (bytes % kDirBlockBytes != 0) Report("the directory file ends in a partial block");
    const int64_t blocks = bytes / kDirBlockBytes;
    std::vector<uint8_t> block(kDirBlockBytes);
    dir.SetUnitSize(kDirBlockBytes);
    dir.Seek(0);
    if (blocks < 1 || dir.Read(block.data(), 1) != 1) {
      Report("the directory file has no block 0");
      return;
    }
    const int32_t count = GetInt32(block.data());
    if (count < 0) {
      Report("the directory counts " + N(count) + " entries");
      return;
    }
    const int64_t needed = (int64_t{count} + kDirEntriesPerBlock - 1) / kDirEntriesPerBlock + 1;
    if (blocks != needed)
      Report("the directory counts " + N(count) + " entries in " + N(blocks) +
             " blocks; that count needs " + N(needed));
    const int64_t readable = std::min<int64_t>(count, (blocks - 1) * kDirEntriesPerBlock);
    if (readable > pages_) {
      Report("the directory lists " + N(readable) + " pages; the leaf page file has " + N(pages_));
      return;
    }
    for (int64_t i = 0; i < readable; ++i) {
      const int64_t slot = i % kDirEntriesPerBlock;
      if (slot == 0) {
        dir.Seek(i / kDirEntriesPerBlock + 1);
        if (dir.Read(block.data(), 1) != 1) {
          Report("directory block " + N(i / kDirEntriesPerBlock + 1) + " cannot be read");
          return;
        }
      }
      const uint8_t* raw = &block[static_cast<size_t>(slot) * kDirEntryBytes];
      TCheckEntry e;
      e.page = GetInt32(raw);
      e.record = GetInt32(raw + 4);
      std::memcpy(e.prefix, raw + 8, kKeyPrefixSize);
      entries_.push_back(e);
    }
  }

  // Copies record r into cur_; false (reported) when it cannot be read.
  bool LoadRecord(int32_t r) {
    try {
      std::memcpy(cur_.data(), source_.LoadKeyRecord(r), cur_.size());
      return true;
    } catch (const std::exception& e) {
      Report("record " + N(r) + " cannot be read: " + e.what());
      return false;
    }
  }

  void WalkLeaves() {
    const int32_t m = format_.max_entries;
    const auto entries = static_cast<int32_t>(entries_.size());
    leaf_of_.assign(static_cast<size_t>(pages_), false);
    seen_.assign(in_.live->size(), false);
    counts_.assign(entries_.size(), -1);
    bool have_prev = false;
    int32_t prev_record = -1;
    const int autoinc = in_.index == 0 ? def_.AutoIncField() : -1;
    for (int32_t i = 0; i < entries; ++i) {
      const TCheckEntry& e = entries_[i];
      if (e.page < kFirstLeafPage || e.page >= pages_) {
        Report("directory entry " + N(i) + " names page " + N(e.page) +
               ", which is not a leaf page of the file");
        have_prev = false;
        continue;
      }
      if (leaf_of_[e.page]) {
        Report("page " + N(e.page) + " is named by more than one directory entry");
        have_prev = false;
        continue;
      }
      leaf_of_[e.page] = true;
      if (!ReadLeafPage(e.page)) {
        have_prev = false;
        continue;
      }
      const int32_t n = Word(0);
      if (n < 0 || n > m) {
        Report("page " + N(e.page) + " counts " + N(n) + " entries; a page holds 0 .. " + N(m));
        have_prev = false;
        continue;
      }
      counts_[i] = n;
      if (n == 0 && entries > 1)
        Report("page " + N(e.page) + " (directory entry " + N(i) + ") holds no entry");
      const int32_t first = n > 0 ? Word(1) : -1;
      if (e.record != first)
        Report("directory entry " + N(i) + " gives record " + N(e.record) +
               " as the first of page " + N(e.page) + ", which begins with " + N(first));
      if (format_.has_prefixes && n > 0 &&
          std::memcmp(e.prefix, PagePrefix(1), kKeyPrefixSize) != 0)
        Report("directory entry " + N(i) + " and page " + N(e.page) +
               " disagree on the first key prefix");
      for (int32_t k = 1; k <= n; ++k) {
        const int32_t r = Word(k);
        if (r < 0 || r >= Slots()) {
          Report("page " + N(e.page) + " entry " + N(k) + " names record " + N(r) +
                 ", outside the data file");
          have_prev = false;
          continue;
        }
        if (seen_[r]) Report("record " + N(r) + " is listed more than once");
        seen_[r] = true;
        if (!Live(r)) Report("record " + N(r) + " is listed but its slot is free");
        if (!LoadRecord(r)) {
          have_prev = false;
          continue;
        }
        if (autoinc >= 0 && cur_[autoinc] == kValueFlag) {
          const int32_t v = GetInt32(&cur_[def_.FieldOffset(autoinc)]);
          max_autoinc_ = has_autoinc_ ? std::max(max_autoinc_, v) : v;
          has_autoinc_ = true;
        }
        try {
          if (format_.has_prefixes &&
              ComparePrefix(def_, cur_.data(), PagePrefix(k), in_.index) != 0)
            Report("the key prefix stored with record " + N(r) + " does not match the record");
          if (have_prev) {
            const int c = CompareKeys(def_, prev_.data(), cur_.data(), true, in_.index);
            if (c >= 0)
              Report("record " + N(r) + " is listed after record " + N(prev_record) +
                     (c == 0 ? ", whose key is equal" : ", which sorts after it"));
          }
        } catch (const std::exception& x) {
          Report("records " + N(prev_record) + " and " + N(r) + " cannot be compared: " + x.what());
        }
        std::swap(prev_, cur_);
        prev_record = r;
        have_prev = true;
      }
    }
  }

  void CheckMissing() {
    for (int32_t r = 0; r < Slots(); ++r)
      if (Live(r) && !seen_[r]) Report("record " + N(r) + " is missing");
  }

  void CheckFreeChain() {
    chain_.clear();
    in_chain_.assign(static_cast<size_t>(pages_), false);
    if (!ReadLeafPage(0)) return;
    const int32_t announced = Word(0);
    int32_t page = Word(1);
    if (announced < 0) Report("page 0 counts " + N(announced) + " free pages");
    const auto count = static_cast<int64_t>(std::max(announced, 0));
    for (;;) {
      const auto held = static_cast<int64_t>(chain_.size());
      if (page == -1) {
        if (held != count)
          Report("page 0 counts " + N(count) + " free pages; the chain holds " + N(held));
        return;
      }
      if (held >= count) {
        Report("the free chain goes on after the " + N(count) + " pages page 0 counts");
        return;
      }
      if (page < kFirstLeafPage || page >= pages_) {
        Report("the free chain reaches page " + N(page) + ", which is not a page of the file");
        return;
      }
      if (in_chain_[page]) {
        Report("the free chain reaches page " + N(page) + " twice");
        return;
      }
      if (leaf_of_[page]) {
        Report("page " + N(page) + " is both a leaf page and in the free chain");
        return;
      }
      if (!ReadLeafPage(page)) return;
      if (Word(0) != 0) Report("free page " + N(page) + " counts " + N(Word(0)) + " entries");
      in_chain_[page] = true;
      chain_.push_back(page);
      page = Word(1);
    }
  }

  void CheckUnaccounted() {
    for (int32_t page = kFirstLeafPage; page < pages_; ++page)
      if (!leaf_of_[page] && !in_chain_[page])
        Report("page " + N(page) + " is neither a leaf page nor free");
  }

  void CheckCounters() {
    if (!ReadLeafPage(1)) return;
    const int32_t free_records = Word(0);
    const int32_t first_free = Word(1);
    const int32_t next_autoinc = Word(2);
    int32_t free_slots = 0;
    for (int32_t r = 0; r < Slots(); ++r) free_slots += Live(r) ? 0 : 1;
    if (free_records < 0 || free_records > free_slots)
      Report("the counters give " + N(free_records) + " free records; the data file has " +
             N(free_slots) + " free slots");
    if ((first_free == -1) != (free_records == 0))
      Report("the counters give " + N(free_records) + " free records and first free record " +
             N(first_free));
    if (first_free != -1 && (first_free < 0 || first_free >= Slots()))
      Report("the first free record " + N(first_free) + " is outside the data file");
    else if (first_free != -1 && Live(first_free))
      Report("the first free record " + N(first_free) + " is a live record");
    if (has_autoinc_ && next_autoinc <= max_autoinc_)
      Report("the next autoincrement value " + N(next_autoinc) +
             " is not above the largest one stored, " + N(max_autoinc_));
  }

  void CheckOpenIndex() {
    const TIndex& ix = *in_.open_index;
    if (ix.Directory().Count() != static_cast<int32_t>(entries_.size()))
      Report("the directory in memory counts " + N(ix.Directory().Count()) +
             " entries; the file lists " + N(static_cast<int64_t>(entries_.size())));
    const TPageCounts& counts = ix.PageCounts();
    if (counts.Size() != static_cast<int32_t>(counts_.size())) {
      Report("the page counts in memory cover " + N(counts.Size()) +
             " pages; the directory lists " + N(static_cast<int64_t>(counts_.size())));
    } else {
      for (int32_t i = 0; i < counts.Size(); ++i)
        if (counts.At(i) != counts_[i]) {
          Report("the page count in memory of directory entry " + N(i) + " is " + N(counts.At(i)) +
                 "; its page holds " + N(counts_[i]));
          break;
        }
    }
    if (ix.FreePages() != chain_) Report("the free-page list in memory differs from the chain");
  }

  const TIndexCheckInput& in_;
  TKeySource& source_;
  const TmtbTableDef& def_;
  const TPageFormat& format_;
  platform::File leaf_;
  int32_t pages_ = 0;
  std::vector<uint8_t> page_;
  std::vector<TCheckEntry> entries_;
  std::vector<int32_t> counts_;  // entry count of each directory entry's page, -1 unread
  std::vector<bool> leaf_of_;    // pages named by the directory
  std::vector<bool> seen_;       // records listed
  std::vector<bool> in_chain_;   // pages in the free chain
  std::vector<int32_t> chain_;   // the free chain in order
  std::vector<uint8_t> prev_;
  std::vector<uint8_t> cur_;
  bool has_autoinc_ = false;
  int32_t max_autoinc_ = 0;
  int64_t problems_ = 0;
  std::vector<std::string> lines_;
};

}  // namespace

std::vector<std::string> CheckIndex(const TIndexCheckInput& input, TKeySource& source) {
  try {
    TChecker checker(input, source);
    return checker.Run();
  } catch (const std::exception& e) {
    if (input.problem_count != nullptr) *input.problem_count = 1;
    return {"index " + std::to_string(input.index) + ": the check stopped: " + e.what()};
  }
}

}  // namespace logvane
