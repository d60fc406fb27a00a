// Rebuilding a table from its data file. What it makes and in which order:
// table_rebuild.h. Every file of the table is read whole into memory once;
// the backup is written from those bytes and the new files are made from
// them, so the backup is exactly what the rebuild worked from.
#include "engine/table_rebuild.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "base/byte_order.h"
#include "blob/blob_block.h"
#include "blob/blob_check.h"
#include "engine/db_engine.h"
#include "index/index_build.h"
#include "index/index_names.h"
#include "index/page_file.h"
#include "platform/exceptions.h"
#include "platform/file.h"
#include "table/keys.h"
#include "table/record_manager.h"
#include "table/stored_value.h"
#include "table/table_definition.h"

namespace logvane {

namespace {

std::string N(int64_t v) { return std::to_string(v); }

// The table's files are untouchable while another program has the table:
// the definition file opened exclusively keeps every other open out.
constexpr uint32_t kTakeMode = platform::kAccessRead | platform::kShareExclusive;
constexpr uint32_t kReadMode = platform::kAccessRead | platform::kShareDenyNone;
constexpr const char* kTemporarySuffix = ".rebuild";
// Free blocks a rebuilt blob file keeps, as the close compaction leaves it.
constexpr int kRebuiltFreeBlocks = kBlobReserveBlocks;
// Float key values at or above this magnitude can make a key comparison
// overflow the 6-byte real (differences of 2^127 or more).
constexpr double kLargestOrderedFloat = 0x1p126;

// One file of the table: its bytes as read and, when it is to be replaced,
// its new bytes.
struct TTableFile {
  std::string path;
  bool exists = false;
  std::vector<uint8_t> bytes;
  std::optional<std::vector<uint8_t>> replacement;
};

class TRebuildStop : public std::exception {
 public:
  TRebuildStop(TRebuildStatus status, std::string message)
      : status_(status), message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  TRebuildStatus Status() const { return status_; }

 private:
  TRebuildStatus status_;
  std::string message_;
};

[[noreturn]] void Stop(TRebuildStatus status, const std::string& message) {
  throw TRebuildStop(status, message);
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string FileNameOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Reads the whole file through `file`. Throws EInOutError.
std::vector<uint8_t> ReadWhole(platform::File& file) {
  file.SetUnitSize(1);
  const int64_t size = file.SizeInUnits();
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  file.Seek(0);
  if (file.Read(bytes.data(), bytes.size()) != bytes.size())
    throw EInOutError(EIO, "the file became shorter while it was read");
  return bytes;
}

// Writes `bytes` as the file `path` and forces it to the disk. Returns an
// empty text, or what failed.
std::string WriteWhole(const std::string& path, const std::vector<uint8_t>& bytes, bool exclusive) {
  platform::File out;
  if (int err = out.Create(path, exclusive)) return platform::ErrorText(err);
  try {
    if (out.Write(bytes.data(), bytes.size()) != bytes.size()) return "short write";
    out.Sync();
  } catch (const std::exception& e) {
    return e.what();
  }
  return {};
}

// "yyyy-mm-dd hh:nn:ss" for a day count since 30 December 1899 that a
// calendar can hold; otherwise the number.
std::string DateTimeText(double days) {
  if (!std::isfinite(days) || days < -693593 || days > 2958466) {
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", days);
    return text;
  }
  const double whole = std::floor(days);
  auto seconds = static_cast<int64_t>(std::llround((days - whole) * 86400.0));
  int64_t z = static_cast<int64_t>(whole) + 693959 - 60;  // days from 1 March 0000
  if (seconds >= 86400) {
    seconds -= 86400;
    ++z;
  }
  // Civil date from a day count (proleptic Gregorian, era arithmetic).
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  const int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  char text[96];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld",
                static_cast<long long>(y), static_cast<long long>(m), static_cast<long long>(d),
                static_cast<long long>(seconds / 3600), static_cast<long long>(seconds / 60 % 60),
                static_cast<long long>(seconds % 60));
  return text;
}

class TTableRebuilder {
 public:
  TTableRebuilder(const std::string& path, const TRebuildOptions& options, TRebuildResult& result)
      : path_(path), options_(options), result_(result) {
    files_.reserve(2 + 2 * kMaxIndexes + 1);  // pointers into it stay valid
  }

