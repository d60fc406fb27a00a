// The consistency check of a whole table.
#include "engine/table_check.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <utility>

#include "base/byte_order.h"
#include "base/errors.h"
#include "blob/blob_check.h"
#include "engine/db_engine.h"
#include "index/index_check.h"
#include "index/index_names.h"
#include "index/key_source.h"
#include "index/page_file.h"
#include "platform/file.h"
#include "table/record_manager.h"
#include "table/table_definition.h"

namespace logvane {

namespace {

constexpr uint32_t kCheckOpenMode = platform::kAccessRead | platform::kShareDenyNone;
// Records read at a time by the pass over the data file.
constexpr int kChunkBytes = 64 * 1024;

std::string N(int64_t v) { return std::to_string(v); }

// The problems of one part, each line starting with the part's name; lines
// beyond the limit are only counted.
class TPartReport {
 public:
  TPartReport(TTableCheckReport& report, std::string prefix, int max_lines)
      : report_(report), prefix_(std::move(prefix)), max_lines_(std::max(max_lines, 0)) {}
  ~TPartReport() {
    if (count_ > listed_)
      report_.problems.push_back(prefix_ + N(count_ - listed_) + " more problems not listed");
  }
  TPartReport(const TPartReport&) = delete;
  TPartReport& operator=(const TPartReport&) = delete;

  void Add(const std::string& text) {
    ++count_;
    ++report_.problem_count;
    if (listed_ < max_lines_) {
      report_.problems.push_back(prefix_ + text);
      ++listed_;
    }
  }

 private:
  TTableCheckReport& report_;
  std::string prefix_;
  int max_lines_;
  int64_t count_ = 0;
  int64_t listed_ = 0;
};

// Stored records for the index checks, read through the check's own handle.
class TCheckRecords : public TKeySource {
 public:
  TCheckRecords(const TmtbTableDef& def, platform::File& data, int32_t slots)
      : def_(def), data_(data), slots_(slots), buffer_(static_cast<size_t>(def.RecordLength())) {}
  const TmtbTableDef& KeyTableDef() const override { return def_; }
  int32_t KeySlotCount() override { return slots_; }
  const uint8_t* LoadKeyRecord(int32_t n) override {
    data_.Seek(n);
    if (n < 0 || n >= slots_ || data_.Read(buffer_.data(), 1) != 1)
      throw Exception("record " + N(n) + " cannot be read");
    return buffer_.data();
  }

 private:
  const TmtbTableDef& def_;
  platform::File& data_;
  int32_t slots_;
  std::vector<uint8_t> buffer_;
};

class TTableChecker {
 public:
  TTableChecker(const std::string& path, const TTableCheckOptions& options,
                TTableCheckReport& report)
      : path_(path), options_(options), report_(report) {}

  void Run() {
    const int32_t open_code = TryEngineOpen();
    if (open_code < 0 && open_code >= kOpenDataFileFailed) return;
    if (!ReadDefinition() || !OpenDataFile()) return;
    report_.readable = true;
    CheckDefinition();
    ScanDataFile();
    if (report_.writer_present)
      CheckWriterFreeList();
    else
      CheckFreeChain();
    CheckIndexes();
    CheckBlobs();
    if (open_code < 0 && !report_.writer_present) {
      TPartReport part(report_, "table: ", options_.max_lines);
      part.Add("does not open: " + open_failure_.Describe());
    }
  }

 private:
  // The engine's own open, read-only beside any writer: whether the table
  // can be read at all, and why not. The process-wide file mode it sets is
  // put back.
  int32_t TryEngineOpen() {
    const bool default_read_only = platform::DefaultReadOnly();
    TmtbDBEng engine;
    const int32_t code = engine.OpenTable(path_, kOpenReadBesideWriter, 0);
    open_failure_ = engine.LastOpenFailure();
    try {
      engine.CloseTable();
    } catch (...) {
      // A read-only close writes nothing; it only releases files.
    }
    platform::SetDefaultReadOnly(default_read_only);
    if (code < 0 && code >= kOpenDataFileFailed) report_.cause = open_failure_.Describe();
    return code;
  }

  bool Unreadable(const std::string& cause) {
    report_.readable = false;
    report_.cause = cause;
    return false;
  }

  bool ReadDefinition() {
    if (int err = definition_.Open(path_, kCheckOpenMode))
      return Unreadable("open the definition file " + path_ + ": " + platform::ErrorText(err));
    try {
      report_.writer_present = definition_.OthersHoldWriteAccess();
      ReadTableDefinition(definition_, def_);
    } catch (const std::exception& e) {
      return Unreadable("read the definition " + path_ + ": " + e.what());
    }
    return true;
  }