  void Run() {
    TakeTable();
    ReadFiles();
    Backup();
    if (blob_ != nullptr) ReadBlobHeader();
    ScanRecords();
    SetAsideEqualKeys();
    if (blob_ != nullptr) RebuildBlobFile();
    MakeCounters();
    MakeDataFile();
    MakeIndexes();
    Replace();
    result_.status = TRebuildStatus::kRebuilt;
  }

 private:
  // ---- Taking and reading the table.

  void TakeTable() {
    if (!platform::FileExists(path_)) Stop(TRebuildStatus::kUnreadable, "File not found: " + path_);
    if (definition_.Open(path_, kTakeMode) != 0)
      Stop(TRebuildStatus::kInUse, OpenFailureText(path_, kOpenDefinitionFailed));
  }

  void ReadFiles() {
    TTableFile& mti = AddFile(path_);
    try {
      ReadTableDefinition(definition_, def_);
      mti.bytes = ReadWhole(definition_);
      mti.exists = true;
    } catch (const std::exception& e) {
      Stop(TRebuildStatus::kUnreadable, "read the definition " + path_ + ": " + e.what());
    }
    if (def_.IndexCount() == 0)
      Stop(TRebuildStatus::kUnreadable,
           "the definition " + path_ + " has no index to carry the table counters");
    data_ = &ReadFile(AddFile(platform::ChangeFileExt(path_, ".MTD")), true);
    for (int i = 0; i < def_.IndexCount(); ++i) {
      leaves_.push_back(files_.size());
      ReadFile(AddFile(LeafPageFileName(path_, i)), false);
      ReadFile(AddFile(DirectoryFileName(path_, i)), false);
    }
    if (def_.HasBlobFile())
      blob_ = &ReadFile(AddFile(platform::ChangeFileExt(path_, ".blb")), true);
  }

  TTableFile& AddFile(const std::string& path) {
    files_.push_back({path, false, {}, std::nullopt});
    return files_.back();
  }

  // Reads a companion file; a missing index file is simply rebuilt, a missing
  // data or blob file leaves nothing to rebuild from.
  TTableFile& ReadFile(TTableFile& file, bool required) {
    if (!platform::FileExists(file.path)) {
      if (required) Stop(TRebuildStatus::kUnreadable, file.path + " is missing");
      return file;
    }
    platform::File in;
    if (int err = in.Open(file.path, kReadMode))
      Stop(TRebuildStatus::kUnreadable, "open " + file.path + ": " + platform::ErrorText(err));
    try {
      file.bytes = ReadWhole(in);
    } catch (const std::exception& e) {
      Stop(TRebuildStatus::kUnreadable, "read " + file.path + ": " + e.what());
    }
    file.exists = true;
    return file;
  }

  // ---- The backup.

  void Backup() {
    std::string dir = options_.backup_dir;
    if (dir.empty()) {
      std::string name = FileNameOf(path_);
      if (const size_t dot = name.find_last_of('.'); dot != std::string::npos && dot > 0)
        name.resize(dot);
      const std::string base = FolderOf(path_) + "/" + name + "-backup-" + platform::UtcTimeStamp();
      dir = base;
      int err = platform::MakeDirectory(dir);
      for (int k = 2; err == EEXIST && k < 100; ++k)
        err = platform::MakeDirectory(dir = base + "-" + N(k));
      if (err != 0) BackupFailed("create the folder " + dir + ": " + platform::ErrorText(err));
    } else if (int err = platform::MakeDirectory(dir);
               err != 0 && !(err == EEXIST && platform::DirectoryExists(dir))) {
      BackupFailed("create the folder " + dir + ": " + platform::ErrorText(err));
    }
    result_.backup_dir = dir;
    for (const TTableFile& file : files_) {
      if (!file.exists) continue;
      const std::string copy = dir + "/" + FileNameOf(file.path);
      if (std::string why = WriteWhole(copy, file.bytes, true); !why.empty())
        BackupFailed("copy " + file.path + " to " + copy + ": " + why);
    }
    if (int err = platform::SyncDirectory(dir))
      BackupFailed("force the folder " + dir + " to the disk: " + platform::ErrorText(err));
  }

  [[noreturn]] void BackupFailed(const std::string& what) {
    Stop(TRebuildStatus::kBackupFailed,
         "the backup failed (" + what + "); the table was not changed");
  }

  // ---- Records.

  enum TSlot : uint8_t { kFree, kLive, kSetAside };

  void ScanRecords() {
    const int length = def_.RecordLength();
    const size_t whole = data_->bytes.size() / static_cast<size_t>(length);
    if (whole > static_cast<size_t>(INT32_MAX))
      Stop(TRebuildStatus::kUnreadable, data_->path + " holds more records than a table can");
    if (const size_t rest = data_->bytes.size() % static_cast<size_t>(length); rest != 0)
      result_.changes.push_back("data file: the partial record of " +
                                N(static_cast<int64_t>(rest)) + " bytes at its end was dropped");
    data_bytes_.assign(data_->bytes.begin(),
                       data_->bytes.begin() + static_cast<std::ptrdiff_t>(whole * length));
    images_ = {data_bytes_.data(), length, static_cast<int32_t>(whole)};
    slot_.assign(whole, kFree);
    key_field_.assign(static_cast<size_t>(def_.FieldCount()), false);
    for (int f = 0; f < def_.FieldCount(); ++f)
      for (int i = 0; i < def_.IndexCount(); ++i)
        if (IsKeyField(def_, i, f)) key_field_[static_cast<size_t>(f)] = true;
    for (int32_t n = 0; n < images_.slots; ++n) {
      if (images_.Record(n)[0] == kFreeRecordMarker) continue;
      if (std::string problem = ImageProblem(images_.Record(n)); !problem.empty())
        SetAside(n, problem);
      else
        slot_[static_cast<size_t>(n)] = kLive;
    }
  }

  bool IsKey(int f) const { return key_field_[static_cast<size_t>(f)]; }

  // What makes a record image one that no index can hold and no reader can
  // trust; empty when it is sound.
  std::string ImageProblem(const uint8_t* image) const {
    for (int f = 0; f < def_.FieldCount(); ++f) {
      const TmtbFieldDesc& field = def_.Field(f);
      if (image[f] > kValueFlag) return "field " + field.name + " has the null flag " + N(image[f]);
      if (image[f] != kValueFlag) continue;
      const uint8_t* slot = image + field.offset;
      if (field.type_code == 'S' && std::find(slot, slot + field.size, 0) == slot + field.size)
        return "the text of field " + field.name + " does not end inside its slot";
      if (IsKey(f) && (field.type_code == 'C' || field.type_code == 'D' || field.type_code == 'F' ||
                       field.type_code == 'R')) {
        const TStoredValue v = DecodeField(field, f, image);
        if (!(std::fabs(v.number) < kLargestOrderedFloat))
          return "the key field " + field.name + " holds a number that cannot be ordered";
      }
    }
    return {};
  }

  void SetAside(int32_t n, const std::string& problem) {
    slot_[static_cast<size_t>(n)] = kSetAside;
    TSetAsideRecord r;
    r.record = n;
    r.problem = problem;
    const uint8_t* image = images_.Record(n);
    for (int f = 0; f < def_.FieldCount(); ++f) {
      const TmtbFieldDesc& field = def_.Field(f);
      if (image[f] == kNullFlag) continue;
      TRecoveredValue v;
      v.field = field.name;
      v.type_code = field.type_code;
      if (image[f] != kValueFlag) {
        v.text = "(null flag " + N(image[f]) + ")";
        v.flag_damaged = true;
      } else if (IsBlobType(field.type_code)) {
        v.text = ReadableBlobBytes(GetInt32(image + field.offset));
      } else {
        v.text = ValueText(field, f, image);
      }
      r.values.push_back(std::move(v));
    }
    result_.set_aside.push_back(std::move(r));
  }