  bool OpenDataFile() {
    const std::string mtd = platform::ChangeFileExt(path_, ".MTD");
    if (int err = data_.Open(mtd, kCheckOpenMode))
      return Unreadable("open the data file " + mtd + ": " + platform::ErrorText(err));
    try {
      data_bytes_ = data_.SizeInUnits();
      data_.SetUnitSize(static_cast<size_t>(def_.RecordLength()));
      slots_ =
          static_cast<int32_t>(std::min<int64_t>(data_bytes_ / def_.RecordLength(), INT32_MAX));
    } catch (const std::exception& e) {
      return Unreadable("open the data file " + mtd + ": " + e.what());
    }
    return true;
  }

  const std::string& FieldName(int f) const { return def_.Field(f).name; }

  void CheckDefinition() {
    TPartReport part(report_, "definition: ", options_.max_lines);
    if (def_.IndexCount() == 0) part.Add("the table has no index; index 0 carries its counters");
    std::vector<int> by_offset(static_cast<size_t>(def_.FieldCount()));
    for (int f = 0; f < def_.FieldCount(); ++f) by_offset[static_cast<size_t>(f)] = f;
    std::sort(by_offset.begin(), by_offset.end(),
              [&](int a, int b) { return def_.Field(a).offset < def_.Field(b).offset; });
    for (size_t k = 1; k < by_offset.size(); ++k) {
      const TmtbFieldDesc& a = def_.Field(by_offset[k - 1]);
      const TmtbFieldDesc& b = def_.Field(by_offset[k]);
      if (a.offset + a.size > b.offset)
        part.Add("fields " + a.name + " and " + b.name + " share bytes of the record");
    }
    int autoinc = -1;
    for (int f = 0; f < def_.FieldCount(); ++f) {
      if (def_.Field(f).type_code == 'A') {
        if (autoinc >= 0)
          part.Add("fields " + FieldName(autoinc) + " and " + FieldName(f) +
                   " are both autoincrement fields");
        autoinc = f;
      }
      if (IsBlobType(def_.Field(f).type_code)) {
        if (!def_.HasBlobFile())
          part.Add("field " + FieldName(f) + " is a blob field but the table has no blob file");
      }
    }
    for (int i = 0; i < def_.IndexCount(); ++i) {
      const TmtbIndexDesc& x = def_.Index(i);
      for (int k = 0; k < x.key_field_count; ++k)
        if (IsBlobType(def_.Field(x.key_fields[k]).type_code))
          part.Add("index " + N(i) + " (" + x.name + ") has the blob field " +
                   FieldName(x.key_fields[k]) + " as a key field");
    }
  }

  // One pass over the data file: which slots are live, the link of every
  // free slot, the blob references of the live records, and the null flags
  // and strings of each.
  void ScanDataFile() {
    TPartReport part(report_, "data file: ", options_.max_lines);
    const int length = def_.RecordLength();
    if (data_bytes_ % length != 0)
      part.Add("ends in a partial record of " + N(data_bytes_ % length) + " bytes");
    live_.assign(static_cast<size_t>(slots_), false);
    next_.assign(static_cast<size_t>(slots_), -1);
    const int32_t per_chunk = std::max(1, kChunkBytes / length);
    std::vector<uint8_t> chunk(static_cast<size_t>(per_chunk) * static_cast<size_t>(length));
    for (int32_t first = 0; first < slots_; first += per_chunk) {
      const auto want = static_cast<size_t>(std::min(per_chunk, slots_ - first));
      data_.Seek(first);
      const size_t got = data_.Read(chunk.data(), want);
      for (size_t k = 0; k < got; ++k)
        Record(part, first + static_cast<int32_t>(k),
               chunk.data() + k * static_cast<size_t>(length));
      if (got < want) {
        part.Add("records from " + N(first + static_cast<int64_t>(got)) + " cannot be read");
        slots_ = first + static_cast<int32_t>(got);
        live_.resize(static_cast<size_t>(slots_));
        next_.resize(static_cast<size_t>(slots_));
        break;
      }
    }
  }

  void Record(TPartReport& part, int32_t n, const uint8_t* image) {
    if (image[0] == kFreeRecordMarker) {
      next_[static_cast<size_t>(n)] = GetInt32(image + 4);
      return;
    }
    live_[static_cast<size_t>(n)] = true;
    for (int f = 0; f < def_.FieldCount(); ++f) {
      const TmtbFieldDesc& field = def_.Field(f);
      if (image[f] > 1) {
        part.Add("record " + N(n) + ": field " + field.name + " has the null flag " + N(image[f]));
        continue;
      }
      if (image[f] != 1) continue;
      if (field.type_code == 'S' && std::memchr(image + field.offset, 0, field.size) == nullptr)
        part.Add("record " + N(n) + ": the string of field " + field.name +
                 " does not end inside its slot");
      if (IsBlobType(field.type_code) && def_.HasBlobFile())
        references_.push_back({n, f, GetInt32(image + field.offset)});
    }
  }