  static std::string ValueText(const TmtbFieldDesc& field, int f, const uint8_t* image) {
    const TStoredValue v = DecodeField(field, f, image);
    switch (v.kind) {
      case TStoredKind::Integer: return N(v.integer);
      case TStoredKind::Boolean: return v.boolean ? "True" : "False";
      case TStoredKind::Float: {
        if (field.type_code == 'D') return DateTimeText(v.number);
        char text[32];
        std::snprintf(text, sizeof text, "%.15g", v.number);
        return text;
      }
      case TStoredKind::String: return std::string(v.text);
      default: return {};
    }
  }

  // The second and later records with one primary key are set aside; the
  // lowest record number keeps it.
  void SetAsideEqualKeys() {
    std::vector<int32_t> live;
    for (int32_t n = 0; n < images_.slots; ++n)
      if (slot_[static_cast<size_t>(n)] == kLive) live.push_back(n);
    SortForIndex(def_, images_, 0, live);
    kept_.reserve(live.size());
    for (int32_t n : live) {
      if (!kept_.empty() &&
          CompareKeys(def_, images_.Record(kept_.back()), images_.Record(n), true, 0) == 0) {
        SetAside(n, "a second record with the primary key of record " + N(kept_.back()));
        continue;
      }
      kept_.push_back(n);
    }
    result_.records_kept = static_cast<int32_t>(kept_.size());
  }

  // ---- The blob file.

  struct TValue {
    int32_t record;
    int field;
    int32_t total;
    std::vector<int64_t> blocks;  // old offsets, chain order
  };

  bool IsBlock(int64_t offset) const {
    return offset >= block_size_ && offset % block_size_ == 0 && offset / block_size_ < blocks_;
  }

  TBlobBlockHeader Header(int64_t offset) const {
    TBlobBlockHeader h;
    h.Decode(blob_->bytes.data() + offset);
    return h;
  }

  int32_t& Claim(int64_t offset) { return claims_[static_cast<size_t>(offset / block_size_)]; }

  // Follows the chain from `reference` and claims its blocks for value
  // `id`. Returns an empty text when the chain is whole: every block in use
  // and unclaimed, linked back, full but the last, agreeing with the first
  // on field and total size, the used bytes adding up to the total. Else
  // says what is wrong and claims nothing. `bytes`, when given, receives the
  // used bytes read before the walk stopped.
  std::string Walk(int64_t reference, int32_t id, TValue* value, std::string* bytes) {
    if (!IsBlock(reference))
      return "the reference " + N(reference) + " is not a block of the blob file";
    const TBlobBlockHeader first = Header(reference);
    std::vector<int64_t> chain;
    std::string problem;
    int64_t held = 0;
    int64_t back = -1;
    for (int64_t at = reference;;) {
      if (Claim(at) == id) {
        problem = "the chain comes back to block " + N(at);
        break;
      }
      if (Claim(at) >= 0) {
        const TValue& other = values_[static_cast<size_t>(Claim(at))];
        problem = "block " + N(at) + " also belongs to record " + N(other.record) + " field " +
                  def_.Field(other.field).name;
        break;
      }
      const TBlobBlockHeader h = Header(at);
      if (h.IsFree()) {
        problem = "block " + N(at) + " is a free block";
        break;
      }
      if (h.used > payload_) {
        problem = "block " + N(at) + " uses " + N(h.used) + " bytes of " + N(payload_);
        break;
      }
      if (bytes != nullptr)
        bytes->append(reinterpret_cast<const char*>(blob_->bytes.data() + at + kBlobHeaderSize),
                      static_cast<size_t>(h.used));
      Claim(at) = id;
      chain.push_back(at);
      held += h.used;
      if (h.prev != back) {
        problem = "block " + N(at) + " links back to " + N(h.prev) + ", not " + N(back);
        break;
      }
      if (at != reference && (h.owner != -1 || h.field != first.field || h.total != first.total)) {
        problem = "block " + N(at) + " disagrees with the first block on owner, field or size";
        break;
      }
      if (h.next < 0) break;
      if (h.used != payload_) {
        problem = "block " + N(at) + " is not full but is not the last block";
        break;
      }
      if (!IsBlock(h.next)) {
        problem = "block " + N(at) + " links on to " + N(h.next) + ", which is not a block";
        break;
      }
      back = at;
      at = h.next;
    }
    if (problem.empty() && (first.total <= 0 || held != first.total))
      problem = "the blocks hold " + N(held) + " bytes, the total size is " + N(first.total);
    if (!problem.empty() || value == nullptr) {
      for (int64_t at : chain) Claim(at) = -1;
      return problem;
    }
    value->total = first.total;
    value->blocks = std::move(chain);
    return {};
  }

  std::string ReadableBlobBytes(int32_t reference) {
    if (blob_ == nullptr || block_size_ == 0) return {};
    std::string bytes;
    Walk(reference, kDryRun, nullptr, &bytes);
    return bytes;
  }

  static constexpr int32_t kDryRun = -2;

  // Reads the block size and claims nothing yet. A block size the file
  // cannot hold leaves no value to recover: the table is not rebuilt.
  void ReadBlobHeader() {
    const std::vector<uint8_t>& bytes = blob_->bytes;
    block_size_ = bytes.size() >= 8 ? GetInt32(bytes.data()) : 0;
    if (block_size_ <= kBlobHeaderSize || static_cast<size_t>(block_size_) > bytes.size())
      Stop(TRebuildStatus::kUnreadable, blob_->path + ": block size " + N(block_size_) +
                                            " does not fit a file of " +
                                            N(static_cast<int64_t>(bytes.size())) + " bytes");
    payload_ = block_size_ - kBlobHeaderSize;
    blocks_ = static_cast<int64_t>(bytes.size()) / block_size_;
    claims_.assign(static_cast<size_t>(blocks_), -1);
  }

  void RebuildBlobFile() {
    // Values whose first block names their record and field claim first;
    // then the others, whose owner is corrected when nothing else claims
    // their blocks.
    std::vector<std::pair<int32_t, int>> later;
    std::vector<int32_t> kept_sorted = kept_;
    std::sort(kept_sorted.begin(), kept_sorted.end());
    for (int32_t n : kept_sorted)
      for (int f = 0; f < def_.FieldCount(); ++f) {
        if (!IsBlobType(def_.Field(f).type_code) || images_.Record(n)[f] != kValueFlag) continue;
        const int32_t ref = GetInt32(images_.Record(n) + def_.Field(f).offset);
        if (IsBlock(ref) && (Header(ref).owner != n || Header(ref).field != f)) {
          later.push_back({n, f});
          continue;
        }
        KeepOrDetach(n, f, false);
      }
    for (auto [n, f] : later) KeepOrDetach(n, f, true);

    int64_t lost = 0;
    for (int64_t k = 1; k < blocks_; ++k)
      if (claims_[static_cast<size_t>(k)] < 0 && !Header(k * block_size_).IsFree()) ++lost;

    if (BlobFileSound()) return;
    WriteBlobFile();
    result_.changes.push_back("blob file: rebuilt with " + N(static_cast<int64_t>(values_.size())) +
                              " values and " + N(kRebuiltFreeBlocks) + " free blocks (it had " +
                              N(blocks_) + " blocks, " + N(FreeChainLength()) +
                              " on its free chain)");
    if (lost > 0)
      result_.changes.push_back("blob file: " + N(lost) +
                                " blocks that were neither free nor part of a kept value were "
                                "recovered");
  }

  void KeepOrDetach(int32_t n, int f, bool owner_differs) {
    uint8_t* image = &data_bytes_[static_cast<size_t>(n) * static_cast<size_t>(images_.length)];
    const TmtbFieldDesc& field = def_.Field(f);
    const int32_t ref = GetInt32(image + field.offset);
    TValue value{n, f, 0, {}};
    const auto id = static_cast<int32_t>(values_.size());
    const std::string problem = Walk(ref, id, &value, nullptr);
    if (problem.empty()) {
      if (owner_differs) {
        const TBlobBlockHeader first = Header(ref);
        result_.changes.push_back("record " + N(n) + " field " + field.name + ": the value at " +
                                  N(ref) + " named record " + N(first.owner) + " field " +
                                  N(first.field) + " as its owner; corrected");
        owners_corrected_ = true;
      }
      values_.push_back(std::move(value));
      value_slots_.push_back({n, f});
      return;
    }
    TDetachedValue d;
    d.record = n;
    d.field = field.name;
    d.type_code = field.type_code;
    d.problem = problem;
    if (IsBlock(ref)) {
      d.total_size = Header(ref).total;
      Walk(ref, kDryRun, nullptr, &d.bytes);
    }
    result_.detached.push_back(std::move(d));
    image[f] = kNullFlag;
    PutInt32(image + field.offset, 0);
  }