  // Follows the chain from the counters' head for as many records as they
  // give. The head itself (outside the file, live, or disagreeing with the
  // count) is the index check's finding on index 0's counters.
  void CheckFreeChain() {
    TPartReport part(report_, "free chain: ", options_.max_lines);
    int32_t count = 0, head = -1;
    if (!ReadCounters(&count, &head)) return;
    std::vector<bool> on_chain(static_cast<size_t>(slots_), false);
    int32_t taken = 0;
    int32_t p = head;
    int32_t last = -1;
    if (count > 0 && head >= 0 && head < slots_ && !live_[static_cast<size_t>(head)]) {
      while (taken < count) {
        if (p == -1) {
          part.Add("the chain ends after " + N(taken) + " records; the counters give " + N(count));
          break;
        }
        if (p < 0 || p >= slots_) {
          part.Add("record " + N(last) + " links to " + N(p) + ", outside the data file");
          break;
        }
        if (live_[static_cast<size_t>(p)]) {
          part.Add("record " + N(last) + " links to the live record " + N(p));
          break;
        }
        if (on_chain[static_cast<size_t>(p)]) {
          part.Add("record " + N(p) + " is reached twice");
          break;
        }
        on_chain[static_cast<size_t>(p)] = true;
        ++taken;
        last = p;
        p = next_[static_cast<size_t>(p)];
      }
      if (taken == count && p != -1)
        part.Add("the chain runs on from record " + N(last) + " past the " + N(count) +
                 " records the counters give");
    }
    int64_t off_chain = 0;
    int32_t first_off = -1;
    for (int32_t r = 0; r < slots_; ++r) {
      if (live_[static_cast<size_t>(r)] || on_chain[static_cast<size_t>(r)]) continue;
      if (off_chain++ == 0) first_off = r;
    }
    if (off_chain > 0)
      part.Add(N(off_chain) + " free records are not on the chain, the first is record " +
               N(first_off));
  }

  bool ReadCounters(int32_t* count, int32_t* head) {
    if (def_.IndexCount() == 0) return false;
    const TPageFormat& format = TPageFormat::ForLevel(def_.FormatLevel());
    platform::File leaf;
    if (leaf.Open(LeafPageFileName(path_, 0), kCheckOpenMode) != 0) return false;
    leaf.SetUnitSize(static_cast<size_t>(format.PageBytes()));
    std::vector<uint8_t> page(static_cast<size_t>(format.PageBytes()));
    leaf.Seek(1);
    if (leaf.Read(page.data(), 1) != 1) return false;
    *count = GetInt32(page.data());
    *head = GetInt32(page.data() + 4);
    return true;
  }

  // The writer's free list in memory: slots of the file, free, listed once.
  void CheckWriterFreeList() {
    if (options_.writer == nullptr) return;
    TPartReport part(report_, "free list in memory: ", options_.max_lines);
    std::vector<bool> listed(static_cast<size_t>(slots_), false);
    for (int32_t r : options_.writer->FreeList()) {
      if (r < 0 || r >= slots_)
        part.Add("names record " + N(r) + ", outside the data file");
      else if (live_[static_cast<size_t>(r)])
        part.Add("names the live record " + N(r));
      else if (listed[static_cast<size_t>(r)])
        part.Add("names record " + N(r) + " twice");
      else
        listed[static_cast<size_t>(r)] = true;
    }
  }

  void CheckIndexes() {
    TCheckRecords records(def_, data_, slots_);
    for (int i = 0; i < def_.IndexCount(); ++i) {
      TIndexCheckInput in;
      in.table_path = path_;
      in.index = i;
      in.live = &live_;
      in.max_lines = options_.max_lines;
      int64_t found = 0;
      in.problem_count = &found;
      if (options_.writer != nullptr && i < options_.writer->Indexes().IndexCount())
        in.open_index = &options_.writer->Indexes().IndexAt(i);
      for (std::string& line : CheckIndex(in, records)) report_.problems.push_back(std::move(line));
      report_.problem_count += found;
    }
  }

  void CheckBlobs() {
    if (!def_.HasBlobFile()) return;
    TPartReport part(report_, "", options_.max_lines);  // its lines name the blob file
    for (const std::string& line :
         CheckBlobFile(platform::ChangeFileExt(path_, ".blb"), references_))
      part.Add(line);
  }

  const std::string& path_;
  const TTableCheckOptions& options_;
  TTableCheckReport& report_;
  TOpenFailure open_failure_;
  platform::File definition_;
  TmtbTableDef def_;
  platform::File data_;
  int64_t data_bytes_ = 0;
  int32_t slots_ = 0;
  std::vector<bool> live_;
  std::vector<int32_t> next_;
  std::vector<TBlobReference> references_;
};

}  // namespace

TTableCheckReport CheckTable(const std::string& mti_path, const TTableCheckOptions& options) {
  TTableCheckReport report;
  try {
    TTableChecker(mti_path, options, report).Run();
  } catch (const std::exception& e) {
    report.problems.push_back(std::string("the check stopped: ") + e.what());
    ++report.problem_count;
  }
  return report;
}

}  // namespace logvane