  int64_t FreeChainLength() const {
    int64_t length = 0;
    std::vector<bool> seen(static_cast<size_t>(blocks_), false);
    for (int64_t at = GetInt32(blob_->bytes.data() + kBlobFreeHeadOffset);
         at > 0 && IsBlock(at) && !seen[static_cast<size_t>(at / block_size_)];
         at = Header(at).NextFree()) {
      seen[static_cast<size_t>(at / block_size_)] = true;
      ++length;
    }
    return length;
  }

  // A blob file that every kept value reads from whole, that the check finds
  // consistent, and that an open accepts (at most ten free blocks) stays.
  bool BlobFileSound() const {
    if (!result_.detached.empty() || owners_corrected_) return false;
    if (blob_->bytes.size() % static_cast<size_t>(block_size_) != 0) return false;
    if (FreeChainLength() > kBlobMaxFreeAtOpen) return false;
    std::vector<TBlobReference> references;
    for (const TValue& v : values_)
      references.push_back({v.record, v.field, static_cast<int32_t>(v.blocks.front())});
    return CheckBlobFile(blob_->path, references).empty();
  }

  // Block 0 keeps its bytes but for the free head; each value follows in
  // the order of its old first block, its blocks one after another; five
  // free blocks end the file.
  void WriteBlobFile() {
    std::vector<size_t> order(values_.size());
    for (size_t k = 0; k < order.size(); ++k) order[k] = k;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
      return values_[a].blocks.front() < values_[b].blocks.front();
    });
    int64_t used = 0;
    for (const TValue& v : values_) used += static_cast<int64_t>(v.blocks.size());
    const auto b = static_cast<size_t>(block_size_);
    std::vector<uint8_t> out(static_cast<size_t>(1 + used + kRebuiltFreeBlocks) * b, 0);
    std::copy_n(blob_->bytes.begin(), b, out.begin());
    int64_t next = 1;
    for (size_t k : order) {
      const TValue& v = values_[k];
      const int64_t first = next * block_size_;
      for (size_t j = 0; j < v.blocks.size(); ++j, ++next) {
        const TBlobBlockHeader old = Header(v.blocks[j]);
        TBlobBlockHeader h;
        const int64_t at = next * block_size_;
        h.next = j + 1 < v.blocks.size() ? static_cast<int32_t>(at + block_size_) : -1;
        h.prev = j > 0 ? static_cast<int32_t>(at - block_size_) : -1;
        h.used = old.used;
        h.owner = j == 0 ? v.record : -1;
        h.total = v.total;
        h.field = v.field;
        h.Encode(&out[static_cast<size_t>(at)]);
        std::copy_n(blob_->bytes.begin() + v.blocks[j] + kBlobHeaderSize, old.used,
                    out.begin() + at + kBlobHeaderSize);
      }
      const auto [record, field] = value_slots_[k];
      PutInt32(&data_bytes_[static_cast<size_t>(record) * static_cast<size_t>(images_.length) +
                            static_cast<size_t>(def_.Field(field).offset)],
               static_cast<int32_t>(first));
    }
    PutInt32(&out[kBlobFreeHeadOffset], static_cast<int32_t>(next * block_size_));
    for (int k = 0; k < kRebuiltFreeBlocks; ++k, ++next) {
      const int64_t at = next * block_size_;
      TBlobBlockHeader::Free(k + 1 < kRebuiltFreeBlocks ? static_cast<int32_t>(at + block_size_)
                                                        : -1)
          .Encode(&out[static_cast<size_t>(at)]);
    }
    if (static_cast<int64_t>(out.size()) > INT32_MAX)
      Stop(TRebuildStatus::kFailed,
           "the rebuilt blob file would exceed the offsets a reference holds");
    blob_->replacement = std::move(out);
  }

  // ---- Counters, data file, indexes.

  void MakeCounters() {
    const TPageFormat& format = TPageFormat::ForLevel(def_.FormatLevel());
    const TTableFile& leaf0 = files_[leaves_[0]];
    TTableCounters old;
    const auto page = static_cast<size_t>(format.PageBytes());
    const bool readable = leaf0.bytes.size() >= 2 * page;
    if (readable) {
      const uint8_t* p = leaf0.bytes.data() + page;
      old = {GetInt32(p), GetInt32(p + 4), GetInt32(p + 8), GetInt32(p + 12), GetInt32(p + 16)};
    } else {
      result_.changes.push_back("counters: index 0 held none; made afresh");
    }
    free_.clear();
    for (int32_t n = 0; n < images_.slots; ++n)
      if (slot_[static_cast<size_t>(n)] != kLive) free_.push_back(n);

    counters_ = old;
    counters_.free_records = static_cast<int32_t>(free_.size());
    counters_.first_free_record = free_.empty() ? -1 : free_.front();
    const int autoinc = def_.AutoIncField();
    if (autoinc >= 0) {
      int64_t next = readable ? old.next_autoinc : 1;
      for (int32_t n : kept_)
        if (images_.Record(n)[autoinc] == kValueFlag)
          next = std::max<int64_t>(
              next, int64_t{GetInt32(images_.Record(n) + def_.Field(autoinc).offset)} + 1);
      counters_.next_autoinc = static_cast<int32_t>(std::min<int64_t>(next, INT32_MAX));
    }
    counters_.change_counter = static_cast<int32_t>(static_cast<uint32_t>(old.change_counter) + 1u);
    if (readable && old.free_records != counters_.free_records)
      result_.changes.push_back("counters: free records " + N(old.free_records) + " -> " +
                                N(counters_.free_records));
    if (readable && old.first_free_record != counters_.first_free_record)
      result_.changes.push_back("counters: first free record " + N(old.first_free_record) + " -> " +
                                N(counters_.first_free_record));
    if (readable && old.next_autoinc != counters_.next_autoinc)
      result_.changes.push_back("counters: next autoincrement value " + N(old.next_autoinc) +
                                " -> " + N(counters_.next_autoinc));
  }

  // Free and set-aside slots become one ascending chain of free records.
  void MakeDataFile() {
    int64_t rewritten = 0;
    const auto length = static_cast<size_t>(images_.length);
    std::vector<uint8_t> free_image(length, 0);
    free_image[0] = kFreeRecordMarker;
    for (size_t k = 0; k < free_.size(); ++k) {
      uint8_t* image = &data_bytes_[static_cast<size_t>(free_[k]) * length];
      PutInt32(&free_image[4], k + 1 < free_.size() ? free_[k + 1] : -1);
      if (std::equal(free_image.begin(), free_image.end(), image)) continue;
      std::copy(free_image.begin(), free_image.end(), image);
      ++rewritten;
    }
    if (rewritten > 0)
      result_.changes.push_back("data file: " + N(rewritten) + " of " +
                                N(static_cast<int64_t>(free_.size())) +
                                " free records rewritten to form one ascending chain");
    if (!result_.set_aside.empty())
      result_.changes.push_back("data file: " + N(static_cast<int64_t>(result_.set_aside.size())) +
                                " records set aside; their slots are free");
    if (data_bytes_ != data_->bytes) data_->replacement = data_bytes_;
  }

  void MakeIndexes() {
    const TRecordImages images{data_bytes_.data(), images_.length, images_.slots};
    const auto page = static_cast<size_t>(TPageFormat::ForLevel(def_.FormatLevel()).PageBytes());
    for (int i = 0; i < def_.IndexCount(); ++i) {
      std::vector<int32_t> order = kept_;
      if (i > 0) SortForIndex(def_, images, i, order);
      TIndexFiles built = BuildIndexFiles(def_, images, i, order, counters_);
      TTableFile& leaf = files_[leaves_[static_cast<size_t>(i)]];
      TTableFile& dir = files_[leaves_[static_cast<size_t>(i)] + 1];
      // Index 0's counters always change; the index itself is judged
      // without them.
      bool same = dir.exists && built.directory == dir.bytes && leaf.exists &&
                  leaf.bytes.size() == built.leaf.size();
      if (same) {
        for (size_t b = 0; b < built.leaf.size() && same; ++b)
          same = built.leaf[b] == leaf.bytes[b] || (i == 0 && b >= page && b < 2 * page);
      }
      if (!same)
        result_.changes.push_back("index " + N(i) + " (" + def_.Index(i).name + "): rebuilt, " +
                                  N(static_cast<int64_t>(order.size())) + " entries");
      if (built.leaf != leaf.bytes || !leaf.exists) leaf.replacement = std::move(built.leaf);
      if (built.directory != dir.bytes || !dir.exists) dir.replacement = std::move(built.directory);
    }
    result_.changes.push_back("counters: change counter raised to " + N(counters_.change_counter));
  }

  // ---- Replacing the files.

  void Replace() {
    std::vector<TTableFile*> changed;
    for (TTableFile& f : files_)
      if (f.replacement) changed.push_back(&f);
    for (size_t k = 0; k < changed.size(); ++k) {
      const std::string temporary = changed[k]->path + kTemporarySuffix;
      if (std::string why = WriteWhole(temporary, *changed[k]->replacement, false); !why.empty()) {
        for (size_t j = 0; j <= k; ++j) platform::RemoveFile(changed[j]->path + kTemporarySuffix);
        Stop(TRebuildStatus::kFailed,
             "write " + temporary + ": " + why + "; the table was not changed");
      }
    }
    // Index 0 carries the counters: it goes last, so a table whose renames
    // stop part-way still shows the old counters.
    std::stable_partition(changed.begin(), changed.end(),
                          [&](const TTableFile* f) { return f != &files_[leaves_[0]]; });
    for (size_t k = 0; k < changed.size(); ++k) {
      if (int err = platform::RenameFile(changed[k]->path + kTemporarySuffix, changed[k]->path)) {
        for (size_t j = k; j < changed.size(); ++j)
          platform::RemoveFile(changed[j]->path + kTemporarySuffix);
        Stop(TRebuildStatus::kReplaceFailed,
             "replace " + changed[k]->path + ": " + platform::ErrorText(err) + "; " +
                 N(static_cast<int64_t>(k)) + " files were already replaced; the backup in " +
                 result_.backup_dir + " holds the table as it was");
      }
    }
    platform::SyncDirectory(FolderOf(path_));
  }

  const std::string& path_;
  const TRebuildOptions& options_;
  TRebuildResult& result_;
  platform::File definition_;
  TmtbTableDef def_;
  std::vector<TTableFile> files_;
  std::vector<size_t> leaves_;  // per index: its leaf page file in files_, the directory next
  TTableFile* data_ = nullptr;
  TTableFile* blob_ = nullptr;

  std::vector<uint8_t> data_bytes_;  // the whole records, changed as the rebuild goes
  TRecordImages images_;
  std::vector<uint8_t> slot_;
  std::vector<bool> key_field_;
  std::vector<int32_t> kept_;  // index 0 order
  std::vector<int32_t> free_;
  TTableCounters counters_;

  int32_t block_size_ = 0;
  int32_t payload_ = 0;
  int64_t blocks_ = 0;
  std::vector<int32_t> claims_;  // per block: the value claiming it, -1 none
  std::vector<TValue> values_;
  std::vector<std::pair<int32_t, int>> value_slots_;
  bool owners_corrected_ = false;
};

}  // namespace

TRebuildResult RebuildTable(const std::string& mti_path, const TRebuildOptions& options) {
  TRebuildResult result;
  try {
    TTableRebuilder rebuilder(mti_path, options, result);
    rebuilder.Run();
  } catch (const TRebuildStop& stop) {
    result.status = stop.Status();
    result.message = stop.what();
  } catch (const std::exception& e) {
    result.status = TRebuildStatus::kFailed;
    result.message =
        std::string("the rebuild stopped: ") + e.what() + "; the table was not changed";
  }
  return result;
}

}  // namespace logvane
